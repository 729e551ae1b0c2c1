// The setup program's lock: its mutex in a private namespace bounded by the
// Administrators group, so that no user can take it before a setup runs, or
// under the global name where the system has no private namespaces. Wine
// lacks them, so the test plays the system's namespace functions; the mutex
// names are mapped to names of each test's own, so that no other run in the
// prefix meets them.
#include <windows.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "app/setup_app.h"
#include "child_scenario.h"
#include "engine_test_support.h"
#include "install/run_log.h"
#include "platform/folder_security.h"
#include "platform/system_api.h"
#include "platform/wide.h"
#include "rights_recorder.h"
#include "ui_driver.h"

namespace quentar {
namespace {

using testing::Canonical;
using testing::TempFolder;

// The global name as the test that holds it from another process maps it.
constexpr wchar_t kHeldGlobalName[] = L"Local\\Quentar Setup lock test, held by another process";

// Plays the system's private namespaces (or, with `withNamespaces` false, a
// system without them) and maps the mutex names: the global one to
// `globalName`, one in the namespace to a name of the test's own.
class PrivateNamespaces : public ForwardingSystemApi {
public:
    PrivateNamespaces(bool withNamespaces, std::wstring globalName, std::wstring privateName)
        : ForwardingSystemApi(Sys()),
          withNamespaces_(withNamespaces),
          globalName_(std::move(globalName)),
          privateName_(std::move(privateName)) {
        current_ = this;
    }
    ~PrivateNamespaces() override { current_ = nullptr; }

    FARPROC GetProcAddress(HMODULE module, LPCSTR name) override {
        const struct {
            const char* name;
            FARPROC function;
        } played[] = {
            {"CreateBoundaryDescriptorW", reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&CreateBoundary))},
            {"AddSIDToBoundaryDescriptor", reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&AddSid))},
            {"DeleteBoundaryDescriptor", reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&DeleteBoundary))},
            {"CreatePrivateNamespaceW", reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&CreateNamespace))},
            {"OpenPrivateNamespaceW", reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&OpenNamespace))},
        };
        for (const auto& call : played) {
            if (std::strcmp(name, call.name) == 0) return withNamespaces_ ? call.function : nullptr;
        }
        return inner_.GetProcAddress(module, name);
    }

    HANDLE CreateMutexW(LPSECURITY_ATTRIBUTES security, BOOL owned, LPCWSTR name) override {
        const U16String asked = FromWide(name);
        mutexNames.push_back(asked);
        const U16String inNamespace = U16String(kSetupNamespaceName) + u"\\";
        if (asked.rfind(inNamespace, 0) == 0) {
            // Found only while this process has the namespace open.
            if (openNamespaces == 0) {
                ::SetLastError(ERROR_PATH_NOT_FOUND);
                return nullptr;
            }
            return inner_.CreateMutexW(security, owned, privateName_.c_str());
        }
        return inner_.CreateMutexW(security, owned, asked == kSetupMutexName ? globalName_.c_str() : name);
    }

    BOOL CloseHandle(HANDLE handle) override {
        if (namespaceHandles_.erase(handle) > 0) --openNamespaces;
        return inner_.CloseHandle(handle);
    }

    bool exists = false;           // the namespace has been made
    DWORD createError = 0;         // when not 0: CreatePrivateNamespaceW fails with it
    int openNamespaces = 0;        // handles to it open now
    int boundariesDeleted = 0;
    std::vector<U16String> boundaryNames;
    std::vector<U16String> boundarySids;
    std::vector<U16String> namespaceRights;  // SDDL of every creation's attributes
    std::vector<U16String> aliases;          // of every creation and opening
    std::vector<U16String> mutexNames;

