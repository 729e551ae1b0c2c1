// One RAII template for every kind of Windows handle. The traits name the
// empty value of the handle type and how to release it, so "no handle" is a
// state of the type and never a separate flag.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <utility>

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
template <typename T, auto CloseFunction>
struct NullIsEmpty {
    using pointer = T;
    static pointer Invalid() noexcept { return nullptr; }
    static void Close(pointer p) noexcept { CloseFunction(p); }
};

// Handles whose empty value is INVALID_HANDLE_VALUE (files, searches).
template <auto CloseFunction>
struct InvalidIsEmpty {
    using pointer = HANDLE;
    static pointer Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(pointer p) noexcept { CloseFunction(p); }
};

}  // namespace handle_traits

// Process, thread, event: CloseHandle, empty when null.
using UniqueHandle = UniqueResource<handle_traits::NullIsEmpty<HANDLE, &::CloseHandle>>;
// CreateFileW's handle: CloseHandle, empty when INVALID_HANDLE_VALUE.
using UniqueFile = UniqueResource<handle_traits::InvalidIsEmpty<&::CloseHandle>>;
using UniqueFind = UniqueResource<handle_traits::InvalidIsEmpty<&::FindClose>>;
using UniqueKey = UniqueResource<handle_traits::NullIsEmpty<HKEY, &::RegCloseKey>>;
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
