#include "service/world/world_generator.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "service/world/csv.h"
#include "service/text/utf8_text.h"

namespace service {

namespace {

// SplitMix64: fixed across platforms, unlike the standard distributions.
class Random {
 public:
  explicit Random(std::uint64_t seed) : state_(seed) {}

  std::uint64_t Next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
  }
  std::size_t Below(std::size_t bound) { return static_cast<std::size_t>(Next() % bound); }
  double Unit() { return static_cast<double>(Next() >> 11) / 9007199254740992.0; }

  template <typename T, std::size_t N>
  const T& Pick(const std::array<T, N>& items) {
    return items[Below(N)];
  }

 private:
  std::uint64_t state_;
};

constexpr std::array<std::string_view, 32> kFirst{
    "Kar", "Bel", "Dor", "Mar", "Thal", "Vel", "Ost", "Grim", "Hal", "Ered", "Fen", "Lor",
    "Mor", "Nar", "Or",  "Quel", "Ral", "Sel", "Tor", "Ul",   "Var", "Wyn", "Yth", "Zar",
    "Ash", "Brin", "Cael", "Drav", "Esk", "Gal", "Harn", "Istr"};
constexpr std::array<std::string_view, 16> kMiddle{"a", "e", "i", "o", "an", "en", "in", "or",
                                                    "ul", "ar", "es", "ith", "om", "ad", "ev",
                                                    "ur"};
constexpr std::array<std::string_view, 24> kLast{
    "holt", "mere", "ford", "wick", "dale", "moor", "fell", "gard", "stead", "crest", "reach",
    "wood", "mark", "hold", "vale", "mouth", "brook", "thorn", "ridge", "well", "gate", "haven",
    "watch", "fall"};
constexpr std::array<std::string_view, 8> kAdjectives{"Old",  "Upper", "Lower", "Far",
                                                      "High", "Deep",  "Black", "Grey"};
constexpr std::array<std::string_view, 6> kVillageNouns{"Hamlet", "Farm", "Mill",
                                                        "Crossing", "Green", "Cottages"};
constexpr std::array<std::string_view, 5> kOutpostNouns{"Outpost", "Camp", "Watchtower",
                                                        "Fort", "Lodge"};
constexpr std::array<std::string_view, 10> kDungeonNouns{
    "Crypt", "Barrow", "Vault", "Mine", "Catacombs", "Grotto", "Sanctum", "Pit", "Warrens",
    "Depths"};
constexpr std::array<std::string_view, 8> kLandmarkNouns{"Tower",  "Falls", "Standing Stones",
                                                         "Bridge", "Shrine", "Ruins",
                                                         "Monolith", "Spring"};
constexpr std::array<std::string_view, 8> kNotes{
    "Bring a light: the lower halls are dark.",
    "The gate opens only at dusk.",
    "A trader by the well sells maps of the area.",
    "Lurkers hide near the east wall; keep to the path.",
    "The bridge is out after heavy rain; use the ford.",
    "Recall spot beside the lodestone.",
    "Guards turn away travellers after midnight.",
    "The portal stone needs a moment to wake."};

struct GeneratedPlace {
  std::string name;
  std::string_view kind;
  double lat;
  double lon;
};

std::string BaseWord(Random& random) {
  std::string word(random.Pick(kFirst));
  word += random.Pick(kMiddle);
  word += random.Pick(kLast);
  return word;
}

std::string_view PickKind(Random& random) {
  const std::size_t roll = random.Below(1000);
  if (roll < 25) return "town";
  if (roll < 175) return "village";
  if (roll < 275) return "outpost";
  if (roll < 575) return "dungeon";
  return "landmark";
}

std::string MakeName(Random& random, std::string_view kind) {
  std::string name;
  if (kind != "town" && random.Below(10) < 3) {
    name += random.Pick(kAdjectives);
    name += ' ';
  }
  name += BaseWord(random);
  if (kind == "town") return name;
  name += ' ';
  if (kind == "village") name += random.Pick(kVillageNouns);
  if (kind == "outpost") name += random.Pick(kOutpostNouns);
  if (kind == "dungeon") name += random.Pick(kDungeonNouns);
  if (kind == "landmark") name += random.Pick(kLandmarkNouns);
  return name;
}

std::string Coords(double lat, double lon) {
  char text[48];
  std::snprintf(text, sizeof text, "%.1fN, %.1fE", lat, lon);
  return text;
}

std::string Number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", value);
  return text;
}

class CsvFile {
 public:
  CsvFile(const std::filesystem::path& path, std::string_view header) : path_(path) {
    out_.open(path, std::ios::binary | std::ios::trunc);
    if (!out_) throw std::runtime_error("cannot write " + path.string());
    out_ << header << '\n';
  }

  void Row(std::initializer_list<std::string_view> fields) {
    bool first = true;
    for (const std::string_view field : fields) {
      if (!first) out_ << ',';
      out_ << CsvField(field);
      first = false;
    }
    out_ << '\n';
  }

  void Close() {
    out_.close();
    if (!out_) throw std::runtime_error("cannot write " + path_.string());
  }

 private:
  std::filesystem::path path_;
  std::ofstream out_;
};

}  // namespace

