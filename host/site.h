#pragma once

#include <memory>
#include <string>

#include "host/character_stats.h"
#include "host/event_sink.h"
#include "host/view_factory.h"
#include "hostapi/host.h"

namespace host {

// The host's site: the one object through which the plug-in reaches the
// host. It lives as long as the host does, across loads of the plug-in.
class Site : public hostapi::Site {
 public:
  explicit Site(std::shared_ptr<EventSink> sink);

  // The character-statistics filter for exactly hostapi::kCharacterStatsPath;
  // raises platform::Error(kErrInvalidArgument) for any other path.
  platform::Ref<platform::Unknown> LookupObject(const std::wstring& path) override;
  platform::Ref<hostapi::ViewFactory> GetViewFactory() override;
  platform::Ref<hostapi::ChatServices> GetChatServices() override;

  const std::shared_ptr<ViewFactory>& view_factory() const { return view_factory_; }
  const std::shared_ptr<CharacterStats>& character_stats() const { return character_stats_; }

  // Replaces the filter by a new one with the same name, so that handlers a
  // plug-in left connected to the old one can never be reached again (used
  // before the plug-in's code is unloaded).
  void RenewCharacterStats();

 private:
  std::shared_ptr<EventSink> sink_;
  std::shared_ptr<ViewFactory> view_factory_;
  std::shared_ptr<CharacterStats> character_stats_;
};

}  // namespace host