private:
    static HANDLE WINAPI CreateBoundary(LPCWSTR name, ULONG) {
        current_->boundaryNames.push_back(FromWide(name));
        return reinterpret_cast<HANDLE>(&current_->boundary_);
    }
    static BOOL WINAPI AddSid(HANDLE* boundary, PSID sid) {
        EXPECT_EQ(*boundary, reinterpret_cast<HANDLE>(&current_->boundary_));
        LPWSTR text = nullptr;
        if (!::ConvertSidToStringSidW(sid, &text)) return FALSE;
        current_->boundarySids.push_back(FromWide(text));
        ::LocalFree(text);
        return TRUE;
    }
    static VOID WINAPI DeleteBoundary(HANDLE) { ++current_->boundariesDeleted; }
    static HANDLE WINAPI CreateNamespace(LPSECURITY_ATTRIBUTES security, LPVOID, LPCWSTR alias) {
        current_->aliases.push_back(FromWide(alias));
        current_->namespaceRights.push_back(security != nullptr ? DescriptorText(security->lpSecurityDescriptor)
                                                                : U16String());
        if (current_->createError != 0) {
            ::SetLastError(current_->createError);
            return nullptr;
        }
        if (current_->exists) {
            ::SetLastError(ERROR_ALREADY_EXISTS);
            return nullptr;
        }
        current_->exists = true;
        return current_->NewNamespaceHandle();
    }
    static HANDLE WINAPI OpenNamespace(LPVOID, LPCWSTR alias) {
        current_->aliases.push_back(FromWide(alias));
        if (!current_->exists) {
            ::SetLastError(ERROR_PATH_NOT_FOUND);
            return nullptr;
        }
        return current_->NewNamespaceHandle();
    }

    HANDLE NewNamespaceHandle() {
        const HANDLE handle = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
        namespaceHandles_.insert(handle);
        ++openNamespaces;
        return handle;
    }

    static inline PrivateNamespaces* current_ = nullptr;
    bool withNamespaces_;
    std::wstring globalName_;
    std::wstring privateName_;
    int boundary_ = 0;
    std::set<HANDLE> namespaceHandles_;
};

// A log of the test's own for the lock's lines; its text.
class LockLog {
public:
    LockLog() { EXPECT_TRUE(TheRunLog().Open(folder_ / u"lock.log")); }
    ~LockLog() { TheRunLog().Close(); }
    std::string Text() const {
        const std::vector<uint8_t> bytes = testing::ReadBytes(folder_ / u"lock.log");
        return std::string(bytes.begin(), bytes.end());
    }

private:
    TempFolder folder_;
};

TEST(SetupLock, TheMutexLivesInANamespaceBoundedByAdministratorsThatOnlyTheyMayOpen) {
    LockLog log;
    PrivateNamespaces system(true, L"Local\\Quentar Setup lock test 1, global",
                             L"Local\\Quentar Setup lock test 1, private");
    ScopedSystemApi scope(system);
    SetupLock lock;
    ASSERT_TRUE(TakeSetupMutex(lock));
    EXPECT_TRUE(lock.mutex);
    EXPECT_TRUE(lock.space) << "the namespace is kept open while the mutex is held";
    EXPECT_EQ(system.openNamespaces, 1);

    ASSERT_EQ(system.boundaryNames.size(), 1u);
    EXPECT_EQ(ToUtf8(system.boundaryNames[0]), "Quentar Setup");
    // The boundary holds the Administrators group alone.
    EXPECT_EQ(system.boundarySids, std::vector<U16String>{u"S-1-5-32-544"});
    EXPECT_EQ(system.boundariesDeleted, 1);
    ASSERT_EQ(system.namespaceRights.size(), 1u);
    EXPECT_EQ(system.namespaceRights[0], Canonical(u"O:BAD:P(A;;GA;;;SY)(A;;GA;;;BA)"));
    EXPECT_EQ(system.mutexNames, std::vector<U16String>{u"Quentar Setup\\Quentar Setup"});
    EXPECT_NE(log.Text().find("single-run lock: Quentar Setup\\Quentar Setup in the private namespace bounded by "
                              "the Administrators group"),
              std::string::npos)
        << log.Text();

    lock = SetupLock();
    EXPECT_EQ(system.openNamespaces, 0) << "the namespace is let go with the mutex";
}

