// What the tests of the application's life cycle (install, update while it
// runs, uninstall) look at beyond an installation's files and keys: file
// versions, the sample application's start notes and windows, and the
// processes that programs other than the test start.
#pragma once

#include <windows.h>
#include <shlobj.h>

#include <optional>
#include <string>
#include <vector>

#include "install_support.h"
#include "quentar_sample.h"

namespace ui_test {

// "a.b.c.d" from the file's version resource, empty when it has none.
inline std::wstring FileVersionText(const std::wstring& path) {
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(path.c_str(), &ignored);
    if (size == 0) return std::wstring();
    std::vector<BYTE> block(size);
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    if (!::GetFileVersionInfoW(path.c_str(), 0, size, block.data()) ||
        !::VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&info), &length) || info == nullptr) {
        return std::wstring();
    }
    return std::to_wstring(HIWORD(info->dwFileVersionMS)) + L"." + std::to_wstring(LOWORD(info->dwFileVersionMS)) +
           L"." + std::to_wstring(HIWORD(info->dwFileVersionLS)) + L"." + std::to_wstring(LOWORD(info->dwFileVersionLS));
}

// The lines of a text made of lines ending in "\n".
inline std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        lines.push_back(text.substr(start, end - start));
    }
    return lines;
}

// --- The sample application -------------------------------------------------

inline std::wstring StartNotesPath() {
    return ShellFolder(CSIDL_COMMON_APPDATA) + L"\\" QUENTAR_SAMPLE_MARKER_FOLDER L"\\" QUENTAR_SAMPLE_START_MARKER;
}

struct StartNote {
    std::wstring version, path, directory;
};

// The starts noted so far, oldest first.
inline std::vector<StartNote> StartNotes() {
    std::vector<StartNote> notes;
    const std::optional<std::string> bytes = ReadBytes(StartNotesPath());
    if (!bytes) return notes;
    for (std::string line : Lines(*bytes)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const int units = ::MultiByteToWideChar(CP_UTF8, 0, line.data(), static_cast<int>(line.size()), nullptr, 0);
        std::wstring wide(static_cast<size_t>(units), L'\0');
        ::MultiByteToWideChar(CP_UTF8, 0, line.data(), static_cast<int>(line.size()), &wide[0], units);
        const size_t tab1 = wide.find(L'\t');
        const size_t tab2 = tab1 == std::wstring::npos ? tab1 : wide.find(L'\t', tab1 + 1);
        if (tab2 == std::wstring::npos) continue;
        notes.push_back({wide.substr(0, tab1), wide.substr(tab1 + 1, tab2 - tab1 - 1), wide.substr(tab2 + 1)});
    }
    return notes;
}

// The main window of a running sample application of `version` (its title
// is "Quentar <version>"), or null.
inline HWND SampleWindow(const std::wstring& version) {
    const std::wstring title = L"Quentar " + version;
    return ::FindWindowW(QUENTAR_SAMPLE_WINDOW_CLASS, title.c_str());
}

inline DWORD ProcessOfWindow(HWND window) {
    DWORD id = 0;
    if (window != nullptr) ::GetWindowThreadProcessId(window, &id);
    return id;
}

// --- Processes ----------------------------------------------------------------

// A process named `exeName` that `parentId` started.
inline std::optional<DWORD> WaitForChildProcess(DWORD parentId, const std::wstring& exeName,
                                                ui::Duration timeout = ui::kWatchdog) {
    std::optional<DWORD> found;
    ui::WaitUntil(
        [&] {
            for (const ui::ProcessInfo& p : ui::ListProcesses()) {
                if (p.parentId == parentId && ::lstrcmpiW(p.exeName.c_str(), exeName.c_str()) == 0) {
                    found = p.id;
                    return true;
                }
            }
            return false;
        },
        timeout);
    return found;
}

// Whether the process has ended, or ends within `milliseconds`.
inline bool ProcessEnds(DWORD id, DWORD milliseconds) {
    const ui::ScopedHandle process(::OpenProcess(SYNCHRONIZE, FALSE, id));
    return process.Get() == nullptr || ::WaitForSingleObject(process.Get(), milliseconds) == WAIT_OBJECT_0;
}

}  // namespace ui_test
