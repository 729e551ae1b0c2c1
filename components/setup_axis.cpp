#include "components/setup_axis.h"

#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <iterator>

#include "install/engine_support.h"
#include "payload/payload_names.h"
#include "platform/system_api.h"
#include "platform/wide.h"
#include "removal/restart.h"
#include "state/resource_ids.h"
#include "wizard/wizard_feedback.h"

namespace quentar {
namespace {

// Timers of the page's window; at most one of them runs at a time.
constexpr UINT_PTR kStepTimer = 3;  // take the next package, or end the wizard
constexpr UINT kStepMilliseconds = 10;
constexpr UINT_PTR kPollTimer = 4;  // has the running package ended?
constexpr UINT kPollMilliseconds = 100;
constexpr DWORD kPollWaitMilliseconds = 10;

// The shell is handed the copy's path in a buffer of MAX_PATH units, so a
// path is at most MAX_PATH - 1 units long.
constexpr size_t kShellPathUnits = MAX_PATH - 1;

// Whether creating `path` failed because the name is taken (by a file, or by
// a folder or a file being deleted, which some systems report as access
// denied) rather than because the folder cannot be written.
bool NameTaken(const U16String& path, DWORD error) {
    if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) return true;
    return Sys().GetFileAttributesW(AsWide(path)) != INVALID_FILE_ATTRIBUTES;
}

// The temporary folder, or empty when the system cannot say. A folder that
// does not fit the buffer of MAX_PATH units is treated as unknown: no name in
// it could be handed to the shell.
U16String TempFolder(InstallFeedback& feedback) {
    wchar_t buffer[MAX_PATH] = {};
    const DWORD length = Sys().GetTempPathW(MAX_PATH, buffer);
    if (length == 0 || length >= MAX_PATH) {
        feedback.Log(u"cannot find the temporary folder: " +
                     (length == 0 ? DescribeError(::GetLastError()) : u"its path is too long"));
        return U16String();
    }
    return FromWide(buffer, length);
}

}  // namespace

U16String WriteEntryToTempFile(PayloadEntry entry, InstallFeedback& feedback) {
    const U16String folder = TempFolder(feedback);
    if (folder.empty()) return U16String();

    const U16String name = entry.FileName();
    const size_t dot = name.rfind(u'.');
    // A leading "." starts the name, not an extension (".profile").
    const size_t split = dot == U16String::npos || dot == 0 ? name.size() : dot;
    const U16String base = name.substr(0, split);
    const U16String extension = name.substr(split);

    for (unsigned n = 0; n < kTempCopyCandidates; ++n) {
        const U16String path = JoinPath(folder, base + (n == 0 ? U16String() : DecimalText(n)) + extension);
        // Later candidates are longer still.
        if (path.size() > kShellPathUnits) {
            feedback.Log(u"cannot copy " + name + u" to the temporary folder: the path " + path + u" is too long");
            return U16String();
        }
        UniqueFile file(Sys().CreateFileW(AsWide(path), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                          FILE_ATTRIBUTE_ARCHIVE, nullptr));
        if (!file) {
            const DWORD error = ::GetLastError();
            if (NameTaken(path, error)) continue;
            feedback.Log(u"cannot create " + path + u": " + DescribeError(error));
            return U16String();
        }
        DWORD written = 0;
        const BOOL wrote = Sys().WriteFile(file.get(), entry.Data(), entry.FileSizeLow(), &written, nullptr);
        const DWORD writeError = wrote ? ERROR_SUCCESS : ::GetLastError();
        // Closing flushes: a failed close means the copy may be incomplete.
        const bool closed = file.close();
        if (wrote && written == entry.FileSizeLow() && closed) return path;

        if (!wrote) {
            feedback.Log(u"cannot write " + path + u": " + DescribeError(writeError));
        } else {
            feedback.Log(u"cannot write " + path + u" in full: " + DecimalText(written) + u" of " +
                         DecimalText(entry.FileSizeLow()) + u" bytes" + (closed ? u"" : u", and the close failed"));
        }
        // An incomplete copy is of no use to anybody.
        Sys().DeleteFileW(AsWide(path));
        return U16String();
    }
    feedback.Log(u"cannot copy " + name + u" to the temporary folder: the first " + DecimalText(kTempCopyCandidates) +
                 u" names are all taken");
    return U16String();
}

CSetupAXIS::CSetupAXIS() : CSetupPage(IDD_AXIS) {}

CSetupAXIS::~CSetupAXIS() = default;

BOOL CSetupAXIS::OnInitDialog() {
    CSetupPage::OnInitDialog();
    feedback_ = std::make_unique<WizardFeedback>(sheet->GetSafeHwnd());
    packages_.assign(std::begin(kAxisPackageEntryNames), std::end(kAxisPackageEntryNames));
    return TRUE;
}

