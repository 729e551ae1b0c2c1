#include "platform/system_library.h"

#include <delayimp.h>

#include <vector>

#include "platform/system_api.h"
#include "platform/wide.h"

namespace quentar {

namespace {

// Whether the process's activation context (the manifest's side-by-side
// assemblies) redirects `fileName`.
bool IsSideBySide(const U16String& fileName) {
    ACTCTX_SECTION_KEYED_DATA data{};
    data.cbSize = sizeof(data);
    return ::FindActCtxSectionStringW(0, nullptr, ACTIVATION_CONTEXT_SECTION_DLL_REDIRECTION, AsWide(fileName),
                                      &data) != FALSE;
}

// The delay-load helper's hook. Before loading a delay-loaded DLL the helper
// asks here; a module returned is used as it is. The helper's own fallback,
// LoadLibraryA with the bare name, would search the program's folder on a
// system without the search flags, so a DLL that cannot be loaded from
// System32 fails here the way the helper fails.
FARPROC WINAPI DelayLoadNotify(unsigned notification, PDelayLoadInfo info) {
    if (notification != dliNotePreLoadLibrary) return nullptr;
    U16String name;
    for (const char* c = info->szDll; *c != '\0'; ++c) name.push_back(static_cast<unsigned char>(*c));
    const HMODULE module = LoadSystemLibrary(name);
    if (module == nullptr) {
        info->dwLastError = ::GetLastError();
        ULONG_PTR argument = reinterpret_cast<ULONG_PTR>(info);
        ::RaiseException(VcppException(ERROR_SEVERITY_ERROR, ERROR_MOD_NOT_FOUND), 0, 1, &argument);
    }
    return reinterpret_cast<FARPROC>(module);
}

}  // namespace

SetDefaultDllDirectoriesFn FindSetDefaultDllDirectories() {
    const HMODULE kernel = Sys().GetModuleHandleW(L"kernel32.dll");
    if (kernel == nullptr) return nullptr;
    return reinterpret_cast<SetDefaultDllDirectoriesFn>(
        reinterpret_cast<void*>(Sys().GetProcAddress(kernel, "SetDefaultDllDirectories")));
}

U16String SystemFolder() {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const UINT length = ::GetSystemDirectoryW(buffer.data(), static_cast<UINT>(buffer.size()));
        if (length == 0) return U16String();
        // A result not below the buffer's size is the size it needs.
        if (length < buffer.size()) return FromWide(buffer.data(), length);
        buffer.resize(length + 1);
    }
}

HMODULE LoadSystemLibrary(const U16String& fileName) {
    if (SystemSearchFlagsSupported()) {
        return Sys().LoadLibraryExW(AsWide(fileName), nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    }
    if (IsSideBySide(fileName)) return Sys().LoadLibraryExW(AsWide(fileName), nullptr, 0);
    const U16String folder = SystemFolder();
    if (folder.empty()) return nullptr;  // GetLastError() tells why
    // The DLL's own imports are then looked for in its folder first, not in
    // the program's.
    return Sys().LoadLibraryExW(AsWide(JoinPath(folder, fileName)), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

}  // namespace quentar

// The hook the delay-load helper calls (a definition of our own takes the
// place of the runtime library's empty one).
extern "C" {
PfnDliHook __pfnDliNotifyHook2 = quentar::DelayLoadNotify;
}
