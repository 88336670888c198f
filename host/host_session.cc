#include "host/host_session.h"

#include <utility>

#include "host/command_failure.h"
#include "platform/error.h"
#include "platform/text.h"

namespace host {

HostSession::HostSession(std::shared_ptr<EventSink> sink, std::string plugin_path,
                         std::ostream& diagnostics)
    : HostSession(std::move(sink), NewPluginLoader(std::move(plugin_path), diagnostics),
                  diagnostics) {}

HostSession::HostSession(std::shared_ptr<EventSink> sink, std::unique_ptr<PluginLoader> loader,
                         std::ostream& diagnostics)
    : sink_(std::move(sink)),
      diagnostics_(diagnostics),
      site_(std::make_shared<Site>(sink_)),
      loader_(std::move(loader)) {}

HostSession::~HostSession() {
  try {
    Unload();
  } catch (const std::exception& e) {
    diagnostics_ << "marlgate-host: unloading the plug-in at exit failed: " << e.what() << "\n";
  }
  // Whatever stayed loaded, the host's own objects must not keep the
  // plug-in's handlers past this point.
  site_->view_factory()->Forget();
  site_->RenewCharacterStats();
}

void HostSession::Init(bool with_site) {
  if (!loader_->loaded()) loader_->Load();
  if (main_.empty()) main_ = loader_->CreateMain();
  main_->Initialize(with_site ? platform::Ref<hostapi::Site>(site_) : nullptr);
}

void HostSession::Terminate() {
  if (main_.empty()) throw CommandFailure(L"no Main is held");
  main_->Terminate();
}

void HostSession::Release() { main_.reset(); }

void HostSession::Unload() {
  Release();
  if (!loader_->loaded()) return;
  if (!loader_->CanUnloadNow()) {
    diagnostics_ << "marlgate-host: the plug-in library still has live objects; it stays loaded\n";
    return;
  }
  site_->view_factory()->Forget();
  site_->RenewCharacterStats();
  if (!loader_->Unload()) {
    diagnostics_ << "marlgate-host: the plug-in library refused to unload; it stays loaded\n";
  }
}

void HostSession::Login(const std::wstring& name) {
  // The filter is fetched afresh: Unload may have renewed it.
  std::shared_ptr<CharacterStats> stats = site_->character_stats();
  stats->SetName(name);
  stats->RaiseLogin();
}

std::shared_ptr<Panel> HostSession::CurrentPanel() const {
  return site_->view_factory()->LastPanel();
}

}  // namespace host