BOOL CSetupAXIS::OnSetActive() {
    sheet->SetWizardButtons(PSWIZB_DISABLEDFINISH);
    NextStep();
    return CSetupPage::OnSetActive();
}

void CSetupAXIS::OnTimer(UINT_PTR id) {
    switch (id) {
        case kStepTimer:
            KillTimer(kStepTimer);
            Step();
            break;
        case kPollTimer:
            // Runs every period until the package has ended.
            Poll();
            break;
        default:
            CSetupPage::OnTimer(id);
            break;
    }
}

void CSetupAXIS::NextStep() { SetTimer(kStepTimer, kStepMilliseconds); }

void CSetupAXIS::Step() {
    if (packages_.empty()) {
        EndWizard();
        return;
    }
    // Nothing may be pressed while packages run.
    sheet->EnableWindow(FALSE);
    packageName_ = packages_.front();
    packages_.pop_front();

    const PayloadEntry entry = FindEntry(packageName_, State());
    if (!entry) {
        feedback_->Log(u"runtime package " + packageName_ + u" is not carried: skipped");
        NextStep();
        return;
    }
    packageFile_ = WriteEntryToTempFile(entry, *feedback_);
    if (packageFile_.empty()) {
        feedback_->Log(u"runtime package " + packageName_ + u" skipped: no copy to start");
        NextStep();
        return;
    }
    switch (StartPackage()) {
        case PackageStart::Running:
            SetTimer(kPollTimer, kPollMilliseconds);
            return;
        case PackageStart::Failed:
            DeletePackageFile();
            break;
        case PackageStart::WithoutProcess:
            // Whatever took the file over may not have read it yet: the copy
            // stays.
            packageFile_.clear();
            break;
    }
    NextStep();
}

CSetupAXIS::PackageStart CSetupAXIS::StartPackage() {
    wchar_t file[MAX_PATH] = {};
    const size_t units = std::min(packageFile_.size(), kShellPathUnits);
    std::copy_n(packageFile_.data(), units, file);

    // No owner, verb or parameters: the file type's default action, as a
    // double click would run it.
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_NOCLOSEPROCESS;
    info.lpFile = file;
    info.lpDirectory = L".";
    info.nShow = SW_SHOWNORMAL;
    if (!Sys().ShellExecuteExW(&info)) {
        feedback_->Log(u"runtime package " + packageName_ + u" could not be started: " +
                       DescribeError(::GetLastError()));
        return PackageStart::Failed;
    }
    process_.reset(info.hProcess);
    if (!process_) {
        // Handed to something that gives no process to wait for (a running
        // program that took the file over): it counts as ended.
        feedback_->Log(u"runtime package " + packageName_ + u" was started without a process to wait for; " +
                       packageFile_ + u" is left in place");
        return PackageStart::WithoutProcess;
    }
    feedback_->Log(u"runtime package " + packageName_ + u" started from " + packageFile_);
    return PackageStart::Running;
}

void CSetupAXIS::Poll() {
    const DWORD wait = Sys().WaitForSingleObject(process_.get(), kPollWaitMilliseconds);
    if (wait == WAIT_TIMEOUT) return;
    KillTimer(kPollTimer);
    if (wait == WAIT_OBJECT_0) {
        DWORD exitCode = 0;
        if (Sys().GetExitCodeProcess(process_.get(), &exitCode)) {
            feedback_->Log(u"runtime package " + packageName_ + u" ended with exit code " + DecimalText(exitCode));
        } else {
            feedback_->Log(u"runtime package " + packageName_ + u" ended; its exit code is unknown: " +
                           DescribeError(::GetLastError()));
        }
    } else {
        // A wait that fails would fail on every poll: the package counts as
        // ended rather than holding the wizard for ever.
        feedback_->Log(u"cannot wait for runtime package " + packageName_ + u" (" +
                       (wait == WAIT_FAILED ? DescribeError(::GetLastError()) : u"wait result " + DecimalText(wait)) +
                       u"): counted as ended");
    }
    process_.reset();
    DeletePackageFile();
    NextStep();
}

void CSetupAXIS::DeletePackageFile() {
    if (Sys().DeleteFileW(AsWide(packageFile_))) {
        feedback_->Log(u"deleted the temporary copy " + packageFile_);
    } else {
        feedback_->Log(u"cannot delete the temporary copy " + packageFile_ + u": " + DescribeError(::GetLastError()));
    }
    packageFile_.clear();
}

void CSetupAXIS::EndWizard() {
    sheet->EnableWindow(TRUE);
    sheet->SetWizardButtons(PSWIZB_FINISH);
    ProcessPendingDeletions(State(), *feedback_);
    sheet->SetModalResult(ID_WIZFINISH);
    sheet->PressButton(PSBTN_FINISH);
}

}  // namespace quentar
