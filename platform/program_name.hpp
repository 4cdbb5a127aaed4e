#pragma once

#include <string>
#include <string_view>

namespace lyap {

// The running executable's file name without directory and extension (from /proc/self/exe,
// falling back to argv0). It names the output files and titles both windows.
std::string program_base_name(const char* argv0);

// The file name in `path` without its directory and its last extension: "/usr/bin/a.b.exe"
// gives "a.b". A name without an extension, or whose only dot is its first character
// (".hidden"), is kept whole. Empty when `path` names no file (empty, or ends in '/').
std::string base_name_of(std::string_view path);

}  // namespace lyap
