#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "service/world/world.h"

namespace service_test {

// A fresh folder under the system's temporary folder, removed with its
// contents when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;
};

void WriteFile(const std::filesystem::path& path, std::string_view text);
std::string ReadFile(const std::filesystem::path& path);

// How often `part` occurs in `text` (a log, say).
std::size_t Occurrences(const std::string& text, const std::string& part);

// Polls `done` until it is true (then true) or `limit` has passed (false).
bool WaitFor(const std::function<bool()>& done,
             std::chrono::milliseconds limit = std::chrono::seconds(15));

// The attributes of a reply document's root element, read with a real XML
// parser; `tag` receives the root's name. Fails the test when the reply does
// not parse.
struct ParsedReply {
  std::string tag;
  std::vector<std::pair<std::string, std::string>> attributes;
  std::string Attribute(std::string_view name) const;  // "" when absent
};
ParsedReply ParseReply(const std::string& xml);

// The small world the store and server tests share. Towns "Eastmere" and
// "Northgate"; the cheapest way to "Sunken Vault" runs from Eastmere over
// "Harrow Ford" and a one-way portal; "Lost Spire" has no links at all.
service::World SampleWorld();

// The "|"-separated entries of a list attribute; `terminated` when every
// entry ends with "|" (search results), otherwise "|" stands between them.
std::vector<std::string> SplitEntries(const std::string& text, bool terminated);

}  // namespace service_test
