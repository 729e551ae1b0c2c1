/* A stand-in runtime package that imports version.dll, as many installers
 * do: the loader resolves it before the first line runs, searching the
 * package's own folder first. It reads its own version and ends with exit
 * code 0 (1 when the call fails). */
#include <windows.h>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, LPWSTR commandLine, int show) {
    wchar_t self[MAX_PATH];
    DWORD ignored = 0;
    (void)instance; (void)previous; (void)commandLine; (void)show;
    if (GetModuleFileNameW(NULL, self, MAX_PATH) == 0) return 1;
    /* No version resource is no failure: the import is what counts. */
    GetFileVersionInfoSizeW(self, &ignored);
    return 0;
}
