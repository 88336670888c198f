#include "service/router.h"

namespace service {

void Router::Add(Route route) { routes_.push_back(std::move(route)); }

const Route* Router::Find(std::string_view method, std::string_view target) const {
  const std::string_view path = target.substr(0, target.find('?'));
  for (const Route& route : routes_) {
    if (route.method == method && route.path == path) return &route;
  }
  return nullptr;
}

}  // namespace service
