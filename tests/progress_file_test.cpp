#include "report/progress_file.hpp"

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <limits>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "fakes.hpp"
#include "scratch.hpp"

namespace {

using lyap::append_progress;
using lyap::ProgressReader;
using lyap::RunClock;
using lyap::start_progress_file;
using lyap::testing::FakeClock;

constexpr long double inf = std::numeric_limits<long double>::infinity();

class ProgressFile : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(scratch.ok());
    dir = scratch.path().string();
    path = scratch.file("lyapsearch.dat");
  }

  std::string read() const { return lyap::testing::read_file(path); }
  void write(const std::string& bytes) const { lyap::testing::write_file(path, bytes); }
  // Every record of the file, as the end of the run reads them.
  std::vector<std::pair<long double, long double>> records() const {
    std::vector<std::pair<long double, long double>> all;
    ProgressReader reader(path);
    while (!lyap::progress_at_end(reader) && all.size() < 100000) {
      long double t = -1, v = -1;
      lyap::read_progress_record(reader, t, v);
      all.emplace_back(t, v);
    }
    return all;
  }
  // A success at monotonic time t (both readings of the clock give t).
  void success_at(long double t, long max_digit_sum) {
    time.monotonic = t;
    append_progress(path, max_digit_sum, run_clock, time);
  }

  lyap::testing::ScratchDir scratch;
  std::string dir;
  std::string path;
  FakeClock time;
  RunClock run_clock;
};

std::string record(const std::string& seconds, int spaces, const std::string& complexity) {
  return " " + seconds + std::string(static_cast<std::size_t>(spaces), ' ') + " " + complexity +
         " \r\n";
}

TEST_F(ProgressFile, StartWritesFirstRecordAndMarksClock) {
  write("left over from the last run\r\n");
  time.monotonic = 5000.5L;
  run_clock.elapsed_s = 99;
  start_progress_file(path, 25, run_clock, time);
  EXPECT_EQ(read(), " 0" + std::string(13, ' ') + "25 \r\n");
  EXPECT_EQ(run_clock.last_timer, 5000);  // half to even
  EXPECT_EQ(run_clock.elapsed_s, 0);
}

TEST_F(ProgressFile, WorkedExample) {
  time.monotonic = 1000;
  start_progress_file(path, 25, run_clock, time);
  success_at(1035.4L, 23);
  EXPECT_EQ(run_clock.tick_s, 35);
  EXPECT_EQ(run_clock.last_timer, 1035);
  success_at(1046.0L, 20);
  EXPECT_EQ(run_clock.tick_s, 11);
  EXPECT_EQ(run_clock.elapsed_s, 46);
  EXPECT_EQ(read(), record("0", 12, "25") + record("35", 11, "23") + record("46", 11, "20"));
}

TEST_F(ProgressFile, IntervalsRunFromTheRoundedPreviousMark) {
  time.monotonic = 1000;
  start_progress_file(path, 25, run_clock, time);
  // The two readings of one mark differ: the interval ends at the first, the next interval
  // starts at the second, rounded.
  time.monotonic_script = {1035.4L, 1035.6L, 1046.0L, 1046.2L};
  append_progress(path, 23, run_clock, time);
  EXPECT_EQ(run_clock.tick_s, 35);
  EXPECT_EQ(run_clock.last_timer, 1036);
  append_progress(path, 23, run_clock, time);
  EXPECT_EQ(run_clock.tick_s, 10);
  EXPECT_EQ(run_clock.elapsed_s, 45);
  EXPECT_EQ(time.monotonic_reads, 5);
}

