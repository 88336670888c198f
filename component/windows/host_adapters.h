#pragma once

#include <windows.h>

#include "hostapi/host.h"
#include "marlgate_host.h"
#include "platform/ref.h"

// The host contract (hostapi/windows/marlgate_host.idl) seen as the host's
// roles of hostapi/: thin adapters that turn each role call into a call of
// the host's COM object, so that the plug-in's code is the same on both
// platforms.
//
// A failing host call raises platform::Error: an error in FACILITY_CONTROL
// as the host's own number with its error information as text (what the
// host says of a missing control reaches the report as it says it),
// anything else as its HRESULT. An object a host hands back as null becomes
// an empty reference, whose use raises kErrEmptyReference.
//
// Events: an adapter of a control with events (button, list) and of the
// character-statistics filter advises a sink on the host object's
// connection point when it is made and unadvises when it goes, so the
// subscription lives exactly as long as the plug-in holds the adapter. A
// host event raises the role's platform::Event synchronously inside the
// host's call; whatever the handlers raise stays in the plug-in. The sink
// keeps the plug-in busy (MessageLoop::BusyScope) while the handlers run,
// so a host that pumps messages inside them cannot run the plug-in's queued
// work in the middle.
namespace component::windows {

// The site passed to IPlugin2::Initialize; empty for null.
platform::Ref<hostapi::Site> AdaptSite(IHostSite* site);

}  // namespace component::windows
