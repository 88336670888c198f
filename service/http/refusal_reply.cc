#include "service/http/refusal_reply.h"

#include <string>

#include "service/answer/reply_writer.h"
#include "service/http/travel_server.h"

namespace service {

HandledRequest RefusalReply(int status, std::size_t max_body_bytes) {
  std::string reason;
  switch (status) {
    case 404:
      reason = std::string("Nothing is served here; the plug-in posts to ") + kTravelPath + ".";
      break;
    case 413:
      reason = "The request is larger than " + std::to_string(max_body_bytes) +
               " bytes; search with fewer words.";
      break;
    case 503:
      reason = "The travel service is busy; try again in a moment.";
      break;
    default:
      reason = "The request could not be read (HTTP status " + std::to_string(status) +
               "). Update the plug-in.";
  }
  HandledRequest handled;
  handled.status = status;
  handled.kind = "error";
  handled.reply = ReplyWriter("error").Attribute("reason", reason).Finish();
  return handled;
}

}  // namespace service
