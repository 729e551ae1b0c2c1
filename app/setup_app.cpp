#include "app/setup_app.h"

#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include <cstdlib>
#include <memory>
#include <new>
#include <stdlib.h>

#include "app/unattended_setup.h"
#include "components/runtime_packages.h"
#include "components/setup_axis.h"
#include "install/engine_support.h"
#include "install/journal.h"
#include "install/run_log.h"
#include "install/update.h"
#include "platform/resources.h"
#include "state/fatal_error.h"
#include "state/resource_ids.h"
#include "pages/setup_progress.h"
#include "pages/setup_dest.h"
#include "pages/setup_done.h"
#include "pages/setup_eula.h"
#include "pages/setup_start.h"
#include "platform/folder_security.h"
#include "platform/module_text.h"
#include "platform/system_api.h"
#include "platform/unique_resource.h"
#include "platform/wide.h"
#include "platform/window_station.h"
#include "removal/recovery.h"
#include "wizard/setup_sheet.h"
#include "wizard/wizard_feedback.h"

namespace quentar {

namespace {

void UninitializeCom() { ::CoUninitialize(); }

}  // namespace

U16String FatalCause(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const FatalError& fatal) {
        return fatal.cause();
    } catch (const std::exception&) {
        return U16String();  // its message is its own account
    } catch (...) {
        return u"the program met an error of a kind it does not know, which it cannot describe";
    }
}

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

bool StartInstalledApplication(const UserToken& user, const U16String& runPath, const U16String& runDirectory,
                               InstallFeedback& feedback) {
    // Never with the setup program's own token: elevated, or the system's.
    if (!user.token) {
        feedback.Log(u"Quentar is not started, as there is no token of a user to start it with: " + user.whose);
        return false;
    }
    feedback.Log(u"starting " + runPath + u" with the token of " + user.whose);
    const DWORD error = StartProgramAs(user.token.get(), runPath, runDirectory);
    if (error != ERROR_SUCCESS) {
        feedback.Log(u"cannot start " + runPath + u": " + DescribeError(error));
        const U16String reason = SystemErrorText(error);
        feedback.Message(FormatPositional(LoadStringResource(IDS_RUN_FAILED), {reason}), MB_OK | MB_ICONERROR);
        return false;
    }
    feedback.Log(u"started " + runPath);
    return true;
}

bool StartInstalledApplication(const UserToken& user, const U16String& runPath, const U16String& runDirectory) {
    WizardFeedback feedback(nullptr);
    return StartInstalledApplication(user, runPath, runDirectory, feedback);
}

void StartApplicationAfterWizard(const InstallState& state, const UserToken& user) {
    if (state.startApplication && !state.runPath.empty()) {
        StartInstalledApplication(user, state.runPath, state.runDirectory);
    }
}

UserToken RequesterToken(const UpdateArguments& arguments) {
    UniqueHandle process;
    if (!WindowOfExecutable(arguments.updateWindow, arguments.updateExePath, &process)) {
        return {UniqueHandle(), u"nobody: window " + DecimalText(arguments.updateWindow) + u" is not a window of " +
                                    arguments.updateExePath};
    }
    return ProcessUserToken(process.get(), u"the Quentar that asked for the update, process " +
                                               DecimalText(::GetProcessId(process.get())));
}

namespace {

// Who may open the setup program's namespace: Administrators and SYSTEM.
constexpr char16_t kSetupNamespaceRights[] = u"O:BAD:P(A;;GA;;;SY)(A;;GA;;;BA)";

// The private-namespace functions of kernel32, looked up at run time: older
// systems (and Wine) lack them.
struct NamespaceCalls {
    using CreateBoundary = HANDLE(WINAPI*)(LPCWSTR name, ULONG flags);
    using AddSid = BOOL(WINAPI*)(HANDLE* boundary, PSID sid);
    using DeleteBoundary = VOID(WINAPI*)(HANDLE boundary);
    using CreateNamespace = HANDLE(WINAPI*)(LPSECURITY_ATTRIBUTES security, LPVOID boundary, LPCWSTR alias);
    using OpenNamespace = HANDLE(WINAPI*)(LPVOID boundary, LPCWSTR alias);

