#include "report/results_file.hpp"

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>

#include "platform/files.hpp"
#include "report/kept_files.hpp"
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

struct Scan {
  bool found = false;      // a line begins with the key
  bool open_line = false;  // the file's last line has no CR LF
};

// Streams the file once and tells whether any line begins with `key`. Only the first
// key.size() bytes of a line are compared and the rest is skipped as it passes, so a line of
// any length costs no memory.
Scan scan_lines(const LockedFile& file, std::string_view key) {
  std::array<char, 65536> buffer;
  bool found = false;
  std::uintmax_t size = 0;
  char last = 0, before_last = 0;
  std::size_t column = 0;  // bytes of the current line seen so far
  bool matching = true;    // the current line agrees with the key so far
  bool after_cr = false;   // a LF here belongs to the CR before it
  const auto end_line = [&] {
    if (matching && column >= key.size()) found = true;
    column = 0;
    matching = true;
  };
  for (;;) {
    const std::size_t got = read_some(file, buffer.data(), buffer.size());
    if (got == 0) break;
    size += got;
    before_last = got > 1 ? buffer[got - 2] : last;
    last = buffer[got - 1];
    for (std::size_t i = 0; i < got; ++i) {
      const char byte = buffer[i];
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
  return {found, size > 0 && !(before_last == carriage_return && last == line_feed)};
}

}  // namespace

ResultsStart start_results_file(const std::string& base_name, bool continuing) {
  const std::string path = base_name + ".txt";
  ResultsStart start;
  const FileFacts facts = look_at_file(path);
  // Earlier finds, and whatever else lies under the name but a folder, move aside before the
  // file is emptied: a link moves itself, so nothing is written through it.
  const bool earlier =
      facts.regular ? facts.size > 0 && !continuing : facts.exists && !facts.folder;
  if (earlier) {
    const KeptAside kept = keep_aside(base_name, "txt");
    if (kept.name.empty()) {
      start.not_kept = kept.failure;
      // The earlier results stay, and new finds go after them: the file is opened as for
      // a find, to tell whether that will work.
      start.created = outcome_of(open_locked(path, OpenMode::append).failure);
      return start;
    }
    start.kept_as = kept.name;
  }
  const LockedFile file = open_locked(path, continuing ? OpenMode::append : OpenMode::truncate);
  start.created = outcome_of(file.failure);
  return start;
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

std::string result_line(const TrialOutcome& found, long max_digit_sum, std::string_view zeros_str,
                        long double invariant_end) {
  TextOut out;
  write_text(out, result_key(found.p, max_digit_sum, zeros_str));
  write_text(out, format_number(found.le, "   0.0000;  -0.0000"));
  write_text(out, "\xF1");
  write_text(out, format_number(found.le_range, "0.0000"));
  write_text(out, format_number(found.div_mean, "   0.0000;  -0.0000"));
  write_number(out, static_cast<long double>(found.n_samples) + 1);
  for (int i = 1; i <= n_dims; ++i) {
    write_number(out, found.x_start[static_cast<std::size_t>(i)]);
  }
  write_number(out, invariant_end);
  write_line_end(out);
  return std::move(out.bytes);
}

WriteOutcome append_result(const std::string& path, const TrialOutcome& found, long max_digit_sum,
                           std::string_view zeros_str, long double invariant_end) {
  const std::string key = result_key(found.p, max_digit_sum, zeros_str);
  Scan scan;
  {
    // A file that cannot be read (missing, or held by another program) holds no match.
    const LockedFile file = open_locked(path, OpenMode::read);
    if (file.is_open()) scan = scan_lines(file, key);
    if (scan.found) return {};
  }
  std::string line = result_line(found, max_digit_sum, zeros_str, invariant_end);
  // The foreign text keeps its line; the find gets its own. One write, so it stays whole.
  if (scan.open_line) line.insert(0, "\r\n");
  const LockedFile file = open_locked(path, OpenMode::append);
  return outcome_of(write_once(file, line));
}

}  // namespace lyap
