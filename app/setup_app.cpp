#include "app/setup_app.h"

#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include <cstdlib>
#include <memory>
#include <new>
#include <stdlib.h>

#include "state/fatal_error.h"
#include "state/resource_ids.h"
#include "components/setup_axis.h"
#include "install/setup_progress.h"
#include "pages/setup_dest.h"
#include "pages/setup_done.h"
#include "pages/setup_eula.h"
#include "pages/setup_start.h"
#include "platform/module_text.h"
#include "platform/system_api.h"
#include "platform/unique_resource.h"
#include "platform/wide.h"
#include "wizard/setup_sheet.h"

namespace quentar {

namespace {

void UninitializeCom() { ::CoUninitialize(); }

}  // namespace

U16String FatalMessage(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const FatalError& fatal) {
        return fatal.IsCode() ? LoadStringResource(FatalError::MessageId(fatal.code())) : fatal.text();
    } catch (const std::bad_alloc&) {
        return u"Out of memory.";
    } catch (const std::exception& other) {
        return FromUtf8(other.what());
    } catch (...) {
        return LoadStringResource(IDS_UNEXPECTED_ERROR);
    }
}

std::vector<U16String> RuntimeArguments() {
    std::vector<U16String> args;
    for (int i = 0; i < __argc; ++i) args.push_back(FromWide(__wargv[i]));
    return args;
}

bool StartInstalledApplication(const U16String& runPath, const U16String& runDirectory) {
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    wchar_t commandLine[1] = {L'\0'};
    const BOOL started = Sys().CreateProcessW(AsWide(runPath), commandLine, nullptr, nullptr, FALSE, 0, nullptr,
                                              AsWide(runDirectory), &startup, &process);
    if (!started) {
        const U16String reason = SystemErrorText(::GetLastError());
        AfxMessageBox(FormatPositional(LoadStringResource(IDS_RUN_FAILED), {reason}), MB_OK | MB_ICONERROR);
        return false;
    }
    // The program is not waited for; its handles are not needed.
    const UniqueHandle processHandle(process.hProcess);
    const UniqueHandle threadHandle(process.hThread);
    return true;
}

void StartApplicationAfterWizard(const InstallState& state) {
    if (state.startApplication && !state.runPath.empty()) StartInstalledApplication(state.runPath, state.runDirectory);
}

void CSetupApp::OnUncaughtException(std::exception_ptr error) {
    const U16String message = FatalMessage(error);
    ::MessageBoxW(nullptr, AsWide(message), L"Error", MB_OK | MB_ICONERROR);
    ::ExitProcess(kFatalExitCode);
}

BOOL CSetupApp::InitInstance() {
    if (::CoInitialize(nullptr) == S_OK) std::atexit(&UninitializeCom);

    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof(controls);
    controls.dwICC = 0xFF;
    ::InitCommonControlsEx(&controls);

    Arguments() = ParseCommandLine(RuntimeArguments());

    AfxInitRichEdit2();

    auto sheet = std::make_unique<CSetup>(Arguments());
    sheet->m_psh.dwFlags &= ~PSH_HASHELP;

    // The six pages, in the sheet's order; which are visited is decided by
    // the page path.
    auto start = std::make_unique<CSetupStart>(updateMode);
    auto eula = std::make_unique<CSetupEula>();
    auto dest = std::make_unique<CSetupDest>();
    auto progress = std::make_unique<CSetupProgress>();
    auto done = std::make_unique<CSetupDone>();
    auto axis = std::make_unique<CSetupAXIS>();

    sheet->SetWizardMode();
    for (CPropertyPage* page : std::initializer_list<CPropertyPage*>{start.get(), eula.get(), dest.get(),
                                                                     progress.get(), done.get(), axis.get()}) {
        sheet->AddPage(page);
    }

    PrefillForUpdate(Arguments(), sheet->installState);

    try {
        sheet->DoModal();
        StartApplicationAfterWizard(sheet->installState);
    } catch (...) {
        OnUncaughtException(std::current_exception());
    }

    // Pages go in the reverse order of their construction, then the sheet.
    axis.reset();
    done.reset();
    progress.reset();
    dest.reset();
    eula.reset();
    start.reset();
    sheet.reset();
    return FALSE;
}

}  // namespace quentar
