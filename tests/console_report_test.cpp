#include "report/console_report.hpp"

#include <climits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fakes.hpp"

namespace {

using lyap::Params;
using lyap::State;
using lyap::testing::ConsoleCall;
using lyap::testing::RecordingConsole;

struct Success {
  long n_found = 3;
  Params p = {0, 1.000136L, 0.5L, 0.37L, -1.2L, 0.05L};
  std::string zeros = "00";
  long double le = 0.0123L;
  long double le_range = 0.0004L;
  long double div_mean = -0.5678L;
  State x_start = {0, 0.3L, -0.1L, 0.2L, 0.5L};
  long n_samples = 190000;
  long double invariant_end = 0.99987654321L;
  long max_digit_sum = 23;

  void report(RecordingConsole& console) const {
    lyap::TrialOutcome found;
    found.p = p;
    found.le = le;
    found.le_range = le_range;
    found.div_mean = div_mean;
    found.x_start = x_start;
    found.n_samples = n_samples;
    lyap::report_success_lines(console, n_found, found, zeros, invariant_end, max_digit_sum);
  }
};

TEST(ConsoleReport, ExampleResultLineItemByItem) {
  RecordingConsole console;
  Success().report(console);
  const std::vector<std::string> result_items = {
      "  3",       "  1.00", "  0.50",   "  0.37",        " -1.20", "  0.05",
      "   0.0123", "\xF1",   "0.0004",   "  -0.5678 ",    " .3 ",   "-.1 ",
      " .2 ",      " .5 ",   " 190001 ", " .99987654321 "};
  std::vector<ConsoleCall> expected;
  expected.push_back({ConsoleCall::set_colour, "", 15, 0, 15});
  for (const std::string& item : result_items) {
    expected.push_back({ConsoleCall::print_text, item, 0, 0, 15});
  }
  expected.push_back({ConsoleCall::new_line, "", 0, 0, 15});
  expected.push_back({ConsoleCall::set_colour, "", 11, 0, 11});
  expected.push_back({ConsoleCall::print_text, " 23", 0, 0, 11});
  expected.push_back({ConsoleCall::new_line, "", 0, 0, 11});

  ASSERT_EQ(console.calls.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(console.calls[i].kind, expected[i].kind) << "call " << i;
    EXPECT_EQ(console.calls[i].text, expected[i].text) << "call " << i;
    EXPECT_EQ(console.calls[i].a, expected[i].a) << "call " << i;
    EXPECT_EQ(console.calls[i].colour, expected[i].colour) << "call " << i;
  }
}

TEST(ConsoleReport, ColumnsOfUnusualValues) {
  struct Case {
    const char* name;
    void (*change)(Success&);
    std::size_t item;  // index among the printed items
    const char* expected;
  };
  const Case cases[] = {
      {"negative parameter keeps its column", [](Success& s) { s.p[5] = -0.05L; }, 5, " -0.05"},
      {"ten or more widens the field", [](Success& s) { s.p[3] = 12.5L; }, 3, "  12.50"},
      {"negative and wide", [](Success& s) { s.p[3] = -123.25L; }, 3, " -123.25"},
      {"tiny negative divergence keeps its section", [](Success& s) { s.div_mean = -0.00001L; }, 9,
       "  -0.0000 "},
      {"zero divergence", [](Success& s) { s.div_mean = 0; }, 9, "   0.0000 "},
      {"zero start component", [](Success& s) { s.x_start[1] = 0; }, 10, " 0 "},
      {"negative start component", [](Success& s) { s.x_start[2] = -0.5L; }, 11, "-.5 "},
      {"six decimals", [](Success& s) { s.zeros = "000000"; }, 1, "  1.000136"},
      {"success counter past three digits", [](Success& s) { s.n_found = 1234; }, 0, "1234"},
  };
  for (const Case& c : cases) {
    Success success;
    c.change(success);
    RecordingConsole console;
    success.report(console);
    const std::vector<std::string> items = console.printed();
    ASSERT_GT(items.size(), c.item) << c.name;
    EXPECT_EQ(items[c.item], c.expected) << c.name;
  }
}

TEST(ConsoleReport, FailureCodesShareOneYellowLine) {
  RecordingConsole console;
  for (const long step : {3, 3, 5, 5, 1, 2, 9}) lyap::report_failure(console, step);
  EXPECT_EQ(console.screen(), "3355129");
  for (const ConsoleCall& call : console.calls) {
    EXPECT_EQ(call.colour, lyap::colour_failure);
  }
  lyap::report_success_start(console);
  EXPECT_EQ(console.screen(), "3355129\n");
}

TEST(ConsoleReport, TwoSuccessesLeaveAnEmptyLine) {
  RecordingConsole console;
  lyap::report_failure(console, 4);
  lyap::report_success_start(console);
  Success().report(console);
  lyap::report_success_start(console);
  Success().report(console);
  const std::string screen = console.screen();
  EXPECT_NE(screen.find("\n 23\n\n  3  1.00"), std::string::npos) << screen;
  EXPECT_EQ(screen.rfind("4\n  3", 0), 0u) << screen;
}

TEST(ConsoleReport, BeepsCountTheSimplification) {
  struct Case {
    long max_digit_sum, prev_digit_sum;
    int beeps;
  };
  const Case cases[] = {
      {23, 0, 0},  // first success of a run
      {23, 23, 1},
      {20, 23, 4},
      {25, 23, 0},
      {LONG_MAX, LONG_MAX, 1},  // the loop must not run past the largest long
      {LONG_MAX - 1, LONG_MAX, 2},
  };
  for (const Case& c : cases) {
    RecordingConsole console;
    lyap::success_signal(console, c.max_digit_sum, c.prev_digit_sum);
    EXPECT_EQ(console.count(ConsoleCall::beep), c.beeps)
        << c.max_digit_sum << " after " << c.prev_digit_sum;
    EXPECT_EQ(console.calls.size(), static_cast<std::size_t>(c.beeps));
    for (const ConsoleCall& call : console.calls) EXPECT_EQ(call.a, 500);
  }
}

TEST(ConsoleReport, PrintNumberWritesNumberText) {
  RecordingConsole console;
  lyap::console_print_number(console, -0.1L);
  lyap::console_print_number(console, 190001);
  lyap::console_print_number(console, -0.0L);
  EXPECT_EQ(console.printed(), (std::vector<std::string>{"-.1 ", " 190001 ", " 0 "}));
}

}  // namespace
