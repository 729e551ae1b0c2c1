/* What the import check of tests/win/CMakeLists.txt must refuse: a static
 * import outside the allowed list (shell32), and a delay-loaded function
 * called through a dllimport declaration, whose slot GNU ld leaves empty
 * (ole32, linked through its delay-import library). Built, never run. */
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

int main(void) {
    IMalloc* allocator = NULL;
    SHGetMalloc(&allocator);
    return (int)CoInitialize(NULL);
}
