#pragma once

#include <memory>
#include <string>

#include "host/panel.h"
#include "hostapi/host.h"

namespace host {

// Builds panels from view text (the view format of the reference host: root
// `view`; controls directly in it or in `page` elements; each control an
// element `textbox`, `button`, `list`, `label` or `checkbox` with a unique,
// non-empty `name`). Controls are numbered from 1 in document order.
//
// CreatePanel raises platform::Error(kErrInvalidArgument, why) when the text
// is not well-formed XML, has another root, or holds an unknown element or a
// control without a name or with a name already used.
class ViewFactory : public hostapi::ViewFactory {
 public:
  platform::Ref<hostapi::Panel> CreatePanel(const std::wstring& view_text) override;

  // The panel built last; null before the first one and after Forget.
  std::shared_ptr<Panel> LastPanel() const { return last_panel_; }
  // Lets go of the last panel (its controls may hold handlers of code that
  // is about to be unloaded).
  void Forget() { last_panel_.reset(); }

 private:
  std::shared_ptr<Panel> last_panel_;
};

}  // namespace host
