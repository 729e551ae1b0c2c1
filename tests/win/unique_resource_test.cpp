// Ownership of Windows handles: released exactly once, moved without a
// double close, handed out by release(), emptied by put().
#include <windows.h>

#include <gtest/gtest.h>

#include <utility>

#include "platform/unique_resource.h"

namespace quentar {
namespace {

bool IsOpen(HANDLE h) {
    DWORD flags = 0;
    return ::GetHandleInformation(h, &flags) != FALSE;
}

TEST(UniqueResource, ClosesOnceAndMovesOwnership) {
    HANDLE raw = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(raw, nullptr);
    {
        UniqueHandle first(raw);
        EXPECT_TRUE(first);
        UniqueHandle second(std::move(first));
        EXPECT_FALSE(first);
        EXPECT_EQ(second.get(), raw);
        UniqueHandle third;
        third = std::move(second);
        EXPECT_TRUE(IsOpen(raw));
    }
    EXPECT_FALSE(IsOpen(raw));
}

TEST(UniqueResource, ReleaseGivesUpAndResetCloses) {
    UniqueHandle owner(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    HANDLE raw = owner.release();
    EXPECT_FALSE(owner);
    EXPECT_TRUE(IsOpen(raw));
    owner.reset(raw);
    owner.reset();
    EXPECT_FALSE(IsOpen(raw));
}

TEST(UniqueResource, FileHandlesAreEmptyAtInvalidHandleValue) {
    UniqueFile missing(::CreateFileW(L"Z:\\no\\such\\folder\\file.bin", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0,
                                     nullptr));
    EXPECT_FALSE(missing);
    EXPECT_EQ(missing.get(), INVALID_HANDLE_VALUE);
    UniqueFile defaulted;
    EXPECT_EQ(defaulted.get(), INVALID_HANDLE_VALUE);
}

TEST(UniqueResource, PutReleasesWhatIsHeldBeforeRefilling) {
    UniqueKey key;
    ASSERT_EQ(::RegOpenKeyExW(HKEY_CURRENT_USER, L"Software", 0, KEY_READ, key.put()), ERROR_SUCCESS);
    const HKEY first = key.get();
    HKEY* slot = key.put();
    EXPECT_EQ(*slot, nullptr);
    EXPECT_FALSE(key);
    // The first key was closed by put(): querying it fails.
    DWORD subkeys = 0;
    EXPECT_NE(::RegQueryInfoKeyW(first, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr,
                                 nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
}

}  // namespace
}  // namespace quentar
