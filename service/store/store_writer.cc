#include "service/store/store_writer.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <random>
#include <string>
#include <system_error>

#include "service/world/import_lock.h"
#include "service/store/sqlite_handle.h"
#include "service/store/store_schema.h"
#include "service/text/utf8_text.h"

namespace service {

namespace {

// Flushes a finished file to disk before it replaces the old one.
void SyncFile(const std::filesystem::path& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0 || ::fsync(fd) != 0) {
    const std::error_code error(errno, std::generic_category());
    if (fd >= 0) ::close(fd);
    throw StoreError("cannot flush " + path.string() + ": " + error.message());
  }
  ::close(fd);
}

// The time as "2024-05-01T10:15:02Z".
std::string UtcNow() {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

// Place ids in listing order (store_schema.h): by length, then folded name,
// then the name itself so that the order is total.
std::vector<std::int64_t> SearchOrderIds(const World& world) {
  struct Key {
    std::size_t length;
    std::string folded;
    std::size_t place;
  };
  std::vector<Key> keys;
  keys.reserve(world.places.size());
  for (std::size_t p = 0; p < world.places.size(); ++p) {
    const std::string& name = world.places[p].name;
    keys.push_back({CodePointCount(name), FoldCase(name), p});
  }
  std::sort(keys.begin(), keys.end(), [&](const Key& a, const Key& b) {
    if (a.length != b.length) return a.length < b.length;
    if (a.folded != b.folded) return a.folded < b.folded;
    return world.places[a.place].name < world.places[b.place].name;
  });
  std::vector<std::int64_t> ids(world.places.size());
  for (std::size_t rank = 0; rank < keys.size(); ++rank) {
    ids[keys[rank].place] = static_cast<std::int64_t>(rank) + 1;
  }
  return ids;
}

void Build(const World& world, const std::vector<RouteEntry>& routes,
           const std::filesystem::path& path) {
  SqliteConnection db(path.string(), SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
  // Nothing else sees this file until it is renamed, and a failed build is
  // thrown away whole, so it needs no journal and no syncing of its own.
  db.Execute("PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF; BEGIN;");
  db.Execute(kStoreSchema);

  SqliteStatement meta(db, "INSERT INTO meta(key, value) VALUES(?1, ?2)");
  const auto put_meta = [&](std::string_view key, std::string_view value) {
    meta.Reset();
    meta.BindText(1, key);
    meta.BindText(2, value);
    meta.Step();
  };
  put_meta("schema", kStoreSchemaVersion);
  put_meta("places", std::to_string(world.places.size()));
  put_meta("links", std::to_string(world.links.size()));
  put_meta("name", world.name);
  put_meta("imported", UtcNow());

  SqliteStatement place_insert(
      db,
      "INSERT INTO places(id, name, name_key, kind, coords, levels, route_town,"
      " route_previous, route_link, route_cost) VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10)");
  SqliteStatement note_insert(db, "INSERT INTO notes(place_id, seq, text) VALUES(?1, ?2, ?3)");
  const std::vector<std::int64_t> place_ids = SearchOrderIds(world);
  const auto id_of = [&](std::size_t place) { return place_ids[place]; };
  const auto link_id_of = [](std::size_t link) { return static_cast<std::int64_t>(link) + 1; };
  for (std::size_t p = 0; p < world.places.size(); ++p) {
    const Place& place = world.places[p];
    const RouteEntry& route = routes.at(p);
    place_insert.Reset();
    place_insert.BindInt64(1, id_of(p));
    place_insert.BindText(2, place.name);
    place_insert.BindText(3, FoldCase(place.name));
    place_insert.BindText(4, PlaceKindName(place.kind));
    place_insert.BindText(5, place.coords);
    place_insert.BindText(6, place.levels);
    if (route.town != RouteEntry::kNone) {
      place_insert.BindInt64(7, id_of(route.town));
      place_insert.BindDouble(10, route.cost);
    }
    if (route.previous != RouteEntry::kNone) {
      place_insert.BindInt64(8, id_of(route.previous));
      place_insert.BindInt64(9, link_id_of(route.link));
    }
    place_insert.Step();
    for (std::size_t n = 0; n < place.notes.size(); ++n) {
      note_insert.Reset();
      note_insert.BindInt64(1, id_of(p));
      note_insert.BindInt64(2, static_cast<std::int64_t>(n));
      note_insert.BindText(3, place.notes[n]);
      note_insert.Step();
    }
  }

  SqliteStatement link_insert(
      db,
      "INSERT INTO links(id, from_id, to_id, kind, label, km, cost, one_way)"
      " VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8)");
  for (std::size_t l = 0; l < world.links.size(); ++l) {
    const Link& link = world.links[l];
    link_insert.Reset();
    link_insert.BindInt64(1, link_id_of(l));
    link_insert.BindInt64(2, id_of(link.from));
    link_insert.BindInt64(3, id_of(link.to));
    link_insert.BindText(4, LinkKindName(link.kind));
    link_insert.BindText(5, link.label);
    if (link.km) link_insert.BindDouble(6, *link.km);
    link_insert.BindDouble(7, link.cost);
    link_insert.BindInt64(8, link.one_way ? 1 : 0);
    link_insert.Step();
  }

  db.Execute(
      "INSERT INTO place_names(place_names) VALUES('rebuild');"
      "INSERT INTO place_names(place_names) VALUES('optimize');"
      "COMMIT; ANALYZE; VACUUM;");
}

// A new, empty file beside `path` under a name no other import uses:
// "<path>.importing-<pid>-<random>". Created with the usual permissions.
std::filesystem::path CreateBuildFile(const std::filesystem::path& path) {
  std::random_device seed;
  for (int attempt = 0; attempt < 100; ++attempt) {
    char suffix[48];
    std::snprintf(suffix, sizeof suffix, ".importing-%ld-%08x", static_cast<long>(::getpid()),
                  static_cast<unsigned>(seed()));
    std::filesystem::path building = path;
    building += suffix;
    const int fd = ::open(building.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      ::close(fd);
      return building;
    }
    if (errno != EEXIST) {
      const std::error_code error(errno, std::generic_category());
      throw StoreError("cannot create " + building.string() + ": " + error.message());
    }
  }
  throw StoreError("cannot find a free temporary name beside " + path.string());
}

}  // namespace

void WriteWorldDatabase(const World& world, const std::vector<RouteEntry>& routes,
                        const std::filesystem::path& path, const std::function<void()>& on_wait) {
  const ImportLock lock(path, on_wait);
  const std::filesystem::path building = CreateBuildFile(path);
  std::error_code ignored;
  try {
    Build(world, routes, building);
    SyncFile(building);
    // A journal left by an earlier writer of the old file would be taken as
    // hot and played into the new one.
    for (const char* suffix : {"-journal", "-wal", "-shm"}) {
      std::filesystem::path leftover = path;
      leftover += suffix;
      std::filesystem::remove(leftover, ignored);
    }
    std::error_code error;
    std::filesystem::rename(building, path, error);
    if (error) {
      throw StoreError("cannot replace " + path.string() + ": " + error.message());
    }
  } catch (...) {
    std::filesystem::remove(building, ignored);
    throw;
  }
}

}  // namespace service
