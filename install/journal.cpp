#include "install/journal.h"

#include "install/engine_support.h"
#include "platform/folder_security.h"
#include "platform/system_api.h"
#include "platform/wide.h"

namespace quentar {
namespace {

// Writes all of `text` (UTF-16 little-endian, as the machine holds it) and
// flushes it to the disk; 0 or the error.
DWORD WriteDurably(HANDLE file, const U16String& text) {
    const DWORD size = static_cast<DWORD>(text.size() * sizeof(char16_t));
    DWORD written = 0;
    if (!Sys().WriteFile(file, text.data(), size, &written, nullptr)) {
        return LastErrorOr(ERROR_WRITE_FAULT);
    }
    if (written != size) return ERROR_DISK_FULL;
    if (!Sys().FlushFileBuffers(file)) {
        return LastErrorOr(ERROR_WRITE_FAULT);
    }
    return ERROR_SUCCESS;
}

}  // namespace

void RunJournal::Arm(const U16String& folder, const U16String& description) {
    file_.reset();
    path_.clear();
    created_ = false;
    failed_ = ERROR_SUCCESS;
    folder_ = folder;
    description_ = description;
}

DWORD RunJournal::Open() {
    FILETIME now{};
    ::GetSystemTimeAsFileTime(&now);
    const uint64_t stamp = (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    const U16String path =
        JoinPath(folder_, LowerHexOfNumber(stamp, 16) + u"-" + LowerHexOfNumber(::GetCurrentProcessId(), 8) + kJournalExtension);
    // Shared for reading only: nobody deletes or changes it while this run
    // lives, and a later run that cannot open it for deletion knows that its
    // writer still runs. The folder's rights are inherited.
    path_ = path;
    file_.reset(Sys().CreateFileW(AsWide(path), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file_) {
        return LastErrorOr(ERROR_ACCESS_DENIED);
    }
    created_ = true;
    return WriteDurably(file_.get(), EncodeJournalHeader(description_));
}

DWORD RunJournal::Record(const JournalEntry& entry) {
    if (!Armed()) return ERROR_SUCCESS;
    if (failed_ != ERROR_SUCCESS) return failed_;
    const U16String line = EncodeJournalEntry(entry);
    if (line.empty()) return ERROR_INVALID_DATA;
    if (!created_) failed_ = Open();
    if (failed_ == ERROR_SUCCESS) failed_ = WriteDurably(file_.get(), line);
    return failed_;
}

void RunJournal::Discard(InstallFeedback& feedback) {
    file_.reset();
    if (created_) {
        if (Sys().DeleteFileW(AsWide(path_))) {
            feedback.Log(u"journal removed: " + path_);
        } else {
            feedback.Log(u"the journal " + path_ + u" cannot be removed (" + DescribeError(::GetLastError()) +
                         u"): the next run will finish it");
        }
    }
    path_.clear();
    created_ = false;
    folder_.clear();
    failed_ = ERROR_SUCCESS;
}

RunJournal& TheJournal() {
    static RunJournal journal;
    return journal;
}

bool RecordOrReport(const JournalEntry& entry, InstallFeedback& feedback) {
    RunJournal& journal = TheJournal();
    const DWORD error = journal.Record(entry);
    if (error == ERROR_SUCCESS) return true;
    feedback.Log(u"the journal cannot record the next change (" + entry.path + u")");
    ReportCreateFileFailure(journal.Path(), error, feedback);
    return false;
}

BOOL CreateJournaledFolder(const U16String& path, U16View rights) {
    if (const DWORD error = TheJournal().Record({JournalStep::Folder, path})) {
        ::SetLastError(error);
        return FALSE;
    }
    if (rights.empty()) return Sys().CreateDirectoryW(AsWide(path), nullptr);
    const DWORD error = CreateFolderWithRights(path, rights);
    ::SetLastError(error);
    return error == ERROR_SUCCESS;
}

}  // namespace quentar
