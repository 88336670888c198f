// IHostViewFactory over the host's view factory.

#include <utility>

#include "host/windows/host_com_object.h"
#include "host/windows/host_objects.h"

namespace host::windows {

namespace {

class ViewFactoryObject final : public HostObject<IHostViewFactory> {
 public:
  explicit ViewFactoryObject(platform::Ref<hostapi::ViewFactory> factory)
      : factory_(std::move(factory)) {}

  HRESULT STDMETHODCALLTYPE CreatePanel(BSTR view_text, IHostPanel** panel) override {
    return Result(panel,
                  [&] { return NewPanelObject(factory_->CreatePanel(TextOf(view_text))).Detach(); });
  }

 private:
  ~ViewFactoryObject() override = default;

  platform::Ref<hostapi::ViewFactory> factory_;
};

}  // namespace

ComPtr<IHostViewFactory> NewViewFactoryObject(platform::Ref<hostapi::ViewFactory> factory) {
  return ComPtr<IHostViewFactory>::Adopt(new ViewFactoryObject(std::move(factory)));
}

}  // namespace host::windows
