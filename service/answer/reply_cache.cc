#include "service/answer/reply_cache.h"

#include <iterator>

namespace service {

ReplyCache::ReplyCache(std::size_t max_bytes)
    : max_bytes_(max_bytes), shard_bytes_(max_bytes / kShards) {
  for (Shard& shard : shards_) shard.index = Index(16, Hasher{&hash_});
}

std::size_t ReplyCache::Cost(const Entry& entry) {
  return entry.key.size() + entry.reply.size() + kEntryOverhead;
}

ReplyCache::Shard& ReplyCache::ShardOf(std::string_view key) {
  // The top bits: the buckets of a shard's map use the low ones.
  return shards_[hash_(key) >> 60 & (kShards - 1)];
}

bool ReplyCache::Adopt(Shard& shard, std::uint64_t world, Dropped& dropped) {
  if (world < shard.world) return false;
  if (world > shard.world) {
    dropped_.fetch_add(shard.entries.size(), std::memory_order_relaxed);
    entries_.fetch_sub(shard.entries.size(), std::memory_order_relaxed);
    bytes_.fetch_sub(shard.bytes, std::memory_order_relaxed);
    dropped.entries.splice(dropped.entries.end(), shard.entries);
    dropped.index.swap(shard.index);
    shard.index = Index(16, Hasher{&hash_});
    shard.bytes = 0;
    shard.world = world;
  }
  return true;
}

void ReplyCache::Drop(std::uint64_t world) {
  if (!Enabled()) return;
  std::uint64_t newest = newest_world_.load();
  while (newest < world && !newest_world_.compare_exchange_weak(newest, world)) {
  }
  if (newest >= world) return;  // another thread drops them (or did)
  for (Shard& shard : shards_) {
    Dropped dropped{{}, Index(0, Hasher{&hash_})};
    const std::lock_guard lock(shard.mutex);
    Adopt(shard, world, dropped);
    // `dropped` is freed after the lock (declared before it).
  }
}

std::optional<std::string> ReplyCache::Find(std::uint64_t world, std::string_view key) {
  if (!Enabled()) return std::nullopt;
  if (world > newest_world_.load(std::memory_order_relaxed)) Drop(world);
  Shard& shard = ShardOf(key);
  Dropped dropped{{}, Index(0, Hasher{&hash_})};
  {
    const std::lock_guard lock(shard.mutex);
    if (Adopt(shard, world, dropped)) {
      const auto found = shard.index.find(key);
      if (found != shard.index.end()) {
        shard.entries.splice(shard.entries.begin(), shard.entries, found->second);
        hits_.fetch_add(1, std::memory_order_relaxed);
        return found->second->reply;
      }
    }
  }
  misses_.fetch_add(1, std::memory_order_relaxed);
  return std::nullopt;
}

void ReplyCache::Insert(std::uint64_t world, std::string_view key, std::string_view reply) {
  if (!Enabled()) return;
  if (key.size() + reply.size() + kEntryOverhead > shard_bytes_) return;
  if (world > newest_world_.load(std::memory_order_relaxed)) Drop(world);
  // Built before the lock: the copies are the costly part.
  std::list<Entry> node;
  node.push_back(Entry{std::string(key), std::string(reply)});
  const std::size_t cost = Cost(node.front());
  Shard& shard = ShardOf(key);
  Dropped dropped{{}, Index(0, Hasher{&hash_})};
  const std::lock_guard lock(shard.mutex);
  if (!Adopt(shard, world, dropped)) return;
  if (const auto found = shard.index.find(key); found != shard.index.end()) {
    shard.bytes -= Cost(*found->second);
    bytes_.fetch_sub(Cost(*found->second), std::memory_order_relaxed);
    entries_.fetch_sub(1, std::memory_order_relaxed);
    dropped.entries.splice(dropped.entries.end(), shard.entries, found->second);
    shard.index.erase(found);
  }
  while (!shard.entries.empty() && shard.bytes + cost > shard_bytes_) {
    const Entry& oldest = shard.entries.back();
    const std::size_t freed = Cost(oldest);
    shard.index.erase(oldest.key);
    dropped.entries.splice(dropped.entries.end(), shard.entries, std::prev(shard.entries.end()));
    shard.bytes -= freed;
    bytes_.fetch_sub(freed, std::memory_order_relaxed);
    entries_.fetch_sub(1, std::memory_order_relaxed);
    evictions_.fetch_add(1, std::memory_order_relaxed);
  }
  shard.entries.splice(shard.entries.begin(), node);
  shard.index.emplace(shard.entries.front().key, shard.entries.begin());
  shard.bytes += cost;
  bytes_.fetch_add(cost, std::memory_order_relaxed);
  entries_.fetch_add(1, std::memory_order_relaxed);
}

ReplyCache::Figures ReplyCache::Read() const {
  Figures figures;
  figures.hits = hits_.load(std::memory_order_relaxed);
  figures.misses = misses_.load(std::memory_order_relaxed);
  figures.evictions = evictions_.load(std::memory_order_relaxed);
  figures.dropped = dropped_.load(std::memory_order_relaxed);
  figures.bytes = bytes_.load(std::memory_order_relaxed);
  figures.entries = entries_.load(std::memory_order_relaxed);
  figures.max_bytes = max_bytes_;
  return figures;
}

}  // namespace service
