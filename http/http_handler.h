#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <random>
#include <string>

#include "component/module_count.h"
#include "platform/event.h"
#include "platform/http_request.h"
#include "platform/ref.h"
#include "platform/timer.h"
#include "platform/variant.h"
#include "platform/xml_document.h"

// The plug-in's HTTP client: posts one form request at a time to the travel
// service, follows it to completion and times out a silent server.
//
// Order of callbacks. PostRequest returns at once; the outcome of the request
// arrives later on the UI thread's message loop, as events raised
// synchronously in this order:
//   completion:  FailMessage(reply text), FailMessage("Status " code), then
//                serverMessage(document) for a status-200 reply that parses,
//                or FailMessage(failure text) otherwise;
//   no reply within msTimeOut: FailMessage("Timeout -- ..."),
//                FailMessage("Error: The server did not respond").
// A newer PostRequest or Abort drops the request in flight: nothing is raised
// for it. Handlers may call PostRequest or Abort, and may release the
// handler itself: a handler owned by a shared reference (as MakeRef makes
// it) keeps itself alive until the notification or time-out that raised
// the event is over. No exception leaves any member except the
// constructor, isRunning and Abort, whose failures pass to their caller.
class httpHandler : public platform::Unknown, public std::enable_shared_from_this<httpHandler> {
 public:
  static constexpr int32_t kDefaultTimeOutMs = 240000;

  // Creates the no-response timer, then the request object, whose
  // ready-state notification calls ReadyStateChange. Raises on failure.
  httpHandler();
  // Abort, then the timer and the request object are released.
  ~httpHandler() override;

  // True while a request is opened, sent or receiving.
  bool isRunning() const;
  // Stops the timer when it runs and aborts the request; raises no event.
  void Abort();
  // Opens, sends and times one request. ArgsArr is the Value field's text;
  // nullopt stands for a missing argument, which fails the request.
  void PostRequest(const std::wstring& URL, const std::wstring& Mode,
                   const std::optional<platform::Variant>& ArgsArr,
                   int32_t msTimeOut = kDefaultTimeOutMs);
  // Called by the request object at each change of its ready state.
  void ReadyStateChange();

  platform::Event<platform::Ref<platform::XmlDocument>&> serverMessage;
  platform::Event<std::wstring&> FailMessage;

 private:
  friend struct httpHandlerTestAccess;

  // The form body's escaping of the character name and the value: "%",
  // blank, "+", "&", "=" and "?" become %25 %20 %2B %26 %3D %3F.
  std::wstring URLEncode(std::wstring text);
  void NoResponseTimer_Timeout(platform::Timer& Source);
  // " .7055475": the next pseudo-random number in [0, 1) as the form sends it.
  std::wstring NextRandomText();
  // Creates the request object and points its notification at this handler.
  void CreateRequestObject();

  // Counted first, so the library counts this object until its last
  // member is gone.
  component::ObjectCount object_count_;
  platform::Ref<platform::Timer> NoResponseTimer;
  platform::Connection timeout_connection_;
  platform::Ref<platform::HttpRequest> request_;
  std::mt19937 random_;
};

// The random field's text for `value` in [0, 1): a blank, then the number in
// plain decimal with at most seven significant digits, no zero before the
// point and no trailing zeros (0.7055475 → " .7055475", 0 → " 0").
std::wstring RandomFieldText(float value);
