#include "host/host_session.h"

#include <cstdio>
#include <utility>

#include "host/command_failure.h"
#include "platform/error.h"
#include "platform/text.h"

namespace host {

namespace {

std::string Hex(platform::HResult hr) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
  return text;
}

}  // namespace

HostSession::HostSession(std::shared_ptr<EventSink> sink, std::string plugin_path,
                         std::ostream& diagnostics)
    : sink_(std::move(sink)),
      plugin_path_(std::move(plugin_path)),
      diagnostics_(diagnostics),
      site_(std::make_shared<Site>(sink_)) {}

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
  if (!library_.loaded()) LoadLibrary();
  if (main_.empty()) CreateMain();
  main_->Initialize(with_site ? platform::Ref<hostapi::Site>(site_) : nullptr);
}

void HostSession::Terminate() {
  if (main_.empty()) throw CommandFailure(L"no Main is held");
  main_->Terminate();
}

void HostSession::Release() { main_.reset(); }

void HostSession::Unload() {
  Release();
  if (!library_.loaded()) return;
  if (!library_.CanUnloadNow()) {
    diagnostics_ << "marlgate-host: the plug-in library still has live objects; it stays loaded\n";
    return;
  }
  site_->view_factory()->Forget();
  site_->RenewCharacterStats();
  if (!library_.Unload()) {
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

void HostSession::LoadLibrary() {
  library_.Load(plugin_path_);
  // Registration only records the classes; the host creates Main from the
  // library it loaded itself, so a failed registration is reported, not
  // fatal.
  try {
    platform::HResult hr = library_.RegisterServer();
    if (hr != platform::kOk) {
      diagnostics_ << "marlgate-host: DllRegisterServer of " << plugin_path_ << " returned "
                   << Hex(hr) << "\n";
    }
  } catch (const platform::Error& e) {
    diagnostics_ << "marlgate-host: registering " << plugin_path_ << " failed: " << e.what()
                 << "\n";
  }
}

void HostSession::CreateMain() {
  std::shared_ptr<platform::ClassFactory> factory = library_.GetClassObject(kMainClassId);
  if (!factory) {
    throw CommandFailure(L"the plug-in library serves no class " +
                         platform::Utf8ToWide(kMainClassId.ToString()));
  }
  std::shared_ptr<void> object;
  platform::HResult hr = factory->CreateInstance(hostapi::kIidPlugin2, &object);
  factory.reset();
  if (hr != platform::kOk || !object) {
    throw CommandFailure(L"the class factory did not create Main (" +
                         platform::Utf8ToWide(Hex(hr)) + L")");
  }
  main_ = platform::Ref<hostapi::Plugin2>(std::static_pointer_cast<hostapi::Plugin2>(object));
}

}  // namespace host
