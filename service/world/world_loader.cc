#include "service/world/world_loader.h"

#include <charconv>
#include <cmath>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "service/world/csv.h"
#include "service/answer/reply_writer.h"
#include "service/text/unicode_nfc.h"
#include "service/text/utf8_text.h"

namespace service {

namespace {

constexpr std::size_t kMaxNameLength = 100;
constexpr std::size_t kMaxLabelLength = 100;
constexpr std::size_t kMaxNoteLength = 500;

struct Column {
  std::string_view name;
  bool required;
};

// One data file: its rows by column name, with the line each row starts on.
struct Table {
  std::string file;
  std::vector<std::string> header;
  std::vector<std::vector<std::string>> rows;
  std::vector<std::size_t> lines;

  // The cell of `row` in column `name`; "" when the file has no such column.
  const std::string& Cell(std::size_t row, std::string_view name) const {
    static const std::string kEmpty;
    for (std::size_t c = 0; c < header.size(); ++c) {
      if (header[c] == name) return rows[row][c];
    }
    return kEmpty;
  }
};

[[noreturn]] void Refuse(const std::string& file, std::size_t line, const std::string& record,
                         const std::string& message) {
  std::string text = file;
  if (line > 0) text += ", line " + std::to_string(line);
  if (!record.empty()) text += " (" + record + ")";
  text += ": " + message;
  throw ImportError(text);
}

std::string Quoted(std::string_view text) {
  return "\"" + Shorten(text, 60) + "\"";
}

// The file's text; nullopt when there is no such file. Anything that is not a
// regular file (a folder, a pipe, a device) is refused rather than read.
std::optional<std::string> ReadFile(const std::filesystem::path& path) {
  std::error_code error;
  const std::filesystem::file_status status = std::filesystem::status(path, error);
  if (status.type() == std::filesystem::file_type::not_found) return std::nullopt;
  if (status.type() == std::filesystem::file_type::directory) {
    throw ImportError(path.string() + ": is a folder, not a data file");
  }
  if (!error && status.type() != std::filesystem::file_type::regular) {
    throw ImportError(path.string() + ": is not a regular file");
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream content;
  content << in.rdbuf();
  if (in.bad()) throw ImportError(path.string() + ": cannot be read");
  return std::move(content).str();
}

Table ReadTable(const std::filesystem::path& folder, const std::string& file,
                const std::vector<Column>& columns, bool required) {
  Table table;
  table.file = file;
  const std::filesystem::path path = folder / file;
  std::optional<std::string> text = ReadFile(path);
  if (!text) {
    if (!required) return table;
    throw ImportError(path.string() + ": cannot be opened; a world needs this file");
  }
  // Report text that is not UTF-8 by its line before the CSV split hides it.
  std::size_t line_start = 0;
  for (std::size_t line = 1; line_start < text->size(); ++line) {
    std::size_t line_end = text->find('\n', line_start);
    if (line_end == std::string::npos) line_end = text->size();
    if (!IsValidUtf8(std::string_view(*text).substr(line_start, line_end - line_start))) {
      Refuse(file, line, "", "the text is not UTF-8");
    }
    line_start = line_end + 1;
  }

  CsvReader reader(*text);
  std::vector<std::string> fields;
  try {
    if (!reader.Next(fields)) Refuse(file, 0, "", "the file is empty; it needs a header row");
    table.header = fields;
    std::unordered_set<std::string_view> seen;
    seen.reserve(table.header.size());
    for (const std::string& name : table.header) {
      if (!seen.insert(name).second) {
        Refuse(file, reader.Line(), "",
               "the column " + Quoted(name) + " appears twice in the header");
      }
    }
    for (const std::string& name : table.header) {
      bool known = false;
      for (const Column& column : columns) known = known || column.name == name;
      if (!known) Refuse(file, reader.Line(), "", "unknown column " + Quoted(name));
    }
    for (const Column& column : columns) {
      bool present = false;
      for (const std::string& name : table.header) present = present || column.name == name;
      if (column.required && !present) {
        Refuse(file, reader.Line(), "", "the header has no column \"" +
                                            std::string(column.name) + "\"");
      }
    }
    while (reader.Next(fields)) {
      if (fields.size() != table.header.size()) {
        Refuse(file, reader.Line(), "",
               "the row has " + std::to_string(fields.size()) + " fields, the header " +
                   std::to_string(table.header.size()));
      }
      // One spelling for each text, however its letters were composed.
      for (std::string& field : fields) field = ToNfc(field);
      table.rows.push_back(fields);
      table.lines.push_back(reader.Line());
    }
  } catch (const CsvReader::Error& error) {
    Refuse(file, 0, "", error.what());
  }
  return table;
}

// Why `text` cannot be a name, label or note; empty when it can.
std::string TextFault(std::string_view text, std::string_view what, std::size_t max_length) {
  const std::string subject(what);
  if (text.empty()) return subject + " is empty";
  if (TrimBlanks(text).size() != text.size()) return subject + " starts or ends with a blank";
  if (HasControl(text)) return subject + " contains a control character";
  if (HasNonCharacter(text)) {
    return subject + " contains U+FFFE or U+FFFF, which a reply cannot carry";
  }
  if (text.find(kEntrySeparator) != std::string_view::npos) {
    return subject + " contains \"|\", which separates the entries of a reply";
  }
  if (CodePointCount(text) > max_length) {
    return subject + " is longer than " + std::to_string(max_length) + " characters";
  }
  return {};
}

std::optional<double> ParseNumber(std::string_view text) {
  double value = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (text.empty() || ec != std::errc() || ptr != end || !std::isfinite(value)) {
    return std::nullopt;
  }
  return value;
}

// One coordinate: digits, an optional fraction, then one of two letters.
bool ParseCoordinate(std::string_view text, char positive, char negative, double max) {
  if (text.size() < 2) return false;
  const char hemisphere = text.back();
  if (hemisphere != positive && hemisphere != negative) return false;
  const std::string_view number = text.substr(0, text.size() - 1);
  const std::size_t point = number.find('.');
  const std::string_view whole = number.substr(0, point);
  const std::string_view fraction =
      point == std::string_view::npos ? std::string_view() : number.substr(point + 1);
  const auto digits = [](std::string_view s) {
    return s.find_first_not_of("0123456789") == std::string_view::npos;
  };
  if (whole.empty() || !digits(whole) || !digits(fraction)) return false;
  if (point != std::string_view::npos && fraction.empty()) return false;
  const std::optional<double> value = ParseNumber(number);
  return value && *value <= max;
}

// "33.4N, 12.7E": latitude, a comma and one blank, longitude.
bool ValidCoords(std::string_view text) {
  const std::size_t comma = text.find(", ");
  if (comma == std::string_view::npos) return false;
  return ParseCoordinate(text.substr(0, comma), 'N', 'S', 90) &&
         ParseCoordinate(text.substr(comma + 2), 'E', 'W', 180);
}

std::optional<int> ParseLevel(std::string_view text) {
  int value = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (text.empty() || ec != std::errc() || ptr != end || value < 1 || value > 100000) {
    return std::nullopt;
  }
  return value;
}

class Loader {
 public:
  explicit Loader(const std::filesystem::path& folder) : folder_(folder) {}

  World Load() {
    if (!std::filesystem::is_directory(folder_)) {
      throw ImportError(folder_.string() + ": not a folder of world data files");
    }
    LoadPlaces();
    LoadLinks();
    LoadLevels();
    LoadNotes();
    return std::move(world_);
  }

 private:
  void LoadPlaces() {
    const Table table = ReadTable(folder_, "places.csv",
                                  {{"name", true}, {"kind", true}, {"coords", true}}, true);
    world_.places.reserve(table.rows.size());
    for (std::size_t r = 0; r < table.rows.size(); ++r) {
      const std::string& name = table.Cell(r, "name");
      const std::string record = "place " + Quoted(name);
      const auto refuse = [&](const std::string& message) {
        Refuse(table.file, table.lines[r], record, message);
      };
      if (std::string fault = TextFault(name, "the name", kMaxNameLength); !fault.empty()) {
        refuse(fault);
      }
      const auto [existing, inserted] = index_.emplace(FoldCase(name), world_.places.size());
      if (!inserted) {
        refuse("the name is already used by " + Quoted(world_.places[existing->second].name) +
               " (names are compared in any letter case)");
      }
      Place place;
      place.name = name;
      const std::optional<PlaceKind> kind = ParsePlaceKind(table.Cell(r, "kind"));
      if (!kind) {
        refuse("unknown kind " + Quoted(table.Cell(r, "kind")) +
               "; use town, village, outpost, dungeon or landmark");
      }
      place.kind = *kind;
      place.coords = table.Cell(r, "coords");
      if (!ValidCoords(place.coords)) {
        refuse("coordinates " + Quoted(place.coords) + " are not written like \"33.4N, 12.7E\"");
      }
      world_.places.push_back(std::move(place));
    }
  }

  void LoadLinks() {
    const Table table = ReadTable(folder_, "links.csv",
                                  {{"from", true},
                                   {"to", true},
                                   {"kind", true},
                                   {"label", false},
                                   {"km", false},
                                   {"cost", false},
                                   {"oneway", false}},
                                  true);
    world_.links.reserve(table.rows.size());
    for (std::size_t r = 0; r < table.rows.size(); ++r) {
      const std::string& from = table.Cell(r, "from");
      const std::string& to = table.Cell(r, "to");
      const std::string record = "link " + Quoted(from) + " to " + Quoted(to);
      const auto refuse = [&](const std::string& message) {
        Refuse(table.file, table.lines[r], record, message);
      };
      Link link;
      link.from = PlaceIndex(from, refuse);
      link.to = PlaceIndex(to, refuse);
      if (link.from == link.to) refuse("a link must join two different places");
      const std::optional<LinkKind> kind = ParseLinkKind(table.Cell(r, "kind"));
      if (!kind) {
        refuse("unknown kind " + Quoted(table.Cell(r, "kind")) +
               "; use road, path, ferry, portal or passage");
      }
      link.kind = *kind;
      link.label = table.Cell(r, "label");
      if (!link.label.empty()) {
        if (std::string fault = TextFault(link.label, "the label", kMaxLabelLength);
            !fault.empty()) {
          refuse(fault);
        }
      }
      if (const std::string& km = table.Cell(r, "km"); !km.empty()) {
        link.km = ParseNumber(km);
        if (!link.km || *link.km < 0) refuse("km " + Quoted(km) + " is not a distance");
      }
      const std::string& cost = table.Cell(r, "cost");
      if (cost.empty()) {
        if (!link.km) refuse("the link has neither a cost nor a distance in km");
        link.cost = *link.km;
      } else {
        const std::optional<double> value = ParseNumber(cost);
        if (!value || *value < 0) refuse("cost " + Quoted(cost) + " is not a number >= 0");
        link.cost = *value;
      }
      const std::string& one_way = table.Cell(r, "oneway");
      if (one_way == "yes") {
        link.one_way = true;
      } else if (!one_way.empty() && one_way != "no") {
        refuse("oneway " + Quoted(one_way) + " is neither yes nor no");
      }
      world_.links.push_back(std::move(link));
    }
  }

  void LoadLevels() {
    const Table table = ReadTable(folder_, "levels.csv",
                                  {{"place", true}, {"min", true}, {"max", false}}, false);
    for (std::size_t r = 0; r < table.rows.size(); ++r) {
      const std::string& name = table.Cell(r, "place");
      const auto refuse = [&](const std::string& message) {
        Refuse(table.file, table.lines[r], "levels of " + Quoted(name), message);
      };
      Place& place = world_.places[PlaceIndex(name, refuse)];
      if (!place.levels.empty()) refuse("the place has levels already");
      const std::string& min_text = table.Cell(r, "min");
      const std::string& max_text = table.Cell(r, "max");
      const std::optional<int> min = ParseLevel(min_text);
      if (!min) refuse("min " + Quoted(min_text) + " is not a level from 1 to 100000");
      if (max_text.empty()) {
        place.levels = std::to_string(*min) + "+";
        continue;
      }
      const std::optional<int> max = ParseLevel(max_text);
      if (!max || *max < *min) refuse("max " + Quoted(max_text) + " is not a level >= min");
      place.levels = *max == *min ? std::to_string(*min)
                                  : std::to_string(*min) + "-" + std::to_string(*max);
    }
  }

  void LoadNotes() {
    const Table table = ReadTable(folder_, "notes.csv", {{"place", true}, {"note", true}}, false);
    for (std::size_t r = 0; r < table.rows.size(); ++r) {
      const std::string& name = table.Cell(r, "place");
      const auto refuse = [&](const std::string& message) {
        Refuse(table.file, table.lines[r], "note for " + Quoted(name), message);
      };
      Place& place = world_.places[PlaceIndex(name, refuse)];
      const std::string& note = table.Cell(r, "note");
      if (std::string fault = TextFault(note, "the note", kMaxNoteLength); !fault.empty()) {
        refuse(fault);
      }
      place.notes.push_back(note);
    }
  }

  template <typename RefuseFn>
  std::size_t PlaceIndex(const std::string& name, const RefuseFn& refuse) const {
    const auto found = index_.find(FoldCase(name));
    if (found == index_.end()) refuse("no place is named " + Quoted(name) + " in places.csv");
    return found->second;
  }

  std::filesystem::path folder_;
  World world_;
  std::unordered_map<std::string, std::size_t> index_;  // folded name -> place
};

}  // namespace

World LoadWorld(const std::filesystem::path& folder) { return Loader(folder).Load(); }

}  // namespace service
