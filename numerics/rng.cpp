#include <cstring>

#include "numerics/numerics.hpp"

namespace lyap {

namespace {

// splitmix64 (Steele, Lea and Flood): a bijective mix, so distinct seeds give distinct
// generator states, and four consecutive outputs are never all zero.
std::uint64_t splitmix64(std::uint64_t& state) {
  std::uint64_t z = (state += 0x9e3779b97f4a7c15ULL);
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
  return z ^ (z >> 31);
}

}  // namespace

Rng make_rng(long double seed) {
  // Only the ten bytes of the extended format carry the value (significand, then sign and
  // exponent); the rest of the object is padding whose contents are unspecified.
  static_assert(sizeof(long double) >= 10);
  std::uint64_t significand = 0;
  std::uint16_t sign_exponent = 0;
  std::memcpy(&significand, &seed, sizeof significand);
  std::memcpy(&sign_exponent, reinterpret_cast<const unsigned char*>(&seed) + 8,
              sizeof sign_exponent);

  std::uint64_t state = significand;
  std::uint64_t mixed = splitmix64(state) ^ sign_exponent;
  Rng rng;
  for (std::uint64_t& word : rng.s) word = splitmix64(mixed);
  return rng;
}

}  // namespace lyap
