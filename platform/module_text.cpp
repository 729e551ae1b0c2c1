#include "platform/module_text.h"

#include "platform/unique_resource.h"
#include "platform/wide.h"

namespace quentar {

HINSTANCE ResourceModule() { return ::GetModuleHandleW(nullptr); }

U16String LoadStringResource(UINT id) {
    // With a zero buffer size LoadStringW hands out a read-only pointer into
    // the resource itself and returns the length; the text is not terminated.
    const wchar_t* text = nullptr;
    const int length = ::LoadStringW(ResourceModule(), id, reinterpret_cast<LPWSTR>(&text), 0);
    if (length <= 0 || text == nullptr) return {};
    return FromWide(text, static_cast<size_t>(length));
}

U16String SystemErrorText(DWORD error) {
    wchar_t* buffer = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr,
        error, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
    const UniqueLocal owner(buffer);
    if (length == 0 || buffer == nullptr) return {};
    return OneLineMessage(FromWide(buffer, length));
}

U16String ModuleFileName(HMODULE module) {
    U16String path(MAX_PATH, u'\0');
    for (;;) {
        const DWORD n = ::GetModuleFileNameW(module, AsWide(path.data()), static_cast<DWORD>(path.size()));
        if (n == 0) return {};
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        path.resize(path.size() * 2);  // truncated: try again with more room
    }
}

U16String ApplicationTitle() {
    const U16String path = ModuleFileName();
    const size_t slash = path.find_last_of(u"\\/");
    U16String name = slash == U16String::npos ? path : path.substr(slash + 1);
    const size_t dot = name.rfind(u'.');
    if (dot != U16String::npos) name.resize(dot);
    return name;
}

}  // namespace quentar
