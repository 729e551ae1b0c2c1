// A minimal in-process COM server: whatever class id is registered to this
// DLL, its objects implement IUnknown and nothing else. The sample
// redistributable carries it as the media control's server and registers its
// class; tests register their own classes to it.
#include <windows.h>
#include <objbase.h>

#include <new>

namespace {

LONG g_liveObjects = 0;
LONG g_locks = 0;

class Object final : public IUnknown {
public:
    Object() { ::InterlockedIncrement(&g_liveObjects); }
    ~Object() { ::InterlockedDecrement(&g_liveObjects); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (out == nullptr) return E_POINTER;
        if (!::IsEqualIID(iid, IID_IUnknown)) {
            *out = nullptr;
            return E_NOINTERFACE;
        }
        *out = static_cast<IUnknown*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(::InterlockedIncrement(&refs_)); }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG left = ::InterlockedDecrement(&refs_);
        if (left == 0) delete this;
        return static_cast<ULONG>(left);
    }

private:
    LONG refs_ = 1;
};

class Factory final : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (out == nullptr) return E_POINTER;
        if (!::IsEqualIID(iid, IID_IUnknown) && !::IsEqualIID(iid, IID_IClassFactory)) {
            *out = nullptr;
            return E_NOINTERFACE;
        }
        *out = static_cast<IClassFactory*>(this);
        return S_OK;
    }
    // The factory is static: counting its references would free nothing.
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        if (outer != nullptr) return CLASS_E_NOAGGREGATION;
        Object* object = new (std::nothrow) Object;
        if (object == nullptr) return E_OUTOFMEMORY;
        const HRESULT result = object->QueryInterface(iid, out);
        object->Release();
        return result;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        if (lock) {
            ::InterlockedIncrement(&g_locks);
        } else {
            ::InterlockedDecrement(&g_locks);
        }
        return S_OK;
    }
};

Factory g_factory;

}  // namespace

extern "C" HRESULT WINAPI DllGetClassObject(REFCLSID, REFIID iid, void** out) {
    return g_factory.QueryInterface(iid, out);
}

extern "C" HRESULT WINAPI DllCanUnloadNow() { return g_liveObjects == 0 && g_locks == 0 ? S_OK : S_FALSE; }
