#include "install/run_log.h"

#include <cstdio>
#include <string>

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

U16String DefaultLogPath() {
    wchar_t folder[MAX_PATH + 1] = {};
    const DWORD length = Sys().GetTempPathW(MAX_PATH + 1, folder);
    // 0: no temporary folder; more than the buffer: a path no file could
    // be opened under.
    if (length == 0 || length > MAX_PATH) return U16String();
    return JoinPath(FromWide(folder, length), kDefaultLogName);
}

U16String FormatLogTime(const SYSTEMTIME& t) {
    return Digits(t.wYear, 4) + u"-" + Digits(t.wMonth, 2) + u"-" + Digits(t.wDay, 2) + u" " + ClockText(t);
}

bool RunLog::Open(const U16String& path) {
    Close();
    UniqueFile file(Sys().CreateFileW(AsWide(path), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                      nullptr));
    if (!file) return false;
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
