#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <list>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "service/text/keyed_hash.h"

namespace service {

// Whole reply documents, kept so that what players ask again (the same
// towns, dungeons and words, over and over) is answered without the
// database. Keyed by a text the caller derives from the request
// (RequestHandler::CacheKey) and by the world that answered it.
//
// World numbers (WorldSnapshot::Number) only grow. The cache holds the
// replies of one world: the first Find or Insert for a newer world drops
// every entry at once, and from then on a reply of an older world is
// neither found nor kept. So once a request answered from a new world has
// been served, no reply from the old one is.
//
// Bounded in bytes: an entry costs its key, its reply and kEntryOverhead;
// the least recently found entries go first when room is needed. The
// entries are spread over kShards parts, each with a lock of its own and
// an equal share of the bound, so the event loops seldom wait for each
// other. A reply larger than a share is not kept. Keys are hashed with a
// key of the process's own (keyed_hash.h), so clients cannot choose texts
// that all fall into one part or bucket. Thread-safe; never throws but
// bad_alloc.
class ReplyCache {
 public:
  // 0 turns the cache off: nothing is found or kept, nothing counted.
  explicit ReplyCache(std::size_t max_bytes);
  ReplyCache(const ReplyCache&) = delete;
  ReplyCache& operator=(const ReplyCache&) = delete;

  bool Enabled() const { return max_bytes_ > 0; }

  // The reply kept for `key` from `world`; counts a hit or a miss.
  std::optional<std::string> Find(std::uint64_t world, std::string_view key);

  // Drops every reply of a world older than `world` at once (the reloader
  // calls it when it serves a new world, so no request pays for it). The
  // entries are freed outside the parts' locks.
  void Drop(std::uint64_t world);

  // Keeps `reply` for `key` from `world`, unless it is from an older world
  // than one already seen or larger than a share of the bound. Replaces an
  // entry of the same key.
  void Insert(std::uint64_t world, std::string_view key, std::string_view reply);

  struct Figures {
    std::uint64_t hits = 0;
    std::uint64_t misses = 0;
    std::uint64_t evictions = 0;  // entries dropped for room, not for a new world
    std::uint64_t dropped = 0;    // entries dropped because a newer world came
    std::size_t bytes = 0;
    std::size_t entries = 0;
    std::size_t max_bytes = 0;
  };
  // Any thread; each figure is read on its own (a scrape may see a hit
  // counted whose entry is not).
  Figures Read() const;

  // What one entry costs besides its key and reply: its list and map nodes,
  // the map's bucket, the strings' own headers and the allocator's rounding
  // (the heap measured within about 10% of the count, small replies
  // included).
  static constexpr std::size_t kEntryOverhead = 200;
  // A smaller bound than this (but 0) keeps too little to be of use; the
  // service refuses it.
  static constexpr std::size_t kSmallestBound = 64 * 1024;
  static constexpr std::size_t kShards = 16;

 private:
  struct Entry {
    std::string key;
    std::string reply;
  };
  struct Hasher {
    const KeyedHash* hash;
    std::size_t operator()(std::string_view key) const { return (*hash)(key); }
  };
  using Index = std::unordered_map<std::string_view, std::list<Entry>::iterator, Hasher>;
  struct Shard {
    std::mutex mutex;
    std::uint64_t world = 0;
    std::size_t bytes = 0;
    // Most recently found first; the map's keys view the entries' keys.
    std::list<Entry> entries;
    Index index;
  };
  // Entries taken out of a shard, freed when this goes (after the lock).
  struct Dropped {
    std::list<Entry> entries;
    Index index;
  };

  Shard& ShardOf(std::string_view key);
  // With the shard's lock held: true when `world` may use the shard, after
  // moving the shard's entries into `dropped` when it is newer (the caller
  // frees them once the lock is let go).
  bool Adopt(Shard& shard, std::uint64_t world, Dropped& dropped);
  static std::size_t Cost(const Entry& entry);

  const std::size_t max_bytes_;
  const std::size_t shard_bytes_;
  const KeyedHash hash_;
  std::atomic<std::uint64_t> newest_world_{0};
  std::array<Shard, kShards> shards_;
  std::atomic<std::uint64_t> hits_{0};
  std::atomic<std::uint64_t> misses_{0};
  std::atomic<std::uint64_t> evictions_{0};
  std::atomic<std::uint64_t> dropped_{0};
  std::atomic<std::size_t> bytes_{0};
  std::atomic<std::size_t> entries_{0};
};

}  // namespace service
