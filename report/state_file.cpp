#include "report/state_file.hpp"

#include "report/real_text.hpp"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <span>
#include <vector>

namespace lyap {

namespace {

constexpr std::size_t largest_state = 1 << 16;  // a sound state is a few hundred bytes

// ---- Values ---------------------------------------------------------------------------------

bool parse_real(std::string_view word, long double& v) {
  if (word.empty() || word.size() > 60) return false;
  const std::string text(word);
  char* end = nullptr;
  v = std::strtold(text.c_str(), &end);
  return end == text.c_str() + text.size() && std::isfinite(v);
}

bool parse_integer(std::string_view word, std::int64_t& v) {
  const char* end = word.data() + word.size();
  const auto [at, error] = std::from_chars(word.data(), end, v);
  return error == std::errc() && at == end && !word.empty() && word[0] != '+';
}

std::vector<std::string_view> words_of(std::string_view text) {
  std::vector<std::string_view> words;
  std::size_t at = 0;
  while ((at = text.find_first_not_of(' ', at)) != std::string_view::npos) {
    const std::size_t end = std::min(text.find(' ', at), text.size());
    words.push_back(text.substr(at, end - at));
    at = end;
  }
  return words;
}

// ---- Calendar (days from 1970-01-01 in the proleptic Gregorian calendar) ------------------

std::int64_t days_from_civil(std::int64_t y, int m, int d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const std::int64_t yoe = y - era * 400;
  const std::int64_t doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void civil_from_days(std::int64_t z, std::int64_t& y, int& m, int& d) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = yoe + era * 400 + (m <= 2);
}

// ---- The fields ---------------------------------------------------------------------------

// The file's lines in order, each a name and its value as text.
using Fields = std::map<std::string, std::string, std::less<>>;

// Reads the values of a field into elements 1..N-1; false unless it holds exactly that many
// finite reals.
template <std::size_t N>
bool parse_reals(std::string_view text, std::array<long double, N>& values) {
  const std::vector<std::string_view> words = words_of(text);
  if (words.size() != N - 1) return false;
  for (std::size_t i = 1; i < N; ++i) {
    if (!parse_real(words[i - 1], values[i])) return false;
  }
  return true;
}

class Reader {
 public:
  explicit Reader(const Fields& fields) : fields_(fields) {}
  const std::string& why() const { return why_; }

  std::string_view text(const char* name) {
    const auto at = fields_.find(name);
    if (at == fields_.end()) {
      fail(std::string("it has no ") + name);
      return {};
    }
    return at->second;
  }
  // An integer within [lo, hi].
  template <typename T>
  void integer(const char* name, T& v, std::int64_t lo, std::int64_t hi) {
    const std::string_view value = text(name);
    std::int64_t n = 0;
    if (!why_.empty()) return;
    if (!parse_integer(value, n)) return fail(std::string(name) + " is damaged");
    if (n < lo || n > hi) {
      return fail(std::string(name) + " " + std::string(value) + " is outside " +
                  std::to_string(lo) + ".." + std::to_string(hi));
    }
    v = static_cast<T>(n);
  }
  template <std::size_t N>
  void reals(const char* name, std::array<long double, N>& values) {
    const std::string_view value = text(name);
    if (why_.empty() && !parse_reals(value, values)) {
      fail(std::string(name) + " does not hold " + std::to_string(N - 1) + " finite numbers");
    }
  }
  void fail(std::string why) {
    if (why_.empty()) why_ = std::move(why);
  }

