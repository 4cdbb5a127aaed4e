// The results text file: one line per distinct parameter set found.
#pragma once

#include <string>
#include <string_view>

#include "numerics/numerics.hpp"
#include "numerics/trial_outcome.hpp"
#include "platform/files.hpp"

namespace lyap {

struct ResultsStart {
  std::string kept_as;   // where the earlier results went; empty when there were none
  std::string not_kept;  // why earlier results could not be kept aside; they stay in the file
  WriteOutcome created;  // the results file, ready for finds
};
// The results file base_name.txt at the start of a search. A new search starts it empty: when
// it held anything, that is first kept beside it as base_name-yyyy-mm-dd-hhmmss.txt (see
// keep_aside). A search that continues keeps a regular file as it is. Either way, anything
// under the name that is not a regular file or a folder (a link moves itself, what it points
// to is left alone) is kept aside, and a new regular file takes its place. If earlier results
// cannot be kept, they stay as they are and new finds follow them.
ResultsStart start_results_file(const std::string& base_name, bool continuing = false);

// Appends the result line unless a line of the file already begins with its key (index list,
// complexity and parameters): then it writes nothing (skipped). When the file's last line has
// no line end (text added by hand or by another program), the line starts with one, so every
// find starts a line of its own. Opened under an exclusive lock taken without waiting; a file
// that cannot be opened is not written (failed).
WriteOutcome append_result(const std::string& path, const TrialOutcome& found, long max_digit_sum,
                           std::string_view zeros_str, long double invariant_end);

// The line's key and the full line (with CR LF), as append_result writes them.
std::string result_key(const Params& p, long max_digit_sum, std::string_view zeros_str);
std::string result_line(const TrialOutcome& found, long max_digit_sum, std::string_view zeros_str,
                        long double invariant_end);

}  // namespace lyap