void GenerateWorld(const GeneratorOptions& options, const std::filesystem::path& folder) {
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (error) throw std::runtime_error("cannot create " + folder.string() + ": " + error.message());

  Random random(options.seed);
  const std::size_t count = options.places;
  constexpr double kLatSpan = 60;
  constexpr double kLonSpan = 90;

  std::vector<GeneratedPlace> places;
  places.reserve(count);
  std::unordered_set<std::string> used;
  for (std::size_t i = 0; i < count; ++i) {
    const std::string_view kind = i == 0 ? "town" : PickKind(random);
    std::string name = MakeName(random, kind);
    for (int attempt = 0; !used.insert(FoldCase(name)).second; ++attempt) {
      name = attempt < 50 ? MakeName(random, kind)
                          : MakeName(random, kind) + " " + std::to_string(i);
    }
    const double lat = std::round(random.Unit() * kLatSpan * 10) / 10;
    const double lon = std::round(random.Unit() * kLonSpan * 10) / 10;
    places.push_back({std::move(name), kind, lat, lon});
  }

  // Grid cells of about four places each, for finding near neighbours.
  const double cell = std::max(0.1, std::sqrt(kLatSpan * kLonSpan * 4 / std::max<double>(count, 1)));
  const auto rows = static_cast<std::size_t>(kLatSpan / cell) + 1;
  const auto columns = static_cast<std::size_t>(kLonSpan / cell) + 1;
  const auto cell_of = [&](const GeneratedPlace& place) {
    return std::pair(static_cast<std::size_t>(place.lat / cell),
                     static_cast<std::size_t>(place.lon / cell));
  };
  std::vector<std::vector<std::size_t>> grid(rows * columns);
  for (std::size_t i = 0; i < places.size(); ++i) {
    const auto [row, column] = cell_of(places[i]);
    grid[row * columns + column].push_back(i);
  }
  const auto km_between = [&](std::size_t a, std::size_t b) {
    const double dlat = places[a].lat - places[b].lat;
    const double dlon = places[a].lon - places[b].lon;
    return std::max(0.1, std::sqrt(dlat * dlat + dlon * dlon) * 11.0);
  };

  CsvFile links(folder / "links.csv", "from,to,kind,label,km,cost,oneway");
  const auto add_land_link = [&](std::size_t a, std::size_t b) {
    const double km = km_between(a, b);
    const bool path = random.Below(4) == 0;
    const std::string distance = Number(km);
    links.Row({places[a].name, places[b].name, path ? "path" : "road",
               path ? "forest path" : "road", distance, path ? Number(km * 1.5) : distance,
               "no"});
  };

  // A serpentine walk through the cells joins every place to the next one.
  std::size_t previous = SIZE_MAX;
  for (std::size_t row = 0; row < rows; ++row) {
    for (std::size_t step = 0; step < columns; ++step) {
      const std::size_t column = row % 2 == 0 ? step : columns - 1 - step;
      for (const std::size_t place : grid[row * columns + column]) {
        if (previous != SIZE_MAX) add_land_link(previous, place);
        previous = place;
      }
    }
  }
  // Each place also gets a road to its two nearest neighbours nearby.
  for (std::size_t i = 0; i < places.size(); ++i) {
    const auto [row, column] = cell_of(places[i]);
    std::array<std::pair<double, std::size_t>, 2> nearest{
        {{INFINITY, SIZE_MAX}, {INFINITY, SIZE_MAX}}};
    for (std::size_t r = row == 0 ? 0 : row - 1; r <= std::min(rows - 1, row + 1); ++r) {
      for (std::size_t c = column == 0 ? 0 : column - 1; c <= std::min(columns - 1, column + 1);
           ++c) {
        for (const std::size_t other : grid[r * columns + c]) {
          if (other <= i) continue;  // each pair once, from its lower index
          const double km = km_between(i, other);
          if (km < nearest[1].first) {
            nearest[1] = {km, other};
            if (nearest[1].first < nearest[0].first) std::swap(nearest[0], nearest[1]);
          }
        }
      }
    }
    for (const auto& [km, other] : nearest) {
      if (other != SIZE_MAX) add_land_link(i, other);
    }
  }
  // Portals from towns to dungeons.
  std::vector<std::size_t> dungeons;
  for (std::size_t i = 0; i < places.size(); ++i) {
    if (places[i].kind == "dungeon") dungeons.push_back(i);
  }
  for (std::size_t i = 0; i < places.size() && !dungeons.empty(); ++i) {
    if (places[i].kind != "town") continue;
    const std::size_t target = dungeons[random.Below(dungeons.size())];
    links.Row({places[i].name, places[target].name, "portal", "portal", "", "2", "yes"});
  }
  links.Close();

  CsvFile place_file(folder / "places.csv", "name,kind,coords");
  CsvFile levels(folder / "levels.csv", "place,min,max");
  CsvFile notes(folder / "notes.csv", "place,note");
  for (const GeneratedPlace& place : places) {
    place_file.Row({place.name, place.kind, Coords(place.lat, place.lon)});
    if (place.kind == "dungeon") {
      const std::size_t min = 1 + random.Below(180);
      levels.Row({place.name, std::to_string(min), std::to_string(min + 5 + random.Below(40))});
    }
    const std::size_t first_note = random.Below(kNotes.size());
    for (std::size_t n = random.Below(3); n > 0; --n) {
      notes.Row({place.name, kNotes[(first_note + n) % kNotes.size()]});
    }
  }
  place_file.Close();
  levels.Close();
  notes.Close();
}

}  // namespace service
