// The reply cache: which requests share a kept reply, its byte bound, and
// that a newer world's replies are never mixed with an older one's.

#include <gtest/gtest.h>

#include <atomic>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "service/answer/reply_cache.h"
#include "service/answer/request_handler.h"
#include "service/text/keyed_hash.h"

using namespace std::string_literals;

namespace {

using service::ReplyCache;
using service::RequestHandler;

TEST(ReplyCacheTest, RequestsWithTheSameAnswerShareAKey) {
  struct Case {
    std::string action_a, value_a, action_b, value_b;
    bool shared;
  };
  const std::vector<Case> cases = {
      {"search", "Kar", "search", "kar ", true},
      {"search", "Kar", "search", "KAR", true},
      {"search", " kar  crypt", "search", "Kar Crypt", true},
      {"search", "Caf\xC3\xA9", "search", "Cafe\xCC\x81", true},  // composed, decomposed
      {"get", "Karst Mine", "get", " karst mine", true},
      {"more", "Caf\xC3\xA9", "more", "CAFE\xCC\x81", true},
      {"search", "kar crypt", "search", "karcrypt", false},
      {"search", "kar", "get", "kar", false},
      {"get", "kar", "more", "kar", false},
      // A destination is found by its name as written, blanks included.
      {"get", "Karst  Mine", "get", "Karst Mine", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.action_a + " " + c.value_a + " / " + c.action_b + " " + c.value_b);
    const auto a = RequestHandler::CacheKey(c.action_a, c.value_a);
    const auto b = RequestHandler::CacheKey(c.action_b, c.value_b);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(*a == *b, c.shared);
  }
  EXPECT_FALSE(RequestHandler::CacheKey("delete", "kar"));
}

TEST(ReplyCacheTest, KeepsWithinItsBoundAndOnlyTheNewestWorld) {
  const std::string reply(1000, 'x');
  ReplyCache cache(64 * 1024);
  for (int i = 0; i < 2000; ++i) cache.Insert(1, "search\n" + std::to_string(i % 10), reply);
  for (int i = 0; i < 2000; ++i) cache.Insert(1, "get\n" + std::to_string(i), reply);
  ReplyCache::Figures figures = cache.Read();
  EXPECT_LE(figures.bytes, 64u * 1024);
  EXPECT_GT(figures.bytes, 64u * 1024 / 2);
  EXPECT_GT(figures.evictions, 0u);
  // The newest are kept, the oldest went first.
  EXPECT_TRUE(cache.Find(1, "get\n1999"));
  EXPECT_FALSE(cache.Find(1, "get\n0"));

  // A reply larger than one shard's share is not kept at all.
  cache.Insert(1, "search\nhuge", std::string(64 * 1024, 'y'));
  EXPECT_FALSE(cache.Find(1, "search\nhuge"));

  // World 2 drops every entry of world 1 at once; world 1 is no longer
  // found nor kept.
  cache.Insert(2, "get\nnew", "world 2");
  figures = cache.Read();
  EXPECT_EQ(figures.entries, 1u);
  EXPECT_GT(figures.dropped, 0u);
  EXPECT_FALSE(cache.Find(1, "get\nnew"));
  cache.Insert(1, "get\nold", "world 1");
  EXPECT_FALSE(cache.Find(2, "get\nold"));
  EXPECT_EQ(cache.Find(2, "get\nnew"), "world 2");

  ReplyCache off(0);
  off.Insert(1, "get\nnew", "world 1");
  EXPECT_FALSE(off.Find(1, "get\nnew"));
  EXPECT_EQ(off.Read().misses, 0u);
}

// Threads keep and find replies while the world moves on: a reply found is
// always the asking world's, and the bound holds throughout.
TEST(ReplyCacheTest, ThreadsNeverSeeAnOlderWorldsReply) {
  ReplyCache cache(32 * 1024);
  std::atomic<std::uint64_t> world{1};
  std::atomic<bool> stop{false};
  std::atomic<int> wrong{0};
  std::atomic<int> over{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; !stop; ++i) {
        const std::uint64_t now = world.load();
        const std::string key = "search\n" + std::to_string((i * 7 + t) % 300);
        if (const std::optional<std::string> found = cache.Find(now, key)) {
          if (std::stoull(*found) != now) ++wrong;
        } else {
          cache.Insert(now, key, std::to_string(now) + std::string(200, ' '));
        }
        if (cache.Read().bytes > 32 * 1024) ++over;
      }
    });
  }
  for (int w = 2; w < 200; ++w) {
    std::this_thread::sleep_for(std::chrono::microseconds(500));
    world = static_cast<std::uint64_t>(w);
  }
  stop = true;
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(over, 0);
  EXPECT_GT(cache.Read().hits, 0u);
}

}  // namespace

namespace {

// SipHash-2-4's reference vectors (key 00..0F; messages 00.., of length 0,
// 7, 8 and 15): a wrong round or byte order changes them.
TEST(KeyedHashTest, MatchesTheReferenceVectors) {
  const service::KeyedHash hash({0x0706050403020100ULL, 0x0F0E0D0C0B0A0908ULL});
  const std::string message = "\x00\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0A\x0B\x0C\x0D\x0E"s;
  EXPECT_EQ(hash(message.substr(0, 0)), 0x726FDB47DD0E0E31ULL);
  EXPECT_EQ(hash(message.substr(0, 7)), 0xAB0200F58B01D137ULL);
  EXPECT_EQ(hash(message.substr(0, 8)), 0x93F5F5799A932462ULL);
  EXPECT_EQ(hash(message.substr(0, 15)), 0xA129CA6149BE45E5ULL);
  EXPECT_NE(service::KeyedHash()("kar"), service::KeyedHash()("kar"));
}

}  // namespace
