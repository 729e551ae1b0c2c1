/* Stands in for the runtime redistributable of the sample payload. Run, it
   installs the media control the way the real one does, for the setup
   program's detection to find: its in-process COM server (carried in this
   program as resource 1, RCDATA) written to
   <program files>\Quentar samples\Media control\SampleMediaControl.dll and its
   class registered in the machine's classes. It also leaves a marker for
   whoever checks that it ran: the file
   <common application data>\Quentar samples\AXISMediaControlSDK_redist.txt
   with the path the program was started from and its working folder, one per
   line, in UTF-8. It shows no window and ends with exit code 0, or 1 when
   something cannot be written. A file AXISMediaControlSDK_redist.exitcode in
   the marker's folder, holding a decimal number, makes it end with that code
   instead (3010 stands for a package that installed and needs a restart).
   Started with /uninstall it takes back the class and the server (the marker
   stays) and ends with 0, or 1 when something could not be removed. */
#include <windows.h>
#include <shlobj.h>
#include <string.h>
#include <wchar.h>

#include "sample_packages.h"

#define PATH_UNITS (2 * MAX_PATH)

static BOOL WriteLine(HANDLE file, const wchar_t* text) {
    char utf8[3 * PATH_UNITS + 2];
    DWORD written = 0;
    int length = WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, 3 * PATH_UNITS, NULL, NULL);
    if (length <= 0) return FALSE;
    /* length counts the NUL, which becomes the line's CR LF. */
    utf8[length - 1] = '\r';
    utf8[length] = '\n';
    return WriteFile(file, utf8, (DWORD)length + 1, &written, NULL) && written == (DWORD)length + 1;
}

/* The exit code asked for in `path`, or `fallback` when there is no such
   file or it holds no decimal number. */
static DWORD AskedExitCode(const wchar_t* path, DWORD fallback) {
    char text[16];
    DWORD read = 0;
    DWORD code = 0;
    DWORD i;
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) return fallback;
    if (!ReadFile(file, text, sizeof text - 1, &read, NULL)) read = 0;
    CloseHandle(file);
    /* At most nine digits: the number cannot overflow. */
    for (i = 0; i < read && i < 9 && text[i] >= '0' && text[i] <= '9'; ++i) code = code * 10 + (DWORD)(text[i] - '0');
    return i == 0 ? fallback : code;
}

/* HKEY_LOCAL_MACHINE path of the media control's class. */
#define CLASS_KEY L"Software\\Classes\\CLSID\\" SAMPLE_MEDIA_CONTROL_CLASS

/* The server's folder and path under the program-files folder, and the
   folder above it; FALSE when the program-files folder is unknown. */
static BOOL ServerPaths(wchar_t* outer, wchar_t* folder, wchar_t* server) {
    wchar_t* slash;
    if (FAILED(SHGetFolderPathW(NULL, CSIDL_PROGRAM_FILES, NULL, SHGFP_TYPE_CURRENT, folder))) return FALSE;
    lstrcatW(folder, L"\\" SAMPLE_MEDIA_CONTROL_FOLDER);
    lstrcpyW(outer, folder);
    slash = outer + lstrlenW(outer);
    while (slash > outer && *slash != L'\\') --slash;
    *slash = L'\0';
    lstrcpyW(server, folder);
    lstrcatW(server, L"\\" SAMPLE_MEDIA_CONTROL_SERVER);
    return TRUE;
}

static BOOL SetText(HKEY key, const wchar_t* name, const wchar_t* text) {
    return RegSetValueExW(key, name, 0, REG_SZ, (const BYTE*)text, (DWORD)(lstrlenW(text) + 1) * sizeof(wchar_t)) ==
           ERROR_SUCCESS;
}

/* Whether the file at `path` holds exactly the `size` bytes at `bytes`. */
static BOOL HoldsBytes(const wchar_t* path, const void* bytes, DWORD size) {
    BYTE buffer[4096];
    DWORD at = 0, read = 0;
    BOOL same;
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, NULL, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) return FALSE;
    same = GetFileSize(file, NULL) == size;
    while (same && at < size && ReadFile(file, buffer, sizeof buffer, &read, NULL) && read > 0) {
        same = at + read <= size && memcmp(buffer, (const BYTE*)bytes + at, read) == 0;
        at += read;
    }
    CloseHandle(file);
    return same && at == size;
}

/* Writes the carried server, unless it is there already (a program that
   created the media control keeps it loaded), and registers its class. */
