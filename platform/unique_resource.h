// One RAII template for every kind of Windows handle. The traits name the
// empty value of the handle type and how to release it, so "no handle" is a
// state of the type and never a separate flag.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <type_traits>
#include <utility>

#include "platform/system_api.h"

namespace quentar {

template <typename Traits>
class UniqueResource {
public:
    using pointer = typename Traits::pointer;

    UniqueResource() noexcept = default;
    explicit UniqueResource(pointer value) noexcept : value_(value) {}
    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;
    UniqueResource(UniqueResource&& other) noexcept : value_(other.release()) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    ~UniqueResource() { reset(); }

    pointer get() const noexcept { return value_; }
    explicit operator bool() const noexcept { return value_ != Traits::Invalid(); }

    // Gives up ownership without releasing.
    pointer release() noexcept { return std::exchange(value_, Traits::Invalid()); }

    void reset(pointer value = Traits::Invalid()) noexcept {
        const pointer old = std::exchange(value_, value);
        if (old != Traits::Invalid()) Traits::Close(old);
    }

    // Releases what is held and tells whether the system accepted it (a
    // written file reports a failed flush here). True when nothing was held.
    bool close() noexcept {
        const pointer old = release();
        return old == Traits::Invalid() || Traits::Close(old);
    }

    // For out-parameters: releases what is held and hands out the slot.
    pointer* put() noexcept {
        reset();
        return &value_;
    }

private:
    pointer value_ = Traits::Invalid();
};

namespace handle_traits {

// Handles whose empty value is null.
// `CloseFunction` answers whether the release succeeded: a BOOL, a Win32
// status (0 is success), a pointer that is null on success (LocalFree), or
// nothing (always taken as success).
template <auto CloseFunction, typename P>
bool CloseWith(P p) noexcept {
    using R = decltype(CloseFunction(p));
    if constexpr (std::is_void_v<R>) {
        CloseFunction(p);
        return true;
    } else if constexpr (std::is_same_v<R, LSTATUS>) {
        return CloseFunction(p) == ERROR_SUCCESS;
    } else if constexpr (std::is_pointer_v<R>) {
        return CloseFunction(p) == nullptr;
    } else {
        return CloseFunction(p) != 0;
    }
}

template <typename T, auto CloseFunction>
struct NullIsEmpty {
    using pointer = T;
    static pointer Invalid() noexcept { return nullptr; }
    static bool Close(pointer p) noexcept { return CloseWith<CloseFunction>(p); }
};

// Handles whose empty value is INVALID_HANDLE_VALUE (files, searches).
template <auto CloseFunction>
struct InvalidIsEmpty {
    using pointer = HANDLE;
    static pointer Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static bool Close(pointer p) noexcept { return CloseWith<CloseFunction>(p); }
};

// Kernel handles, searches and keys close through the injectable system
// calls, so that a test can make a close fail.
inline BOOL SysCloseHandle(HANDLE h) noexcept { return Sys().CloseHandle(h); }
inline BOOL SysFindClose(HANDLE h) noexcept { return Sys().FindClose(h); }
inline LSTATUS SysRegCloseKey(HKEY k) noexcept { return Sys().RegCloseKey(k); }

}  // namespace handle_traits

// Process, thread, event: CloseHandle, empty when null.
using UniqueHandle = UniqueResource<handle_traits::NullIsEmpty<HANDLE, &handle_traits::SysCloseHandle>>;
// CreateFileW's handle: CloseHandle, empty when INVALID_HANDLE_VALUE.
using UniqueFile = UniqueResource<handle_traits::InvalidIsEmpty<&handle_traits::SysCloseHandle>>;
using UniqueFind = UniqueResource<handle_traits::InvalidIsEmpty<&handle_traits::SysFindClose>>;
using UniqueKey = UniqueResource<handle_traits::NullIsEmpty<HKEY, &handle_traits::SysRegCloseKey>>;
using UniqueModule = UniqueResource<handle_traits::NullIsEmpty<HMODULE, &::FreeLibrary>>;
using UniqueFont = UniqueResource<handle_traits::NullIsEmpty<HFONT, &::DeleteObject>>;
using UniqueLocal = UniqueResource<handle_traits::NullIsEmpty<HLOCAL, &::LocalFree>>;
using UniqueCoTaskMem = UniqueResource<handle_traits::NullIsEmpty<void*, &::CoTaskMemFree>>;

// A COM interface pointer released on destruction.
template <typename T>
class ComPtr {
public:
    ComPtr() noexcept = default;
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ComPtr(ComPtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    ComPtr& operator=(ComPtr&& o) noexcept {
        if (this != &o) {
            reset();
            p_ = std::exchange(o.p_, nullptr);
        }
        return *this;
    }
    ~ComPtr() { reset(); }
    T* get() const noexcept { return p_; }
    T* operator->() const noexcept { return p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }
    void reset() noexcept {
        if (p_) std::exchange(p_, nullptr)->Release();
    }
    T** put() noexcept {
        reset();
        return &p_;
    }
    void** put_void() noexcept { return reinterpret_cast<void**>(put()); }

private:
    T* p_ = nullptr;
};

}  // namespace quentar
