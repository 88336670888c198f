#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>

#include "host/control_kind.h"
#include "host/control_snapshot.h"

namespace host {

// The view attributes of an element other than its name (captions, sizes,
// column layouts, page labels): kept for a user interface to lay out with.
using Attributes = std::map<std::wstring, std::wstring>;

// The host's side of every control: what the view said about it and what a
// dump shows of it. The plug-in sees only the hostapi role of the control.
class HostControl {
 public:
  HostControl(std::wstring name, ControlKind kind, int32_t id, Attributes attributes)
      : name_(std::move(name)), kind_(kind), id_(id), attributes_(std::move(attributes)) {}
  virtual ~HostControl() = default;
  HostControl(const HostControl&) = delete;
  HostControl& operator=(const HostControl&) = delete;

  const std::wstring& name() const { return name_; }
  ControlKind kind() const { return kind_; }
  // The control's place in the view, counting from 1 in document order;
  // events that carry an id carry this one.
  int32_t id() const { return id_; }
  const Attributes& attributes() const { return attributes_; }

  virtual ControlSnapshot Snapshot() const = 0;

 private:
  std::wstring name_;
  ControlKind kind_;
  int32_t id_;
  Attributes attributes_;
};

}  // namespace host
