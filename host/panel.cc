#include "host/panel.h"

#include <utility>

#include "platform/error.h"

namespace host {

Panel::Panel(Attributes attributes) : attributes_(std::move(attributes)) {}

platform::Ref<hostapi::Control> Panel::FindControl(const std::wstring& name) {
  auto it = by_name_.find(name);
  if (it == by_name_.end()) {
    platform::Raise(platform::kErrInvalidArgument, L"No control named " + name);
  }
  return controls_[it->second];
}

std::shared_ptr<HostControl> Panel::Find(const std::wstring& name) const {
  auto it = by_name_.find(name);
  if (it == by_name_.end()) return nullptr;
  return host_controls_[it->second];
}

size_t Panel::AddPage(Attributes attributes) {
  pages_.push_back(Page{std::move(attributes), {}});
  return pages_.size() - 1;
}

void Panel::Add(platform::Ref<hostapi::Control> control,
                std::shared_ptr<HostControl> host_control, size_t page) {
  const std::wstring& name = host_control->name();
  if (by_name_.count(name) != 0) {
    platform::Raise(platform::kErrInvalidArgument, L"Duplicate control name " + name);
  }
  if (page != kNoPage) {
    if (page >= pages_.size()) platform::Raise(platform::kErrInvalidArgument);
    pages_[page].control_ids.push_back(host_control->id());
  }
  by_name_.emplace(name, controls_.size());
  controls_.push_back(std::move(control));
  host_controls_.push_back(std::move(host_control));
}

std::vector<ControlSnapshot> Panel::Snapshot() const {
  std::vector<ControlSnapshot> snapshots;
  snapshots.reserve(host_controls_.size());
  for (const auto& control : host_controls_) snapshots.push_back(control->Snapshot());
  return snapshots;
}

}  // namespace host
