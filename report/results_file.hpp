// The results text file: one line per distinct parameter set found.
#pragma once

#include <string>
#include <string_view>

#include "numerics/numerics.hpp"

namespace lyap {

// Creates the file empty, truncating what it held. Failures are silent.
void truncate_file(const std::string& path);

// Appends the result line unless a line of the file already begins with its key (index list,
// complexity and parameters). Opened under an exclusive lock taken without waiting; a file
// that cannot be opened is skipped silently.
void append_result(const std::string& path, const Params& p, long max_digit_sum,
                   const State& x_start, long double le, long double le_range, long double div_mean,
                   long n_samples, std::string_view zeros_str, long double invariant_end);

// The line's key and the full line (with CR LF), as append_result writes them.
std::string result_key(const Params& p, long max_digit_sum, std::string_view zeros_str);
std::string result_line(const Params& p, long max_digit_sum, const State& x_start, long double le,
                        long double le_range, long double div_mean, long n_samples,
                        std::string_view zeros_str, long double invariant_end);

}  // namespace lyap