TEST_F(ProgressFile, MidnightAndLongRunsNeedNoCorrection) {
  struct Case {
    long double start, mark;
    long expected;
  };
  const Case cases[] = {
      {86395, 86403.2L, 8},            // the wall clock passes midnight in between
      {1000, 1000 + 90000.4L, 90000},  // more than a day between two records
      {1000, 1000 + 3 * 86400.0L + 7.5L, 3 * 86400 + 8},
      {2.5L, 2.5L, 0},  // the start rounds to 2 (even), the mark is 0.5 later: to even
  };
  for (const Case& c : cases) {
    run_clock = {};
    time = FakeClock{};
    time.time_of_day_script = {86395, 3.2L};  // must not be read at all
    time.monotonic = c.start;
    start_progress_file(path, 25, run_clock, time);
    success_at(c.mark, 24);
    EXPECT_EQ(run_clock.elapsed_s, c.expected) << c.start << " -> " << c.mark;
    EXPECT_EQ(time.time_of_day_reads, 0);
  }
}

TEST_F(ProgressFile, RecordLostWhileLockedButClockAdvances) {
  time.monotonic = 0;
  start_progress_file(path, 25, run_clock, time);
  {
    const lyap::LockedFile other = lyap::open_locked(path, lyap::OpenMode::read);
    ASSERT_TRUE(other.is_open());
    success_at(10, 24);
  }
  success_at(30, 22);
  EXPECT_EQ(read(), record("0", 12, "25") + record("30", 11, "22"));
}

TEST_F(ProgressFile, LongElapsedTimesPushTheSecondField) {
  time.monotonic = 0;
  start_progress_file(path, 25, run_clock, time);
  success_at(12345678901.0L, 7);   // 11 digits: the text ends at column 13
  success_at(123456789012.0L, 7);  // 12 digits: the next zone is column 28
  EXPECT_EQ(read(), record("0", 12, "25") + record("12345678901", 2, "7") + " 123456789012 " +
                        std::string(14, ' ') + " 7 \r\n");
}

TEST_F(ProgressFile, AbsurdClockReadingsSaturate) {
  time.monotonic = 0;
  start_progress_file(path, 25, run_clock, time);
  success_at(1e30L, 5);
  EXPECT_EQ(run_clock.elapsed_s, LLONG_MAX);
  success_at(2e30L, 5);
  EXPECT_EQ(run_clock.elapsed_s, LLONG_MAX);
  success_at(std::numeric_limits<long double>::quiet_NaN(), 5);
  EXPECT_EQ(run_clock.elapsed_s, LLONG_MAX);
}

TEST_F(ProgressFile, UnwritablePlaceLosesRecordsQuietly) {
  const std::string nowhere = dir + "/missing/lyapsearch.dat";
  time.monotonic = 100;
  start_progress_file(nowhere, 25, run_clock, time);
  EXPECT_EQ(run_clock.last_timer, 100);
  time.monotonic = 160;
  append_progress(nowhere, 24, run_clock, time);
  EXPECT_EQ(run_clock.elapsed_s, 60);
  ProgressReader reader(nowhere);
  EXPECT_TRUE(lyap::progress_at_end(reader));
  long double t = -1, v = -1;
  lyap::read_progress_record(reader, t, v);
  EXPECT_EQ(t, 0);
  EXPECT_EQ(v, 0);
}

TEST_F(ProgressFile, ReadsBackWhatItWrote) {
  time.monotonic = 0;
  start_progress_file(path, 25, run_clock, time);
  success_at(35, 23);
  success_at(46, 23);
  const std::vector<std::pair<long double, long double>> expected = {{0, 25}, {35, 23}, {46, 23}};
  EXPECT_EQ(records(), expected);
}

struct ReadCase {
  const char* name;
  std::string bytes;
  std::vector<long double> numbers;  // every number read, in order, until the end
};