 private:
  const Fields& fields_;
  std::string why_;
};

// Counts and times stay below 2^53, far beyond any search: their sums are exact and never
// overflow.
constexpr std::int64_t most = (std::int64_t{1} << 53) - 1;

}  // namespace

std::string utc_text(std::int64_t unix_s) {
  const std::int64_t days = (unix_s >= 0 ? unix_s : unix_s - 86399) / 86400;
  const std::int64_t second_of_day = unix_s - days * 86400;
  std::int64_t year = 0;
  int month = 0, day = 0;
  civil_from_days(days, year, month, day);
  char text[64];
  std::snprintf(text, sizeof text, "%04lld-%02d-%02d %02d:%02d:%02d UTC",
                static_cast<long long>(year), month, day, static_cast<int>(second_of_day / 3600),
                static_cast<int>(second_of_day / 60 % 60), static_cast<int>(second_of_day % 60));
  return text;
}

bool parse_utc_text(std::string_view text, std::int64_t& unix_s) {
  // Exactly "dddd-dd-dd dd:dd:dd UTC".
  constexpr std::string_view form = "0000-00-00 00:00:00 UTC";
  if (text.size() != form.size()) return false;
  for (std::size_t i = 0; i < form.size(); ++i) {
    const bool digit = text[i] >= '0' && text[i] <= '9';
    if (form[i] == '0' ? !digit : text[i] != form[i]) return false;
  }
  const auto number = [&](std::size_t at, std::size_t n) {
    int v = 0;
    for (std::size_t i = at; i < at + n; ++i) v = v * 10 + (text[i] - '0');
    return v;
  };
  const int year = number(0, 4), month = number(5, 2), day = number(8, 2);
  const int hour = number(11, 2), minute = number(14, 2), second = number(17, 2);
  if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 59)
    return false;
  unix_s = days_from_civil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
  // An impossible day (30 February) comes back as another one.
  return utc_text(unix_s) == text;
}

std::string state_text(const SearchState& s) {
  std::string text;
  const auto line = [&](const char* name, const std::string& value) {
    text += name;
    text += ": ";
    text += value;
    text += "\r\n";
  };
  line("version", std::to_string(state_format));
  line("seed", std::to_string(s.seed));
  std::string words;
  for (const std::uint64_t word : s.generator) {
    char hex[24];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(word));
    if (!words.empty()) words += ' ';
    words += hex;
  }
  line("generator", words);
  line("p1", s.p1.free ? "free" : shortest_text(s.p1.value));
  line("began", utc_text(s.began_unix_s));
  line("p_centre", shortest_texts(s.p_centre));
  std::string decimals;
  for (int i = 1; i <= n_params; ++i) {
    if (i > 1) decimals += ' ';
    decimals += std::to_string(s.p_decimals[static_cast<std::size_t>(i)]);
  }
  line("p_decimals", decimals);
  line("max_decimals", std::to_string(s.max_decimals));
  line("budget", std::to_string(s.max_digit_sum));
  line("previous_budget", std::to_string(s.prev_digit_sum));
  line("x_centre", shortest_texts(s.x_centre));
  line("trials", std::to_string(s.trials));
  line("finds", std::to_string(s.finds));
  for (int code = 1; code <= 9; ++code) {
    line(("code_" + std::to_string(code)).c_str(),
         std::to_string(s.tally.code[static_cast<std::size_t>(code)]));
  }
  line("chaotic", std::to_string(s.tally.chaotic));
  line("elapsed_s", std::to_string(s.elapsed_s));
  if (s.closest.reached) {
    line("closest_edge", shortest_text(s.closest.edge));
    line("closest_p", shortest_texts(s.closest.p));
    line("closest_x_start", shortest_texts(s.closest.x_start));
  } else {
    line("closest_edge", "none");
    line("closest_p", "none");
    line("closest_x_start", "none");
  }
  text += "end\r\n";
  return text;
}

