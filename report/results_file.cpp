#include "report/results_file.hpp"

#include <array>
#include <cerrno>
#include <string>
#include <utility>

#include <unistd.h>

#include "report/locked_file.hpp"
#include "report/number_format.hpp"
#include "report/text_out.hpp"

namespace lyap {

namespace {

constexpr char line_feed = 10;
constexpr char carriage_return = 13;
constexpr char end_of_text = 26;  // ends a line as CR does

std::string parameter_mask(std::string_view zeros_str) {
  std::string mask = "  0.";
  mask += zeros_str;
  mask += "; -0.";
  mask += zeros_str;
  return mask;
}

// Streams the file once and tells whether any line begins with `key`. Only the first
// key.size() bytes of a line are compared and the rest is skipped as it passes, so a line of
// any length costs no memory.
bool any_line_starts_with(const LockedFile& file, std::string_view key) {
  std::array<char, 65536> buffer;
  bool found = false;
  std::size_t column = 0;  // bytes of the current line seen so far
  bool matching = true;    // the current line agrees with the key so far
  bool after_cr = false;   // a LF here belongs to the CR before it
  const auto end_line = [&] {
    if (matching && column >= key.size()) found = true;
    column = 0;
    matching = true;
  };
  for (;;) {
    const ssize_t got = ::read(file.fd, buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    for (ssize_t i = 0; i < got; ++i) {
      const char byte = buffer[static_cast<std::size_t>(i)];
      if (after_cr) {
        after_cr = false;
        if (byte == line_feed) continue;
      }
      if (byte == carriage_return) {
        end_line();
        after_cr = true;
      } else if (byte == end_of_text) {
        end_line();
      } else {
        if (matching && column < key.size()) matching = byte == key[column];
        if (column < key.size()) ++column;
      }
    }
  }
  end_line();
  return found;
}

}  // namespace

void truncate_file(const std::string& path) {
  open_locked(path, OpenMode::truncate);
}

std::string result_key(const Params& p, long max_digit_sum, std::string_view zeros_str) {
  std::string key;
  for (int i = 1; i <= n_params; ++i) {
    if (p[static_cast<std::size_t>(i)] != 0) key += number_str(i);
  }
  if (key.size() < 2 * n_params) key.append(2 * n_params - key.size(), ' ');
  key += format_number(static_cast<long double>(max_digit_sum), "* #");
  const std::string mask = parameter_mask(zeros_str);
  for (int i = 1; i <= n_params; ++i) key += format_number(p[static_cast<std::size_t>(i)], mask);
  return key;
}

std::string result_line(const Params& p, long max_digit_sum, const State& x_start, long double le,
                        long double le_range, long double div_mean, long n_samples,
                        std::string_view zeros_str, long double invariant_end) {
  TextOut out;
  write_text(out, result_key(p, max_digit_sum, zeros_str));
  write_text(out, format_number(le, "   0.0000;  -0.0000"));
  write_text(out, "\xF1");
  write_text(out, format_number(le_range, "0.0000"));
  write_text(out, format_number(div_mean, "   0.0000;  -0.0000"));
  write_number(out, static_cast<long double>(n_samples) + 1);
  for (int i = 1; i <= n_dims; ++i) write_number(out, x_start[static_cast<std::size_t>(i)]);
  write_number(out, invariant_end);
  write_line_end(out);
  return std::move(out.bytes);
}

void append_result(const std::string& path, const Params& p, long max_digit_sum,
                   const State& x_start, long double le, long double le_range, long double div_mean,
                   long n_samples, std::string_view zeros_str, long double invariant_end) {
  const std::string key = result_key(p, max_digit_sum, zeros_str);
  {
    // A file that cannot be read (missing, or held by another program) holds no match.
    const LockedFile file = open_locked(path, OpenMode::read);
    if (file.is_open() && any_line_starts_with(file, key)) return;
  }
  const LockedFile file = open_locked(path, OpenMode::append);
  write_once(file, result_line(p, max_digit_sum, x_start, le, le_range, div_mean, n_samples,
                               zeros_str, invariant_end));
}

}  // namespace lyap
