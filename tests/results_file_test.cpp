#include "report/results_file.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <time.h>

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <gtest/gtest.h>

#include "deadline.hpp"
#include "numerics/numerics.hpp"
#include "scratch.hpp"

namespace {

using lyap::append_result;
using lyap::Params;
using lyap::result_key;
using lyap::result_line;
using lyap::State;

const Params example_p = {0, 1.000136L, 0.5L, 0.37L, -1.2L, 0.05L};
const State example_x = {0, 0.3L, -0.1L, 0.2L, 0.5L};

// The example success: parameters p, exponent le, and the rest as in the example line.
lyap::TrialOutcome found(const Params& p, long double le = 0.0123L) {
  lyap::TrialOutcome o;
  o.p = p;
  o.x_start = example_x;
  o.le = le;
  o.le_range = 0.0004L;
  o.div_mean = -0.5678L;
  o.n_samples = 190000;
  return o;
}

class ResultsFile : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(scratch.ok());
    dir = scratch.path().string();
    base = scratch.file("lyapsearch");
    path = base + ".txt";
  }

  std::string read() const { return lyap::testing::read_file(path); }
  void write(const std::string& bytes) const { lyap::testing::write_file(path, bytes); }
  // The example success, with the exponent free to differ between calls.
  lyap::WriteOutcome append(const Params& p, std::string_view zeros,
                            long double le = 0.0123L) const {
    return append_result(path, found(p, le), 23, zeros, 0.99987654321L);
  }

  lyap::testing::ScratchDir scratch;
  std::string dir;
  std::string base;
  std::string path;
};

TEST_F(ResultsFile, ExampleLineByteForByte) {
  const std::string expected =
      std::string(" 1 2 3 4 5") + " 23" + "  1.00  0.50  0.37 -1.20  0.05" + "   0.0123" + "\xF1" +
      "0.0004" + "  -0.5678" + " 190001 " + " .3 -.1  .2  .5 " + " .99987654321 " + "\r\n";
  EXPECT_EQ(result_line(found(example_p), 23, "00", 0.99987654321L), expected);
  append(example_p, "00");
  EXPECT_EQ(read(), expected);
}

TEST_F(ResultsFile, KeyLeavesOutZeroParameters) {
  Params p = example_p;
  p[4] = 0;
  EXPECT_EQ(result_key(p, 23, "00"), " 1 2 3 5   23  1.00  0.50  0.37  0.00  0.05");
  p = {0, 1.000136L, 0, 0, 0, 0};
  EXPECT_EQ(result_key(p, 1234, ""), " 1        1234  1.  0.  0.  0.  0.");
  EXPECT_EQ(result_key(example_p, 23, "000000"),
            " 1 2 3 4 5 23  1.000136  0.500000  0.370000 -1.200000  0.050000");
}

TEST_F(ResultsFile, SameSetIsWrittenOncePerDecimals) {
  append(example_p, "00");
  const std::string first = read();
  append(example_p, "00", 0.5L);  // another exponent, same key
  EXPECT_EQ(read(), first);
  append(example_p, "000000");  // more decimals make another key
  const std::string both = read();
  EXPECT_EQ(both.size(),
            first.size() + result_line(found(example_p), 23, "000000", 0.99987654321L).size());
  Params other = example_p;
  other[3] = 0.38L;
  append(other, "00");
  append(other, "00");
  const std::string all = read();
  EXPECT_EQ(std::count(all.begin(), all.end(), '\n'), 3);
}

struct ScanCase {
  const char* name;
  std::string before;  // file content in front of the key, or "" for none
  bool key_in_file;    // put the key (and a tail) after `before`
  std::string after;
  bool expect_append;
};

TEST_F(ResultsFile, LineEndsAndPartialKeys) {
  const std::string key = result_key(example_p, 23, "00");
  const std::string big(65531, 'a');  // puts what follows across the 64 KiB read boundary
  const ScanCase cases[] = {
      {"empty file", "", false, "", true},
      {"key at start, CR LF", "", true, "anything\r\n", false},
      {"key after CR only", "junk\r", true, "", false},
      {"key after CR LF", "junk\r\n", true, "\r\n", false},
      {"key after byte 26", "junk\x1a", true, "tail", false},
      {"LF alone is no line end", "junk\n", true, "", true},
      {"only one LF goes with a CR", "junk\r\n\n", true, "", true},
      {"key shorter by one byte", key.substr(0, key.size() - 1), false, "\r\n", true},
      {"key shorter at end of file", key.substr(0, key.size() - 1), false, "", true},
      {"one byte differs", key.substr(0, 5) + "#" + key.substr(6), false, "\r\n", true},
      {"key indented", " ", true, "", true},
      {"key across the read boundary", big + "\r", true, "", false},
      {"CR ending a read", big + "aaaa\r", true, "", false},
      {"LF split from CR, key after", std::string(65535, 'a') + "\r\n", true, "", false},
      {"key inside a long line", big + "x", true, "", true},
  };
  for (const ScanCase& c : cases) {
    const std::string content = c.before + (c.key_in_file ? key + "tail" : "") + c.after;
    write(content);
    append(example_p, "00");
    const std::string now = read();
    EXPECT_EQ(now.size() > content.size(), c.expect_append) << c.name;
    EXPECT_EQ(now.compare(0, content.size(), content), 0) << c.name;
  }
}

