// IHostCheckBox over a check box of the host.

#include <utility>

#include "host/windows/host_com_object.h"
#include "host/windows/host_objects.h"

namespace host::windows {

namespace {

class CheckBoxObject final : public HostObject<IHostCheckBox> {
 public:
  explicit CheckBoxObject(platform::Ref<hostapi::CheckBox> box) : box_(std::move(box)) {}

  HRESULT STDMETHODCALLTYPE get_Checked(VARIANT_BOOL* checked) override {
    return Result(checked, [&] { return box_->Checked() ? VARIANT_TRUE : VARIANT_FALSE; });
  }

 private:
  ~CheckBoxObject() override = default;

  platform::Ref<hostapi::CheckBox> box_;
};

}  // namespace

ComPtr<IHostCheckBox> NewCheckBoxObject(platform::Ref<hostapi::CheckBox> box) {
  return ComPtr<IHostCheckBox>::Adopt(new CheckBoxObject(std::move(box)));
}

}  // namespace host::windows
