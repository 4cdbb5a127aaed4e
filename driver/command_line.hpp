// The command line. With no argument the program searches; it also answers --help and
// --version, and refuses anything else. The answers are texts and an exit status only: they are
// given before the search is set up, so asking about the program touches no file, lock, window
// or console.
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace lyap {

// What the build is, for --version.
struct BuildInfo {
  std::string_view version;   // the CMake project version, X.Y.Z
  std::string_view commit;    // empty when the build was not made from a git checkout
  bool library_trig = false;  // the C library's sine and cosine (a reference build)
};

// What the command line asks for: a search, or a text and an exit status instead of one.
struct CommandLineAnswer {
  bool search = false;
  bool to_stderr = false;
  std::string text;
  int status = 0;
};

// `argv` as main has it, the program's own name first; `name` is the executable's base name:
// the files are named after it, and the texts say it as the user would type it. Every argument
// must be one the program takes: the first unknown one is refused (status 2), otherwise the
// first one decides.
CommandLineAnswer answer_command_line(std::string_view name, std::span<const char* const> argv,
                                      const BuildInfo& build);

std::string usage_text(std::string_view name);
std::string version_line(const BuildInfo& build);

}  // namespace lyap