TEST_F(ResultsFile, FileHeldByAnotherProgramIsReportedNotWritten) {
  write("held\r\n");
  {
    const lyap::LockedFile other = lyap::open_locked(path, lyap::OpenMode::read);
    ASSERT_TRUE(other.is_open());
    const lyap::WriteOutcome held = append(example_p, "00");
    EXPECT_EQ(held.kind, lyap::WriteOutcome::failed);
    EXPECT_EQ(held.reason, "in use by another program");
  }
  EXPECT_EQ(read(), "held\r\n");
  EXPECT_EQ(append(example_p, "00").kind, lyap::WriteOutcome::written);
  EXPECT_EQ(append(example_p, "00").kind, lyap::WriteOutcome::skipped);  // the key is there
}

TEST_F(ResultsFile, DeletedFileIsCreatedAgain) {
  append(example_p, "00");
  ASSERT_EQ(std::remove(path.c_str()), 0);
  append(example_p, "00");
  EXPECT_EQ(read(), result_line(found(example_p), 23, "00", 0.99987654321L));
}

// Start-up empties the file, and keeps what it held beside it, named from its modification time.
TEST_F(ResultsFile, EarlierResultsAreKeptBesideTheNewFile) {
  const auto stamp = [&](const std::string& file, int hour) {
    struct tm t {};
    t.tm_year = 2026 - 1900;
    t.tm_mon = 11;
    t.tm_mday = 8;
    t.tm_hour = hour;
    t.tm_min = 4;
    t.tm_sec = 5;
    t.tm_isdst = -1;
    const auto when = std::chrono::system_clock::from_time_t(::mktime(&t));
    std::error_code error;
    std::filesystem::last_write_time(file, std::chrono::file_clock::from_sys(when), error);
    ASSERT_FALSE(error) << error.message();
  };
  // Nothing to keep: no file, then an empty one.
  lyap::ResultsStart start = lyap::start_results_file(base);
  EXPECT_EQ(start.created.kind, lyap::WriteOutcome::written);
  EXPECT_TRUE(start.kept_as.empty());
  start = lyap::start_results_file(base);
  EXPECT_TRUE(start.kept_as.empty());

  // Three earlier runs, two of them with the same modification time.
  const std::vector<std::pair<std::string, int>> runs = {
      {"run one\r\n", 20}, {"run two\r\n", 20}, {"run three\r\n", 9}};
  const std::vector<std::string> names = {base + "-2026-12-08-200405.txt",
                                          base + "-2026-12-08-200405-2.txt",
                                          base + "-2026-12-08-090405.txt"};
  for (std::size_t i = 0; i < runs.size(); ++i) {
    write(runs[i].first);
    stamp(path, runs[i].second);
    start = lyap::start_results_file(base);
    EXPECT_EQ(start.created.kind, lyap::WriteOutcome::written);
    EXPECT_EQ(start.kept_as, names[i]);
    EXPECT_EQ(read(), "");
  }
  for (std::size_t i = 0; i < runs.size(); ++i) {
    EXPECT_EQ(lyap::testing::read_file(names[i]), runs[i].first);
  }
}

// What needs POSIX to set up: rusage, file size limits in a child, FIFOs, permissions that bind
// only a user other than root, and the system's words for failures.
#ifndef _WIN32

long peak_rss_kb() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

