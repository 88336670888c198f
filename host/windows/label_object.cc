// IHostLabel over a label of the host.

#include <utility>

#include "host/windows/host_com_object.h"
#include "host/windows/host_objects.h"

namespace host::windows {

namespace {

class LabelObject final : public HostObject<IHostLabel> {
 public:
  explicit LabelObject(platform::Ref<hostapi::Label> label) : label_(std::move(label)) {}

  HRESULT STDMETHODCALLTYPE get_Text(BSTR* text) override {
    return Result(text, [&] { return NewBstr(label_->Text()); });
  }

  HRESULT STDMETHODCALLTYPE put_Text(BSTR text) override {
    return Run([&] { label_->SetText(TextOf(text)); });
  }

 private:
  ~LabelObject() override = default;

  platform::Ref<hostapi::Label> label_;
};

}  // namespace

ComPtr<IHostLabel> NewLabelObject(platform::Ref<hostapi::Label> label) {
  return ComPtr<IHostLabel>::Adopt(new LabelObject(std::move(label)));
}

}  // namespace host::windows
