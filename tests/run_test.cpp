#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "driver/run.hpp"
#include "fakes.hpp"
#include "report/digit_sum.hpp"
#include "report/number_format.hpp"
#include "report/results_file.hpp"
#include "scratch.hpp"

namespace lyap {
namespace {

using testing::ConsoleCall;
using testing::FakeClock;
using testing::read_file;
using testing::RecordingConsole;
using testing::ScratchDir;

// What a scripted trial ends with.
struct Outcome {
  long step;
  long double le = 0.0123L;
  Params p{0, 1.000136L, 0.5L, 0.37L, -1.2L, 0.05L};
  State x_start{0, 0.3L, -0.1L, 0.2L, 0.5L};
  bool plot_drops = false;
  long double at_s = -1;  // the monotonic clock when the trial ends, if it moves
  long double best_edge = -std::numeric_limits<long double>::infinity();
};

class RunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(scratch.ok());
    dir = scratch.path().string();
    base = scratch.file("lyaptest");
    clock.time_of_day = 45296.25L;
    clock.monotonic = 1000;
    env = std::make_unique<RunEnv>(console, clock, base);
    env->open_window = [](std::string_view, int, int) { return std::unique_ptr<Window>(); };
    env->trial = [this](RunState& s, Rng&) { play_outcome(s); };
    env->plot = [this](RunState& s, Canvas& canvas, Rng&) {
      ++plots;
      clear_canvas(canvas);
      if (outcomes[next - 1].plot_drops) s.x[1] = failure_mark;
    };
  }

  void play_outcome(RunState& s) {
    ASSERT_LT(next, outcomes.size()) << "the loop ran more trials than scripted";
    const Outcome& o = outcomes[next++];
    if (o.at_s >= 0) clock.monotonic = o.at_s;
    s.step = o.step;
    s.p = o.p;
    s.x_start = o.x_start;
    s.x = {0, 2, -1.1L, 0.1L, 1.1L};
    s.le = o.le;
    s.le_range = 0.0004L;
    s.div_mean = -0.5678L;
    s.n_samples = 190000;
    s.invariant_start = invariant(s.x_start, s.p);
    s.best_edge = o.best_edge;
  }

  // Runs start-up and the loop until the scripted Escape. A run that does not `continue_search`
  // starts as after a finished search, without the state file the last one left.
  void run(std::vector<Outcome> script, std::vector<int> keys, bool continue_search = false) {
    if (!continue_search) std::filesystem::remove(base + ".state");
    next = 0;
    outcomes = std::move(script);
    for (int key : keys) console.keys.push_back(key);
    state = std::make_unique<RunState>();
    start_up(*state, *env);
    take_seed_line();
    search_until_escape(*state, *env);
  }

  // A new search says its seed on a line of its own, and every search what the digits are and
  // how to stop; the tests of what follows look past those lines.
  void take_seed_line() {
    auto& calls = console.calls;
    for (std::size_t i = 0; i + 1 < calls.size();) {
      const bool seed = calls[i].text.rfind("Seed ", 0) == 0;
      if (calls[i].kind == ConsoleCall::print_text &&
          (seed || calls[i].text.rfind("Each digit is a trial's end code", 0) == 0 ||
           calls[i].text.rfind("Escape finishes the search", 0) == 0) &&
          calls[i + 1].kind == ConsoleCall::new_line) {
        (seed ? seed_line : hint_line) = calls[i].text;
        calls.erase(calls.begin() + static_cast<std::ptrdiff_t>(i),
                    calls.begin() + static_cast<std::ptrdiff_t>(i) + 2);
      } else {
        ++i;
      }
    }
  }

  ScratchDir scratch;
  std::string dir, base;
  RecordingConsole console;
  FakeClock clock;
  std::unique_ptr<RunEnv> env;
  std::unique_ptr<RunState> state;
  std::vector<Outcome> outcomes;
  std::size_t next = 0;
  int plots = 0;
  std::string seed_line, hint_line;
};

constexpr int none = -1;
constexpr int escape = 27;

