// The rights that folder creations, file creations and rights changes pass,
// recorded as SDDL (Wine keeps no descriptor of a file: it maps a DACL to
// Unix mode bits and makes one up when asked), and a rights query answered
// with a descriptor of the test's choosing.
#pragma once

#include <windows.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <vector>

#include "platform/folder_security.h"
#include "platform/system_api.h"
#include "platform/wide.h"

namespace quentar::testing {

// The canonical SDDL text of `sddl` (the system may write it differently
// from how it was given).
inline U16String Canonical(U16View sddl) {
    SddlDescriptor descriptor;
    EXPECT_EQ(descriptor.Parse(sddl), ERROR_SUCCESS) << ToUtf8(U16String(sddl));
    return DescriptorText(descriptor.get());
}

// Records the descriptors that folder creations, creations of files for
// writing and rights changes pass; can answer a rights query with a
// descriptor of the test's choosing, and draw GUIDs from a list.
class RightsRecorder : public ForwardingSystemApi {
public:
    RightsRecorder() : ForwardingSystemApi(Sys()) {}

    BOOL CreateDirectoryW(LPCWSTR name, LPSECURITY_ATTRIBUTES security) override {
        created.push_back({FromWide(name), TextOf(security)});
        return inner_.CreateDirectoryW(name, security);
    }

    HANDLE CreateFileW(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD disposition,
                       DWORD flags, HANDLE templateFile) override {
        if (access & (GENERIC_WRITE | FILE_WRITE_DATA)) files.push_back({FromWide(name), TextOf(security)});
        return inner_.CreateFileW(name, access, share, security, disposition, flags, templateFile);
    }

    DWORD SetNamedSecurityInfoW(LPWSTR name, SE_OBJECT_TYPE type, SECURITY_INFORMATION what, PSID owner, PSID group,
                                PACL dacl, PACL sacl) override {
        // The parts passed, put back together as one descriptor.
        SECURITY_DESCRIPTOR descriptor;
        ::InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
        if (owner != nullptr) ::SetSecurityDescriptorOwner(&descriptor, owner, FALSE);
        ::SetSecurityDescriptorDacl(&descriptor, TRUE, dacl, FALSE);
        if (what & PROTECTED_DACL_SECURITY_INFORMATION) {
            ::SetSecurityDescriptorControl(&descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
        }
        set.push_back({FromWide(name), DescriptorText(&descriptor)});
        unprotected.push_back((what & UNPROTECTED_DACL_SECURITY_INFORMATION) != 0);
        if (setError != ERROR_SUCCESS) return setError;
        return inner_.SetNamedSecurityInfoW(name, type, what, owner, group, dacl, sacl);
    }

    DWORD GetNamedSecurityInfoW(LPCWSTR name, SE_OBJECT_TYPE type, SECURITY_INFORMATION what, PSID* owner,
                                PSID* group, PACL* dacl, PACL* sacl, PSECURITY_DESCRIPTOR* descriptor) override {
        if (queryError != ERROR_SUCCESS) return queryError;
        if (answer.empty()) return inner_.GetNamedSecurityInfoW(name, type, what, owner, group, dacl, sacl, descriptor);
        PSECURITY_DESCRIPTOR made = nullptr;
        if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(AsWide(answer), SDDL_REVISION_1, &made, nullptr)) {
            return ::GetLastError();
        }
        *descriptor = made;
        return ERROR_SUCCESS;
    }

    HRESULT CoCreateGuid(GUID* guid) override {
        if (guids.empty()) return inner_.CoCreateGuid(guid);
        *guid = guids.front();
        guids.erase(guids.begin());
        return S_OK;
    }

    struct Call {
        U16String path;
        U16String sddl;  // empty: no descriptor passed (the object inherits)
    };
    std::vector<Call> created;       // folders
    std::vector<Call> files;         // files created or opened for writing
    std::vector<Call> set;           // rights changes
    std::vector<bool> unprotected;   // per change: the DACL takes what the parent passes on
    U16String answer;  // SDDL answered by GetNamedSecurityInfoW when not empty
    DWORD queryError = ERROR_SUCCESS;  // when not 0, GetNamedSecurityInfoW fails with it
    DWORD setError = ERROR_SUCCESS;    // when not 0, SetNamedSecurityInfoW fails with it (recorded all the same)
    std::vector<GUID> guids;

private:
    static U16String TextOf(LPSECURITY_ATTRIBUTES security) {
        return security != nullptr ? DescriptorText(security->lpSecurityDescriptor) : U16String();
    }
};

}  // namespace quentar::testing