TEST_F(ProgressFile, ReaderEdgeCases) {
  const ReadCase cases[] = {
      {"empty file", "", {}},
      {"comma separated", "1,2\r\n", {1, 2}},
      {"tabs and LF inside are skipped", " 1\t2\n3 , 4\r\n", {123, 4}},
      {"spaces separate", "1 2 3 4", {1, 2, 3, 4}},
      {"a lone CR ends a record", "1\r2\r\n", {1, 2}},
      {"decimals, exponents, signs", "1.5e3,-2.25 +7 .5\r\n", {1500, -2.25L, 7, 0.5L}},
      {"hundred-digit number", std::string(1, '1').append(99, '0').append(",0"), {1e99L, 0}},
      {"beyond double range", "1e400 -1e400", {1e400L, -1e400L}},
      {"beyond extended range", "1e5000 1e-5000", {inf, 0}},
      {"huge exponent digits", "1e99999999999999999999 2", {inf, 2}},
      {"words are not numbers", "nan inf junk", {0, 0, 0, 0}},
      {"a number ends where its syntax does", "12abc 0x1A 1e 1e+ 3-4", {12, 0, 1, 1, 3, 0}},
      {"signs and points alone", "- . +", {0, 0, 0, 0}},
      {"leading zeros", "00012 0.000 0.0025", {12, 0, 0.0025L, 0}},
      {"only line ends", "\r\r\r", {0, 0, 0, 0}},
      {"bytes 0 and 255", std::string("7\0 \xff", 4), {7, 0}},
  };
  for (const ReadCase& c : cases) {
    write(c.bytes);
    std::vector<long double> got;
    for (const auto& [t, v] : records()) {
      got.push_back(t);
      got.push_back(v);
    }
    ASSERT_EQ(got.size(), c.numbers.size() + c.numbers.size() % 2) << c.name;
    for (std::size_t i = 0; i < c.numbers.size(); ++i) {
      EXPECT_EQ(got[i], c.numbers[i]) << c.name << ", number " << i;
    }
  }
}

TEST_F(ProgressFile, VeryLongNumbersKeepTheirMagnitude) {
  // A megabyte of digits reads in bounded memory and keeps its size and leading digits.
  write("000" + std::string(1, '4') + std::string(1 << 20, '2') + "e-1048570 9\r\n");
  const auto all = records();
  ASSERT_EQ(all.size(), 1u);
  EXPECT_NEAR(static_cast<double>(all[0].first), 4222222.2222222222, 1e-6);
  EXPECT_EQ(all[0].second, 9);
  write("0." + std::string(1 << 20, '0') + "1 8");
  EXPECT_EQ(records(), (std::vector<std::pair<long double, long double>>{{0, 8}}));
}

#ifndef _WIN32  // fmemopen is POSIX
// Any bytes at all: the reader must end, never produce NaN, and keep the sanitizers quiet.
// The bytes are served from memory through the reader's stream, so that many inputs run fast.
TEST(ProgressReaderFuzz, RandomBytes) {
  std::mt19937_64 gen(977);
  const std::string alphabet = " ,\r\n\t0123456789.eE+-";
  long inputs = 0;
  long numbers = 0;
  for (int iter = 0; iter < 100000; ++iter) {
    const std::size_t length = 1 + gen() % (iter % 100 == 0 ? 20000 : 200);
    std::string bytes;
    for (std::size_t i = 0; i < length; ++i) {
      bytes += gen() % 4 == 0 ? static_cast<char>(gen() % 256) : alphabet[gen() % alphabet.size()];
    }
    ProgressReader reader("/nonexistent/fuzz.dat");
    ASSERT_EQ(reader.file, nullptr);
    reader.file = ::fmemopen(bytes.data(), bytes.size(), "rb");
    ASSERT_NE(reader.file, nullptr);
    std::size_t records = 0;
    while (!lyap::progress_at_end(reader)) {
      long double t = 0, v = 0;
      lyap::read_progress_record(reader, t, v);
      ASSERT_FALSE(std::isnan(t) || std::isnan(v)) << bytes;
      numbers += 2;
      // Every record consumes at least one byte.
      ASSERT_LE(++records, bytes.size()) << bytes;
    }
    ++inputs;
  }
  std::printf("progress reader fuzzed: %ld inputs, %ld numbers read\n", inputs, numbers);
}
#endif

}  // namespace
