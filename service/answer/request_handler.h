#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "service/store/store_pool.h"

namespace service {

// What one request came to: the reply document and what the log records.
struct HandledRequest {
  // 200 for every request that could be read, errors the player made
  // included, because the plug-in shows only replies with status 200; 500
  // when the database failed.
  int status = 200;
  std::string reply;   // the XML reply document
  std::string kind;    // the reply's root tag: search, get, more or error
  std::string action;  // travel_action as sent ("" when absent)
  std::string value;   // Value as sent ("" when absent)
  // The reply is the same for every request with this action and a value
  // of the same CacheKey, on the same world (a found place, a search).
  bool cacheable = false;
};

// Answers the plug-in's requests, independent of HTTP: takes the form body
// exactly as posted ("&travel_action=search&Value=holt&currentcharacter=...")
// and returns the reply. Thread-safe; each call leases one store connection.
class RequestHandler {
 public:
  // At most `result_limit` names in a search reply.
  RequestHandler(StorePool& stores, std::size_t result_limit);

  // Never throws.
  HandledRequest Handle(std::string_view body) const noexcept;

  // What requests with the same answer share: the action and the value as
  // it is looked up (a search's text normalised as the search reads it, so
  // "Kar", "kar " and "KAR" share one; a destination's name in NFC and
  // folded, as it is found). nullopt for an action that has no such reply.
  static std::optional<std::string> CacheKey(std::string_view action, std::string_view value);

  // More search words than this are refused: each one costs an index scan.
  // Words are counted as the name index splits them (WorldStore::SearchWords).
  static constexpr std::size_t kMaxSearchWords = 8;

 private:
  void Answer(std::string_view action, std::string_view value, HandledRequest& handled) const;

  StorePool& stores_;
  std::size_t result_limit_;
};

}  // namespace service