TEST_F(RunTest, StartUpEmptiesResultsAndWritesTheFirstProgressRecord) {
  { std::ofstream(base + ".txt", std::ios::binary) << "old results\r\n"; }
  run({{9}}, {escape});
  EXPECT_EQ(read_file(base + ".txt"), "");
  // The earlier results are kept beside it, and the console says where.
  const std::vector<std::string> printed = console.printed();
  ASSERT_GE(printed.size(), 2u);
  EXPECT_EQ(printed[0], "Earlier results kept in ");
  ASSERT_EQ(printed[1].substr(0, base.size() + 1), base + "-");
  EXPECT_EQ(read_file(printed[1]), "old results\r\n");
  EXPECT_EQ(read_file(base + ".dat"), " 0" + std::string(13, ' ') + "25 \r\n");
  EXPECT_EQ(state->max_digit_sum, 25);
  EXPECT_EQ(state->clock.last_timer, 1000);
  for (int i = 1; i <= n_dims; ++i) {
    EXPECT_GE(state->x_centre[i], -0.5L);
    EXPECT_LT(state->x_centre[i], 0.5L);
  }
  for (int i = 1; i <= n_params; ++i) EXPECT_EQ(state->p_decimals[i], 2);
  // The console is titled, moved beside the window, cleared, and brought back to the front.
  ASSERT_GE(console.calls.size(), 7u);
  EXPECT_EQ(console.calls[0].kind, ConsoleCall::set_title);
  EXPECT_EQ(console.calls[0].text, base + " \xB7 0 trials \xB7 0.0/s \xB7 0 finds \xB7 00:00");
  EXPECT_EQ(console.calls[1].kind, ConsoleCall::move_window);
  EXPECT_EQ(console.calls[1].a, 446);
  EXPECT_EQ(console.calls[1].b, 0);
  EXPECT_EQ(console.calls[2].kind, ConsoleCall::clear);
  EXPECT_EQ(console.calls[3].kind, ConsoleCall::print_text);
  EXPECT_EQ(console.calls[4].kind, ConsoleCall::print_name);
  EXPECT_EQ(console.calls[5].kind, ConsoleCall::new_line);
  EXPECT_EQ(console.calls[6].kind, ConsoleCall::bring_to_front);
  EXPECT_EQ(env->canvas.width, 440);
  EXPECT_EQ(env->canvas.height, 424);
  EXPECT_EQ(env->canvas.foreground, black);
  EXPECT_EQ(env->canvas.background, white);
}

TEST_F(RunTest, FailedTrialsPrintTheirCodesInYellowOnOneLine) {
  run({{3}, {3}, {5}, {5}, {1}, {2}, {9}, {9}}, {none, none, none, none, none, none, none, escape});
  std::string digits;
  for (const ConsoleCall& call : console.calls) {
    if (call.kind != ConsoleCall::print_text) continue;
    EXPECT_EQ(call.colour, 14);
    digits += call.text;
  }
  // The last trial's code is not printed: Escape ended the run first.
  EXPECT_EQ(digits, "3355129");
  EXPECT_EQ(console.count(ConsoleCall::new_line), 0);
  EXPECT_EQ(state->trial_no, 8);
}

TEST_F(RunTest, EscapeDuringASuccessfulTrialDropsItsResult) {
  run({{29998}}, {escape});
  EXPECT_EQ(plots, 0);
  EXPECT_EQ(state->n_found, 0);
  EXPECT_EQ(read_file(base + ".txt"), "");
  EXPECT_TRUE(console.printed().empty());
}

TEST_F(RunTest, OtherKeysAreConsumedOnePerTrial) {
  run({{9}, {9}, {9}}, {'a', 'b', escape});
  EXPECT_EQ(state->trial_no, 3);
  EXPECT_EQ(console.count(ConsoleCall::read_key), 3);
}

TEST_F(RunTest, SuccessBelowTheThresholdIsSilent) {
  Outcome weak{39998};
  weak.le = 0.005L;
  run({weak, {9}}, {none, escape});
  EXPECT_EQ(plots, 0);
  EXPECT_TRUE(console.printed().empty());
}

