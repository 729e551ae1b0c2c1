// A small stand-in for Quentar, the program that the setup program installs:
// - started normally, a window that shows its version, notes the start (see
//   quentar_sample.h) and ends when it receives the setup program's close
//   request (WM_QUERYENDSESSION with the updater's lParam);
// - asked to update (File > Update, or "/selfupdate:<Setup.exe>"), it starts
//   the newer setup program as its updater;
// - started with "/uninstall" (by the uninstall record or the uninstall
//   shortcut), it removes its installation as the record describes it.
#include <windows.h>
#include <commdlg.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cwchar>
#include <string>
#include <vector>

#include "quentar_sample.h"

namespace {

constexpr LPARAM kUpdaterCloseRequest = 0x38A7BE4C;
constexpr wchar_t kTitle[] = L"Quentar";
constexpr wchar_t kUninstallRoot[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
constexpr UINT kMenuUpdate = 101;
constexpr UINT kMenuExit = 102;
// Posted to the window once it is up, when "/selfupdate:" named a program.
constexpr UINT kStartUpdaterMessage = WM_APP + 1;
// WM_COPYDATA tag of an update request handed to the running instance.
constexpr ULONG_PTR kUpdateRequestData = 0x51555044;  // "QUPD"
// How long other running instances are given to end before the uninstaller
// goes on without them.
constexpr DWORD kInstanceEndWait = 10000;

std::wstring g_updaterPath;

std::wstring ModulePath() {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) return std::wstring();
        if (length < buffer.size()) return std::wstring(buffer.data(), length);
        buffer.resize(buffer.size() * 2);
    }
}

std::wstring FolderOf(const std::wstring& path) {
    const size_t slash = path.rfind(L'\\');
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

bool EqualsNoCase(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
           CSTR_EQUAL;
}

// Paths compared as Windows compares file names: without regard to case and
// to a trailing backslash.
bool SamePath(std::wstring a, std::wstring b) {
    while (a.size() > 1 && a.back() == L'\\') a.pop_back();
    while (b.size() > 1 && b.back() == L'\\') b.pop_back();
    return EqualsNoCase(a, b);
}

bool StartsWithNoCase(const std::wstring& text, const wchar_t* prefix) {
    const size_t n = wcslen(prefix);
    return text.size() >= n && CompareStringOrdinal(text.c_str(), static_cast<int>(n), prefix, static_cast<int>(n),
                                                    TRUE) == CSTR_EQUAL;
}

// The main windows of the other running instances of the executable `self`.
std::vector<HWND> OtherInstanceWindows(const std::wstring& self) {
    std::vector<HWND> found;
    HWND window = nullptr;
    while ((window = FindWindowExW(nullptr, window, QUENTAR_SAMPLE_WINDOW_CLASS, nullptr)) != nullptr) {
        DWORD id = 0;
        GetWindowThreadProcessId(window, &id);
        if (id == GetCurrentProcessId()) continue;
        const HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
        if (process == nullptr) continue;
        wchar_t image[MAX_PATH * 2];
        DWORD length = MAX_PATH * 2;
        if (QueryFullProcessImageNameW(process, 0, image, &length) && SamePath(std::wstring(image, length), self)) {
            found.push_back(window);
        }
        CloseHandle(process);
    }
    return found;
}

void AppendUtf8(std::string& out, const std::wstring& text) {
    if (text.empty()) return;
    const int length = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0,
                                           nullptr, nullptr);
    if (length <= 0) return;
    const size_t at = out.size();
    out.resize(at + static_cast<size_t>(length));
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &out[at], length, nullptr, nullptr);
}

// Appends "version TAB path TAB working folder CR LF" to the start marker.
void NoteStart() {
    wchar_t folder[MAX_PATH];
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder))) return;
    std::wstring marker = std::wstring(folder) + L"\\" QUENTAR_SAMPLE_MARKER_FOLDER;
    CreateDirectoryW(marker.c_str(), nullptr);
    marker += L"\\" QUENTAR_SAMPLE_START_MARKER;

    wchar_t directory[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, directory);
    std::string line;
    AppendUtf8(line, QUENTAR_SAMPLE_VERSION_TEXT);
    line += '\t';
    AppendUtf8(line, ModulePath());
    line += '\t';
    AppendUtf8(line, directory);
    line += "\r\n";

    const HANDLE file = CreateFileW(marker.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    CloseHandle(file);
}

