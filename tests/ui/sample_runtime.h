// The sample runtime packages of the default payload, as a machine keeps them
// once they ran: their Windows Installer products (each registering one of
// the decoders' DirectX Media Objects) and the redistributable's media
// control (its COM class and server). Taken back through each package's own
// uninstallation, so that no test sees what an earlier one installed.
#pragma once

#include <windows.h>
#include <msi.h>
#include <shlobj.h>

#include <string>

#include <gtest/gtest.h>

#include "sample_packages.h"
#include "ui_paths.h"

namespace ui_test {

// Whether the redistributable's media control is there: its class
// registered, or its server on the disk.
inline bool SampleMediaControlPresent() {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Classes\\CLSID\\" SAMPLE_MEDIA_CONTROL_CLASS, 0, KEY_READ,
                        &key) == ERROR_SUCCESS) {
        ::RegCloseKey(key);
        return true;
    }
    wchar_t folder[MAX_PATH] = {};
    if (FAILED(::SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILES, nullptr, SHGFP_TYPE_CURRENT, folder))) return false;
    const std::wstring server =
        std::wstring(folder) + L"\\" SAMPLE_MEDIA_CONTROL_FOLDER L"\\" SAMPLE_MEDIA_CONTROL_SERVER;
    return ::GetFileAttributesW(server.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Removes the products and, when its media control is there, runs the
// redistributable with its uninstall switch; a failure of either is a
// failure of the test.
inline void RemoveSampleRuntime() {
    ::MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
    for (const SamplePackage& package : kSamplePackages) {
        if (::MsiQueryProductStateW(package.productCode) == INSTALLSTATE_DEFAULT) {
            EXPECT_EQ(::MsiConfigureProductW(package.productCode, INSTALLLEVEL_DEFAULT, INSTALLSTATE_ABSENT),
                      static_cast<UINT>(ERROR_SUCCESS))
                << "cannot remove the sample product of " << std::string(package.entry, package.entry + wcslen(package.entry));
        }
    }
    if (!SampleMediaControlPresent()) return;
    std::wstring command = L"\"" UI_SAMPLE_FILES L"\\AXISMediaControlSDK_redist.exe\" " SAMPLE_REDIST_UNINSTALL_SWITCH;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        ADD_FAILURE() << "the sample redistributable cannot be started to uninstall: error " << ::GetLastError();
        return;
    }
    DWORD code = 259;
    if (::WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0) ::GetExitCodeProcess(process.hProcess, &code);
    ::CloseHandle(process.hProcess);
    ::CloseHandle(process.hThread);
    EXPECT_EQ(code, 0u) << "the sample redistributable's uninstallation failed";
}

}  // namespace ui_test