static BOOL InstallMediaControl(void) {
    wchar_t outer[PATH_UNITS], folder[PATH_UNITS], server[PATH_UNITS];
    HRSRC found = FindResourceW(NULL, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(10) /* RT_RCDATA */);
    HGLOBAL loaded = found ? LoadResource(NULL, found) : NULL;
    const void* bytes = loaded ? LockResource(loaded) : NULL;
    DWORD size = found ? SizeofResource(NULL, found) : 0;
    DWORD written = 0;
    HANDLE file;
    HKEY key;
    BOOL ok;
    if (bytes == NULL || !ServerPaths(outer, folder, server)) return FALSE;
    CreateDirectoryW(outer, NULL);
    CreateDirectoryW(folder, NULL);
    if (!HoldsBytes(server, bytes, size)) {
        file = CreateFileW(server, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
        if (file == INVALID_HANDLE_VALUE) return FALSE;
        ok = WriteFile(file, bytes, size, &written, NULL) && written == size;
        if (!CloseHandle(file) || !ok) return FALSE;
    }
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, CLASS_KEY L"\\InprocServer32", 0, NULL, REG_OPTION_NON_VOLATILE,
                        KEY_SET_VALUE, NULL, &key, NULL) != ERROR_SUCCESS) {
        return FALSE;
    }
    ok = SetText(key, NULL, server) && SetText(key, L"ThreadingModel", L"Both");
    RegCloseKey(key);
    return ok;
}

/* Takes back the class and the server; the folders go when empty. */
static BOOL UninstallMediaControl(void) {
    wchar_t outer[PATH_UNITS], folder[PATH_UNITS], server[PATH_UNITS];
    LSTATUS removed = RegDeleteTreeW(HKEY_LOCAL_MACHINE, CLASS_KEY);
    BOOL ok = removed == ERROR_SUCCESS || removed == ERROR_FILE_NOT_FOUND;
    if (removed == ERROR_SUCCESS) RegDeleteKeyW(HKEY_LOCAL_MACHINE, CLASS_KEY);
    if (!ServerPaths(outer, folder, server)) return FALSE;
    if (!DeleteFileW(server) && GetLastError() != ERROR_FILE_NOT_FOUND && GetLastError() != ERROR_PATH_NOT_FOUND) {
        ok = FALSE;
    }
    RemoveDirectoryW(folder);
    RemoveDirectoryW(outer);
    return ok;
}

/* Whether the command line is the uninstall switch, blanks around it aside. */
static BOOL AsksForUninstall(const wchar_t* commandLine) {
    const int length = lstrlenW(SAMPLE_REDIST_UNINSTALL_SWITCH);
    while (*commandLine == L' ' || *commandLine == L'\t') ++commandLine;
    if (_wcsnicmp(commandLine, SAMPLE_REDIST_UNINSTALL_SWITCH, (size_t)length) != 0) return FALSE;
    commandLine += length;
    while (*commandLine == L' ' || *commandLine == L'\t') ++commandLine;
    return *commandLine == L'\0';
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, LPWSTR commandLine, int show) {
    wchar_t folder[PATH_UNITS];
    wchar_t marker[PATH_UNITS];
    wchar_t self[PATH_UNITS];
    wchar_t directory[PATH_UNITS];
    wchar_t exitCodeFile[PATH_UNITS];
    HANDLE file;
    BOOL written;
    (void)instance; (void)previous; (void)show;

    if (AsksForUninstall(commandLine)) return UninstallMediaControl() ? 0 : 1;

    if (FAILED(SHGetFolderPathW(NULL, CSIDL_COMMON_APPDATA, NULL, SHGFP_TYPE_CURRENT, folder))) return 1;
    /* The folder is at most MAX_PATH units; the names added are short. */
    lstrcatW(folder, L"\\" SAMPLE_MARKER_FOLDER);
    CreateDirectoryW(folder, NULL);
    lstrcpyW(marker, folder);
    lstrcatW(marker, L"\\" SAMPLE_REDIST_MARKER);
    lstrcpyW(exitCodeFile, folder);
    lstrcatW(exitCodeFile, L"\\" SAMPLE_REDIST_EXIT_CODE);

    if (GetModuleFileNameW(NULL, self, PATH_UNITS) == 0) return 1;
    if (GetCurrentDirectoryW(PATH_UNITS, directory) == 0) return 1;

    /* Readable while it is written: whoever waits for it reads again. */
    file = CreateFileW(marker, GENERIC_WRITE, FILE_SHARE_READ, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) return 1;
    written = WriteLine(file, self) && WriteLine(file, directory);
    if (!CloseHandle(file) || !written) return 1;
    if (!InstallMediaControl()) return 1;
    return (int)AskedExitCode(exitCodeFile, 0);
}
