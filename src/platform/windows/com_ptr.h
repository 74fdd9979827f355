// Ownership of COM objects, BSTRs and VARIANTs, and of the thread's COM apartment.
#pragma once

#include <objbase.h>
#include <oleauto.h>

#include <utility>

namespace velmaris::platform {

// Holds one reference to a COM interface and releases it once.
template <typename T>
class ComPtr {
  public:
    ComPtr() = default;
    ~ComPtr() { Reset(); }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    ComPtr& operator=(ComPtr&& other) noexcept {
        if (this != &other) {
            Reset();
            p_ = std::exchange(other.p_, nullptr);
        }
        return *this;
    }

    T* Get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    // For a call that hands out a new reference; drops the one held before.
    T** Put() {
        Reset();
        return &p_;
    }
    void** PutVoid() { return reinterpret_cast<void**>(Put()); }
    void Reset() {
        if (p_ != nullptr) {
            std::exchange(p_, nullptr)->Release();
        }
    }

  private:
    T* p_ = nullptr;
};

// A BSTR that is freed with SysFreeString.
class Bstr {
  public:
    explicit Bstr(const wchar_t* text) : b_(SysAllocString(text)) {}
    ~Bstr() { SysFreeString(b_); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;

    BSTR Get() const { return b_; }
    explicit operator bool() const { return b_ != nullptr; }

  private:
    BSTR b_;
};

// A VARIANT that is cleared with VariantClear.
class Variant {
  public:
    Variant() { VariantInit(&v_); }
    ~Variant() { VariantClear(&v_); }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;

    const VARIANT& Get() const { return v_; }
    // For a call that fills the VARIANT; clears what it held before.
    VARIANT* Put() {
        VariantClear(&v_);
        return &v_;
    }

  private:
    VARIANT v_;
};

// COM for this thread as a single-threaded apartment (the window's thread), with the process's
// default impersonation level set to impersonate, as WMI needs. Keep one alive for as long as
// COM is used on the thread.
class ComApartment {
  public:
    ComApartment() : result_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {
        if (SUCCEEDED(result_)) {
            // RPC_E_TOO_LATE when the process set it already: its choice stands.
            CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_DEFAULT,
                                 RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE, nullptr);
        }
    }
    ~ComApartment() {
        if (SUCCEEDED(result_)) {
            CoUninitialize();
        }
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

    // False when the thread already belongs to another kind of apartment.
    bool Ready() const { return SUCCEEDED(result_); }

  private:
    HRESULT result_;
};

}  // namespace velmaris::platform
