#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace service {

// SipHash-2-4 of a text under a key drawn at random when the hash is made:
// where clients choose the texts (kept replies by search text), they cannot
// choose texts that all land in one bucket, as they can with an unkeyed
// hash whose seed is fixed. Copies share the key; calls are const and safe
// on any thread.
class KeyedHash {
 public:
  // A key from std::random_device.
  KeyedHash();
  // A given key (tests: the reference vectors).
  explicit KeyedHash(const std::array<std::uint64_t, 2>& key) : key_(key) {}

  std::uint64_t operator()(std::string_view text) const;

 private:
  std::array<std::uint64_t, 2> key_;
};

}  // namespace service
