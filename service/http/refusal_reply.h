#pragma once

#include <cstddef>

#include "service/answer/request_handler.h"

namespace service {

// The reply to a request the HTTP layer refuses itself (no route, a body or
// header too large, a request that cannot be parsed, too many connections):
// the HTTP status and an error document the plug-in can show.
HandledRequest RefusalReply(int status, std::size_t max_body_bytes);

}  // namespace service
