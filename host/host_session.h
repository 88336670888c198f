#pragma once

#include <memory>
#include <ostream>
#include <string>

#include "host/event_sink.h"
#include "host/panel.h"
#include "host/plugin_loader.h"
#include "host/site.h"
#include "hostapi/plugin.h"

namespace host {

// What the host holds of one plug-in: its library, its `Main`, and the host
// objects the plug-in reaches through the site. Everything runs on the
// calling thread. Operations raise CommandFailure when they cannot be done
// in the current state, and pass platform::Error from the platform (a
// library that cannot be loaded, say) to the caller. Diagnostics that are
// no one's failure go to `diagnostics`.
class HostSession {
 public:
  HostSession(std::shared_ptr<EventSink> sink, std::string plugin_path,
              std::ostream& diagnostics);
  // The same with a loader of the caller's choice.
  HostSession(std::shared_ptr<EventSink> sink, std::unique_ptr<PluginLoader> loader,
              std::ostream& diagnostics);
  // Releases `Main` and unloads the library, as Unload does.
  ~HostSession();
  HostSession(const HostSession&) = delete;
  HostSession& operator=(const HostSession&) = delete;

  // Loads and registers the library unless it is loaded, creates `Main`
  // through its class factory unless one is held, and calls Initialize with
  // the site (or with none).
  void Init(bool with_site);
  // Calls Terminate; CommandFailure when no `Main` is held.
  void Terminate();
  // Drops the host's reference to `Main`; nothing when none is held.
  void Release();
  // Releases `Main`, then unloads the library when it agrees to go. The
  // host drops its panel (whose controls may still hold the plug-in's
  // handlers) and renews the filter before the code goes. A library that
  // does not agree stays loaded, with the panel kept.
  void Unload();
  // Sets the filter's name and raises its Login event.
  void Login(const std::wstring& name);

  // The panel the view factory built last; null when there is none.
  std::shared_ptr<Panel> CurrentPanel() const;

  bool library_loaded() const { return loader_->loaded(); }
  bool main_held() const { return !main_.empty(); }
  const std::shared_ptr<Site>& site() const { return site_; }

 private:
  std::shared_ptr<EventSink> sink_;
  std::ostream& diagnostics_;
  std::shared_ptr<Site> site_;
  std::unique_ptr<PluginLoader> loader_;
  platform::Ref<hostapi::Plugin2> main_;
};

}  // namespace host
