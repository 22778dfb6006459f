// Owners of COM references and OLE automation values: an interface pointer, a BSTR and a
// VARIANT. Nothing here throws.
#pragma once

#include <windows.h>
#include <oleauto.h>
#include <unknwn.h>

#include <utility>

namespace tvn {

// Holds one reference to an interface; Release on reset and destruction.
template <typename Interface>
class ComPtr {
  public:
    ComPtr() noexcept = default;
    ComPtr(std::nullptr_t) noexcept {}
    // Takes over a reference the caller owns (no AddRef).
    static ComPtr Attach(Interface* raw) noexcept {
        ComPtr p;
        p.raw_ = raw;
        return p;
    }
    // Takes a reference of its own (AddRef).
    static ComPtr Copy(Interface* raw) noexcept {
        if (raw != nullptr) {
            raw->AddRef();
        }
        return Attach(raw);
    }
    ~ComPtr() { reset(); }
    ComPtr(const ComPtr& other) noexcept : raw_(other.raw_) {
        if (raw_ != nullptr) {
            raw_->AddRef();
        }
    }
    ComPtr(ComPtr&& other) noexcept : raw_(std::exchange(other.raw_, nullptr)) {}
    ComPtr& operator=(ComPtr other) noexcept {
        std::swap(raw_, other.raw_);
        return *this;
    }

    Interface* get() const noexcept { return raw_; }
    Interface* operator->() const noexcept { return raw_; }
    explicit operator bool() const noexcept { return raw_ != nullptr; }

    // Gives up the reference to the caller.
    Interface* detach() noexcept { return std::exchange(raw_, nullptr); }
    void reset() noexcept {
        if (Interface* old = std::exchange(raw_, nullptr)) {
            old->Release();
        }
    }
    // For out-parameters: releases what is held first.
    Interface** put() noexcept {
        reset();
        return &raw_;
    }
    void** put_void() noexcept { return reinterpret_cast<void**>(put()); }

    // QueryInterface into another holder; the result of the query.
    template <typename Other>
    HRESULT As(REFIID iid, ComPtr<Other>& out) const noexcept {
        if (raw_ == nullptr) {
            out.reset();
            return E_POINTER;
        }
        return raw_->QueryInterface(iid, out.put_void());
    }

  private:
    Interface* raw_ = nullptr;
};

// Owns one BSTR (SysFreeString on reset). A null BSTR is an empty string to OLE automation.
class UniqueBstr {
  public:
    UniqueBstr() noexcept = default;
    explicit UniqueBstr(const wchar_t* text) noexcept
        : value_(text != nullptr ? SysAllocString(text) : nullptr) {}
    ~UniqueBstr() { reset(); }
    UniqueBstr(UniqueBstr&& other) noexcept : value_(other.release()) {}
    UniqueBstr& operator=(UniqueBstr&& other) noexcept {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }
    UniqueBstr(const UniqueBstr&) = delete;
    UniqueBstr& operator=(const UniqueBstr&) = delete;

    BSTR get() const noexcept { return value_; }
    explicit operator bool() const noexcept { return value_ != nullptr; }
    BSTR release() noexcept { return std::exchange(value_, nullptr); }
    void reset(BSTR value = nullptr) noexcept {
        if (BSTR old = std::exchange(value_, value)) {
            SysFreeString(old);
        }
    }
    BSTR* put() noexcept {
        reset();
        return &value_;
    }

  private:
    BSTR value_ = nullptr;
};

// A VARIANT cleared (VariantClear) when it goes.
class UniqueVariant {
  public:
    UniqueVariant() noexcept { VariantInit(&value_); }
    ~UniqueVariant() { VariantClear(&value_); }
    UniqueVariant(const UniqueVariant&) = delete;
    UniqueVariant& operator=(const UniqueVariant&) = delete;

    VARIANT* get() noexcept { return &value_; }
    const VARIANT* get() const noexcept { return &value_; }
    VARIANT* operator->() noexcept { return &value_; }
    void reset() noexcept { VariantClear(&value_); }

  private:
    VARIANT value_;
};

}  // namespace tvn
