#include "report/progress_file.hpp"

#include <array>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <utility>

#include "numerics/numerics.hpp"
#include "platform/files.hpp"
#include "report/text_out.hpp"

namespace lyap {

namespace {

std::string progress_record(long long elapsed_s, long max_digit_sum) {
  TextOut out;
  write_number(out, static_cast<long double>(elapsed_s));
  write_zone(out);
  write_number(out, static_cast<long double>(max_digit_sum));
  write_line_end(out);
  return out.bytes;
}

long long rounded_seconds(long double t) {
  return round_to_long(t);
}

long long saturating_add(long long a, long long b) {
  long long sum;
  if (__builtin_add_overflow(a, b, &sum)) {
    return b > 0 ? std::numeric_limits<long long>::max() : std::numeric_limits<long long>::min();
  }
  return sum;
}

// The longest leading part of a text that reads as a decimal number ([sign] digits [. digits]
// [E [sign] digits]), fed one character at a time. It keeps the first significant digits and
// the position of the point, not the text, so a number of any length takes bounded memory and
// keeps its magnitude. No number at all reads as 0; "nan", "inf" and hex are not numbers here.
class DecimalText {
 public:
  void feed(char c) {
    const bool digit = c >= '0' && c <= '9';
    switch (state_) {
      case State::start:
        state_ = State::integer;
        if (c == '+' || c == '-') {
          negative_ = c == '-';
          return;
        }
        [[fallthrough]];
      case State::integer:
        if (digit) return add_digit(c, true);
        if (c == '.') {
          state_ = State::fraction;
          return;
        }
        return exponent_or_done(c);
      case State::fraction:
        if (digit) return add_digit(c, false);
        return exponent_or_done(c);
      case State::exponent_start:
        if (c == '+' || c == '-') {
          exponent_negative_ = c == '-';
          state_ = State::exponent_sign;
          return;
        }
        [[fallthrough]];
      case State::exponent_sign:
      case State::exponent:
        if (!digit) {
          state_ = State::done;
          return;
        }
        state_ = State::exponent;
        // Anything past this overflows or underflows every extended value anyway.
        if (exponent_ < exponent_cap) exponent_ = exponent_ * 10 + (c - '0');
        return;
      case State::done:
        return;
    }
  }

  long double value() const {
    if (n_kept_ == 0) return 0;
    long long exp10 = point_ + (exponent_negative_ ? -exponent_ : exponent_);
    if (exp10 > exponent_cap) exp10 = exponent_cap;
    if (exp10 < -exponent_cap) exp10 = -exponent_cap;
    std::array<char, max_kept + 32> text{};
    std::size_t n = 0;
    if (negative_) text[n++] = '-';
    text[n++] = '.';
    for (std::size_t i = 0; i < n_kept_; ++i) text[n++] = kept_[i];
    text[n++] = 'e';
    const std::string exponent_text = std::to_string(exp10);
    for (const char c : exponent_text) text[n++] = c;
    return std::strtold(text.data(), nullptr);
  }

 private:
  enum class State { start, integer, fraction, exponent_start, exponent_sign, exponent, done };
  // More significant digits than the 64-bit significand can tell apart.
  static constexpr std::size_t max_kept = 40;
  static constexpr long long exponent_cap = 1'000'000;

  void add_digit(char c, bool integer_part) {
    if (c == '0' && n_kept_ == 0 && !seen_significant_) {
      if (!integer_part) --point_;  // a zero between the point and the first digit
      return;
    }
    seen_significant_ = true;
    if (integer_part) ++point_;
    if (n_kept_ < max_kept) kept_[n_kept_++] = c;
  }
  void exponent_or_done(char c) {
    state_ = c == 'e' || c == 'E' ? State::exponent_start : State::done;
  }

  State state_ = State::start;
  bool negative_ = false;
  bool exponent_negative_ = false;
  bool seen_significant_ = false;
  std::array<char, max_kept> kept_{};
  std::size_t n_kept_ = 0;
  long long point_ = 0;  // the value is 0.kept x 10^(point + exponent)
  long long exponent_ = 0;
};

int peek(std::FILE* file) {
  const int c = std::getc(file);
  if (c != EOF) std::ungetc(c, file);
  return c;
}

long double read_number(std::FILE* file) {
  if (file == nullptr) return 0;
  int c;
  while ((c = std::getc(file)) == ' ') {
  }
  DecimalText number;
  for (; c != EOF && c != ' ' && c != ',' && c != '\r'; c = std::getc(file)) {
    if (c != '\t' && c != '\n') number.feed(static_cast<char>(c));
  }
  if (c != EOF) std::ungetc(c, file);
  while ((c = std::getc(file)) == ' ' || c == '\t' || c == '\n') {
  }
  if (c == '\r') {
    if (peek(file) == '\n') std::getc(file);
  } else if (c != ',' && c != EOF) {
    std::ungetc(c, file);
  }
  return number.value();
}

}  // namespace

WriteOutcome start_progress_file(const std::string& path, long max_digit_sum, RunClock& clock,
                                 Clock& time) {
  WriteOutcome written = replace_file(path, progress_record(0, max_digit_sum));
  clock.last_timer = rounded_seconds(time.monotonic_s());
  clock.elapsed_s = 0;
  return written;
}

void advance_run_clock(RunClock& clock, Clock& time) {
  // Each interval runs from the rounded previous mark, so no interval's rounding is carried
  // into the next; on the monotonic clock an interval is never negative and may span days.
  const long double t1 = time.monotonic_s();
  clock.tick_s = rounded_seconds(t1 - static_cast<long double>(clock.last_timer));
  clock.last_timer = rounded_seconds(time.monotonic_s());
  clock.elapsed_s = saturating_add(clock.elapsed_s, clock.tick_s);
}

long long run_time_now(const RunClock& clock, Clock& time) {
  const long double since = time.monotonic_s() - static_cast<long double>(clock.last_timer);
  return saturating_add(clock.elapsed_s, rounded_seconds(since));
}

void resume_run_clock(RunClock& clock, long long elapsed_s, Clock& time) {
  clock.last_timer = rounded_seconds(time.monotonic_s());
  clock.tick_s = 0;
  clock.elapsed_s = elapsed_s;
}

WriteOutcome append_progress_record(const std::string& path, long long elapsed_s,
                                    long max_digit_sum) {
  const LockedFile file = open_locked(path, OpenMode::append);
  return outcome_of(write_once(file, progress_record(elapsed_s, max_digit_sum)));
}

WriteOutcome append_progress(const std::string& path, long max_digit_sum, RunClock& clock,
                             Clock& time) {
  advance_run_clock(clock, time);
  return append_progress_record(path, clock.elapsed_s, max_digit_sum);
}

ProgressReader::ProgressReader(const std::string& path) {
  file = into_stream(open_locked(path, OpenMode::read));
}

ProgressReader::~ProgressReader() {
  if (file != nullptr) std::fclose(file);
}

bool progress_at_end(ProgressReader& reader) {
  return reader.file == nullptr || peek(reader.file) == EOF;
}

void read_progress_record(ProgressReader& reader, long double& time_s, long double& value) {
  time_s = read_number(reader.file);
  value = read_number(reader.file);
}

ProgressSummary summarise_progress(const std::string& path) {
  ProgressReader reader(path);
  ProgressSummary summary;
  summary.readable = reader.file != nullptr;
  while (!progress_at_end(reader)) {
    read_progress_record(reader, summary.last_time_s, summary.last_value);
    ++summary.records;
  }
  return summary;
}

}  // namespace lyap