    CreateBoundary createBoundary = nullptr;
    AddSid addSid = nullptr;
    DeleteBoundary deleteBoundary = nullptr;
    CreateNamespace createNamespace = nullptr;
    OpenNamespace openNamespace = nullptr;

    NamespaceCalls() {
        const HMODULE kernel = Sys().GetModuleHandleW(L"kernel32.dll");
        if (kernel == nullptr) return;
        Find(kernel, "CreateBoundaryDescriptorW", createBoundary);
        Find(kernel, "AddSIDToBoundaryDescriptor", addSid);
        Find(kernel, "DeleteBoundaryDescriptor", deleteBoundary);
        Find(kernel, "CreatePrivateNamespaceW", createNamespace);
        Find(kernel, "OpenPrivateNamespaceW", openNamespace);
    }
    bool Complete() const {
        return createBoundary != nullptr && addSid != nullptr && deleteBoundary != nullptr &&
               createNamespace != nullptr && openNamespace != nullptr;
    }

private:
    template <typename Function>
    static void Find(HMODULE kernel, const char* name, Function& function) {
        function = reinterpret_cast<Function>(reinterpret_cast<void*>(Sys().GetProcAddress(kernel, name)));
    }
};

// Creates the setup program's namespace, bounded by the Administrators
// group, or opens it when another run made it. 0 and the namespace in
// `space`, or the error.
DWORD OpenSetupNamespace(const NamespaceCalls& calls, UniqueHandle& space) {
    HANDLE boundary = calls.createBoundary(AsWide(kSetupNamespaceName), 0);
    if (boundary == nullptr) return LastErrorOr(ERROR_NOT_ENOUGH_MEMORY);
    // The boundary is the calls' own memory, freed by their own call.
    struct BoundaryHolder {
        const NamespaceCalls& calls;
        HANDLE boundary;
        ~BoundaryHolder() { calls.deleteBoundary(boundary); }
    } held{calls, boundary};

    BYTE administrators[SECURITY_MAX_SID_SIZE];
    DWORD sidSize = sizeof(administrators);
    if (!::CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &sidSize)) {
        return LastErrorOr(ERROR_INVALID_SID);
    }
    if (!calls.addSid(&held.boundary, administrators)) return LastErrorOr(ERROR_INVALID_SID);

    SddlDescriptor rights;
    if (const DWORD error = rights.Parse(kSetupNamespaceRights)) return error;
    // Made by another run: opened. A namespace gone between the two calls
    // (its run ended) is made again, a few times.
    DWORD error = ERROR_ALREADY_EXISTS;
    for (int attempt = 0; attempt < 3; ++attempt) {
        space.reset(calls.createNamespace(rights.Attributes(), held.boundary, AsWide(kSetupNamespaceName)));
        if (space) return ERROR_SUCCESS;
        error = LastErrorOr(ERROR_ACCESS_DENIED);
        if (error != ERROR_ALREADY_EXISTS) return error;
        space.reset(calls.openNamespace(held.boundary, AsWide(kSetupNamespaceName)));
        if (space) return ERROR_SUCCESS;
        error = LastErrorOr(ERROR_PATH_NOT_FOUND);
        if (error != ERROR_PATH_NOT_FOUND && error != ERROR_FILE_NOT_FOUND) return error;
    }
    return error;
}

// Takes the mutex `name` as TakeSetupMutex describes.
bool TakeNamedMutex(const char16_t* name, UniqueHandle& mutex) {
    mutex.reset(Sys().CreateMutexW(nullptr, FALSE, AsWide(name)));
    const DWORD error = ::GetLastError();
    if (mutex && error == ERROR_ALREADY_EXISTS) {
        mutex.reset();
        return false;
    }
    if (!mutex) {
        // A mutex made by a run of another user that this one may not open
        // still says that a setup runs.
        if (error == ERROR_ACCESS_DENIED) return false;
        TheRunLog().Write(u"no single-run check: the mutex cannot be made: " + DescribeError(error));
    }
    return true;
}

}  // namespace

