#include <windows.h>

#include <algorithm>
#include <string>

#include "platform/program_name.hpp"
#include "platform/text_win32.hpp"

namespace lyap {

namespace {

constexpr std::string_view kFallbackName = "lyapsearch";

std::wstring executable_path() {
  // Long paths can exceed MAX_PATH; the name is cut to fit when the buffer is too small.
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) {
      path.resize(n);
      return path;
    }
    if (path.size() >= 32768) return {};
    path.resize(path.size() * 2);
  }
}

// Windows separates folders with either slash.
std::string base_name_on_windows(std::string path) {
  std::replace(path.begin(), path.end(), '\\', '/');
  return base_name_of(path);
}

}  // namespace

std::string program_base_name(const char* argv0) {
  std::string name = base_name_on_windows(narrow_path(executable_path()));
  if (name.empty() && argv0 != nullptr) name = base_name_on_windows(argv0);
  if (name.empty()) name = kFallbackName;
  return name;
}

}  // namespace lyap
