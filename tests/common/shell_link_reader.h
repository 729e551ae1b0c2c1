// Reads a shell link (.lnk) back the way the shell does, through IShellLinkW
// and IPersistFile, for tests in and out of the setup program's process.
// The caller has initialised COM on its thread.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include <string>

namespace link_reader {

struct LinkFacts {
    bool loaded = false;
    std::wstring path;
    std::wstring arguments;
    std::wstring workingDirectory;
    std::wstring description;
    std::wstring iconPath;
    int iconIndex = -1;
    WORD hotkey = 0xFFFF;
    // From the file itself: the shell link header keeps the show command at
    // offset 0x3C, and not every IShellLinkW reports it back (Wine's always
    // answers SW_SHOWNORMAL). 0 when the file is too short.
    DWORD showCommand = 0;
};

inline DWORD ShowCommandInFile(const std::wstring& file) {
    const HANDLE handle = ::CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return 0;
    unsigned char header[0x40] = {};
    DWORD got = 0;
    const BOOL read = ::ReadFile(handle, header, sizeof header, &got, nullptr);
    ::CloseHandle(handle);
    if (!read || got < sizeof header) return 0;
    return header[0x3C] | header[0x3D] << 8 | header[0x3E] << 16 | static_cast<DWORD>(header[0x3F]) << 24;
}

inline LinkFacts ReadLink(const std::wstring& file) {
    LinkFacts facts;
    IShellLinkW* link = nullptr;
    if (FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                  reinterpret_cast<void**>(&link)))) {
        return facts;
    }
    IPersistFile* persist = nullptr;
    if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&persist)))) {
        if (SUCCEEDED(persist->Load(file.c_str(), STGM_READ))) {
            wchar_t text[1024] = {};
            link->GetPath(text, 1024, nullptr, SLGP_RAWPATH);
            facts.path = text;
            text[0] = 0;
            link->GetArguments(text, 1024);
            facts.arguments = text;
            text[0] = 0;
            link->GetWorkingDirectory(text, 1024);
            facts.workingDirectory = text;
            text[0] = 0;
            link->GetDescription(text, 1024);
            facts.description = text;
            text[0] = 0;
            link->GetIconLocation(text, 1024, &facts.iconIndex);
            facts.iconPath = text;
            link->GetHotkey(&facts.hotkey);
            facts.showCommand = ShowCommandInFile(file);
            facts.loaded = true;
        }
        persist->Release();
    }
    link->Release();
    return facts;
}

// Writes a plain link to `target` (an earlier installation's, in tests).
inline bool WriteLink(const std::wstring& file, const std::wstring& target, const std::wstring& arguments,
                      const std::wstring& description) {
    IShellLinkW* link = nullptr;
    if (FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                  reinterpret_cast<void**>(&link)))) {
        return false;
    }
    link->SetPath(target.c_str());
    link->SetArguments(arguments.c_str());
    link->SetDescription(description.c_str());
    IPersistFile* persist = nullptr;
    bool saved = false;
    if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&persist)))) {
        saved = SUCCEEDED(persist->Save(file.c_str(), TRUE));
        persist->Release();
    }
    link->Release();
    return saved;
}

}  // namespace link_reader
