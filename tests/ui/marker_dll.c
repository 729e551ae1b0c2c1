/* A stand-in for a DLL planted beside a downloaded setup program. Whoever
 * loads it leaves a marker file beside it, "<its own path>.loaded", and gets
 * a failed load: the entry point refuses, so the planted code never stays.
 * It imports nothing but kernel32 and is built without the C runtime, so it
 * can be planted under any name, the runtime's own included. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved) {
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) {
        WCHAR path[MAX_PATH + 8];  /* room for the suffix */
        const DWORD length = GetModuleFileNameW(self, path, MAX_PATH);
        /* A length of MAX_PATH means the path was cut: no marker beats a wrong one. */
        if (length > 0 && length < MAX_PATH) {
            lstrcatW(path, L".loaded");
            const HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
            if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
        }
    }
    return FALSE;
}
