// Registrations of a COM class and of DirectX Media Objects made by a test and
// taken back when it ends: what the Axis runtime components leave on a
// machine, served by the tests' own in-process server (com_server/).
#pragma once

#include <windows.h>
#include <objbase.h>
#include <dmoreg.h>

#include <memory>
#include <string>

#include "registry_scratch.h"

namespace test_registry {

inline std::wstring GuidString(const GUID& id) {
    wchar_t text[40] = {};
    ::StringFromGUID2(id, text, 40);
    return text;
}

// The class `id` served in-process by the DLL at `serverPath`, registered in
// the machine's classes (what an installer does).
class ScopedComClass {
public:
    ScopedComClass(const CLSID& id, const std::wstring& serverPath)
        : key_(HKEY_LOCAL_MACHINE, L"Software\\Classes\\CLSID\\" + GuidString(id)) {
        server_ = std::make_unique<ScratchKey>(HKEY_LOCAL_MACHINE, key_.Path() + L"\\InprocServer32");
        ok_ = server_->Created() && server_->SetText(nullptr, serverPath) && server_->SetText(L"ThreadingModel", L"Both");
    }
    bool Registered() const { return ok_; }

private:
    ScratchKey key_;  // deleted last, with the server key below it
    std::unique_ptr<ScratchKey> server_;
    bool ok_ = false;
};

// A DMO registered under `id` as a video decoder without media types.
class ScopedDmo {
public:
    explicit ScopedDmo(const CLSID& id, const wchar_t* name = L"Probe decoder") : id_(id) {
        ok_ = SUCCEEDED(::DMORegister(name, id_, DMOCATEGORY_VIDEO_DECODER, 0, 0, nullptr, 0, nullptr));
    }
    ~ScopedDmo() { ::DMOUnregister(id_, DMOCATEGORY_VIDEO_DECODER); }
    ScopedDmo(const ScopedDmo&) = delete;
    ScopedDmo& operator=(const ScopedDmo&) = delete;
    bool Registered() const { return ok_; }

private:
    CLSID id_;
    bool ok_ = false;
};

}  // namespace test_registry
