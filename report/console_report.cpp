#include "report/console_report.hpp"

#include <string>

#include "report/number_format.hpp"

namespace lyap {

void console_print_number(Console& console, long double value) {
  console.print_text(number_text(value));
}

void report_write_failure(Console& console, std::string_view file, std::string_view reason) {
  const int before = console.colour();
  console.set_colour(colour_warning);
  console.print_name(file);
  console.print_text(": ");
  console.print_name(reason);
  console.new_line();
  console.set_colour(before);
}

namespace {

std::string trimmed(long double value) {
  return without_sign_space(number_str(value));
}

template <std::size_t N>
std::string values_text(const std::array<long double, N>& values) {
  std::string text;
  for (std::size_t i = 1; i < N; ++i) {
    text += ' ';
    text += trimmed(values[i]);
  }
  return text;
}

}  // namespace

void report_search_summary(Console& console, const Tally& tally, const ClosestApproach& closest,
                           std::string_view program) {
  std::string ended = "Trials by end code:";
  for (std::size_t code = 1; code <= 9; ++code) {
    ended += "  " + std::to_string(code) + ": " + std::to_string(tally.code[code]);
  }
  ended += "  chaotic: " + std::to_string(tally.chaotic);
  report_line(console, ended);
  if (!closest.reached) {
    report_line(console, "Closest approach: no trial has reached a check");
    return;
  }
  report_line(console, "Closest approach: lower band edge " + band_edge_text(closest.edge) +
                           " (a find needs above 0.005) for p =" + values_text(closest.p) +
                           " from x =" + values_text(closest.x_start));
  // p2 is fixed: the check takes p3..p5 and the start, and p1 unless it is the model's own.
  std::string values;
  if (closest.p[1] != model_p1) {
    values += " --p1 ";
    values += trimmed(closest.p[1]);
  }
  for (std::size_t i = 3; i < closest.p.size(); ++i) {
    values += ' ';
    values += trimmed(closest.p[i]);
  }
  report_line(console, "Re-run it with: ",
              std::string(program) + " --check" + values + values_text(closest.x_start));
}

std::string band_edge_text(long double edge) {
  return without_sign_space(format_number(edge, "0.000000;-0.000000"));
}

void report_line(Console& console, std::string_view text, std::string_view name) {
  console.print_text(text);
  if (!name.empty()) console.print_name(name);
  console.new_line();
}

void report_failure(Console& console, long step) {
  console.set_colour(colour_failure);
  console.print_text(trimmed(static_cast<long double>(step)));
}

void report_success_start(Console& console) {
  console.new_line();
}

void success_signal(Console& console, long max_digit_sum, long prev_digit_sum) {
  // One beep more for every unit by which the new set is shorter than the last one.
  for (long i = max_digit_sum; i <= prev_digit_sum; ++i) {
    console.beep(500);
    if (i == prev_digit_sum) break;  // no overflow past the largest long
  }
}

void report_success_lines(Console& console, std::int64_t n_found, const TrialOutcome& found,
                          std::string_view zeros_str, long double invariant_end,
                          long max_digit_sum) {
  const Params& p = found.p;
  console.set_colour(colour_result);
  console.print_text(format_number(static_cast<long double>(n_found), "* #"));
  std::string mask = "  0.";
  mask += zeros_str;
  mask += "; -0.";
  mask += zeros_str;
  for (int i = 1; i <= n_params; ++i) {
    console.print_text(format_number(p[static_cast<std::size_t>(i)], mask));
  }
  console.print_text(format_number(found.le, "   0.0000;  -0.0000"));
  console.print_text("\xF1");
  console.print_text(format_number(found.le_range, "0.0000"));
  // The trailing space of both sections keeps the initial condition off the divergence.
  console.print_text(format_number(found.div_mean, "   0.0000 ;  -0.0000 "));
  for (int i = 1; i <= n_dims; ++i)
    console_print_number(console, found.x_start[static_cast<std::size_t>(i)]);
  console_print_number(console, static_cast<long double>(found.n_samples) + 1);
  console_print_number(console, invariant_end);
  console.new_line();

  console.set_colour(colour_complexity);
  console.print_text(number_str(static_cast<long double>(max_digit_sum)));
  console.new_line();
}

}  // namespace lyap
