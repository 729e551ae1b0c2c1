// Reading the log a run of the setup program wrote: UTF-8 text after a
// byte-order mark, one line per event, each line starting with the time.
#pragma once

#include <windows.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "install_support.h"

namespace ui_test {

// A log file of the test's own in the temporary folder, deleted before the
// test uses it.
inline std::wstring FreshLogPath(const std::string& name) {
    wchar_t folder[MAX_PATH + 1] = {};
    ::GetTempPathW(MAX_PATH + 1, folder);
    const std::wstring path = std::wstring(folder) + L"quentar-ui-" + Widen(name) + L".log";
    ::DeleteFileW(path.c_str());
    return path;
}

struct LogLine {
    unsigned long process = 0;  // the run that wrote it
    std::string text;           // without the time and the process
};

// The log's lines in order, each "hh:mm:ss.mmm [process] text". Nothing
// when the file cannot be read; a line of another form keeps its whole text
// under process 0.
inline std::optional<std::vector<LogLine>> ReadLog(const std::wstring& path) {
    std::optional<std::string> bytes = ReadBytes(path);
    if (!bytes) return std::nullopt;
    std::string text = *bytes;
    if (text.rfind("\xEF\xBB\xBF", 0) == 0) text.erase(0, 3);
    std::vector<LogLine> lines;
    size_t start = 0;
    for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
        const std::string line = text.substr(start, end - start);
        LogLine parsed{0, line};
        const size_t close = line.find("] ");
        // "hh:mm:ss.mmm [" is 14 characters.
        if (line.size() > 14 && line[2] == ':' && line[8] == '.' && line[13] == '[' && close != std::string::npos) {
            parsed.process = std::strtoul(line.c_str() + 14, nullptr, 10);
            parsed.text = line.substr(close + 2);
        }
        lines.push_back(parsed);
    }
    return lines;
}

// The lines one process wrote, in order.
inline std::vector<std::string> LinesOf(const std::vector<LogLine>& log, unsigned long process) {
    std::vector<std::string> lines;
    for (const LogLine& line : log) {
        if (line.process == process) lines.push_back(line.text);
    }
    return lines;
}

inline bool HasLine(const std::vector<std::string>& lines, const std::string& line) {
    for (const std::string& l : lines) {
        if (l == line) return true;
    }
    return false;
}

inline bool HasLineStartingWith(const std::vector<std::string>& lines, const std::string& start) {
    for (const std::string& l : lines) {
        if (l.rfind(start, 0) == 0) return true;
    }
    return false;
}

// A path as the log writes it (UTF-8).
inline std::string Utf8(const std::wstring& text) {
    if (text.empty()) return std::string();
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                           nullptr, nullptr);
    std::string out(static_cast<size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size, nullptr, nullptr);
    return out;
}

inline std::string Joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& l : lines) text += l + "\n";
    return text;
}

}  // namespace ui_test