TEST_F(RunTest, SuccessIsRecordedEverywhereInOrder) {
  run({{4}, {29998}, {9}}, {none, none, escape});
  const Params p{0, 1.000136L, 0.5L, 0.37L, -1.2L, 0.05L};
  const State x_start{0, 0.3L, -0.1L, 0.2L, 0.5L};
  EXPECT_EQ(plots, 1);
  EXPECT_EQ(state->n_found, 1);

  // The console: the end code, a line break, the result line, the complexity line.
  const long found_sum = digit_sum(p);
  ASSERT_EQ(found_sum, 24);
  const long double ratio = invariant(State{0, 2, -1.1L, 0.1L, 1.1L}, p) / invariant(x_start, p);
  const std::vector<std::string> expected_items = {
      "4",      "  1",       "  1.00", "  0.50",   "  0.37",           " -1.20",
      "  0.05", "   0.0123", "\xf1",   "0.0004",   "  -0.5678 ",       " .3 ",
      "-.1 ",   " .2 ",      " .5 ",   " 190001 ", number_text(ratio), " 24"};
  EXPECT_EQ(console.printed(), expected_items);
  EXPECT_EQ(console.screen(),
            "4\n  1  1.00  0.50  0.37 -1.20  0.05   0.0123\xf1"
            "0.0004  -0.5678  .3 -.1  .2  .5  "
            "190001 " +
                number_text(ratio) + "\n 24\n");
  // The first success of a run does not beep.
  EXPECT_EQ(console.count(ConsoleCall::beep), 0);

  // The results file holds the line, keyed with two decimals.
  EXPECT_EQ(read_file(base + ".txt"),
            " 1 2 3 4 5 24  1.00  0.50  0.37 -1.20  0.05   0.0123\xf1"
            "0.0004  -0.5678 190001 "
            " .3 -.1  .2  .5 " +
                number_text(ratio) + "\r\n");
  // The progress file gained the record of this success.
  EXPECT_EQ(read_file(base + ".dat"),
            " 0" + std::string(13, ' ') + "25 \r\n" + " 0" + std::string(13, ' ') + "24 \r\n");
  // The search adapted around the find.
  EXPECT_EQ(state->max_digit_sum, 24);
  EXPECT_EQ(state->prev_digit_sum, 24);
  EXPECT_EQ(state->zeros_str, "00");
  EXPECT_EQ(state->max_decimals, 6);
  EXPECT_EQ(state->p_decimals[1], 6);
  EXPECT_EQ(state->p_decimals[3], 2);
  for (int i = 1; i <= n_params; ++i) EXPECT_EQ(state->p_centre[i], p[i]);
  for (int j = 1; j <= n_dims; ++j) EXPECT_EQ(state->x_centre[j], x_start[j]);
  EXPECT_EQ(std::filesystem::file_size(base + ".bmp"), 559734u);
}

TEST_F(RunTest, BeepsOncePerUnitOfSimplificationAfterTheFirstSuccess) {
  Outcome first{29998};
  first.p = {0, 1.000136L, 0.5L, 0.37L, -1.2L, 0.05L};  // digit sum 24
  Outcome same = first;                                 // 24 again: one beep
  same.p[4] = -1.3L;
  Outcome simpler = first;  // 21: four beeps
  simpler.p = {0, 1.000136L, 0.5L, 0.37L, -1, 0.05L};
  run({first, same, simpler, {9}}, {none, none, none, escape});
  std::vector<int> beeps_per_success;
  int beeps = 0;
  for (const ConsoleCall& call : console.calls) {
    if (call.kind == ConsoleCall::beep) {
      EXPECT_EQ(call.a, 500);
      ++beeps;
    }
    if (call.kind == ConsoleCall::set_colour && call.a == 15) {
      beeps_per_success.push_back(beeps);
      beeps = 0;
    }
  }
  EXPECT_EQ(beeps_per_success, (std::vector<int>{0, 1, 4}));
  EXPECT_EQ(state->max_digit_sum, 21);
  // The second result line already shows six decimals; the file holds three distinct keys.
  const std::string results = read_file(base + ".txt");
  EXPECT_NE(results.find("  1.000136  0.500000"), std::string::npos);
  EXPECT_EQ(std::count(results.begin(), results.end(), '\n'), 3);
}

