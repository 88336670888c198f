#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "host/host_control.h"
#include "hostapi/host.h"

namespace host {

// A panel built from a view: its controls in view order, the view's own
// attributes and its pages (tabs), kept for a user interface to lay out.
class Panel : public hostapi::Panel {
 public:
  struct Page {
    Attributes attributes;  // the page's label among them
    std::vector<int32_t> control_ids;
  };

  explicit Panel(Attributes attributes);

  // Raises platform::Error(kErrInvalidArgument, "No control named NAME")
  // when the panel has no control of that name.
  platform::Ref<hostapi::Control> FindControl(const std::wstring& name) override;

  // The host's side of the control of that name; null when there is none.
  std::shared_ptr<HostControl> Find(const std::wstring& name) const;

  // Building, used by the view factory. `page` is an index from AddPage, or
  // kNoPage for a control that sits directly in the view. A control's id
  // must be unique; its name must not be taken yet.
  static constexpr size_t kNoPage = static_cast<size_t>(-1);
  size_t AddPage(Attributes attributes);
  template <class T>
  void AddControl(const std::shared_ptr<T>& control, size_t page) {
    Add(platform::Ref<hostapi::Control>(control), control, page);
  }

  const Attributes& attributes() const { return attributes_; }
  const std::vector<Page>& pages() const { return pages_; }
  // In view order.
  const std::vector<std::shared_ptr<HostControl>>& controls() const { return host_controls_; }

  // Every control in view order.
  std::vector<ControlSnapshot> Snapshot() const;

 private:
  void Add(platform::Ref<hostapi::Control> control, std::shared_ptr<HostControl> host_control,
           size_t page);

  Attributes attributes_;
  std::vector<Page> pages_;
  std::vector<platform::Ref<hostapi::Control>> controls_;
  std::vector<std::shared_ptr<HostControl>> host_controls_;
  std::map<std::wstring, size_t> by_name_;
};

}  // namespace host