std::wstring Quoted(const std::wstring& argument) { return L"\"" + argument + L"\""; }

// Starts `setupPath` as the updater of this running application. The shell
// asks for the administrator rights that the setup program requires.
bool StartUpdater(HWND window, const std::wstring& setupPath) {
    wchar_t handle[24];
    swprintf(handle, 24, L"%lu", static_cast<unsigned long>(reinterpret_cast<uintptr_t>(window)));
    const std::wstring parameters = L"/update: /wh:" + std::wstring(handle) + L" " + Quoted(L"/exe:" + ModulePath());
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_NOASYNC;
    info.hwnd = window;
    info.lpFile = setupPath.c_str();
    info.lpParameters = parameters.c_str();
    info.nShow = SW_SHOWNORMAL;
    if (ShellExecuteExW(&info)) return true;
    const std::wstring text = L"The update program could not be started:\n" + setupPath;
    MessageBoxW(window, text.c_str(), kTitle, MB_OK | MB_ICONHAND);
    return false;
}

void ChooseUpdater(HWND window) {
    wchar_t file[MAX_PATH] = L"Setup.exe";
    OPENFILENAMEW open{};
    open.lStructSize = sizeof(open);
    open.hwndOwner = window;
    open.lpstrFilter = L"Setup programs (*.exe)\0*.exe\0";
    open.lpstrFile = file;
    open.nMaxFile = MAX_PATH;
    open.lpstrTitle = L"Update Quentar from";
    open.Flags = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY;
    if (GetOpenFileNameW(&open)) StartUpdater(window, file);
}

LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM w, LPARAM l) {
    switch (message) {
        case WM_QUERYENDSESSION:
            if (l == kUpdaterCloseRequest) {
                DestroyWindow(hwnd);
                return TRUE;
            }
            break;
        case kStartUpdaterMessage:
            StartUpdater(hwnd, g_updaterPath);
            return 0;
        case WM_COPYDATA: {
            // Another start of this executable asked for an update: start the
            // updater from here, once the sender has its answer.
            const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(l);
            if (data->dwData != kUpdateRequestData || data->cbData % sizeof(wchar_t) != 0) break;
            g_updaterPath.assign(static_cast<const wchar_t*>(data->lpData), data->cbData / sizeof(wchar_t));
            PostMessageW(hwnd, kStartUpdaterMessage, 0, 0);
            return TRUE;
        }
        case WM_COMMAND:
            if (LOWORD(w) == kMenuUpdate) {
                ChooseUpdater(hwnd);
                return 0;
            }
            if (LOWORD(w) == kMenuExit) {
                DestroyWindow(hwnd);
                return 0;
            }
            break;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        default:
            break;
    }
    return DefWindowProcW(hwnd, message, w, l);
}

// Hands the update request to an instance of this executable that is
// already running; false when there is none or it did not take it.
bool ForwardUpdateRequest() {
    for (HWND running : OtherInstanceWindows(ModulePath())) {
        COPYDATASTRUCT data{kUpdateRequestData, static_cast<DWORD>(g_updaterPath.size() * sizeof(wchar_t)),
                            const_cast<wchar_t*>(g_updaterPath.data())};
        DWORD_PTR answer = 0;
        if (SendMessageTimeoutW(running, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data), SMTO_ABORTIFHUNG, 10000,
                                &answer) &&
            answer == TRUE) {
            return true;
        }
    }
    return false;
}

