// The state file's text, the same from the Linux and the Windows builds: a state written by
// one continues in the other. tests/data/state.txt holds the Linux build's text of the sample
// below; both builds must write exactly that and read it back to the same bits.
#include "report/state_file.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>

namespace lyap {
namespace {

// Values that take every digit the format has, and some that take none.
SearchState sample_state() {
  SearchState s;
  s.began_unix_s = 1796787813;
  s.p_centre = {0, 1.000136L, 0.5L, 1.0L / 3, -0.1L, std::numeric_limits<long double>::min()};
  s.p_decimals = {0, 6, 1, 6, 1, 0};
  s.max_decimals = 6;
  s.max_digit_sum = 17;
  s.prev_digit_sum = 19;
  s.x_centre = {0, -0.0L, 1e-300L, 2.0L / 3, std::numeric_limits<long double>::max()};
  s.trials = 4'000'000'124LL;  // past what a 32-bit count holds
  s.finds = 3;
  s.tally.code = {0, 1, 2, 3, 4, 5, 6, 7, 8, 4'000'000'085LL};
  s.tally.chaotic = 3;
  s.elapsed_s = 190'000;
  s.closest = {
      true, 0.004999L, {0, 1.000136L, 0.5L, 2.3L, -1.2L, 0.05L}, {0, 0.3L, -0.1L, 0, 0.5L}};
  s.has_generator = true;
  s.seed = UINT64_MAX;
  s.generator = {1, 0x0123456789abcdefULL, UINT64_MAX, 0};
  s.p1 = {false, 3};
  return s;
}

bool same_bits(long double a, long double b) {
  return std::memcmp(&a, &b, 10) == 0;
}

std::string data_file(const char* name) {
  std::ifstream file(std::string(LYAPSEARCH_SOURCE_DIR "/tests/data/") + name, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

TEST(StateFile, BothBuildsWriteAndReadTheSameText) {
  const std::string golden = data_file("state.txt");
  ASSERT_FALSE(golden.empty()) << "tests/data/state.txt not found";
  const SearchState s = sample_state();
  EXPECT_EQ(state_text(s), golden);

  SearchState back;
  ASSERT_EQ(parse_state(golden, back), "");
  EXPECT_EQ(back.began_unix_s, s.began_unix_s);
  for (int i = 1; i <= n_params; ++i) {
    EXPECT_TRUE(same_bits(back.p_centre[i], s.p_centre[i])) << i;
    EXPECT_TRUE(same_bits(back.closest.p[i], s.closest.p[i])) << i;
    EXPECT_EQ(back.p_decimals[i], s.p_decimals[i]);
  }
  for (int j = 1; j <= n_dims; ++j) {
    EXPECT_TRUE(same_bits(back.x_centre[j], s.x_centre[j])) << j;
    EXPECT_TRUE(same_bits(back.closest.x_start[j], s.closest.x_start[j])) << j;
  }
  EXPECT_TRUE(same_bits(back.closest.edge, s.closest.edge));
  EXPECT_EQ(back.trials, s.trials);
  EXPECT_EQ(back.tally.code, s.tally.code);
  EXPECT_TRUE(back.has_generator);
  EXPECT_EQ(back.seed, s.seed);
  EXPECT_EQ(back.generator, s.generator);
  EXPECT_EQ(back.p1, s.p1);
  std::string free_p1 = golden;
  free_p1.replace(free_p1.find("p1: 3"), 5, "p1: free");
  SearchState other;
  ASSERT_EQ(parse_state(free_p1, other), "");
  EXPECT_TRUE(other.p1.free);
  for (const char* p1 : {"p1: 1", "p1: 0.5", "p1: x", "p1: "}) {
    std::string bad = golden;
    bad.replace(bad.find("p1: 3"), 5, p1);
    EXPECT_EQ(parse_state(bad, other), "p1 is neither free nor a value above 1") << p1;
  }
  EXPECT_EQ(state_text(back), golden);
  // A file edited on another system, with LF line ends alone, reads the same.
  std::string lf = golden;
  for (std::size_t at; (at = lf.find("\r\n")) != std::string::npos;) lf.erase(at, 1);
  ASSERT_EQ(parse_state(lf, back), "");
  EXPECT_EQ(state_text(back), golden);
}

// A state written before the generator was kept still continues, from a fresh seed.
TEST(StateFile, AStateOfTheFirstFormatReadsWithoutAGenerator) {
  SearchState back;
  ASSERT_EQ(parse_state(data_file("state-format1.txt"), back), "");
  EXPECT_FALSE(back.has_generator);
  EXPECT_EQ(back.p1, P1Setting{});
  EXPECT_EQ(back.trials, sample_state().trials);
  std::string with_seed = data_file("state-format1.txt");
  with_seed.insert(with_seed.find("began"), "seed: 5\r\n");
  EXPECT_EQ(parse_state(with_seed, back), "it holds names this program does not know");
}

TEST(StateFile, TimesOfTheCalendar) {
  struct Case {
    const char* text;
    bool sound;
    std::int64_t unix_s;
  };
  const Case cases[] = {
      {"1970-01-01 00:00:00 UTC", true, 0},
      {"2026-12-09 03:43:33 UTC", true, 1796787813},
      {"2000-02-29 23:59:59 UTC", true, 951868799},
      {"1969-12-31 23:59:59 UTC", true, -1},
      {"2100-02-29 00:00:00 UTC", false, 0},  // not a leap year
      {"2026-13-01 00:00:00 UTC", false, 0},
      {"2026-12-09 24:00:00 UTC", false, 0},
      {"2026-12-09 03:43:33", false, 0},
      {"2026-12-09T03:43:33 UTC", false, 0},
  };
  for (const Case& c : cases) {
    std::int64_t unix_s = 0;
    EXPECT_EQ(parse_utc_text(c.text, unix_s), c.sound) << c.text;
    if (!c.sound) continue;
    EXPECT_EQ(unix_s, c.unix_s) << c.text;
    EXPECT_EQ(utc_text(unix_s), c.text);
  }
}

}  // namespace
}  // namespace lyap
