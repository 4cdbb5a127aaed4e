#include "report/number_format.hpp"

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace lyap {

namespace {

constexpr int expansion_digits = 18;

// A positive finite magnitude as 0.d1 d2 ... d18 x 10^e: e is the number of integer digits
// (e <= 0 puts -e zeros between the point and d1). Every digit past the 18th counts as "0",
// and all rounding of the texts looks at these digits, never at the binary value.
struct Expansion {
  std::array<char, expansion_digits> digits{};
  int e = 0;
};

Expansion expand(long double magnitude) {
  // glibc prints long double exactly and rounds the last digit to nearest, so this is the
  // correctly rounded 18-digit expansion: "d.ddddddddddddddddde+XXXX".
  std::array<char, 64> buf{};
  std::snprintf(buf.data(), buf.size(), "%.17Le", magnitude);
  Expansion x;
  x.digits[0] = buf[0];
  for (int i = 1; i < expansion_digits; ++i) x.digits[i] = buf[static_cast<std::size_t>(i + 1)];
  x.e = static_cast<int>(std::strtol(buf.data() + expansion_digits + 2, nullptr, 10)) + 1;
  return x;
}

char expansion_digit(const Expansion& x, long index) {
  return index >= 0 && index < expansion_digits ? x.digits[static_cast<std::size_t>(index)] : '0';
}

// Adds one to the last digit, carrying left; returns true when the carry ran off the front.
bool increment(std::string& digits) {
  for (auto it = digits.rbegin(); it != digits.rend(); ++it) {
    if (*it != '9') {
      ++*it;
      return false;
    }
    *it = '0';
  }
  return true;
}

// The magnitude rounded to `decimals` decimals, as its integer digits followed by exactly
// `decimals` decimal digits; the integer part is at least "0".
std::string fixed_digits(long double magnitude, int decimals) {
  std::string digits;
  if (magnitude == 0) {
    digits.assign(1 + static_cast<std::size_t>(decimals), '0');
    return digits;
  }
  const Expansion x = expand(magnitude);
  // Integer digits (none below 1), then the decimals, leading zeros included.
  const long first = x.e > 0 ? 0 : x.e;
  const long cut = static_cast<long>(x.e) + decimals;  // index of the first digit dropped
  for (long i = first; i < cut; ++i) digits.push_back(expansion_digit(x, i));

  const char dropped = expansion_digit(x, cut);
  bool round_up = dropped > '5';
  if (dropped == '5') {
    bool beyond = false;
    for (long i = cut + 1; i < expansion_digits; ++i) beyond |= expansion_digit(x, i) != '0';
    const char last_kept = expansion_digit(x, cut - 1);
    round_up = beyond || (last_kept - '0') % 2 == 1;
  }
  if (round_up && increment(digits)) digits.insert(digits.begin(), '1');
  if (digits.size() == static_cast<std::size_t>(decimals)) digits.insert(digits.begin(), '0');
  return digits;
}

struct Slot {
  enum Kind { literal, point, zero, hash, fill } kind;
  char c;  // the literal, or the fill character (0 for a "#" with no fill before it)
};

std::vector<Slot> parse_section(std::string_view section) {
  std::vector<Slot> slots;
  char fill_char = 0;
  bool seen_point = false;
  for (std::size_t i = 0; i < section.size(); ++i) {
    const char ch = section[i];
    if (ch == '*' && i + 1 < section.size()) {
      fill_char = section[++i];
      slots.push_back({Slot::fill, fill_char});
      slots.push_back({Slot::fill, fill_char});
    } else if (ch == '#') {
      slots.push_back({Slot::hash, fill_char});
    } else if (ch == '0') {
      slots.push_back({Slot::zero, '0'});
    } else if (ch == '.' && !seen_point) {
      seen_point = true;
      slots.push_back({Slot::point, '.'});
    } else {
      slots.push_back({Slot::literal, ch});
    }
  }
  return slots;
}

std::string non_finite_text(long double value) {
  if (std::isnan(value)) return " NAN";
  return value < 0 ? "-INF" : " INF";
}

}  // namespace

std::string format_number(long double value, std::string_view mask) {
  if (!std::isfinite(value)) return non_finite_text(value);

  std::array<std::string_view, 3> sections{};
  std::size_t n_sections = 0;
  for (std::string_view rest = mask; n_sections < sections.size();) {
    const std::size_t sep = rest.find(';');
    sections[n_sections++] = rest.substr(0, sep);
    if (sep == std::string_view::npos) break;
    rest.remove_prefix(sep + 1);
  }

  // The section is chosen by the sign of the unrounded value, so a tiny negative value that
  // rounds to zero still shows its negative section.
  std::string_view section = sections[0];
  bool own_minus = false;
  if (value < 0) {
    if (n_sections >= 2 && !sections[1].empty()) {
      section = sections[1];
    } else {
      own_minus = true;
    }
  } else if (value == 0 && n_sections >= 3 && !sections[2].empty()) {
    section = sections[2];
  }

  const std::vector<Slot> slots = parse_section(section);
  int decimals = 0;
  std::ptrdiff_t leftmost_int_slot = -1;
  bool after_point = false;
  for (std::size_t i = 0; i < slots.size(); ++i) {
    const Slot::Kind kind = slots[i].kind;
    if (kind == Slot::point) after_point = true;
    if (kind == Slot::literal || kind == Slot::point) continue;
    if (after_point) {
      ++decimals;
    } else if (leftmost_int_slot < 0) {
      leftmost_int_slot = static_cast<std::ptrdiff_t>(i);
    }
  }

  const std::string digits = fixed_digits(std::fabs(value), decimals);

  // Filled from the right; the leftmost integer position takes every digit left over, so a
  // number wider than its field widens the field instead of losing digits.
  std::string reversed;
  std::size_t remaining = digits.size();
  std::size_t leftmost_digit = std::string::npos;  // index in `reversed`
  for (std::size_t i = slots.size(); i-- > 0;) {
    const Slot& slot = slots[i];
    if (slot.kind == Slot::literal || slot.kind == Slot::point) {
      reversed.push_back(slot.c);
    } else if (remaining > 0) {
      const std::size_t take = static_cast<std::ptrdiff_t>(i) == leftmost_int_slot ? remaining : 1;
      for (std::size_t k = 0; k < take; ++k) reversed.push_back(digits[--remaining]);
      leftmost_digit = reversed.size() - 1;
    } else if (slot.kind == Slot::zero) {
      reversed.push_back('0');
      leftmost_digit = reversed.size() - 1;
    } else if (slot.c != 0) {
      reversed.push_back(slot.c);
    }
  }
  while (remaining > 0) {  // a section without integer positions
    reversed.push_back(digits[--remaining]);
    leftmost_digit = reversed.size() - 1;
  }

  if (own_minus && digits != "0") {
    const std::size_t at =
        leftmost_digit == std::string::npos ? reversed.size() : leftmost_digit + 1;
    reversed.insert(reversed.begin() + static_cast<std::ptrdiff_t>(at), '-');
  }
  return std::string(reversed.rbegin(), reversed.rend());
}

std::string number_str(long double value) {
  if (!std::isfinite(value)) return non_finite_text(value);
  if (value == 0) return " 0";  // negative zero included

  const Expansion x = expand(std::fabs(value));
  // Fifteen significant digits, and only the sixteenth decides: the seventeenth and
  // eighteenth are never consulted, so 1.0000000000000059 is " 1".
  std::string digits(x.digits.begin(), x.digits.begin() + 15);
  int e = x.e;
  const char next = x.digits[15];
  if (next > '5' || (next == '5' && (digits.back() - '0') % 2 == 1)) {
    if (increment(digits)) {
      digits.insert(digits.begin(), '1');
      digits.pop_back();
      ++e;
    }
  }
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
  const int k = static_cast<int>(digits.size());

  std::string text(1, value < 0 ? '-' : ' ');
  if (e <= 15 && k - e <= 15) {
    if (e >= k) {
      text += digits;
      text.append(static_cast<std::size_t>(e - k), '0');
    } else if (e > 0) {
      text += digits.substr(0, static_cast<std::size_t>(e));
      text += '.';
      text += digits.substr(static_cast<std::size_t>(e));
    } else {
      text += '.';
      text.append(static_cast<std::size_t>(-e), '0');
      text += digits;
    }
    return text;
  }
  text += digits[0];
  if (k > 1) {
    text += '.';
    text += digits.substr(1);
  }
  text += e > 15 ? "E+" + std::to_string(e - 1) : "E-" + std::to_string(1 - e);
  return text;
}

std::string number_text(long double value) {
  return number_str(value) + ' ';
}

std::string without_sign_space(std::string text) {
  if (!text.empty() && text[0] == ' ') text.erase(0, 1);
  return text;
}

}  // namespace lyap
