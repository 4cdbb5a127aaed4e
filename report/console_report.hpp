// The console log of the search: a yellow digit per failed trial, and for every success a
// result line and a complexity line.
#pragma once

#include <string>
#include <string_view>

#include "numerics/numerics.hpp"
#include "numerics/trial_outcome.hpp"
#include "platform/console.hpp"
#include "report/state_file.hpp"

namespace lyap {

inline constexpr int colour_failure = 14;     // yellow
inline constexpr int colour_result = 15;      // bright white
inline constexpr int colour_complexity = 11;  // bright cyan
inline constexpr int colour_warning = 12;     // light red

void console_print_number(Console& console, long double value);  // number_text of the value

// One line "file: reason" in light red; the colour in force before comes back after it. The
// file's name and the reason are the system's text (ASCII words of the program's own may be
// part of the reason).
void report_write_failure(Console& console, std::string_view file, std::string_view reason);
// The lines for the end of a search: how many trials ended with each code, and the closest
// approach to a find (the highest lower band edge le - le_range / le_band_divisor any check
// reached) with its parameters and start, and the command (`program` --check ...) that runs
// that trial again.
void report_search_summary(Console& console, const Tally& tally, const ClosestApproach& closest,
                           std::string_view program);
// A lower band edge in fixed notation with six decimals, as "-0.001682".
std::string band_edge_text(long double edge);
// One line of the program's text, then a name from the system, in the colour in force.
void report_line(Console& console, std::string_view text, std::string_view name = {});

// The end code of a failed trial as one yellow digit, no line end.
void report_failure(Console& console, long step);
// Ends the row of end-code digits.
void report_success_start(Console& console);
// One beep and a 500 ms pause for each integer from max_digit_sum to prev_digit_sum.
void success_signal(Console& console, long max_digit_sum, long prev_digit_sum);
// The result line (bright white) and the complexity line (bright cyan).
void report_success_lines(Console& console, std::int64_t n_found, const TrialOutcome& found,
                          std::string_view zeros_str, long double invariant_end,
                          long max_digit_sum);

}  // namespace lyap
