#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "component/module_count.h"
#include "hostapi/controls.h"
#include "hostapi/host.h"
#include "hostapi/plugin.h"
#include "http/http_handler.h"
#include "platform/event.h"
#include "platform/ref.h"
#include "platform/xml_document.h"
#include "plugin/echo_line.h"
#include "plugin/event_bound.h"

// The plug-in object the host creates and drives. Its handlers are defined
// by layer: the host binding in plugin/, the lookups, the reply handling and
// the sharing to chat in travel/. Every handler runs on the host's UI thread,
// arms an error trap and lets no exception out. A host may release Main
// inside one of its events: Main, when owned by a shared reference, keeps
// itself alive until the handler has returned.
class Main : public hostapi::Plugin2, public std::enable_shared_from_this<Main> {
 public:
  Main();
  ~Main() override;

  // hostapi::Plugin2
  void Initialize(platform::Ref<hostapi::Site> site) override { IPlugin2_Initialize(site); }
  void Terminate() override { IPlugin2_Terminate(); }

  void IPlugin2_Initialize(platform::Ref<hostapi::Site> site);
  void IPlugin2_Terminate();
  void CharStats_Login(int32_t value);
  void RouteList_Change(int32_t nID, int32_t nX, int32_t nY);
  void MoreInfoList_Change(int32_t nID, int32_t nX, int32_t nY);
  void SearchButton_Accepted(int32_t nID);
  void SearchList_Change(int32_t nID, int32_t nX, int32_t nY);
  void GetNotes_Accepted(int32_t nID);
  void SendToChat_Accepted(int32_t nID);
  void webSendStats_serverMessage(platform::Ref<platform::XmlDocument>& ResponseXML);
  void webSendstats_FailMessage(std::wstring& txt);

  // The travel service's URL the plug-in posts to: the address set for the
  // machine when Initialize found one that serves, else the default.
  const std::wstring& ServiceURL() const { return service_url_; }
  // http://, the build's host, the fixed path.
  static std::wstring DefaultServiceURL();

 private:
  void WriteToServer(const std::wstring& mode, const std::wstring& value);
  void WriteToChatCheck(const std::wstring& text);
  void WarnToChatCheck(const std::wstring& text);
  // The same for a line whose text is written only when it is shown.
  void WriteToChatCheck(plugin::EchoLine& line);
  void WarnToChatCheck(plugin::EchoLine& line);
  // Both routines: `show` writes the line's text to chat while WriteToChat
  // is ticked.
  template <class Line>
  void ChatCheck(Line& line, void (*show)(const std::wstring&));
  // Runs an event handler with Main kept alive for its length.
  template <class Handler>
  void Guarded(Handler&& handler);

  // Counted first, so the library counts this object until its last
  // member is gone.
  component::ObjectCount object_count_;
  platform::Ref<hostapi::Panel> Panel;
  plugin::EventBound<hostapi::TextBox> SearchText;
  plugin::EventBound<hostapi::Button> SearchButton;
  plugin::EventBound<hostapi::List> SearchList;
  plugin::EventBound<hostapi::Label> Dest;
  plugin::EventBound<hostapi::Label> Coords;
  plugin::EventBound<hostapi::Button> SendToChat;
  plugin::EventBound<hostapi::List> RouteList;
  plugin::EventBound<hostapi::CheckBox> SendToAlleg;
  plugin::EventBound<hostapi::CheckBox> SendToOpen;
  plugin::EventBound<hostapi::CheckBox> SendToFellow;
  plugin::EventBound<hostapi::Label> Dest2;
  plugin::EventBound<hostapi::Label> Coords2;
  plugin::EventBound<hostapi::Label> Levels;
  plugin::EventBound<hostapi::Button> GetNotes;
  plugin::EventBound<hostapi::List> MoreInfoList;
  plugin::EventBound<hostapi::CheckBox> WriteToChat;
  plugin::EventBound<httpHandler> webSendStats;

  // The filter's Login subscription; the filter itself is kept in PluginState.
  platform::Connection charstats_login_;
  std::wstring service_url_ = DefaultServiceURL();
};

// The row icon every row of a list carries in column 1, sub-value 1.
inline constexpr int32_t RowIcon = 0x060011F8;