std::string parse_state(std::string_view text, SearchState& state) {
  // Whole lines, each "name: value", the last one "end": a file cut short anywhere fails here.
  Fields fields;
  bool ended = false;
  int line_no = 0;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    if (end == std::string_view::npos) return "it ends in the middle of a line";
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end + 1);
    ++line_no;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (ended) return "there is more after its end";
    if (line == "end") {
      ended = true;
      continue;
    }
    const std::size_t colon = line.find(": ");
    if (colon == std::string_view::npos || colon == 0) {
      return "line " + std::to_string(line_no) + " is damaged";
    }
    const std::string name(line.substr(0, colon));
    if (!fields.emplace(name, std::string(line.substr(colon + 2))).second) {
      return name + " appears twice";
    }
  }
  if (!ended) return "it is cut short";

  SearchState s;
  Reader read(fields);
  int format = 0;
  read.integer("version", format, 0, most);
  if (read.why().empty() && format != 1 && format != state_format) {
    return "it is of format " + std::to_string(format) + ", not " + std::to_string(state_format);
  }
  if (read.why().empty() && format >= 2) {
    s.has_generator = true;
    if (!read_whole_number(read.text("seed"), s.seed)) read.fail("seed is damaged");
    const std::vector<std::string_view> words = words_of(read.text("generator"));
    bool sound = words.size() == s.generator.size();
    for (std::size_t i = 0; sound && i < words.size(); ++i) {
      sound = words[i].size() == 16 && read_whole_number(words[i], s.generator[i], 16);
    }
    // xoshiro256** never leaves the all-zero state, and never reaches it.
    if (sound && s.generator == std::array<std::uint64_t, 4>{}) sound = false;
    if (read.why().empty() && !sound) read.fail("generator is damaged");
    const std::string_view p1 = read.text("p1");
    if (p1 == "free") {
      s.p1.free = true;
    } else if (read.why().empty() && !(parse_real(p1, s.p1.value) && s.p1.value > 1)) {
      read.fail("p1 is neither free nor a value above 1");
    }
  }
  if (read.why().empty() && !parse_utc_text(read.text("began"), s.began_unix_s)) {
    read.fail("began is damaged");
  }
  read.reals("p_centre", s.p_centre);
  {
    const std::vector<std::string_view> words = words_of(read.text("p_decimals"));
    std::int64_t d = 0;
    if (read.why().empty()) {
      bool sound = words.size() == n_params;
      for (std::size_t i = 0; sound && i < words.size(); ++i) {
        sound = parse_integer(words[i], d) && d >= 0 && d <= 6;
        s.p_decimals[i + 1] = static_cast<long>(d);
      }
      if (!sound) read.fail("p_decimals does not hold five numbers 0..6");
    }
  }
  read.integer("max_decimals", s.max_decimals, 1, 6);
  read.integer("budget", s.max_digit_sum, 0, (3 + 2) * n_params);
  read.integer("previous_budget", s.prev_digit_sum, 0, (3 + 2) * n_params);
  read.reals("x_centre", s.x_centre);
  read.integer("trials", s.trials, 0, most);
  read.integer("finds", s.finds, 0, most);
  for (int code = 1; code <= 9; ++code) {
    const std::string name = "code_" + std::to_string(code);
    read.integer(name.c_str(), s.tally.code[static_cast<std::size_t>(code)], 0, most);
  }
  read.integer("chaotic", s.tally.chaotic, 0, most);
  read.integer("elapsed_s", s.elapsed_s, 0, most);
  if (read.text("closest_edge") != "none") {
    s.closest.reached = true;
    long double edge = 0;
    if (read.why().empty() && !parse_real(read.text("closest_edge"), edge)) {
      read.fail("closest_edge is damaged");
    }
    s.closest.edge = edge;
    read.reals("closest_p", s.closest.p);
    read.reals("closest_x_start", s.closest.x_start);
  } else if (read.text("closest_p") != "none" || read.text("closest_x_start") != "none") {
    read.fail("the closest approach is damaged");
  }
  if (!read.why().empty()) return read.why();
  if (fields.size() != (format >= 2 ? 27u : 24u))
    return "it holds names this program does not know";
  // Every trial has been counted once, and every find was a chaotic trial.
  if (s.tally.total() != s.trials || s.finds > s.tally.chaotic) return "its counts do not add up";
  state = s;
  return {};
}

WriteOutcome write_state_file(const std::string& path, const SearchState& state) {
  return replace_file(path, state_text(state));
}

StateFile read_state_file(const std::string& path) {
  StateFile file;
  file.exists = look_at_file(path).exists;
  const LockedFile in = open_locked(path, OpenMode::read);
  if (!in.is_open()) {
    file.unsound = file.exists ? in.failure : "it is missing";
    return file;
  }
  std::string text;
  std::array<char, 4096> buffer;
  for (std::size_t got; (got = read_some(in, buffer.data(), buffer.size())) > 0;) {
    text.append(buffer.data(), got);
    if (text.size() > largest_state) {
      file.unsound = "it is far too long";
      return file;
    }
  }
  file.unsound = parse_state(text, file.state);
  return file;
}

}  // namespace lyap