int RunWindow(HINSTANCE instance, int show) {
    if (!g_updaterPath.empty() && ForwardUpdateRequest()) return 0;
    WNDCLASSW wc{};
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = instance;
    wc.lpszClassName = QUENTAR_SAMPLE_WINDOW_CLASS;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    RegisterClassW(&wc);

    const HMENU file = CreatePopupMenu();
    AppendMenuW(file, MF_STRING, kMenuUpdate, L"&Update from a newer Setup...");
    AppendMenuW(file, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(file, MF_STRING, kMenuExit, L"E&xit");
    const HMENU bar = CreateMenu();
    AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(file), L"&File");

    // Noted before the window exists: whoever sees the window finds the note.
    NoteStart();
    wchar_t title[64];
    swprintf(title, 64, L"Quentar %ls", QUENTAR_SAMPLE_VERSION_TEXT);
    HWND hwnd = CreateWindowExW(0, QUENTAR_SAMPLE_WINDOW_CLASS, title, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                CW_USEDEFAULT, 480, 240, nullptr, bar, instance, nullptr);
    if (hwnd == nullptr) return 1;
    ShowWindow(hwnd, show);
    if (!g_updaterPath.empty()) PostMessageW(hwnd, kStartUpdaterMessage, 0, 0);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return 0;
}

// --- Uninstall ------------------------------------------------------------------

bool ReadString(HKEY key, const wchar_t* name, std::wstring& value) {
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return false;
    if (type != REG_SZ && type != REG_EXPAND_SZ) return false;
    std::vector<wchar_t> buffer(size / sizeof(wchar_t) + 1, L'\0');
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &size) != ERROR_SUCCESS) {
        return false;
    }
    value.assign(buffer.data());
    return true;
}

struct Record {
    std::wstring keyName;
    std::wstring folder;         // "Folder": the destination folder
    std::wstring programFolder;  // "Path": the Start-menu program folder
    std::vector<std::wstring> files;
};

bool ReadRecord(HKEY key, Record& record) {
    ReadString(key, L"Path", record.programFolder);
    DWORD count = 0;
    DWORD size = sizeof(count);
    DWORD type = 0;
    const bool counted = RegQueryValueExW(key, L"Files", nullptr, &type, reinterpret_cast<BYTE*>(&count), &size) ==
                             ERROR_SUCCESS &&
                         type == REG_DWORD;
    // Without a count, the values are read until the first one missing.
    for (DWORD i = 0; !counted || i < count; ++i) {
        wchar_t name[24];
        swprintf(name, 24, L"File%lu", static_cast<unsigned long>(i));
        std::wstring file;
        if (!ReadString(key, name, file)) {
            if (!counted) break;
            continue;
        }
        record.files.push_back(file);
    }
    return true;
}

// The uninstall record whose "Folder" is `folder`.
bool FindRecord(const std::wstring& folder, Record& record) {
    HKEY root = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstallRoot, 0, KEY_READ, &root) != ERROR_SUCCESS) return false;
    bool found = false;
    for (DWORD index = 0; !found; ++index) {
        wchar_t name[256];
        DWORD length = 256;
        if (RegEnumKeyExW(root, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        HKEY key = nullptr;
        if (RegOpenKeyExW(root, name, 0, KEY_READ, &key) != ERROR_SUCCESS) continue;
        std::wstring recorded;
        if (ReadString(key, L"Folder", recorded) && SamePath(recorded, folder)) {
            record.keyName = name;
            record.folder = recorded;
            found = ReadRecord(key, record);
        }
        RegCloseKey(key);
    }
    RegCloseKey(root);
    return found;
}

// Asks every other running instance of this executable to end (as closing
// its window would) and waits a while for each.
void EndOtherInstances(const std::wstring& self) {
    for (HWND other : OtherInstanceWindows(self)) {
        DWORD id = 0;
        GetWindowThreadProcessId(other, &id);
        const HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, id);
        PostMessageW(other, WM_CLOSE, 0, 0);
        if (process == nullptr) continue;
        WaitForSingleObject(process, kInstanceEndWait);
        CloseHandle(process);
    }
}

void DeleteOrSchedule(const std::wstring& path) {
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!DeleteFileW(path.c_str()) && GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) {
        MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    }
}

