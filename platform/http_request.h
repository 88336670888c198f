#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/text.h"

namespace platform {

// Transport failures reported in the status's place (not HTTP statuses).
constexpr int32_t kStatusNameNotResolved = 12007;
constexpr int32_t kStatusCannotConnect = 12029;

// The HTTP request object: one exchange at a time, reused for many.
//
// Ready states: 0 never opened or aborted, 1 opened, 2 sent, 3 receiving,
// 4 completed. Open moves to 1 (dropping any exchange in flight without a
// notification for it), Send to 2 and returns at once, Abort to 0 without a
// notification.
//
// Notifications: the ready-state handler is called on the creating thread's
// message loop, never from inside Open, Send or Abort, once for each change
// of ready state of an exchange that has not been dropped; the change to 4
// comes exactly once per exchange that was sent and not dropped or aborted,
// and the ready state, status and texts read inside the handler are those of
// that change. The handler may call any method, Open and Send included.
//
// Failures raise platform::Error: Open with a URL that is not http(s),
// SetRequestHeader or Send outside ready state 1, Status or StatusText
// before ready state 3. A transport failure is not raised: the exchange
// completes with status kStatusNameNotResolved, kStatusCannotConnect or
// another number outside the HTTP range and the transport's own text.
class HttpRequest {
 public:
  virtual ~HttpRequest() = default;
  virtual void Open(const std::wstring& method, const std::wstring& url, bool async) = 0;
  virtual void SetRequestHeader(const std::wstring& name, const std::wstring& value) = 0;
  // Sends the body as UTF-8.
  virtual void Send(const std::wstring& body) = 0;
  virtual void Abort() = 0;
  virtual int32_t ReadyState() const = 0;
  virtual int32_t Status() const = 0;
  virtual std::wstring StatusText() const = 0;
  // The whole reply body as text, in the form this object holds it (UTF-8
  // or wide), without a copy; empty before any body arrived. The view stays
  // valid until the next Open, Send or Abort, the next notification, or the
  // object's end, whichever comes first.
  virtual TextView ResponseText() const = 0;
  // Set once, before the first Open.
  virtual void SetReadyStateHandler(std::function<void()> handler) = 0;
};

}  // namespace platform