TEST_F(RunTest, SuccessDroppedByThePlotLeavesNoTrace) {
  Outcome dropped{29998};
  dropped.plot_drops = true;
  run({dropped, {9}}, {none, escape});
  EXPECT_EQ(plots, 1);
  EXPECT_EQ(state->n_found, 0);
  EXPECT_EQ(read_file(base + ".txt"), "");
  EXPECT_EQ(read_file(base + ".dat"), " 0" + std::string(13, ' ') + "25 \r\n");
  EXPECT_FALSE(std::filesystem::exists(base + ".bmp"));
  EXPECT_EQ(state->max_digit_sum, 25);
  for (int i = 1; i <= n_params; ++i) EXPECT_EQ(state->p_centre[i], 1.0L);
  // Only the line break was printed.
  EXPECT_TRUE(console.printed().empty());
  EXPECT_EQ(console.count(ConsoleCall::new_line), 1);
  EXPECT_EQ(console.count(ConsoleCall::beep), 0);
}

TEST_F(RunTest, EndOfRunReportsTrialsPlotsAndRemovesTheProgressFile) {
  clock.monotonic_script = {1000, 1300, 1300};
  run({{9}, {29998}, {9}}, {none, none, escape});
  console.keys.push_back('x');
  end_of_run(*state, *env);
  const std::string screen = console.screen();
  EXPECT_NE(screen.find("\nTrials = 3 \nTrials by end code:  1: 0  2: 0  3: 0  4: 0  5: 0  6: 0"
                        "  7: 0  8: 0  9: 2  chaotic: 1\nClosest approach: no trial has reached a "
                        "check\n\n"),
            std::string::npos)
      << screen;
  EXPECT_FALSE(std::filesystem::exists(base + ".state"));
  EXPECT_FALSE(std::filesystem::exists(base + ".dat"));
  EXPECT_EQ(std::filesystem::file_size(base + ".bmp"), 559734u);
  EXPECT_EQ(console.calls.back().kind, ConsoleCall::wait_key);
  EXPECT_TRUE(console.keys.empty());
  // The frame of the budget plot is on the canvas.
  EXPECT_EQ(get_pixel(env->canvas, 40, 200), black);
  EXPECT_EQ(get_pixel(env->canvas, 439, 200), black);
}

// A failed write is said once per file in light red, and again only after a write to that file
// has worked in between; the run goes on either way.
TEST_F(RunTest, FailedWritesAreSaidOncePerFileUntilAWriteWorks) {
  const std::string folder = dir + "/missing";
  env->base_name = folder + "/lyaptest";
  // The folder appears before the third trial (the second success) and is gone again before
  // the fourth.
  env->trial = [&](RunState& s, Rng&) {
    if (next == 2) std::filesystem::create_directory(folder);
    if (next == 3) std::filesystem::remove_all(folder);
    play_outcome(s);
  };
  console.current = 11;
  run({{29998}, {9}, {29998}, {29998}, {29998}, {9}}, {none, none, none, none, none, escape});
  EXPECT_EQ(state->n_found, 4);
  EXPECT_EQ(state->trial_no, 6);

  // Each warning is one whole line in light red ("file: reason"), after which the colour in
  // force before comes back.
  std::vector<std::string> warnings;
  int reads = 0;
  for (std::size_t i = 0; i < console.calls.size(); ++i) {
    const ConsoleCall& call = console.calls[i];
    if (call.kind == ConsoleCall::read_key) ++reads;
    if (call.kind != ConsoleCall::set_colour || call.a != 12) continue;
    ASSERT_GT(i, 0u);
    const int before = console.calls[i - 1].colour;
    std::string line;
    std::size_t j = i + 1;
    for (; j < console.calls.size() && console.calls[j].kind != ConsoleCall::new_line; ++j) {
      EXPECT_EQ(console.calls[j].colour, 12);
      line += console.calls[j].text;
    }
    ASSERT_LT(j + 1, console.calls.size());
    EXPECT_EQ(console.calls[j + 1].kind, ConsoleCall::set_colour);
    EXPECT_EQ(console.calls[j + 1].a, before);
    warnings.push_back(std::to_string(reads) + " " + line.substr(folder.size() + 1));
  }
  // The system's words for a missing folder, from the file operations themselves.
  const std::string gone = ": " + open_locked(folder + "/probe", OpenMode::append).failure;
  Canvas probe;
  const std::string bmp_gone = ": " + save_bitmap(probe, folder + "/probe.bmp").reason;
  const std::vector<std::string> expected = {
      // start-up, before the first trial
      "0 lyaptest.txt" + gone, "0 lyaptest.dat" + gone, "0 lyaptest.state" + bmp_gone,
      "1 lyaptest.bmp" + bmp_gone,  // the first success
      // the third trial wrote them all; the fourth fails them all again
      "4 lyaptest.bmp" + bmp_gone, "4 lyaptest.txt" + gone, "4 lyaptest.state" + bmp_gone,
      "4 lyaptest.dat" + gone};
  EXPECT_EQ(warnings, expected);
  EXPECT_FALSE(std::filesystem::exists(folder));
  EXPECT_NE(console.screen().find(" 24\n"), std::string::npos);
}

