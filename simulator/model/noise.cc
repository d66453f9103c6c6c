#include "noise.h"

#include <cmath>

namespace varno::sim {
namespace {

// splitmix64's finaliser: a cheap, well-mixed hash of 64 bits.
std::uint64_t Mix(std::uint64_t x) {
  x += 0x9e3779b97f4a7c15ull;
  x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ull;
  x = (x ^ (x >> 27)) * 0x94d049bb133111ebull;
  return x ^ (x >> 31);
}

std::uint64_t HashName(std::string_view name) {  // FNV-1a
  std::uint64_t h = 0xcbf29ce484222325ull;
  for (unsigned char c : name) h = (h ^ c) * 0x100000001b3ull;
  return h;
}

}  // namespace

double NoiseSample(std::uint64_t seed, std::string_view signal, double seconds) {
  double ms = std::floor(seconds * 1000.0);
  // Out-of-range times (never met in practice) share one sample rather than
  // converting an unrepresentable double to an integer.
  std::int64_t tick = std::isfinite(ms) && std::fabs(ms) < 9e18 ? static_cast<std::int64_t>(ms) : 0;
  std::uint64_t x = Mix(Mix(seed) ^ HashName(signal) ^ Mix(static_cast<std::uint64_t>(tick)));
  return static_cast<double>(x >> 11) * 0x1.0p-52 - 1.0;
}

}  // namespace varno::sim
