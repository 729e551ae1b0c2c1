// System DLLs are loaded from System32 only: with the search flags where
// Windows has them, and by full path on a Windows without
// SetDefaultDllDirectories (played here by hiding that function), through
// LoadSystemLibrary itself, the delay-load hook and the rich-edit class.
#include <windows.h>
#include <delayimp.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/framework/win_app.h"
#include "platform/module_text.h"
#include "platform/system_api.h"
#include "platform/system_library.h"
#include "platform/wide.h"

namespace quentar {
namespace {

// Windows with or without SetDefaultDllDirectories; records every
// LoadLibraryExW and forwards it to the real one.
class RecordingLoader : public ForwardingSystemApi {
public:
    explicit RecordingLoader(bool searchFlags) : ForwardingSystemApi(Sys()), searchFlags_(searchFlags) {}

    FARPROC GetProcAddress(HMODULE module, LPCSTR name) override {
        // A name, not an ordinal (an ordinal is below 0x10000).
        const bool byName = reinterpret_cast<ULONG_PTR>(name) > 0xFFFF;
        if (!searchFlags_ && byName && std::strcmp(name, "SetDefaultDllDirectories") == 0) return nullptr;
        return inner_.GetProcAddress(module, name);
    }
    HMODULE LoadLibraryExW(LPCWSTR name, HANDLE file, DWORD flags) override {
        loads.push_back({name, flags});
        return inner_.LoadLibraryExW(name, file, flags);
    }

    struct Load {
        std::wstring name;
        DWORD flags;
    };
    std::vector<Load> loads;

private:
    bool searchFlags_;
};

std::wstring SystemPath(const wchar_t* fileName) {
    return std::wstring(AsWide(SystemFolder())) + L"\\" + fileName;
}

std::wstring ModulePath(HMODULE module) { return AsWide(ModuleFileName(module)); }

bool StartsWithNoCase(const std::wstring& text, const std::wstring& start) {
    return text.size() >= start.size() && _wcsnicmp(text.c_str(), start.c_str(), start.size()) == 0;
}

TEST(SystemLibrary, SystemFolderIsWhereWindowsKeepsItsDlls) {
    const std::wstring folder = AsWide(SystemFolder());
    ASSERT_FALSE(folder.empty());
    EXPECT_NE(folder.back(), L'\\');
    EXPECT_NE(::GetFileAttributesW((folder + L"\\kernel32.dll").c_str()), INVALID_FILE_ATTRIBUTES);
}

enum class From { System32, Assembly, Nowhere };

struct LoadCase {
    const char* name;
    bool searchFlags;
    const wchar_t* fileName;
    bool byFullPath;  // else by the bare name
    DWORD expectedFlags;
    From from;
};

void PrintTo(const LoadCase& c, std::ostream* os) { *os << c.name; }

class LoadSystemLibraryTest : public ::testing::TestWithParam<LoadCase> {};

TEST_P(LoadSystemLibraryTest, TakesTheDllFromSystem32Only) {
    const LoadCase& c = GetParam();
    RecordingLoader loader(c.searchFlags);
    ScopedSystemApi scope(loader);

    const HMODULE module = LoadSystemLibrary(FromWide(c.fileName));

    ASSERT_EQ(loader.loads.size(), 1u) << "one attempt, never a second by the bare name";
    EXPECT_EQ(loader.loads[0].name, c.byFullPath ? SystemPath(c.fileName) : std::wstring(c.fileName));
    EXPECT_EQ(loader.loads[0].flags, c.expectedFlags);
    if (c.from == From::Nowhere) {
        EXPECT_EQ(module, nullptr);
        return;
    }
    ASSERT_NE(module, nullptr) << "error " << ::GetLastError();
    const std::wstring path = ModulePath(module);
    if (c.from == From::System32) {
        EXPECT_PRED2(StartsWithNoCase, path, std::wstring(AsWide(SystemFolder())) + L"\\");
    } else {
        // The assembly's own folder, not System32's version 5.
        EXPECT_NE(path.find(L"common-controls"), std::wstring::npos) << path;
    }
    ::FreeLibrary(module);
}

// comctl32 comes from the side-by-side assembly the manifest names (version
// 6, the one the wizard is drawn with), found by the loader before any
// search, also where the flags are missing.
const LoadCase kLoadCases[] = {
    {"WithSearchFlags", true, L"riched20.dll", false, LOAD_LIBRARY_SEARCH_SYSTEM32, From::System32},
    {"WithoutSearchFlagsByFullPath", false, L"riched20.dll", true, LOAD_WITH_ALTERED_SEARCH_PATH, From::System32},
    {"SideBySideWithSearchFlags", true, L"comctl32.dll", false, LOAD_LIBRARY_SEARCH_SYSTEM32, From::Assembly},
    {"SideBySideWithoutSearchFlags", false, L"comctl32.dll", false, 0, From::Assembly},
    {"MissingWithSearchFlags", true, L"no-such-library.dll", false, LOAD_LIBRARY_SEARCH_SYSTEM32, From::Nowhere},
    {"MissingWithoutSearchFlags", false, L"no-such-library.dll", true, LOAD_WITH_ALTERED_SEARCH_PATH,
     From::Nowhere},
};

INSTANTIATE_TEST_SUITE_P(Systems, LoadSystemLibraryTest, ::testing::ValuesIn(kLoadCases),
                         [](const auto& info) { return std::string(info.param.name); });

// The program's delay-loaded imports come through the hook (this test
// program is linked like Setup.exe).
TEST(DelayLoadHook, LoadsByFullPathWhereTheSearchFlagsAreMissing) {
    ASSERT_NE(__pfnDliNotifyHook2, nullptr);
    RecordingLoader loader(false);
    ScopedSystemApi scope(loader);

    DelayLoadInfo info{};
    info.cb = sizeof(info);
    info.szDll = "shell32.dll";
    const auto module = reinterpret_cast<HMODULE>(__pfnDliNotifyHook2(dliNotePreLoadLibrary, &info));
    ASSERT_NE(module, nullptr);
    ASSERT_EQ(loader.loads.size(), 1u);
    EXPECT_EQ(loader.loads[0].name, SystemPath(L"shell32.dll"));
    EXPECT_EQ(module, ::GetModuleHandleW(L"shell32.dll"));

    // Other notifications leave the helper to its own way.
    info.hmodCur = module;
    info.dlp.fImportByName = TRUE;
    info.dlp.szProcName = "SHGetMalloc";
    EXPECT_EQ(__pfnDliNotifyHook2(dliNotePreGetProcAddress, &info), nullptr);
    EXPECT_EQ(loader.loads.size(), 1u);
    ::FreeLibrary(module);
}

TEST(RichEdit, ClassComesFromSystem32WhereTheSearchFlagsAreMissing) {
    RecordingLoader loader(false);
    ScopedSystemApi scope(loader);
    ASSERT_TRUE(AfxInitRichEdit2());
    ASSERT_EQ(loader.loads.size(), 1u);
    EXPECT_EQ(loader.loads[0].name, SystemPath(L"riched20.dll"));
    WNDCLASSEXW richEdit{};
    richEdit.cbSize = sizeof(richEdit);
    EXPECT_TRUE(::GetClassInfoExW(nullptr, L"RichEdit20W", &richEdit));
}

}  // namespace
}  // namespace quentar