TEST_F(RunTest, WindowOpensAt440By424UnderTheProgramName) {
  std::string caption;
  int width = 0, height = 0, opened = 0;
  env->open_window = [&](std::string_view c, int w, int h) {
    caption = c;
    width = w;
    height = h;
    ++opened;
    return std::unique_ptr<Window>();
  };
  run({{9}}, {escape});
  EXPECT_EQ(opened, 1);
  EXPECT_EQ(caption, base);
  EXPECT_EQ(width, 440);
  EXPECT_EQ(height, 424);
}

TEST_F(RunTest, RandomSourceIsSeededFromTheTimeOfDayOrTheGivenSeed) {
  // The first four numbers after seeding centre the search; the run clock is another clock.
  struct Case {
    long double time_of_day;
    std::optional<std::uint64_t> given;
    std::uint64_t seed;
  };
  const Case cases[] = {{45296.25L, {}, 45296250000},
                        {45296.5000005L, {}, 45296500000},  // to the microsecond, halves to even
                        {80000, {}, 80000000000},
                        {80000, 0, 0},
                        {80000, UINT64_MAX, UINT64_MAX}};
  for (const Case& c : cases) {
    clock.time_of_day = c.time_of_day;
    env->options.seed = c.given;
    next = 0;
    run({{9}}, {escape});
    EXPECT_EQ(seed_line, "Seed " + std::to_string(c.seed));
    Rng expected = seeded_rng(c.seed);
    for (int i = 1; i <= n_dims; ++i) {
      EXPECT_EQ(state->x_centre[i], rnd(expected) - 0.5L) << c.seed << ", x_centre " << i;
    }
  }
}

TEST_F(RunTest, SuccessIsDroppedWheneverThePlotLeavesX1BeyondTheBound) {
  struct Case {
    long double x1;
    bool kept;
  };
  const long double inf = std::numeric_limits<long double>::infinity();
  const Case cases[] = {{1000, true},           {-1000, true},     {999.5L, true},
                        {1000.0000001L, false}, {-1000.5L, false}, {failure_mark, false},
                        {-inf, false}};
  for (const Case& c : cases) {
    env->plot = [&](RunState& s, Canvas&, Rng&) { s.x[1] = c.x1; };
    std::filesystem::remove(base + ".bmp");
    next = 0;
    run({{29998}, {9}}, {none, escape});
    EXPECT_EQ(state->n_found, c.kept ? 1 : 0) << c.x1;
    EXPECT_EQ(read_file(base + ".txt").empty(), !c.kept) << c.x1;
    EXPECT_EQ(std::filesystem::exists(base + ".bmp"), c.kept) << c.x1;
  }
}