bool TakeSetupMutex(SetupLock& lock) {
    lock.mutex.reset();
    lock.space.reset();
    const NamespaceCalls calls;
    if (!calls.Complete()) {
        TheRunLog().Write(U16String(u"single-run lock: ") + kSetupMutexName +
                          u" (the system has no private namespaces)");
        return TakeNamedMutex(kSetupMutexName, lock.mutex);
    }
    if (const DWORD error = OpenSetupNamespace(calls, lock.space)) {
        TheRunLog().Write(U16String(u"single-run lock: ") + kSetupMutexName +
                          u" (the private namespace cannot be had: " + DescribeError(error) + u")");
        return TakeNamedMutex(kSetupMutexName, lock.mutex);
    }
    TheRunLog().Write(U16String(u"single-run lock: ") + kPrivateSetupMutexName +
                      u" in the private namespace bounded by the Administrators group");
    if (TakeNamedMutex(kPrivateSetupMutexName, lock.mutex)) return true;
    lock.space.reset();
    return false;
}

void OpenRunLog(const U16String& requested, const std::vector<U16String>& argv) {
    RunLog& log = TheRunLog();
    // Said in the log once one is open.
    StringList notes;
    const auto refused = [&](const U16String& path, const U16String& why) {
        notes.push_back(u"the log " + path + u" cannot be opened (" + why + u"): this run is logged here");
    };
    U16String why;
    if (!requested.empty() && !log.Open(requested, &why)) refused(requested, why);
    if (!log.IsOpen()) {
        U16String folder;
        if (DefaultLogFolder(folder, &notes) != ERROR_SUCCESS) return;
        const U16String fallback = JoinPath(folder, kDefaultLogName);
        if (!log.Open(fallback, &why)) {
            // The default name is taken by something that is no log: a name
            // of this run's own beside it.
            refused(fallback, why);
            if (!log.Open(JoinPath(folder, FreshLogName()), &why)) return;
        }
    }

    SYSTEMTIME now{};
    Sys().GetLocalTime(&now);
    FileVersion version;
    ReadFileVersion(nullptr, version);
    U16String versionText;
    for (size_t i = 0; i < version.parts.size(); ++i) {
        versionText += (i > 0 ? u"." : u"") + DecimalText(version.parts[i]);
    }
    U16String arguments;
    for (size_t i = 1; i < argv.size(); ++i) {
        const bool quote = argv[i].empty() || argv[i].find_first_of(u" \t") != U16String::npos;
        arguments += u' ';
        arguments += quote ? u"\"" + argv[i] + u"\"" : argv[i];
    }
    log.Write(u"===== Quentar Setup " + versionText + u", run of " + FormatLogTime(now) + u", process " +
              DecimalText(::GetCurrentProcessId()) + u" =====");
    log.Write(u"program: " + ModuleFileName());
    log.Write(u"arguments:" + (arguments.empty() ? U16String(u" none") : arguments));
    for (const U16String& note : notes) log.Write(note);
}

void CSetupApp::RecoverInterruptedRuns() {
    UnattendedFeedback log;
    const U16String description = u"process " + DecimalText(::GetCurrentProcessId()) + u", " +
                            (options_.quiet ? u"unattended" : u"wizard") + (updateMode ? u", update mode" : u"");
    const RecoveryOutcome recovery = PrepareRunJournal(description, log);
    RemoveLeftPackageFolders(log);
    recoveryNeedsRestart_ = recovery.restartNeeded;
    if (recovery.notRestored.empty()) return;
    U16String paths;
    for (const U16String& path : recovery.notRestored) paths += u"\n" + path;
    TellBeforeTheRun(FormatPositional(LoadStringResource(IDS_RECOVERY_INCOMPLETE), {paths.substr(1)}),
                     MB_ICONEXCLAMATION);
}

void CSetupApp::Finish(SetupResult result) {
    // What the recovery at the start left for the next start of Windows
    // belongs to the installation as much as this run's own files.
    if (result == SetupResult::Installed && recoveryNeedsRestart_) result = SetupResult::RestartNeeded;
    UnattendedFeedback log;
    TheJournal().Discard(log);
    exitCode_ = ExitCodeOf(result);
    TheRunLog().Write(U16String(u"result: ") + DescribeResult(result) + u"; exit code " + DecimalText(exitCode_));
}

