// IHostTextBox over a text box of the host.

#include <utility>

#include "host/windows/host_com_object.h"
#include "host/windows/host_objects.h"

namespace host::windows {

namespace {

class TextBoxObject final : public HostObject<IHostTextBox> {
 public:
  explicit TextBoxObject(platform::Ref<hostapi::TextBox> box) : box_(std::move(box)) {}

  HRESULT STDMETHODCALLTYPE get_Text(BSTR* text) override {
    return Result(text, [&] { return NewBstr(box_->Text()); });
  }

 private:
  ~TextBoxObject() override = default;

  platform::Ref<hostapi::TextBox> box_;
};

}  // namespace

ComPtr<IHostTextBox> NewTextBoxObject(platform::Ref<hostapi::TextBox> box) {
  return ComPtr<IHostTextBox>::Adopt(new TextBoxObject(std::move(box)));
}

}  // namespace host::windows
