#include "components/decoder_detection.h"

#include "platform/system_api.h"
#include "platform/unique_resource.h"

namespace quentar {

const CLSID kAxisRuntimeClass = {0x4F1D0C59, 0x5ECC, 0x4028, {0x87, 0xF3, 0x48, 0x21, 0x91, 0xD2, 0x23, 0x0F}};
const CLSID kAxisRuntimeDmos[3] = {
    {0xBA7A56EB, 0xD1B9, 0x443B, {0x96, 0xE9, 0x08, 0x65, 0x32, 0xA3, 0x78, 0xF1}},
    {0x7340F0E4, 0xAEDA, 0x47C6, {0x89, 0x71, 0x9D, 0xB3, 0x14, 0x03, 0x0B, 0xD7}},
    {0xC32FE9F1, 0xA857, 0x48B0, {0xB7, 0xBF, 0x06, 0x5B, 0x57, 0x92, 0xF2, 0x8D}},
};

namespace {

// Balances the CoInitialize of this call only: a thread that was already
// initialised (S_FALSE) is released once, one in another apartment mode
// (RPC_E_CHANGED_MODE) not at all.
class ComScope {
public:
    ComScope() : initialised_(SUCCEEDED(Sys().CoInitialize(nullptr))) {}
    ~ComScope() {
        if (initialised_) Sys().CoUninitialize();
    }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;

private:
    bool initialised_;
};

bool ClassIsCreatable(const CLSID& classId) {
    // Released at once, also when a pointer came back with a failure code.
    ComPtr<IUnknown> object;
    return SUCCEEDED(Sys().CoCreateInstance(classId, nullptr, CLSCTX_ALL, IID_IUnknown, object.put_void()));
}

bool DmoIsRegistered(const CLSID& classId) {
    WCHAR name[80];  // the friendly name is not looked at, not even whether it is empty
    return SUCCEEDED(Sys().DMOGetName(classId, name));
}

}  // namespace

bool IsAxisRuntimeInstalled() {
    ComScope com;
    if (!ClassIsCreatable(kAxisRuntimeClass)) return false;
    for (const CLSID& dmo : kAxisRuntimeDmos) {
        if (!DmoIsRegistered(dmo)) return false;
    }
    return true;
}

}  // namespace quentar
