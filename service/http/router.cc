#include "service/http/router.h"

namespace service {

void Router::Add(Route route) { routes_.push_back(std::move(route)); }

namespace {

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    const char c = text[i] >= 'A' && text[i] <= 'Z' ? static_cast<char>(text[i] + 32) : text[i];
    if (c != prefix[i]) return false;
  }
  return true;
}

// The path of an origin-form target ("/a/b?q") or an absolute-form one
// ("http://host/a/b?q"; "/" when it names no path).
std::string_view TargetPath(std::string_view target) {
  for (const std::string_view scheme : {"http://", "https://"}) {
    if (!StartsWithNoCase(target, scheme)) continue;
    const std::string_view rest = target.substr(scheme.size());
    const std::size_t end = rest.find_first_of("/?#");
    if (end == std::string_view::npos || rest[end] != '/') return "/";
    target = rest.substr(end);
    break;
  }
  return target.substr(0, target.find_first_of("?#"));
}

}  // namespace

const Route* Router::Find(std::string_view method, std::string_view target) const {
  const std::string_view path = TargetPath(target);
  const std::string_view wanted = method == "HEAD" ? std::string_view("GET") : method;
  for (const Route& route : routes_) {
    if (route.method == wanted && route.path == path) return &route;
  }
  return nullptr;
}

}  // namespace service
