#pragma once

#include <functional>
#include <utility>
#include <vector>

#include "platform/event.h"
#include "platform/ref.h"

namespace plugin {

// A field whose object's events reach its owner: storing an object connects
// the owner's handlers to it, storing another (or nothing) ends those
// connections first. Using the field while empty raises kErrEmptyReference,
// like any empty reference.
template <class T>
class EventBound {
 public:
  using element_type = T;
  using Connector = std::function<std::vector<platform::Connection>(T&)>;

  EventBound() = default;
  explicit EventBound(Connector connector) : connector_(std::move(connector)) {}
  EventBound(const EventBound&) = delete;
  EventBound& operator=(const EventBound&) = delete;

  EventBound& operator=(platform::Ref<T> object) {
    connections_.clear();
    ref_ = std::move(object);
    if (ref_ && connector_) connections_ = connector_(*ref_.get());
    return *this;
  }
  void reset() { *this = platform::Ref<T>(); }

  T* operator->() const { return ref_.operator->(); }
  const platform::Ref<T>& ref() const { return ref_; }
  bool empty() const { return ref_.empty(); }

 private:
  Connector connector_;
  platform::Ref<T> ref_;
  // Declared last, so destroyed first: the connections end before the object
  // is released.
  std::vector<platform::Connection> connections_;
};

}  // namespace plugin
