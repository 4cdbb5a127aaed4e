// The names of replace_file's temporaries, the same on every platform.
#include <atomic>
#include <chrono>

#include "platform/files.hpp"

namespace lyap {

namespace {

constexpr std::string_view kSuffix = ".tmp";
constexpr std::size_t kDrawn = 6;  // characters chosen for each write

constexpr std::string_view kAlphabet =
    "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

bool in_alphabet(char c) {
  return kAlphabet.find(c) != std::string_view::npos;
}

std::uint64_t fresh_draw() {
  // Not secret, only unlikely to repeat: creating the name exclusively is what keeps it ours.
  // The time, a count of the draws and a stack address (which differs between runs) go through
  // splitmix64, so that near inputs give far-apart names.
  static std::atomic<std::uint64_t> count{0};
  const int here = 0;
  std::uint64_t x =
      static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
      (count.fetch_add(1) * 0x9E3779B97F4A7C15ull) ^ reinterpret_cast<std::uintptr_t>(&here);
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

}  // namespace

std::string temporary_name(const std::string& path) {
  std::uint64_t draw = fresh_draw();
  std::string name = path;
  name += '.';
  for (std::size_t i = 0; i < kDrawn; ++i) {
    name += kAlphabet[draw % kAlphabet.size()];
    draw /= kAlphabet.size();
  }
  name += kSuffix;
  return name;
}

bool is_temporary_of(std::string_view name, std::string_view path) {
  if (name.size() < path.size() + kSuffix.size() || !name.starts_with(path) ||
      !name.ends_with(kSuffix)) {
    return false;
  }
  const std::string_view middle =
      name.substr(path.size(), name.size() - path.size() - kSuffix.size());
  if (middle.empty()) return true;  // the fixed name of earlier versions
  if (middle.size() != kDrawn + 1 || middle[0] != '.') return false;
  for (const char c : middle.substr(1)) {
    if (!in_alphabet(c)) return false;
  }
  return true;
}

}  // namespace lyap
