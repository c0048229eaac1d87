#pragma once

// The core of the COM binary model: result codes, interface identifiers and IUnknown.
// Objects that cross the boundary of a dynamically loaded server (the sink DLL) use it.

#include <atomic>
#include <compare>
#include <cstdint>
#include <utility>

namespace platform::com {

using HRESULT = std::int32_t;
using ULONG = std::uint32_t;

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002);
constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003);
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005);
constexpr HRESULT E_UNEXPECTED = static_cast<HRESULT>(0x8000FFFF);
constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000E);
constexpr HRESULT CLASS_E_NOAGGREGATION = static_cast<HRESULT>(0x80040110);
constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = static_cast<HRESULT>(0x80040111);
constexpr HRESULT SELFREG_E_CLASS = static_cast<HRESULT>(0x80040201);

constexpr bool SUCCEEDED(HRESULT hr) {
    return hr >= 0;
}
constexpr bool FAILED(HRESULT hr) {
    return hr < 0;
}

struct GUID {
    std::uint32_t Data1;
    std::uint16_t Data2;
    std::uint16_t Data3;
    std::uint8_t Data4[8];
    friend bool operator==(const GUID&, const GUID&) = default;
    friend auto operator<=>(const GUID&, const GUID&) = default;
};
using IID = GUID;
using CLSID = GUID;
using REFIID = const IID&;

// {00000000-0000-0000-C000-000000000046}
inline constexpr IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

class IUnknown {
public:
    virtual HRESULT QueryInterface(REFIID riid, void** ppvObject) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

protected:
    ~IUnknown() = default;
};

// {00000001-0000-0000-C000-000000000046}
inline constexpr IID IID_IClassFactory = {
    0x00000001, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

// What an in-process server hands out through DllGetClassObject to make instances of a class.
class IClassFactory : public IUnknown {
public:
    // Creates an instance and returns its interface `riid` in `ppvObject`. `pUnkOuter` is for
    // aggregation, which servers may refuse with CLASS_E_NOAGGREGATION.
    virtual HRESULT CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) = 0;
    // Keeps the server loaded (true) or lets it go (false).
    virtual HRESULT LockServer(bool fLock) = 0;

protected:
    ~IClassFactory() = default;
};

// Owns one reference to an interface, like the smart pointers of the real platform.
template <class T> class ComPtr {
public:
    ComPtr() = default;
    ComPtr(std::nullptr_t) {}
    // Takes over a reference the caller already holds (as QueryInterface returns one).
    static ComPtr Attach(T* raw) {
        ComPtr result;
        result.ptr_ = raw;
        return result;
    }
    // Adds a reference of its own.
    explicit ComPtr(T* raw) : ptr_(raw) {
        if (ptr_)
            ptr_->AddRef();
    }
    ComPtr(const ComPtr& other) : ComPtr(other.ptr_) {}
    ComPtr(ComPtr&& other) noexcept : ptr_(std::exchange(other.ptr_, nullptr)) {}
    ComPtr& operator=(ComPtr other) noexcept {
        std::swap(ptr_, other.ptr_);
        return *this;
    }
    ~ComPtr() { Reset(); }

    void Reset() {
        if (auto* raw = std::exchange(ptr_, nullptr))
            raw->Release();
    }
    T* Get() const { return ptr_; }
    // Gives up the reference without releasing it.
    T* Detach() { return std::exchange(ptr_, nullptr); }
    T* operator->() const { return ptr_; }
    explicit operator bool() const { return ptr_ != nullptr; }
    // For out-parameters: releases what is held and gives the slot.
    T** Put() {
        Reset();
        return &ptr_;
    }

    // Asks the object for another of its interfaces; empty when it lacks it.
    template <class U> ComPtr<U> As(REFIID iid) const {
        ComPtr<U> result;
        if (ptr_)
            ptr_->QueryInterface(iid, reinterpret_cast<void**>(result.Put()));
        return result;
    }

private:
    T* ptr_ = nullptr;
};

// A thread-safe reference count for implementations.
class RefCount {
public:
    ULONG Increment() { return ++count_; }
    ULONG Decrement() { return --count_; }

private:
    std::atomic<ULONG> count_{1};
};

} // namespace platform::com
