// The file version read from an image's bytes, as the uninstall record's
// "DisplayVersion" reads it from the executable carried in the payload:
// compared with what the system's loader finds in the same files, and fed
// damaged images in a buffer that ends at an inaccessible page, so that any
// read beyond the bytes given ends the test.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine_test_support.h"
#include "platform/resources.h"
#include "platform/unique_resource.h"
#include "state/file_version.h"

namespace quentar {
namespace {

std::string Text(const FileVersion& v) {
    return std::to_string(v.parts[0]) + "." + std::to_string(v.parts[1]) + "." + std::to_string(v.parts[2]) + "." +
           std::to_string(v.parts[3]);
}

// `bytes` placed so that the page after the last byte cannot be read.
class GuardedCopy {
public:
    explicit GuardedCopy(const std::vector<uint8_t>& bytes) {
        SYSTEM_INFO info{};
        ::GetSystemInfo(&info);
        const size_t page = info.dwPageSize;
        const size_t pages = (bytes.size() + page - 1) / page;
        size_ = (pages + 1) * page;
        base_ = static_cast<uint8_t*>(::VirtualAlloc(nullptr, size_, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
        EXPECT_NE(base_, nullptr);
        DWORD old = 0;
        EXPECT_TRUE(::VirtualProtect(base_ + pages * page, page, PAGE_NOACCESS, &old));
        data_ = base_ + pages * page - bytes.size();
        std::copy(bytes.begin(), bytes.end(), data_);
    }
    ~GuardedCopy() { ::VirtualFree(base_, 0, MEM_RELEASE); }
    GuardedCopy(const GuardedCopy&) = delete;
    GuardedCopy& operator=(const GuardedCopy&) = delete;
    const uint8_t* data() const { return data_; }

private:
    uint8_t* base_ = nullptr;
    uint8_t* data_ = nullptr;
    size_t size_ = 0;
};

bool ReadGuarded(const std::vector<uint8_t>& bytes, FileVersion& version) {
    const GuardedCopy copy(bytes);
    return ReadImageFileVersion(copy.data(), bytes.size(), version);
}

const std::vector<std::wstring> kFiles = {
    SETUP_EXE_PATH,
    TEST_BUILD_DIR L"\\tools\\sample-app\\files\\QuentarSample.exe",
    TEST_BUILD_DIR L"\\tools\\sample-app\\files\\AV2000SDK.dll",
    TEST_BUILD_DIR L"\\tools\\sample-app\\files\\zorbelreg.exe",
};

TEST(ImageFileVersion, AgreesWithTheSystemsLoader) {
    std::vector<std::wstring> files = kFiles;
    // Images the toolchain did not make.
    wchar_t system[MAX_PATH] = {};
    ::GetSystemDirectoryW(system, MAX_PATH);
    for (const wchar_t* name : {L"\\kernel32.dll", L"\\notepad.exe", L"\\msiexec.exe"}) {
        files.push_back(std::wstring(system) + name);
    }
    for (const std::wstring& file : files) {
        SCOPED_TRACE(ToUtf8(FromWide(file.c_str())));
        const UniqueModule module(::LoadLibraryExW(file.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
        ASSERT_TRUE(module) << "error " << ::GetLastError();
        FileVersion loader;
        const bool loaderFound = ReadFileVersion(module.get(), loader);
        FileVersion image;
        EXPECT_EQ(ReadGuarded(testing::ReadBytes(FromWide(file.c_str())), image), loaderFound);
        EXPECT_EQ(Text(image), Text(loader));
    }
    FileVersion setup;
    ASSERT_TRUE(ReadGuarded(testing::ReadBytes(FromWide(SETUP_EXE_PATH)), setup));
    EXPECT_EQ(Text(setup), Text(FileVersion{{SETUP_VERSION_PARTS}}));
}

TEST(ImageFileVersion, DamagedImagesAreRefusedWithoutReadingBeyondThem) {
    FileVersion untouched{{9, 9, 9, 9}};
    for (const std::vector<uint8_t>& bytes :
         {std::vector<uint8_t>{}, testing::Bytes("MZ"), testing::Bytes("not a program at all, just text"),
          std::vector<uint8_t>(64, 0xFF)}) {
        FileVersion version = untouched;
        EXPECT_FALSE(ReadGuarded(bytes, version));
        EXPECT_EQ(Text(version), "9.9.9.9");
    }

    const std::vector<uint8_t> whole = testing::ReadBytes(FromWide(kFiles[1].c_str()));
    FileVersion full;
    ASSERT_TRUE(ReadGuarded(whole, full));
    // Cut short anywhere: no version, or the whole file's when what was cut
    // lies after the version resource.
    for (size_t length = 0; length < whole.size(); length += length < 1024 ? 1 : 509) {
        FileVersion version = untouched;
        const std::vector<uint8_t> cut(whole.begin(), whole.begin() + static_cast<ptrdiff_t>(length));
        if (ReadGuarded(cut, version)) {
            EXPECT_EQ(Text(version), Text(full)) << length << " bytes";
        } else {
            EXPECT_EQ(Text(version), "9.9.9.9") << length << " bytes";
        }
    }
    // Any header byte made 0xFF or 0x00 (offsets, counts, sizes gone wrong).
    for (size_t at = 0; at < 1024 && at < whole.size(); ++at) {
        for (uint8_t value : {uint8_t{0xFF}, uint8_t{0x00}}) {
            std::vector<uint8_t> damaged = whole;
            damaged[at] = value;
            FileVersion version = untouched;
            ReadGuarded(damaged, version);  // must come back, whatever it finds
        }
    }
}

}  // namespace
}  // namespace quentar
