// Destinations written in each form a user or a deployment tool may give,
// for the destination page and "/dir:" alike: only full paths are taken.
#pragma once

#include <string>
#include <vector>

namespace ui_test {

struct DestinationForm {
    const char* name;
    std::wstring path;
    bool full;  // taken by the full-path rule (and then offered to be made, or used)
};

// `existing` is a folder that exists (full path); the forms taken name it,
// or a share nobody serves.
inline std::vector<DestinationForm> DestinationForms(const std::wstring& existing) {
    return {
        {"relative", L"Quentar relative", false},
        {"relative to the current folder", L".\\Quentar relative", false},
        {"relative to a drive's current folder", L"C:Quentar relative", false},
        {"relative to the current drive", L"\\Quentar relative", false},
        {"on a share", L"\\\\quentar-nowhere\\cameras\\Quentar", true},
        // Once refused for the "?" of its prefix, as if it held a wildcard.
        {"with the long-path prefix", L"\\\\?\\" + existing, true},
    };
}

}  // namespace ui_test
