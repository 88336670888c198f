#include "service/text/keyed_hash.h"

#include <bit>
#include <cstring>
#include <random>

namespace service {

namespace {

std::uint64_t ReadLittleEndian(const unsigned char* bytes, std::size_t count) {
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < count; ++i) value |= std::uint64_t{bytes[i]} << (8 * i);
  return value;
}

struct State {
  std::uint64_t v0, v1, v2, v3;

  void Round() {
    v0 += v1;
    v1 = std::rotl(v1, 13);
    v1 ^= v0;
    v0 = std::rotl(v0, 32);
    v2 += v3;
    v3 = std::rotl(v3, 16);
    v3 ^= v2;
    v0 += v3;
    v3 = std::rotl(v3, 21);
    v3 ^= v0;
    v2 += v1;
    v1 = std::rotl(v1, 17);
    v1 ^= v2;
    v2 = std::rotl(v2, 32);
  }

  void Absorb(std::uint64_t m) {
    v3 ^= m;
    Round();
    Round();
    v0 ^= m;
  }
};

}  // namespace

KeyedHash::KeyedHash() {
  std::random_device random;
  for (std::uint64_t& half : key_) {
    half = (std::uint64_t{random()} << 32) ^ random();
  }
}

std::uint64_t KeyedHash::operator()(std::string_view text) const {
  State s{key_[0] ^ 0x736f6d6570736575ULL, key_[1] ^ 0x646f72616e646f6dULL,
          key_[0] ^ 0x6c7967656e657261ULL, key_[1] ^ 0x7465646279746573ULL};
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t whole = text.size() / 8 * 8;
  for (std::size_t at = 0; at < whole; at += 8) s.Absorb(ReadLittleEndian(bytes + at, 8));
  const std::uint64_t last =
      (std::uint64_t{text.size() & 0xFF} << 56) | ReadLittleEndian(bytes + whole, text.size() - whole);
  s.Absorb(last);
  s.v2 ^= 0xFF;
  for (int i = 0; i < 4; ++i) s.Round();
  return s.v0 ^ s.v1 ^ s.v2 ^ s.v3;
}

}  // namespace service
