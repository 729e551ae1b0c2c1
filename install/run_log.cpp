#include "install/run_log.h"

#include <cstdio>
#include <string>

#include "install/engine_support.h"
#include "platform/folder_security.h"
#include "platform/plain_file.h"
#include "platform/system_api.h"
#include "platform/wide.h"

namespace quentar {

namespace {

constexpr char kUtf8Mark[] = "\xEF\xBB\xBF";

// Two or three digits with leading zeros.
U16String Digits(unsigned value, int width) {
    char text[8];
    std::snprintf(text, sizeof(text), "%0*u", width, value);
    return FromUtf8(text);
}

U16String ClockText(const SYSTEMTIME& t) {
    return Digits(t.wHour, 2) + u":" + Digits(t.wMinute, 2) + u":" + Digits(t.wSecond, 2) + u"." +
           Digits(t.wMilliseconds, 3);
}

// Appending only; DELETE so that a file made for nothing can go again
// through its handle. Every run asks for DELETE, so every run shares it.
constexpr DWORD kLogAccess = FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE | DELETE;
constexpr DWORD kLogSharing = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

UniqueFile OpenLogFile(const U16String& path, DWORD disposition) {
    return UniqueFile(Sys().CreateFileW(AsWide(path), kLogAccess, kLogSharing, nullptr, disposition,
                                        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
}

// Opens the log `path` as RunLog::Open describes; empty, with the thread's
// last error set and `why` filled, when it cannot be opened or is refused.
UniqueFile OpenPlainLog(const U16String& path, U16String& why) {
    bool created = false;
    UniqueFile file = OpenLogFile(path, OPEN_EXISTING);
    DWORD error = file ? ERROR_SUCCESS : ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND) {
        file = OpenLogFile(path, CREATE_NEW);
        created = static_cast<bool>(file);
        error = file ? ERROR_SUCCESS : ::GetLastError();
        if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) {
            // Made by another run meanwhile, or a link that leads nowhere,
            // which a system that shows no link as such follows.
            file = OpenLogFile(path, OPEN_EXISTING);
            error = file ? ERROR_SUCCESS : ::GetLastError();
            if (error == ERROR_FILE_NOT_FOUND) {
                why = u"something is at the name that leads nowhere";
                ::SetLastError(kReparsePointEncountered);
                return UniqueFile();
            }
        }
    }
    if (!file) {
        why = DescribeError(error);
        ::SetLastError(error);
        return UniqueFile();
    }
    const U16String problem = PlainFileProblem(file.get(), path);
    if (problem.empty()) return file;
    if (created) {
        // Made by this call, wherever a link led it: taken back through the
        // handle, which names only that file.
        FILE_DISPOSITION_INFO gone{TRUE};
        Sys().SetFileInformationByHandle(file.get(), FileDispositionInfo, &gone, sizeof(gone));
    }
    why = u"refused: " + problem;
    ::SetLastError(ERROR_ACCESS_DENIED);
    return UniqueFile();
}

// A line for the log about a folder made or set for the log.
void NoteRights(const U16String& folder, const FolderRights& rights, StringList* notes) {
    if (notes == nullptr) return;
    if (rights.created) {
        notes->push_back(u"log folder " + folder + u" made with the rights " + rights.set);
    } else if (rights.changed) {
        notes->push_back(u"log folder " + folder + u" had the rights " + rights.found + u"; set to " + rights.set);
    }
}

const char16_t* ButtonName(int answer) {
    switch (answer) {
        case IDOK:
            return u"OK";
        case IDCANCEL:
            return u"Cancel";
        case IDABORT:
            return u"Abort";
        case IDRETRY:
            return u"Retry";
        case IDIGNORE:
            return u"Ignore";
        case IDYES:
            return u"Yes";
        case IDNO:
            return u"No";
        default:
            return u"none";
    }
}

}  // namespace

DWORD DefaultLogFolder(U16String& folder, StringList* notes) {
    folder.clear();
    U16String data;
    FolderRights rights;
    if (const DWORD error = SetupDataFolder(data, &rights)) return error;
    NoteRights(data, rights, notes);
    const U16String logs = JoinPath(data, kLogFolderName);
    if (const DWORD error = EnsureAdministratorsOnlyFolder(logs, &rights)) return error;
    NoteRights(logs, rights, notes);
    folder = logs;
    return ERROR_SUCCESS;
}

U16String FreshLogName() {
    SYSTEMTIME t{};
    Sys().GetLocalTime(&t);
    return u"Setup-" + Digits(t.wYear, 4) + Digits(t.wMonth, 2) + Digits(t.wDay, 2) + u"-" + Digits(t.wHour, 2) +
           Digits(t.wMinute, 2) + Digits(t.wSecond, 2) + u"-" + DecimalText(::GetCurrentProcessId()) + u".log";
}

U16String FormatLogTime(const SYSTEMTIME& t) {
    return Digits(t.wYear, 4) + u"-" + Digits(t.wMonth, 2) + u"-" + Digits(t.wDay, 2) + u" " + ClockText(t);
}

bool RunLog::Open(const U16String& path, U16String* why) {
    Close();
    U16String reason;
    UniqueFile file = OpenPlainLog(path, reason);
    if (!file) {
        if (why != nullptr) *why = reason;
        return false;
    }
    DWORD high = 0;
    if (Sys().GetFileSize(file.get(), &high) == 0 && high == 0) {
        DWORD written = 0;
        Sys().WriteFile(file.get(), kUtf8Mark, sizeof(kUtf8Mark) - 1, &written, nullptr);
    }
    file_ = std::move(file);
    path_ = path;
    return true;
}

void RunLog::Write(U16View line) {
    if (!file_) return;
    // Callers log a failure before they read its error.
    const DWORD lastError = ::GetLastError();
    SYSTEMTIME now{};
    Sys().GetLocalTime(&now);
    // The process tells apart the lines of runs that append at once.
    U16String text = ClockText(now) + u" [" + FromUtf8(std::to_string(::GetCurrentProcessId())) + u"] ";
    text.reserve(text.size() + line.size() + 2);
    for (char16_t c : line) text += (c == u'\r' || c == u'\n') ? u' ' : c;
    text += u"\r\n";
    const std::string bytes = ToUtf8(text);
    DWORD written = 0;
    // A log line longer than 4 GB is not written at all.
    if (bytes.size() <= MAXDWORD) {
        Sys().WriteFile(file_.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    }
    ::SetLastError(lastError);
}

void RunLog::Close() {
    file_.reset();
    path_.clear();
}

RunLog& TheRunLog() {
    static RunLog log;
    return log;
}

int UnattendedAnswer(uint32_t style) {
    switch (style & MB_TYPEMASK) {
        case MB_OK:
            return IDOK;
        case MB_ABORTRETRYIGNORE:
            return IDABORT;
        case MB_YESNO:
            return IDNO;
        default:  // MB_OKCANCEL, MB_YESNOCANCEL, MB_RETRYCANCEL, MB_CANCELTRYCONTINUE
            return IDCANCEL;
    }
}

void LogMessage(U16View text, int answer, bool unattended) {
    TheRunLog().Write(u"message: " + U16String(text));
    TheRunLog().Write(U16String(unattended ? u"nobody to ask; answered: " : u"the user answered: ") + ButtonName(answer));
}

int UnattendedFeedback::Message(const U16String& text, uint32_t style) {
    const int answer = UnattendedAnswer(style);
    LogMessage(text, answer, true);
    return answer;
}

}  // namespace quentar
