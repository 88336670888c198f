#include "host/site.h"

#include <utility>

#include "host/chat_services.h"
#include "platform/error.h"

namespace host {

Site::Site(std::shared_ptr<EventSink> sink)
    : sink_(std::move(sink)),
      view_factory_(std::make_shared<ViewFactory>()),
      character_stats_(std::make_shared<CharacterStats>()) {}

platform::Ref<platform::Unknown> Site::LookupObject(const std::wstring& path) {
  if (path != hostapi::kCharacterStatsPath) {
    platform::Raise(platform::kErrInvalidArgument, L"No object registered at " + path);
  }
  return platform::Ref<platform::Unknown>(character_stats_);
}

platform::Ref<hostapi::ViewFactory> Site::GetViewFactory() {
  return platform::Ref<hostapi::ViewFactory>(view_factory_);
}

platform::Ref<hostapi::ChatServices> Site::GetChatServices() {
  return platform::Ref<hostapi::ChatServices>(std::make_shared<ChatServices>(sink_));
}

void Site::RenewCharacterStats() {
  auto renewed = std::make_shared<CharacterStats>();
  renewed->SetName(character_stats_->Name());
  character_stats_ = std::move(renewed);
}

}  // namespace host
