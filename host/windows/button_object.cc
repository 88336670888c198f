// IHostButton over a button of the host, with its Accepted event
// (DHostButtonEvents) through a connection point.

#include <utility>

#include "host/windows/host_com_object.h"
#include "host/windows/host_objects.h"
#include "platform/event.h"

namespace host::windows {

namespace {

constexpr DISPID kDispidAccepted = 1;

class ButtonObject final : public HostObject<IHostButton, EventSource<DHostButtonEvents>> {
 public:
  explicit ButtonObject(platform::Ref<hostapi::Button> button) : button_(std::move(button)) {
    accepted_ = button_->Accepted.Connect([this](int32_t id) {
      VARIANT argument = LongArgument(id);
      Fire(kDispidAccepted, &argument, 1);
    });
  }

 private:
  ~ButtonObject() override = default;

  platform::Ref<hostapi::Button> button_;
  platform::Connection accepted_;
};

}  // namespace

ComPtr<IHostButton> NewButtonObject(platform::Ref<hostapi::Button> button) {
  return ComPtr<IHostButton>::Adopt(new ButtonObject(std::move(button)));
}

}  // namespace host::windows
