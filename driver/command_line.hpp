// The command line, read once into plain options before anything runs. With no argument the
// program searches; options make the search reproducible or of a fixed size, check one trial,
// or show where the searches in some folders stand. Asking about the program, and every refusal,
// is a text and an exit status only: given before anything is set up, it touches no file,
// lock, window or console.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "numerics/numerics.hpp"
#include "report/state_file.hpp"

namespace lyap {

// What the build is, for --version.
struct BuildInfo {
  std::string_view version;   // the CMake project version, X.Y.Z
  std::string_view commit;    // empty when the build was not made from a git checkout
  bool library_trig = false;  // the C library's sine and cosine (a reference build)
};

// How a search is run.
struct SearchOptions {
  std::optional<std::uint64_t> seed;   // the generator's seed; from the time of day without it
  std::optional<std::int64_t> trials;  // finish once the search has counted this many trials
  std::optional<P1Setting> p1;         // the model's own p1 (1.000136) without it
};

// One trial run on its own: p(3..5) and the start, exactly as the draw gives them for their
// texts, and a bitmap to save its phase portrait in (none when empty).
struct CheckOptions {
  Params p{};  // p(1) is the model's own unless --p1 gives another
  State x_start{};
  std::string picture;
};

struct CommandLine {
  enum class Action {
    search,  // search in the current folder
    check,   // run one trial
    status,  // show the searches in `folders`
    answer,  // print `text` and exit with `status`
  } action = Action::search;
  SearchOptions search;
  CheckOptions check;
  std::vector<std::string> folders;  // for status; none means the current folder
  std::string text;
  bool to_stderr = false;
  int status = 0;
};

// The largest --trials: counts stay exact in every format the program keeps them in.
inline constexpr std::int64_t most_trials = std::int64_t{1} << 53;

// `argv` as main has it, the program's own name first; `name` is the executable's base name:
// the files are named after it, and the texts say it as the user would type it. A bad command
// line is refused with one line on stderr and status 2.
CommandLine read_command_line(std::string_view name, std::span<const char* const> argv,
                              const BuildInfo& build);

std::string usage_text(std::string_view name);
std::string version_line(const BuildInfo& build);

}  // namespace lyap
