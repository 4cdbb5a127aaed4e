// Every number the program shows or stores passes through these conversions. The texts are
// exact: column widths, the sign position, no "0" before the decimal point, halves to even.
#pragma once

#include <string>
#include <string_view>

namespace lyap {

// The value laid out by a format mask of up to three sections (positive;negative;zero) built
// of "0", "#", "*c", ".", " " and "-".
std::string format_number(long double value, std::string_view mask);
// Sign position (" " or "-") then up to 15 significant digits, trailing zeros dropped, no "0"
// before the point, exponent notation past 15 integer digits or 15 decimals.
std::string number_str(long double value);
// A text of number_str or format_number without the space that stands for a plus sign, for a
// value inside a line of words.
std::string without_sign_space(std::string text);

// number_str plus one space: what printing a number writes.
//
// The search never formats an infinity or NaN; should one arrive, every conversion gives
// " INF", "-INF" or " NAN", so a damaged value shows as such instead of as digits.
std::string number_text(long double value);

}  // namespace lyap
