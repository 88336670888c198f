#include "tests/service/service_test_support.h"

#include <gtest/gtest.h>
#include <pugixml.hpp>

#include <atomic>
#include <fstream>
#include <sstream>
#include <thread>
#include <unistd.h>

namespace service_test {

TempDir::TempDir() {
  static std::atomic<int> counter{0};
  path_ = std::filesystem::temp_directory_path() /
          ("marlgate-service-test-" + std::to_string(::getpid()) + "-" +
           std::to_string(counter++));
  std::filesystem::remove_all(path_);
  std::filesystem::create_directories(path_);
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

void WriteFile(const std::filesystem::path& path, std::string_view text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
  ASSERT_TRUE(out.good()) << path;
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

std::size_t Occurrences(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
    ++count;
  }
  return count;
}

bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

std::string ParsedReply::Attribute(std::string_view name) const {
  for (const auto& [key, value] : attributes) {
    if (key == name) return value;
  }
  return {};
}

ParsedReply ParseReply(const std::string& xml) {
  ParsedReply reply;
  pugi::xml_document document;
  const pugi::xml_parse_result result =
      document.load_buffer(xml.data(), xml.size(), pugi::parse_default | pugi::parse_declaration);
  EXPECT_TRUE(result) << result.description() << " in " << xml;
  const pugi::xml_node root = document.document_element();
  reply.tag = root.name();
  for (const pugi::xml_attribute attribute : root.attributes()) {
    reply.attributes.emplace_back(attribute.name(), attribute.value());
  }
  return reply;
}

service::World SampleWorld() {
  using service::Link;
  using service::LinkKind;
  using service::Place;
  using service::PlaceKind;
  service::World world;
  const auto place = [&](std::string name, PlaceKind kind) {
    world.places.push_back(Place{std::move(name), kind, "33.4N, 12.7E", "", {}});
    return world.places.size() - 1;
  };
  const std::size_t eastmere = place("Eastmere", PlaceKind::kTown);
  const std::size_t northgate = place("Northgate", PlaceKind::kTown);
  const std::size_t ford = place("Harrow Ford", PlaceKind::kVillage);
  const std::size_t vault = place("Sunken Vault", PlaceKind::kDungeon);
  const std::size_t hook = place("Hook & <Lantern> \"Inn\"", PlaceKind::kLandmark);
  const std::size_t barrow = place("Ærnholt Barrow", PlaceKind::kDungeon);
  place("Lost Spire", PlaceKind::kLandmark);
  place("Harrowgate Mine", PlaceKind::kDungeon);
  place("Old Harrow Ruins", PlaceKind::kLandmark);
  place("Harrow", PlaceKind::kLandmark);
  place("Far Harrow Ruin", PlaceKind::kLandmark);
  place("Deep Harrow Pit", PlaceKind::kDungeon);
  world.places[vault].levels = "20-35";
  world.places[vault].notes = {"Bring a light.", "Pull the left lever & wait."};
  const auto link = [&](std::size_t from, std::size_t to, LinkKind kind, std::string label,
                        std::optional<double> km, double cost, bool one_way) {
    world.links.push_back(Link{from, to, kind, std::move(label), km, cost, one_way});
  };
  link(eastmere, ford, LinkKind::kRoad, "north road", 2.1, 2.1, true);
  link(ford, vault, LinkKind::kPortal, "", std::nullopt, 1, true);
  // Shorter on the map but dearer: the route must not take it.
  link(northgate, vault, LinkKind::kPath, "bog path", 1.0, 9, false);
  link(eastmere, hook, LinkKind::kRoad, "market road", 0.6, 0.6, false);
  link(northgate, barrow, LinkKind::kFerry, "", 3.0, 3, false);
  return world;
}

std::vector<std::string> SplitEntries(const std::string& text, bool terminated) {
  std::vector<std::string> entries;
  std::size_t start = 0;
  while (true) {
    const std::size_t bar = text.find('|', start);
    if (bar == std::string::npos) {
      if (!terminated && start < text.size()) entries.push_back(text.substr(start));
      return entries;
    }
    entries.push_back(text.substr(start, bar - start));
    start = bar + 1;
  }
}

}  // namespace service_test
