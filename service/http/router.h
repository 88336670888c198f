#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "service/answer/request_handler.h"

namespace service {

// One thing the service answers: a method and a path, and what answers it.
struct Route {
  std::string method;  // "POST"
  std::string path;    // "/marlgate_travels/travel.php"
  std::string content_type;
  // Called with the request body (several threads may call it at once). It
  // must not wait for anything that could take long. A route that reads the
  // database says so: it is then called on one of the HTTP layer's database
  // workers (database_workers.h); otherwise on the connection's event loop.
  std::function<HandledRequest(std::string_view body)> answer;
  bool reads_database = false;
  // When set, called first on the connection's event loop: the reply when
  // it can be had at once (kept from before), nullopt to have `answer`
  // called as above. Must be quick and must not throw.
  std::function<std::optional<HandledRequest>(std::string_view body)> answer_at_once = nullptr;
};

// The service's routes: a small table, looked up for every request. Filled
// before serving starts, read-only afterwards (so thread-safe to look up).
class Router {
 public:
  void Add(Route route);

  // The route for `method` and `target`; a query after "?" is ignored, and
  // an absolute-form target ("http://host/path") is routed by its path. HEAD
  // finds the GET route (the HTTP layer sends its reply without the body).
  // nullptr when nothing is served there (the HTTP layer answers 404).
  const Route* Find(std::string_view method, std::string_view target) const;

 private:
  std::vector<Route> routes_;
};

}  // namespace service