TEST_F(RunTest, EndOfRunPlotsTheProgressFileBeforeRemovingIt) {
  run({{9}}, {escape});
  const std::string records = " 0" + std::string(13, ' ') + "25 \r\n" + " 300" +
                              std::string(11, ' ') + "19 \r\n" + " 900" + std::string(11, ' ') +
                              "14 \r\n";
  { std::ofstream(base + ".dat", std::ios::binary) << records; }
  console.keys.push_back('x');
  end_of_run(*state, *env);
  EXPECT_FALSE(std::filesystem::exists(base + ".dat"));
  // The budget held at 25 until x = 140, at 19 until 340, then 14, on a 20-minute axis.
  for (const auto& [x, y] : {std::pair{90, 150}, {140, 180}, {240, 210}, {340, 240}}) {
    EXPECT_EQ(get_pixel(env->canvas, x, y), black) << x << ", " << y;
  }
  EXPECT_EQ(get_pixel(env->canvas, 240, 150), white);
}

TEST_F(RunTest, EndOfRunHoldsTheBudgetToTheEndOfARunWithoutAFind) {
  run({{9}}, {escape});
  clock.monotonic = 1000 + 7500;  // 2 h 5 min: a 130-minute axis, ending at x = 424.6
  console.keys.push_back('x');
  end_of_run(*state, *env);
  for (const int x : {41, 240, 423}) EXPECT_EQ(get_pixel(env->canvas, x, 150), black) << x;
  EXPECT_EQ(get_pixel(env->canvas, 428, 150), white);
}

// Before the first find the window shows the closest approach's portrait, drawn from generators
// of its own: the search draws on exactly as without it, and the bitmap is not written.
TEST_F(RunTest, BeforeTheFirstFindTheWindowShowsTheClosestApproach) {
  env->options.seed = 77;
  std::vector<std::int32_t> pixels;
  Rng generator;
  for (const bool reached : {false, true}) {
    Outcome bounded{2};  // a regular orbit that stays in the domain, as a check judged it
    bounded.p = {0, model_p1, fixed_p2, 2.55L, 0.58L, 0.47L};
    bounded.x_start = {0, 2, -1.1L, 0.1L, 1.1L};
    if (reached) bounded.best_edge = -0.001682L;
    run({bounded, {9}}, {none, escape});
    EXPECT_FALSE(std::filesystem::exists(base + ".bmp"));
    if (!reached) {
      pixels = env->canvas.pixels;
      generator = env->rng;
      continue;
    }
    EXPECT_EQ(env->rng.s, generator.s);
    EXPECT_EQ(state->generator.s, generator.s);
    long blacks = 0;
    for (std::size_t i = 0; i < pixels.size(); ++i) blacks += env->canvas.pixels[i] == black;
    EXPECT_GT(blacks, 1000) << "no portrait in the window";
    EXPECT_NE(env->canvas.pixels, pixels);
  }
}

// The files of the folder whose names begin with `prefix`, by name.
std::vector<std::string> files_named(const std::string& dir, const std::string& prefix) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    const std::string name = entry.path().string();
    if (name.rfind(prefix, 0) == 0) names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// A search that stops other than by Escape goes on at the next start in its folder: the walk,
