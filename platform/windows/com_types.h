#pragma once

#include <windows.h>
#include <ole2.h>
#include <oleauto.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

// Owning wrappers of the COM types the Windows code passes around: an
// interface pointer, a BSTR and a VARIANT. Each releases what it holds when
// it goes; none raises.
namespace platform::windows {

// A counted interface pointer.
template <class T>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(std::nullptr_t) {}
  // Takes over a reference the caller already owns.
  static ComPtr Adopt(T* p) {
    ComPtr ptr;
    ptr.p_ = p;
    return ptr;
  }
  // Adds a reference of its own.
  static ComPtr Share(T* p) {
    if (p != nullptr) p->AddRef();
    return Adopt(p);
  }
  ComPtr(const ComPtr& other) : p_(other.p_) {
    if (p_ != nullptr) p_->AddRef();
  }
  ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  ComPtr& operator=(ComPtr other) noexcept {
    std::swap(p_, other.p_);
    return *this;
  }
  ~ComPtr() { reset(); }

  void reset() {
    if (T* p = std::exchange(p_, nullptr)) p->Release();
  }
  T* get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  // For an out parameter: releases what is held, then hands out the slot.
  T** Receive() {
    reset();
    return &p_;
  }
  void** ReceiveVoid() { return reinterpret_cast<void**>(Receive()); }
  // Gives up the reference to the caller.
  T* Detach() { return std::exchange(p_, nullptr); }

  // The same object through another interface; empty when it has none.
  template <class U>
  ComPtr<U> Query(REFIID iid) const {
    ComPtr<U> other;
    if (p_ != nullptr) p_->QueryInterface(iid, other.ReceiveVoid());
    return other;
  }

 private:
  T* p_ = nullptr;
};

// An owned BSTR. A null BSTR and an empty one read alike, as COM says.
class Bstr {
 public:
  Bstr() = default;
  explicit Bstr(std::wstring_view text)
      : b_(::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
  static Bstr Adopt(BSTR b) {
    Bstr bstr;
    bstr.b_ = b;
    return bstr;
  }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  Bstr(Bstr&& other) noexcept : b_(std::exchange(other.b_, nullptr)) {}
  Bstr& operator=(Bstr&& other) noexcept {
    if (this != &other) {
      reset();
      b_ = std::exchange(other.b_, nullptr);
    }
    return *this;
  }
  ~Bstr() { reset(); }

  void reset() {
    if (BSTR b = std::exchange(b_, nullptr)) ::SysFreeString(b);
  }
  BSTR get() const { return b_; }
  BSTR* Receive() {
    reset();
    return &b_;
  }
  BSTR Detach() { return std::exchange(b_, nullptr); }
  // A BSTR may hold NULs: its length is its own, not up to the first NUL.
  std::wstring str() const { return b_ ? std::wstring(b_, ::SysStringLen(b_)) : std::wstring(); }

 private:
  BSTR b_ = nullptr;
};

// An owned VARIANT, cleared when it goes.
class ScopedVariant {
 public:
  ScopedVariant() { ::VariantInit(&v_); }
  ScopedVariant(const ScopedVariant&) = delete;
  ScopedVariant& operator=(const ScopedVariant&) = delete;
  ~ScopedVariant() { ::VariantClear(&v_); }

  static ScopedVariant Text(std::wstring_view text) {
    ScopedVariant v;
    v.v_.vt = VT_BSTR;
    v.v_.bstrVal = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return v;
  }
  static ScopedVariant Long(int32_t value) {
    ScopedVariant v;
    v.v_.vt = VT_I4;
    v.v_.lVal = value;
    return v;
  }
  static ScopedVariant Bool(bool value) {
    ScopedVariant v;
    v.v_.vt = VT_BOOL;
    v.v_.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    return v;
  }
  ScopedVariant(ScopedVariant&& other) noexcept {
    v_ = other.v_;
    ::VariantInit(&other.v_);
  }

  VARIANT* get() { return &v_; }
  const VARIANT& operator*() const { return v_; }
  const VARIANT* operator->() const { return &v_; }
  // For an out parameter: clears what is held first.
  VARIANT* Receive() {
    ::VariantClear(&v_);
    return &v_;
  }

 private:
  VARIANT v_;
};

}  // namespace platform::windows
