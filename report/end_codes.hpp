// What each end code of a failed trial means, in words, for the check of one trial.
#pragma once

#include <string_view>

namespace lyap {

// The meaning of end code 1..9; empty for any other value.
std::string_view end_code_meaning(long code);

}  // namespace lyap