// the counts, the results file and the run time.
TEST_F(RunTest, AnUnfinishedSearchContinuesWhereItStopped) {
  Outcome first{29998};    // digit sum 24, shown with two decimals
  Outcome second = first;  // 24 again, shown with six decimals from now on
  second.p[4] = -1.3L;
  run({first, {4}, second, {9}}, {none, none, none, escape});
  ASSERT_EQ(state->n_found, 2);
  const std::string results = read_file(base + ".txt");
  const RunState before = *state;

  // Started again later: the time in between does not count.
  clock.monotonic = 5000;
  console.calls.clear();
  state = std::make_unique<RunState>();
  start_up(*state, *env);
  // As the state file last had them, at the second find.
  EXPECT_EQ(state->trial_no, 3);
  EXPECT_EQ(state->n_found, 2);
  EXPECT_EQ(state->max_digit_sum, 24);
  EXPECT_EQ(state->prev_digit_sum, 24);
  EXPECT_EQ(state->max_decimals, before.max_decimals);
  for (int i = 1; i <= n_params; ++i) {
    EXPECT_EQ(state->p_centre[i], before.p_centre[i]);
    EXPECT_EQ(state->p_decimals[i], before.p_decimals[i]);
  }
  for (int j = 1; j <= n_dims; ++j) EXPECT_EQ(state->x_centre[j], before.x_centre[j]);
  EXPECT_EQ(state->tally.code[4], 1);
  EXPECT_EQ(state->tally.chaotic, 2);
  const LocalTime began = local_time_of(clock.unix_time);
  char when[32];
  std::snprintf(when, sizeof when, "%04d-%02d-%02d %02d:%02d", began.year, began.month, began.day,
                began.hour, began.minute);
  const std::string line = std::string("Continuing the search begun ") + when +
                           ": 3 trials, 2 finds, complexity 24, seed " +
                           std::to_string(state->seed);
  const std::vector<std::string> printed = console.printed();
  ASSERT_FALSE(printed.empty());
  EXPECT_EQ(printed[0], line);
  EXPECT_EQ(console.count(ConsoleCall::read_key), 0);  // before the first trial
  for (const ConsoleCall& call : console.calls) {
    if (call.text == line) {
      EXPECT_EQ(call.colour, 11);
    }
  }

  // The same set again is not written again; a new one is, numbered on from the last find.
  Outcome third = first;
  third.p[5] = 0.06L;
  third.at_s = 5120;
  next = 0;
  outcomes = {second, third, {9}};
  console.keys = {none, none, escape};
  search_until_escape(*state, *env);
  EXPECT_EQ(state->trial_no, 6);
  EXPECT_EQ(state->n_found, 4);
  const std::string now = read_file(base + ".txt");
  ASSERT_EQ(now.substr(0, results.size()), results);
  EXPECT_EQ(std::count(now.begin(), now.end(), '\n'), 3);
  EXPECT_NE(console.screen().find("\n  4  1.000136"), std::string::npos) << console.screen();
  // One beep for the repeat, as after any find of the same length.
  EXPECT_EQ(console.count(ConsoleCall::beep), 2);
  // One start record; the run time goes on from where it stopped.
  const std::string record_0 = " 0" + std::string(13, ' ');
  EXPECT_EQ(read_file(base + ".dat"), record_0 + "25 \r\n" + record_0 + "24 \r\n" + record_0 +
                                          "24 \r\n" + record_0 + "24 \r\n" + " 120" +
                                          std::string(11, ' ') + "24 \r\n");
  EXPECT_TRUE(files_named(dir, base + "-").empty());
  // Escape finishes it: nothing is left to continue.
  console.keys.push_back('x');
  end_of_run(*state, *env);
  EXPECT_FALSE(std::filesystem::exists(base + ".state"));
  EXPECT_FALSE(std::filesystem::exists(base + ".dat"));
}