// The running executable cannot delete itself, nor the folder that holds it.
// A command processor is left to do that once this process has ended: it
// first waits for the end of its input, a pipe whose only writer is this
// process (so the pipe ends when the process does), then tries the delete
// until the system has let go of the image, and removes the folder when it is
// empty. If no command processor can be started, both are left for the next
// start of Windows.
void DeleteSelfAfterExit(const std::wstring& self, const std::wstring& folder) {
    wchar_t system[MAX_PATH];
    const UINT length = GetSystemDirectoryW(system, MAX_PATH);
    SECURITY_ATTRIBUTES inheritable{sizeof(inheritable), nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    const HANDLE nul = CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                                   OPEN_EXISTING, 0, nullptr);
    bool started = false;
    if (length > 0 && length < MAX_PATH && nul != INVALID_HANDLE_VALUE &&
        CreatePipe(&readEnd, &writeEnd, &inheritable, 0) &&
        SetHandleInformation(writeEnd, HANDLE_FLAG_INHERIT, 0)) {
        const std::wstring cmd = std::wstring(system) + L"\\cmd.exe";
        std::wstring script = L"set /p _= & (for /l %n in (1,1,3000) do @if exist " + Quoted(self) +
                              L" del /f /q /a " + Quoted(self) + L")";
        if (!folder.empty()) script += L" & rmdir " + Quoted(folder);
        std::wstring commandLine = Quoted(cmd) + L" /d /q /s /c " + Quoted(script);
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = readEnd;
        startup.hStdOutput = nul;
        startup.hStdError = nul;
        PROCESS_INFORMATION info{};
        started = CreateProcessW(cmd.c_str(), &commandLine[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                                 system, &startup, &info) != FALSE;
        if (started) {
            CloseHandle(info.hThread);
            CloseHandle(info.hProcess);
        }
    }
    if (readEnd != nullptr) CloseHandle(readEnd);
    if (nul != INVALID_HANDLE_VALUE) CloseHandle(nul);
    // The write end stays open until this process ends: that is the signal.
    if (!started) {
        if (writeEnd != nullptr) CloseHandle(writeEnd);
        MoveFileExW(self.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
        if (!folder.empty()) MoveFileExW(folder.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    }
}

int Uninstall(bool quiet) {
    const std::wstring self = ModulePath();
    const std::wstring folder = FolderOf(self);
    Record record;
    if (!FindRecord(folder, record)) {
        if (!quiet) {
            const std::wstring text = L"No installation of Quentar was found in\n" + folder;
            MessageBoxW(nullptr, text.c_str(), kTitle, MB_OK | MB_ICONHAND);
        }
        return 1;
    }
    if (!quiet) {
        const std::wstring text = L"Do you want to remove Quentar and all of its components from\n" + folder + L"?";
        if (MessageBoxW(nullptr, text.c_str(), kTitle, MB_YESNO | MB_ICONQUESTION) != IDYES) return 2;
    }

    EndOtherInstances(self);
    bool selfListed = false;
    for (const std::wstring& file : record.files) {
        if (SamePath(file, self)) {
            selfListed = true;
            continue;
        }
        DeleteOrSchedule(file);
    }
    if (!record.programFolder.empty()) RemoveDirectoryW(record.programFolder.c_str());

    HKEY root = nullptr;
    LSTATUS deleted = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstallRoot, 0, KEY_READ | KEY_WRITE, &root);
    if (deleted == ERROR_SUCCESS) {
        deleted = RegDeleteKeyW(root, record.keyName.c_str());
        RegCloseKey(root);
    }

    // The destination folder goes when it is empty; it still holds this
    // executable, so the removal happens after the end of this process.
    if (selfListed) {
        DeleteSelfAfterExit(self, record.folder);
    } else {
        RemoveDirectoryW(record.folder.c_str());
    }
    return deleted == ERROR_SUCCESS ? 0 : 1;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int show) {
    int count = 0;
    LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    bool uninstall = false;
    bool quiet = false;
    for (int i = 1; arguments != nullptr && i < count; ++i) {
        const std::wstring argument = arguments[i];
        if (EqualsNoCase(argument, QUENTAR_SAMPLE_UNINSTALL_SWITCH)) {
            uninstall = true;
        } else if (EqualsNoCase(argument, QUENTAR_SAMPLE_QUIET_SWITCH)) {
            quiet = true;
        } else if (StartsWithNoCase(argument, QUENTAR_SAMPLE_UPDATE_SWITCH)) {
            g_updaterPath = argument.substr(wcslen(QUENTAR_SAMPLE_UPDATE_SWITCH));
        }
    }
    LocalFree(arguments);
    return uninstall ? Uninstall(quiet) : RunWindow(instance, show);
}