TEST_F(ResultsFile, HugeLineIsSkippedWithoutHoldingIt) {
  const std::string key = result_key(example_p, 23, "00");
  {
    std::ofstream out(path, std::ios::binary);
    const std::string chunk(1 << 20, 'z');
    for (int i = 0; i < 50; ++i) out << chunk;  // one 50 MB line
    out << "\r\n" << key << "\r\n";
  }
  const long before = peak_rss_kb();
  append(example_p, "00");
  EXPECT_LT(peak_rss_kb() - before, 20 * 1024) << "the scan held the line in memory";
  struct stat info {};
  ASSERT_EQ(::stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_size, 50L * (1 << 20) + 2 + static_cast<long>(key.size()) + 2);

  // The same line without its end swallows the key: now the line is appended.
  ASSERT_EQ(::truncate(path.c_str(), 50L * (1 << 20)), 0);
  {
    std::ofstream out(path, std::ios::binary | std::ios::app);
    out << key << "\r\n";
  }
  append(example_p, "00");
  ASSERT_EQ(::stat(path.c_str(), &info), 0);
  EXPECT_GT(info.st_size, 50L * (1 << 20) + static_cast<long>(key.size()) + 2);
}

TEST_F(ResultsFile, UnwritablePlacesFailWithTheSystemsReason) {
  // None of these may crash, block or leave anything behind.
  struct Place {
    std::string base;
    std::string reason;
  };
  const std::vector<Place> places = {
      {dir + "/missing/lyapsearch", "No such file or directory"},
      {dir + "/folder", "Is a directory"},  // a folder under the file's name
      {"/proc/lyapsearch_results", "No such file or directory"},
  };
  ASSERT_EQ(::mkdir((dir + "/folder.txt").c_str(), 0755), 0);
  for (const Place& place : places) {
    const lyap::WriteOutcome appended =
        append_result(place.base + ".txt", found(example_p), 23, "00", 0.99987654321L);
    EXPECT_EQ(appended.kind, lyap::WriteOutcome::failed) << place.base;
    EXPECT_EQ(appended.reason, place.reason) << place.base;
    const lyap::ResultsStart start = lyap::start_results_file(place.base);
    EXPECT_EQ(start.created.kind, lyap::WriteOutcome::failed) << place.base;
    EXPECT_TRUE(start.kept_as.empty());
  }
  struct stat info {};
  EXPECT_NE(::stat((dir + "/missing").c_str(), &info), 0);
  EXPECT_NE(::stat("/proc/lyapsearch_results.txt", &info), 0);
}

TEST_F(ResultsFile, FullDiskLeavesNoHalfLine) {
  append(example_p, "00");
  const std::string before = read();
  // A child whose file size limit lets only part of the next line through, as a full disk
  // would.
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{before.size() + 40, before.size() + 40};
    if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(77);
    Params other = example_p;
    other[3] = 0.38L;
    append_result(path, found(other), 23, "00", 1);
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_NE(WEXITSTATUS(status), 77);
  EXPECT_EQ(read(), before);
  // The next line that fits goes in whole.
  Params other = example_p;
  other[3] = 0.38L;
  append(other, "00");
  EXPECT_EQ(read().size(), 2 * before.size());
}

TEST_F(ResultsFile, FifoUnderTheNameDoesNotBlockAndMovesAside) {
  const lyap::testing::Deadline deadline;
  ASSERT_EQ(::mkfifo(path.c_str(), 0644), 0);
  EXPECT_EQ(append(example_p, "00").reason, "not a regular file");  // would hang if opened
  const lyap::ResultsStart start = lyap::start_results_file(base);
  EXPECT_EQ(start.created.kind, lyap::WriteOutcome::written);
  struct stat info {};
  ASSERT_EQ(::lstat(start.kept_as.c_str(), &info), 0);
  EXPECT_TRUE(S_ISFIFO(info.st_mode));
  ASSERT_EQ(::lstat(path.c_str(), &info), 0);
  EXPECT_TRUE(S_ISREG(info.st_mode));
  EXPECT_EQ(info.st_size, 0);
}

TEST_F(ResultsFile, ReadOnlyDirectoryIsReportedAndKeepsEverything) {
  write("earlier find\r\n");
  ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
  ASSERT_EQ(::chmod(dir.c_str(), 0555), 0);
  // Root writes through directory permissions, so as root the write is tried by a child that
  // has given up its rights.
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(77);
    // The earlier file cannot be moved aside, so it is neither emptied nor appended to here
    // (it is read-only to this user too).
    const lyap::ResultsStart start = lyap::start_results_file(base);
    const bool reported = start.created.reason == "Permission denied" && start.kept_as.empty();
    const bool appended = append(example_p, "00").kind != lyap::WriteOutcome::failed;
    const bool kept = lyap::testing::read_file(path) == "earlier find\r\n";
    const bool nothing_new = ::access((dir + "/lyapsearch-").c_str(), F_OK) != 0;
    ::_exit(reported && !appended && kept && nothing_new ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "cannot drop root rights here";
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the earlier file changed, or the failure went unsaid";
}

#endif  // _WIN32

}  // namespace
