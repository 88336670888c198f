// IHostChatServices over the host's chat services.

#include <utility>

#include "host/windows/host_com_object.h"
#include "host/windows/host_objects.h"

namespace host::windows {

namespace {

class ChatServicesObject final : public HostObject<IHostChatServices> {
 public:
  explicit ChatServicesObject(platform::Ref<hostapi::ChatServices> services)
      : services_(std::move(services)) {}

  HRESULT STDMETHODCALLTYPE WriteToChat(BSTR line, LONG colour, LONG window) override {
    return Run([&] { services_->WriteToChat(TextOf(line), colour, window); });
  }

  HRESULT STDMETHODCALLTYPE ParseChatCommand(BSTR line) override {
    return Run([&] { services_->ParseChatCommand(TextOf(line)); });
  }

 private:
  ~ChatServicesObject() override = default;

  platform::Ref<hostapi::ChatServices> services_;
};

}  // namespace

ComPtr<IHostChatServices> NewChatServicesObject(platform::Ref<hostapi::ChatServices> services) {
  return ComPtr<IHostChatServices>::Adopt(new ChatServicesObject(std::move(services)));
}

}  // namespace host::windows
