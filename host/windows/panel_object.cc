// IHostPanel over a panel of the host, and the control objects by kind.

#include <utility>

#include "host/windows/host_com_object.h"
#include "host/windows/host_objects.h"
#include "platform/error.h"

namespace host::windows {

namespace {

class PanelObject final : public HostObject<IHostPanel> {
 public:
  explicit PanelObject(platform::Ref<hostapi::Panel> panel) : panel_(std::move(panel)) {}

  HRESULT STDMETHODCALLTYPE FindControl(BSTR name, IDispatch** control) override {
    return Result(control,
                  [&] { return NewControlObject(panel_->FindControl(TextOf(name))).Detach(); });
  }

 private:
  ~PanelObject() override = default;

  platform::Ref<hostapi::Panel> panel_;
};

// The control as role T, or empty when it plays another.
template <class T>
platform::Ref<T> AsRole(const platform::Ref<hostapi::Control>& control) {
  return platform::Ref<T>(std::dynamic_pointer_cast<T>(control.shared()));
}

// The dual interface's IDispatch, with the reference it came with.
template <class I>
ComPtr<IDispatch> AsDispatch(ComPtr<I> object) {
  return ComPtr<IDispatch>::Adopt(object.Detach());
}

}  // namespace

ComPtr<IHostPanel> NewPanelObject(platform::Ref<hostapi::Panel> panel) {
  return ComPtr<IHostPanel>::Adopt(new PanelObject(std::move(panel)));
}

ComPtr<IDispatch> NewControlObject(platform::Ref<hostapi::Control> control) {
  if (control.empty()) platform::Raise(platform::kErrEmptyReference);
  if (auto box = AsRole<hostapi::TextBox>(control)) return AsDispatch(NewTextBoxObject(box));
  if (auto button = AsRole<hostapi::Button>(control)) return AsDispatch(NewButtonObject(button));
  if (auto list = AsRole<hostapi::List>(control)) return AsDispatch(NewListObject(list));
  if (auto label = AsRole<hostapi::Label>(control)) return AsDispatch(NewLabelObject(label));
  if (auto box = AsRole<hostapi::CheckBox>(control)) return AsDispatch(NewCheckBoxObject(box));
  platform::Raise(platform::kErrTypeMismatch, L"The control is of no kind the host knows");
}

}  // namespace host::windows
