#pragma once

#include <windows.h>
#include <oaidl.h>
#include <unknwn.h>

#include <atomic>
#include <type_traits>

#include "platform/windows/module_objects.h"

// The one base of every COM class of the Windows code: a reference count,
// QueryInterface over the interfaces a class lists, and the module's count
// of live objects for DllCanUnloadNow.
namespace platform::windows {

// Counts one live object of this module for as long as it exists.
class ModuleObjectCount {
 public:
  ModuleObjectCount() { AddModuleObject(); }
  ModuleObjectCount(const ModuleObjectCount&) { AddModuleObject(); }
  ModuleObjectCount& operator=(const ModuleObjectCount&) = default;
  ~ModuleObjectCount() { ReleaseModuleObject(); }
};

namespace detail {

// The COM interface a listed base stands for: the base itself, or its
// `ComInterface` when it is a mixin that implements part of one (as
// DualDispatch<I> does for I).
template <class T, class = void>
struct ComInterfaceOf {
  using type = T;
};
template <class T>
struct ComInterfaceOf<T, std::void_t<typename T::ComInterface>> {
  using type = typename T::ComInterface;
};

}  // namespace detail

// Derive a COM class from ComObject<I1, I2, ...> and implement the
// interfaces' own methods. The object starts with one reference, the
// creator's (create it with `new`); the last Release deletes it.
// QueryInterface answers IUnknown (as the first interface), each listed
// interface by its IID, IDispatch when a listed interface derives from it
// (the first such), and whatever QueryOther answers; for anything else it
// answers E_NOINTERFACE with *out set to null.
//
// The module's object count is the first thing the object gets and the
// last it lets go, so DllCanUnloadNow cannot say yes while any of the
// object's members is still being destroyed. Reference counting is atomic;
// everything else is the class's own affair (the classes here live in a
// single-threaded apartment).
template <class First, class... Rest>
class ComObject : private ModuleObjectCount, public First, public Rest... {
 public:
  ComObject() = default;
  ComObject(const ComObject&) = delete;
  ComObject& operator=(const ComObject&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    void* found = Find(iid);
    *out = found;
    if (found == nullptr) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --references_;
    if (left == 0) {
      // Held high while the object is destroyed: a member's destructor that
      // calls back into it (a sink that unadvises from its own destructor)
      // takes the count up and down again without a second delete.
      references_ = kDestroying;
      delete this;
    }
    return left;
  }

  // This object as IUnknown, without a reference.
  IUnknown* Identity() { return static_cast<IUnknown*>(static_cast<First*>(this)); }

 protected:
  virtual ~ComObject() = default;

  // Interfaces answered besides the listed ones (an event interface that a
  // sink stands for, say): the pointer to hand out, or null.
  virtual void* QueryOther(REFIID) { return nullptr; }

 private:
  template <class T>
  void* Match(REFIID iid) {
    using Interface = typename detail::ComInterfaceOf<T>::type;
    if (iid == __uuidof(Interface)) return static_cast<Interface*>(static_cast<T*>(this));
    return nullptr;
  }
  template <class T>
  void* MatchDispatch() {
    using Interface = typename detail::ComInterfaceOf<T>::type;
    if constexpr (std::is_base_of_v<IDispatch, Interface>) {
      return static_cast<IDispatch*>(static_cast<Interface*>(static_cast<T*>(this)));
    } else {
      return nullptr;
    }
  }

  void* Find(REFIID iid) {
    if (iid == IID_IUnknown) return Identity();
    void* found = Match<First>(iid);
    ((found = found != nullptr ? found : Match<Rest>(iid)), ...);
    if (found == nullptr && iid == IID_IDispatch) {
      found = MatchDispatch<First>();
      ((found = found != nullptr ? found : MatchDispatch<Rest>()), ...);
    }
    if (found == nullptr) found = QueryOther(iid);
    return found;
  }

  static constexpr ULONG kDestroying = 0x40000000;
  std::atomic<ULONG> references_{1};
};

// Implements IDispatch for the dual interface I from type information,
// which the class hands out through DispatchTypeInfo. The class lists
// DualDispatch<I> in its ComObject bases in place of I.
template <class I>
class DualDispatch : public I {
 public:
  using ComInterface = I;

  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (count == nullptr) return E_POINTER;
    *count = 1;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID, ITypeInfo** info) override {
    if (info == nullptr) return E_POINTER;
    *info = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    ITypeInfo* type_info = DispatchTypeInfo();
    if (type_info == nullptr) return TYPE_E_ELEMENTNOTFOUND;
    type_info->AddRef();
    *info = type_info;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID,
                                          DISPID* ids) override {
    if (iid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    ITypeInfo* type_info = DispatchTypeInfo();
    if (type_info == nullptr) return E_UNEXPECTED;
    return ::DispGetIDsOfNames(type_info, names, count, ids);
  }
  // The type information calls the member on this object and turns a
  // failure with error information into the EXCEPINFO.
  HRESULT STDMETHODCALLTYPE Invoke(DISPID member, REFIID iid, LCID, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO* exception,
                                   UINT* bad_argument) override {
    if (iid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    ITypeInfo* type_info = DispatchTypeInfo();
    if (type_info == nullptr) return E_UNEXPECTED;
    return type_info->Invoke(static_cast<I*>(this), member, flags, params, result, exception,
                             bad_argument);
  }

 protected:
  // The type information of I, kept by the object (or its class) for as
  // long as the object lives; null when it cannot be had.
  virtual ITypeInfo* DispatchTypeInfo() = 0;
};

}  // namespace platform::windows
