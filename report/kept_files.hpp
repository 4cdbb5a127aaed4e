// Earlier files kept aside under dated names instead of being replaced: the results of an
// earlier search, and the progress and state of a search that cannot be continued.
#pragma once

#include <string>

#include "platform/files.hpp"

namespace lyap {

// base_name-yyyy-mm-dd-hhmmss.extension, from the time given; copy 2, 3, ... get "-2", "-3"
// after the time, for when that name is taken.
std::string kept_name(const std::string& base_name, const LocalTime& modified, int copy,
                      const std::string& extension);
inline constexpr int max_kept_copies = 1000;

struct KeptAside {
  std::string name;     // where the file went; empty when it did not move
  std::string failure;  // why it did not move
};
// Moves base_name.extension (whatever lies under the name: a link moves itself) to the first
// free kept_name from its modification time. Nothing is ever replaced.
KeptAside keep_aside(const std::string& base_name, const std::string& extension);

}  // namespace lyap
