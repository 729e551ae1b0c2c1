// The exit code the sample redistributable ends with, asked for through the
// file it reads beside its marker (tools/sample-app/sample_redist.c) for the
// life of the object: a package that says it installed and needs a restart
// of Windows (3010), for instance.
#pragma once

#include <windows.h>
#include <shlobj.h>

#include <string>

#include "install_support.h"
#include "sample_packages.h"

namespace ui_test {

class RedistExitCode {
public:
    explicit RedistExitCode(unsigned code) {
        const std::wstring markers = ShellFolder(CSIDL_COMMON_APPDATA) + L"\\" SAMPLE_MARKER_FOLDER;
        ::CreateDirectoryW(markers.c_str(), nullptr);
        path_ = markers + L"\\" SAMPLE_REDIST_EXIT_CODE;
        written_ = WriteBytes(path_, std::to_string(code));
    }
    ~RedistExitCode() { ::DeleteFileW(path_.c_str()); }
    RedistExitCode(const RedistExitCode&) = delete;
    RedistExitCode& operator=(const RedistExitCode&) = delete;

    bool Written() const { return written_; }

private:
    std::wstring path_;
    bool written_ = false;
};

}  // namespace ui_test
