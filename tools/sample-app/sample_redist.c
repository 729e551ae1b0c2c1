/* Stands in for the runtime redistributable of the sample payload. Run, it
   "installs" by leaving a marker for whoever checks that it ran: the file
   <common application data>\Quentar samples\AXISMediaControlSDK_redist.txt
   with the path the program was started from and its working folder, one per
   line, in UTF-8. It shows no window and ends with exit code 0, or 1 when the
   marker cannot be written. A file AXISMediaControlSDK_redist.exitcode in the
   same folder, holding a decimal number, makes it end with that code instead
   (3010 stands for a package that installed and needs a restart). */
#include <windows.h>
#include <shlobj.h>

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

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, LPWSTR commandLine, int show) {
    wchar_t folder[PATH_UNITS];
    wchar_t marker[PATH_UNITS];
    wchar_t self[PATH_UNITS];
    wchar_t directory[PATH_UNITS];
    wchar_t exitCodeFile[PATH_UNITS];
    HANDLE file;
    BOOL written;
    (void)instance; (void)previous; (void)commandLine; (void)show;

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

    file = CreateFileW(marker, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) return 1;
    written = WriteLine(file, self) && WriteLine(file, directory);
    if (!CloseHandle(file) || !written) return 1;
    return (int)AskedExitCode(exitCodeFile, 0);
}