// Whatever is wrong with an unfinished search's files, a new search begins, says why in light
// red, and keeps the earlier results, progress and state aside, byte for byte.
TEST_F(RunTest, AStateThatCannotBeTrustedBeginsANewSearchAndLosesNothing) {
  run({{29998}, {9}}, {none, escape});
  const std::string real = read_file(base + ".state");
  const std::string progress = read_file(base + ".dat");
  ASSERT_NE(real.find("\nbudget: 24\r\n"), std::string::npos) << real;
  const auto with = [&](const std::string& from, const std::string& to) {
    std::string text = real;
    return text.replace(text.find(from), from.size(), to);
  };
  struct Case {
    std::string name;
    std::string state;     // none when empty
    std::string progress;  // none when empty
  };
  std::vector<Case> cases;
  for (std::size_t n = 1; n < real.size(); ++n) {
    cases.push_back({"cut after byte " + std::to_string(n), real.substr(0, n), progress});
  }
  const std::string last_record_20 = progress.substr(0, progress.rfind("24 \r\n")) + "20 \r\n";
  cases.insert(
      cases.end(),
      {{"garbage", "\x01\xff\xfe not a state\r\nend\r\n", progress},
       {"another version", with("version: 2\r\n", "version: 3\r\n"), progress},
       {"a damaged generator", with("generator: ", "generator: 0 "), progress},
       {"a seed beyond 64 bits", with("seed: ", "seed: 99999999999999999999"), progress},
       {"budget below what p1 and p2 cost", with("\nbudget: 24\r\n", "\nbudget: 12\r\n"), progress},
       {"a centre no draw can meet",
        with("p_centre: 1.000136 0.5 0.37", "p_centre: 1.000136 0.5 1e30"), progress},
       {"a negative p5 centre", with("-1.2 0.05\r\n", "-1.2 -1000000\r\n"), progress},
       {"a centre with more decimals", with("-1.2 0.05\r\n", "-1.2 0.0501\r\n"), progress},
       {"trials near 2^63", with("\ntrials: 1\r\n", "\ntrials: 9223372036854775806\r\n"), progress},
       {"counts that overflow", with("\ncode_1: 0\r\n", "\ncode_1: 9223372036854775807\r\n"),
        progress},
       {"the largest run time", with("\nelapsed_s: ", "\nelapsed_s: 9223372036854775807"),
        progress},
       {"a closest approach beyond reach",
        with("closest_edge: none\r\nclosest_p: none\r\nclosest_x_start: none",
             "closest_edge: 1e4000\r\nclosest_p: 1.000136 .5 0 0 1\r\nclosest_x_start: 1 1 1 1"),
        progress},
       {"begun in year 0", with("began: 2", "began: 0"), progress},
       {"budget above 25", with("\nbudget: 24\r\n", "\nbudget: 26\r\n"), progress},
       {"budget below 0", with("\nbudget: 24\r\n", "\nbudget: -1\r\n"), progress},
       {"NaN centre", with("x_centre: ", "x_centre: nan "), progress},
       {"negative count", with("\nfinds: 1\r\n", "\nfinds: -1\r\n"), progress},
       {"counts that do not add up", with("\ntrials: 1\r\n", "\ntrials: 2\r\n"), progress},
       {"a name twice", with("end\r\n", "finds: 1\r\nend\r\n"), progress},
       {"budget above the progress file's last record", real, last_record_20},
       {"no progress file", real, ""},
       {"no state file", "", progress}});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
      std::filesystem::remove(entry.path());
    }
    testing::write_file(base + ".txt", "an earlier find\r\n");
    if (!c.state.empty()) testing::write_file(base + ".state", c.state);
    if (!c.progress.empty()) testing::write_file(base + ".dat", c.progress);
    console.calls.clear();
    run({{9}}, {escape}, true);
    const std::string screen = console.screen();
    ASSERT_NE(screen.find(base + ".state: the unfinished search cannot be continued, as "),
              std::string::npos)
        << screen;
    bool red = false;
    for (const ConsoleCall& call : console.calls) {
      if (call.text == base + ".state") red = call.colour == 12;
    }
    EXPECT_TRUE(red);
    // A new search.
    EXPECT_EQ(screen.find("Continuing"), std::string::npos);
    EXPECT_EQ(state->max_digit_sum, 25);
    EXPECT_EQ(state->trial_no, 1);
    EXPECT_EQ(read_file(base + ".dat"), " 0" + std::string(13, ' ') + "25 \r\n");
    EXPECT_EQ(read_file(base + ".txt"), "");
    // Nothing lost.
    const auto kept = [&](const std::string& extension) {
      std::string bytes;
      for (const std::string& name : files_named(dir, base + "-")) {
        if (name.ends_with("." + extension)) bytes += read_file(name);
      }
      return bytes;
    };
    EXPECT_EQ(kept("txt"), "an earlier find\r\n");
    EXPECT_EQ(kept("state"), c.state);
    EXPECT_EQ(kept("dat"), c.progress);
  }
}

}  // namespace
}  // namespace lyap
