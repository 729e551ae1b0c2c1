/* A stand-in runtime package that never ends by itself, as an installer
 * waiting on a question nobody sees would: no window, it sleeps until it is
 * ended from outside. */
#include <windows.h>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, LPWSTR commandLine, int show) {
    (void)instance; (void)previous; (void)commandLine; (void)show;
    for (;;) Sleep(INFINITE);
}
