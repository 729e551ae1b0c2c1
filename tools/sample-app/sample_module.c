/* A small library standing in for the camera SDK and the companion library
   of the sample payload. */
#include <windows.h>

__declspec(dllexport) int SampleModuleVersion(void) { return SAMPLE_MODULE_VERSION; }

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    (void)instance; (void)reason; (void)reserved;
    return TRUE;
}
