#include "platform/program_name.hpp"

#include <unistd.h>

#include <array>

namespace lyap {

namespace {

constexpr std::string_view kFallbackName = "lyapsearch";

// The kernel appends this to the link of an executable that was replaced or removed while
// running (an upgrade under a running program); the file name is still the one we want.
constexpr std::string_view kDeletedSuffix = " (deleted)";

std::string executable_path() {
  std::array<char, 4096> buffer;
  const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
  // A result that fills the buffer may be truncated: better the caller's argv0 than half a name.
  if (n <= 0 || static_cast<size_t>(n) >= buffer.size()) return {};
  std::string path(buffer.data(), static_cast<size_t>(n));
  if (path.ends_with(kDeletedSuffix)) path.resize(path.size() - kDeletedSuffix.size());
  return path;
}

}  // namespace

std::string program_base_name(const char* argv0) {
  std::string name = base_name_of(executable_path());
  if (name.empty() && argv0 != nullptr) name = base_name_of(argv0);
  if (name.empty()) name = kFallbackName;
  return name;
}

}  // namespace lyap