// Another run made the namespace: it is opened, and the mutex in it keeps
// two runs apart; once the first has ended (and its namespace with it) the
// next makes it again.
TEST(SetupLock, TwoRunsInTheNamespaceExcludeEachOther) {
    PrivateNamespaces system(true, L"Local\\Quentar Setup lock test 2, global",
                             L"Local\\Quentar Setup lock test 2, private");
    ScopedSystemApi scope(system);
    SetupLock first;
    ASSERT_TRUE(TakeSetupMutex(first));
    {
        SetupLock second;
        EXPECT_FALSE(TakeSetupMutex(second)) << "the first run holds the mutex in the namespace";
        EXPECT_FALSE(second.mutex);
        EXPECT_FALSE(second.space);
        // Made by the first run, then opened by the second.
        EXPECT_EQ(system.aliases, (std::vector<U16String>{u"Quentar Setup", u"Quentar Setup", u"Quentar Setup"}));
        EXPECT_EQ(system.namespaceRights.size(), 2u) << "creation tried once by each run";
    }
    first = SetupLock();
    system.exists = false;  // the system lets a namespace go with its last handle
    SetupLock third;
    EXPECT_TRUE(TakeSetupMutex(third));
    EXPECT_TRUE(third.space);
}

// Holds the global name, as a user's program would, until it is ended.
int HoldTheGlobalName() {
    const HANDLE mutex = ::CreateMutexW(nullptr, TRUE, kHeldGlobalName);
    if (mutex == nullptr) return 3;
    ::Sleep(INFINITE);
    return 0;
}
const testing::RegisterChildScenario kHoldTheGlobalName("hold_the_global_setup_name", &HoldTheGlobalName);

TEST(SetupLock, TheGlobalNameTakenByAnotherProcessStopsOnlyARunWithoutPrivateNamespaces) {
    const auto holder = testing::StartChildScenario("hold_the_global_setup_name");
    ASSERT_TRUE(holder->Started());
    ASSERT_TRUE(ui::WaitUntil([] {
        const HANDLE held = ::OpenMutexW(SYNCHRONIZE, FALSE, kHeldGlobalName);
        if (held == nullptr) return false;
        ::CloseHandle(held);
        return true;
    })) << "the other process did not take the name";

    {
        LockLog log;
        PrivateNamespaces system(true, kHeldGlobalName, L"Local\\Quentar Setup lock test 3, private");
        ScopedSystemApi scope(system);
        SetupLock lock;
        EXPECT_TRUE(TakeSetupMutex(lock)) << "the name another process took stopped the run";
        EXPECT_EQ(system.mutexNames, std::vector<U16String>{u"Quentar Setup\\Quentar Setup"});
    }
    {
        // Without the namespace functions the global name is all there is.
        LockLog log;
        PrivateNamespaces system(false, kHeldGlobalName, L"Local\\Quentar Setup lock test 3, private");
        ScopedSystemApi scope(system);
        SetupLock lock;
        EXPECT_FALSE(TakeSetupMutex(lock));
        EXPECT_TRUE(system.boundaryNames.empty());
        EXPECT_EQ(system.mutexNames, std::vector<U16String>{u"Global\\Quentar Setup"});
        EXPECT_NE(log.Text().find("single-run lock: Global\\Quentar Setup (the system has no private namespaces)"),
                  std::string::npos)
            << log.Text();
    }
    holder->Kill();
}

// A namespace that cannot be made for another reason than its existence
// leaves the run to the global name, and the log says why.
TEST(SetupLock, ANamespaceThatCannotBeMadeFallsBackToTheGlobalName) {
    LockLog log;
    PrivateNamespaces system(true, L"Local\\Quentar Setup lock test 4, global",
                             L"Local\\Quentar Setup lock test 4, private");
    system.createError = ERROR_ACCESS_DENIED;
    ScopedSystemApi scope(system);
    SetupLock lock;
    EXPECT_TRUE(TakeSetupMutex(lock));
    EXPECT_TRUE(lock.mutex);
    EXPECT_FALSE(lock.space);
    EXPECT_EQ(system.boundariesDeleted, 1);
    EXPECT_EQ(system.mutexNames, std::vector<U16String>{u"Global\\Quentar Setup"});
    EXPECT_NE(log.Text().find("single-run lock: Global\\Quentar Setup (the private namespace cannot be had: error 5"),
              std::string::npos)
        << log.Text();
}

}  // namespace
}  // namespace quentar
