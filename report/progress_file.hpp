// The progress data file: how the complexity budget falls over the run time, and the run
// clock that times it.
#pragma once

#include <cstdio>
#include <string>

#include "platform/clock.hpp"
#include "platform/files.hpp"

namespace lyap {

// The run clock. Intervals are measured on the monotonic clock, so midnight and runs of many
// days need no correction; each interval is rounded to whole seconds from the rounded
// previous mark.
struct RunClock {
  // 64 bits on every system (long is 32 on Windows), so the clock saturates at the same value
  // on all of them.
  long long last_timer = 0;  // the last mark, whole seconds
  long long tick_s = 0;      // seconds between the last two marks
  long long elapsed_s = 0;   // run time at the last record
};

// Replaces the file (whatever lay under its name but a folder) by one holding the record
// (0, max_digit_sum), then marks the clock.
WriteOutcome start_progress_file(const std::string& path, long max_digit_sum, RunClock& clock,
                                 Clock& time);
// Advances the run clock and appends the record (elapsed_s, max_digit_sum). The clock
// advances even when the file cannot be written.
WriteOutcome append_progress(const std::string& path, long max_digit_sum, RunClock& clock,
                             Clock& time);
// The two halves of append_progress, for a caller with work between them.
void advance_run_clock(RunClock& clock, Clock& time);
WriteOutcome append_progress_record(const std::string& path, long long elapsed_s,
                                    long max_digit_sum);
// The run time now: elapsed_s and the time since the last mark, the clock left as it is.
long long run_time_now(const RunClock& clock, Clock& time);
// A search that continues: its run time goes on from elapsed_s, marked now.
void resume_run_clock(RunClock& clock, long long elapsed_s, Clock& time);

// Reading the file back at the end of the run.
struct ProgressReader {
  std::FILE* file = nullptr;  // null: failed to open, counts as at its end
  ProgressReader(const ProgressReader&) = delete;
  ProgressReader& operator=(const ProgressReader&) = delete;
  explicit ProgressReader(const std::string& path);
  ~ProgressReader();
};
bool progress_at_end(ProgressReader& reader);

// The file read through: how many records it holds and the last of them.
struct ProgressSummary {
  bool readable = false;
  long long records = 0;
  long double last_time_s = 0;
  long double last_value = 0;
};
ProgressSummary summarise_progress(const std::string& path);
// Reads one record: two numbers in file order (elapsed seconds, then complexity). A number
// is the text up to the next space, comma, CR or end of file (tabs and LF inside dropped),
// read as far as it forms a decimal number ([sign] digits [. digits] [E [sign] digits]): no
// number at all, "nan", "inf" and the like read as 0, and a number too large for the extended
// range reads as an infinity. Any bytes give numbers, never NaN; the caller saturates them
// when it stores them into integers.
void read_progress_record(ProgressReader& reader, long double& time_s, long double& value);

}  // namespace lyap