void CSetupApp::OnUncaughtException(std::exception_ptr error) {
    const U16String message = FatalMessage(error);
    TheRunLog().Write(u"fatal error: " + message);
    const U16String cause = FatalCause(error);
    if (!cause.empty()) TheRunLog().Write(u"cause of the fatal error: " + cause);
    TheRunLog().Write(u"result: fatal error; exit code " + DecimalText(kFatalExitCode));
    if (!options_.quiet) ::MessageBoxW(nullptr, AsWide(message), L"Error", MB_OK | MB_ICONERROR);
    ::ExitProcess(kFatalExitCode);
}

BOOL CSetupApp::InitInstance() {
    if (::CoInitialize(nullptr) == S_OK) std::atexit(&UninitializeCom);

    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof(controls);
    controls.dwICC = 0xFF;
    ::InitCommonControlsEx(&controls);

    const std::vector<U16String> argv = RuntimeArguments();
    const CommandLine commandLine = ParseSetupCommandLine(argv);
    Arguments() = commandLine.update;
    options_ = commandLine.options;

    OpenRunLog(options_.logFile, argv);
    TheRunLog().Write(u"command line read as: " + DescribeCommandLine(commandLine));
    // A wizard nobody can see would wait for an answer for ever, and with it
    // the deployment tool that started it: refused before anything else,
    // even the question of another setup running, which is a box too.
    if (!options_.quiet && !WindowsCanBeSeen()) {
        TheRunLog().Write(
            u"the wizard cannot be shown: this process's window station is not interactive (a service, or the "
            u"system account in session 0), so nobody could answer it; start Setup.exe with /quiet to install "
            u"without a window");
        Finish(SetupResult::Failed);
        return FALSE;
    }
    if (!TakeSetupMutex(setupLock_)) {
        TellBeforeTheRun(LoadStringResource(IDS_ALREADY_RUNNING), MB_ICONHAND);
        Finish(SetupResult::AlreadyRunning);
        return FALSE;
    }
    RecoverInterruptedRuns();
    if (updateMode && !UpdateTargetAccepted()) {
        Finish(SetupResult::Failed);
        return FALSE;
    }

    Finish(options_.quiet ? RunWithoutWindow() : RunWizard());
    return FALSE;
}

void CSetupApp::TellBeforeTheRun(const U16String& text, UINT icon) {
    if (options_.quiet) {
        UnattendedFeedback().Message(text, MB_OK | icon);
    } else {
        LogMessage(text, AfxMessageBox(text, MB_OK | icon), false);
    }
}

bool CSetupApp::UpdateTargetAccepted() {
    U16String problem;
    if (!CheckUpdateTarget(Arguments(), problem)) {
        TheRunLog().Write(u"update refused, nothing done: " + problem);
        TellBeforeTheRun(FormatPositional(LoadStringResource(IDS_UPDATE_REFUSED), {updateExePath}), MB_ICONHAND);
        return false;
    }
    // While the application still runs: it is asked to close later.
    requester_ = RequesterToken(Arguments());
    TheRunLog().Write(u"update of " + updateExePath + u", asked for by " + requester_.whose);
    return true;
}

UserToken CSetupApp::ApplicationUser() { return updateMode ? std::move(requester_) : ShellUserToken(); }

SetupResult CSetupApp::RunWithoutWindow() {
    TheRunLog().Write(updateMode ? u"unattended, update mode" : u"unattended");
    UnattendedFeedback feedback;
    InstallState state;
    SetupResult result = SetupResult::Failed;
    try {
        result = RunUnattended(options_, Arguments(), state, feedback);
        if (state.startApplication && !state.runPath.empty()) {
            StartInstalledApplication(ApplicationUser(), state.runPath, state.runDirectory, feedback);
        }
    } catch (...) {
        OnUncaughtException(std::current_exception());
    }
    return result;
}

SetupResult CSetupApp::RunWizard() {
    TheRunLog().Write(updateMode ? u"wizard, update mode" : u"wizard");
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
        StartApplicationAfterWizard(sheet->installState, ApplicationUser());
    } catch (...) {
        OnUncaughtException(std::current_exception());
    }
    const SetupResult result = sheet->installState.result;

    // Pages go in the reverse order of their construction, then the sheet.
    axis.reset();
    done.reset();
    progress.reset();
    dest.reset();
    eula.reset();
    start.reset();
    sheet.reset();
    return result;
}

}  // namespace quentar
