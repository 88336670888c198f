#pragma once

#include <memory>
#include <typeinfo>
#include <utility>

#include "platform/error.h"

namespace platform {

// Base of every object that crosses a component boundary, so that a lookup can
// hand out "some object" and the receiver can ask for the role it needs.
class Unknown {
 public:
  virtual ~Unknown() = default;

  // An object that plays `role` for this one when this one does not play
  // it itself (Ref::As asks): an adapter that asks a COM object for the
  // interface of a role only once that role is wanted. Null (the default)
  // when there is none. May raise.
  virtual std::shared_ptr<Unknown> ObjectInRole(const std::type_info& /*role*/) { return nullptr; }
};

// A counted reference. Using an empty one raises kErrEmptyReference, so a
// step that touches an object never bound fails like any other step; asking
// for a role the object does not have raises kErrTypeMismatch.
template <class T>
class Ref {
 public:
  using element_type = T;

  Ref() = default;
  Ref(std::nullptr_t) {}
  Ref(std::shared_ptr<T> p) : p_(std::move(p)) {}
  template <class U, class = std::enable_if_t<std::is_convertible_v<U*, T*>>>
  Ref(const Ref<U>& other) : p_(other.shared()) {}

  T* operator->() const {
    if (!p_) Raise(kErrEmptyReference);
    return p_.get();
  }
  T& operator*() const { return *operator->(); }

  explicit operator bool() const { return p_ != nullptr; }
  bool empty() const { return p_ == nullptr; }
  void reset() { p_.reset(); }
  T* get() const { return p_.get(); }
  const std::shared_ptr<T>& shared() const { return p_; }

  // The same object in another role (or the object that plays the role for
  // it: Unknown::ObjectInRole). Raises on an empty reference or when the
  // object does not play that role.
  template <class U>
  Ref<U> As() const {
    if (!p_) Raise(kErrEmptyReference);
    auto cast = std::dynamic_pointer_cast<U>(p_);
    if (!cast) cast = std::dynamic_pointer_cast<U>(p_->ObjectInRole(typeid(U)));
    if (!cast) Raise(kErrTypeMismatch);
    return Ref<U>(std::move(cast));
  }

  friend bool operator==(const Ref& a, const Ref& b) { return a.p_ == b.p_; }

 private:
  std::shared_ptr<T> p_;
};

template <class T, class... Args>
Ref<T> MakeRef(Args&&... args) {
  return Ref<T>(std::make_shared<T>(std::forward<Args>(args)...));
}

}  // namespace platform
