// A search ended at random moments while it writes finds, by SIGKILL, by the usual signals and
// by a full disk: afterwards every line of the results file is whole and every progress record
// reads back; after a signal the terminal is as it was.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "pty_session.hpp"
#include "scratch.hpp"

namespace {

namespace fs = std::filesystem;
using lyap::testing::read_file;
using lyap::testing::ScratchDir;
using lyap::testing::Session;

// The lines of a text, each without its CR LF; false when the text does not end with one.
bool split_lines(const std::string& text, std::vector<std::string>& lines) {
  std::size_t begin = 0;
  while (begin < text.size()) {
    const std::size_t end = text.find("\r\n", begin);
    if (end == std::string::npos) return false;
    lines.push_back(text.substr(begin, end - begin));
    begin = end + 2;
  }
  return true;
}

std::vector<std::string> words(const std::string& text) {
  std::vector<std::string> out;
  std::size_t at = 0;
  while ((at = text.find_first_not_of(' ', at)) != std::string::npos) {
    const std::size_t end = text.find(' ', at);
    out.push_back(text.substr(at, end - at));
    at = end;
  }
  return out;
}

bool is_number(const std::string& word) {
  if (word == "NAN" || word == "INF" || word == "-INF") return true;
  char* end = nullptr;
  std::strtold(word.c_str(), &end);
  return !word.empty() && end == word.c_str() + word.size();
}

// Whole lines only: nothing after the last CR LF, and each line with every field of a result:
// index list, complexity, five parameters and the exponent before the byte 0xF1; the range
// (four decimals), the divergence, the sample count, four start values and the invariant ratio
// after it, the last number with its trailing space.
::testing::AssertionResult results_whole(const std::string& text) {
  std::vector<std::string> lines;
  if (!split_lines(text, lines)) return ::testing::AssertionFailure() << "cut line: " << text;
  for (const std::string& line : lines) {
    const std::size_t mark = line.find('\xF1');
    const auto broken = [&] { return ::testing::AssertionFailure() << "broken: " << line; };
    if (mark == std::string::npos || line.back() != ' ') return broken();
    const std::vector<std::string> before = words(line.substr(0, mark));
    const std::vector<std::string> after = words(line.substr(mark + 1));
    if (before.size() < 8 || after.size() != 8) return broken();
    for (const auto& w : before) {
      if (!is_number(w)) return broken();
    }
    for (const auto& w : after) {
      if (!is_number(w)) return broken();
    }
    if (after[0].size() != 6 || before.back().size() < 6) return broken();
  }
  return ::testing::AssertionSuccess();
}

// Records of two whole numbers, each line " seconds<spaces> complexity ".
::testing::AssertionResult progress_whole(const std::string& text) {
  std::vector<std::string> lines;
  if (!split_lines(text, lines)) return ::testing::AssertionFailure() << "cut record: " << text;
  for (const std::string& line : lines) {
    const std::vector<std::string> w = words(line);
    const bool digits = w.size() == 2 &&
                        w[0].find_first_not_of("0123456789") == std::string::npos &&
                        w[1].find_first_not_of("0123456789") == std::string::npos;
    if (!digits || line.front() != ' ' || line.back() != ' ') {
      return ::testing::AssertionFailure() << "broken record: " << line;
    }
  }
  return ::testing::AssertionSuccess();
}

// No bitmap, or a whole one: the picture of a find is never left half written.
::testing::AssertionResult bitmap_whole(const fs::path& file) {
  const std::string bytes = read_file(file);
  if (!fs::exists(file)) return ::testing::AssertionSuccess();
  if (bytes.size() != 559734 || bytes.substr(0, 6) != std::string("BM\x76\x8a\x08\x00", 6))
    return ::testing::AssertionFailure() << "bitmap of " << bytes.size() << " bytes";
  return ::testing::AssertionSuccess();
}

std::size_t lines_in(const std::string& text) {
  std::size_t n = 0;
  for (std::size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at + 2))
    ++n;
  return n;
}

// The search started in a folder with no terminal and no display, its console going into a pipe
// that the test reads.
struct Search {
  pid_t pid = -1;
  int out = -1;
  std::string console;

  Search(const fs::path& dir, rlim_t file_size_limit = RLIM_INFINITY) {
    fs::copy_file(LYAPSEARCH_SEARCH_TARGET, dir / "lyapsearch",
                  fs::copy_options::overwrite_existing);
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) return;
    pid = fork();
    if (pid == 0) {
      const int in = open("/dev/null", O_RDONLY);
      if (chdir(dir.c_str()) != 0 || in < 0 || dup2(in, 0) < 0 || dup2(ends[1], 1) < 0) _exit(127);
      unsetenv("DISPLAY");
      const rlimit limit{file_size_limit, file_size_limit};
      if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(127);
      execl("./lyapsearch", "lyapsearch", static_cast<char*>(nullptr));
      _exit(127);
    }
    close(ends[1]);
    out = ends[0];
    fcntl(out, F_SETFL, O_NONBLOCK);
  }
  ~Search() {
    if (pid > 0) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
    if (out >= 0) close(out);
  }
  const std::string& read_console() {
    char buffer[4096];
    ssize_t n;
    while ((n = read(out, buffer, sizeof buffer)) > 0) console.append(buffer, n);
    return console;
  }
  int kill_now(int sig) {
    int status = -1;
    if (kill(pid, sig) == 0 && waitpid(pid, &status, 0) == pid) pid = -1;
    return status;
  }
};

bool wait_until(const std::function<bool()>& done, std::chrono::seconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// A value of the state file, -1 when there is none to read.
long long state_value(const fs::path& dir, const std::string& name) {
  const std::string text = read_file(dir / "lyapsearch.state");
  const std::size_t at = text.find("\n" + name + ": ");
  if (at == std::string::npos) return -1;
  return std::atoll(text.c_str() + at + name.size() + 3);
}

// The progress records as (seconds, budget).
std::vector<std::pair<long long, long long>> records_of(const std::string& text) {
  std::vector<std::string> lines;
  split_lines(text, lines);
  std::vector<std::pair<long long, long long>> records;
  for (const std::string& line : lines) {
    const std::vector<std::string> w = words(line);
    if (w.size() == 2) records.emplace_back(std::atoll(w[0].c_str()), std::atoll(w[1].c_str()));
  }
  return records;
}

// The keys of the result lines: the index list, the budget and the parameters, which is all
// before the exponent.
::testing::AssertionResult no_key_twice(const std::string& results) {
  std::vector<std::string> lines, keys;
  split_lines(results, lines);
  for (const std::string& line : lines) {
    const std::string before = line.substr(0, line.find('\xF1'));
    keys.push_back(before.substr(0, before.find_last_not_of(' ', before.find_last_of(' ')) + 1));
  }
  std::sort(keys.begin(), keys.end());
  const auto twice = std::adjacent_find(keys.begin(), keys.end());
  if (twice != keys.end()) return ::testing::AssertionFailure() << "twice: " << *twice;
  return ::testing::AssertionSuccess();
}

// Killed at random moments while it writes finds, each search is started again in its folder,
// and continues: whole lines, no find lost or written twice, the run time and the finds going
// on, the budget never rising, and nothing kept aside.
TEST(Kill, EveryKillLeavesWholeLinesAndTheNextStartContinues) {
  const ScratchDir scratch;
  ASSERT_TRUE(scratch.ok());
  std::mt19937 random(std::random_device{}());
  std::uniform_int_distribution<int> pause_us(0, 20000);
  long long most_finds = 0;
  for (int folder = 0; folder < 20; ++folder) {
    const fs::path dir = scratch.path() / std::to_string(folder);
    fs::create_directory(dir);
    std::string results_before;
    long long finds_before = 0;
    for (int start = 0; start < 6; ++start) {
      SCOPED_TRACE("folder " + std::to_string(folder) + ", start " + std::to_string(start));
      Search search(dir);
      ASSERT_GT(search.pid, 0);
      // After one to three finds of this start (however fast this build finds them), at any
      // moment of the next.
      const long long wanted = finds_before + 1 + (folder + start) % 3;
      ASSERT_TRUE(wait_until(
          [&] {
            search.read_console();
            return state_value(dir, "finds") >= wanted;
          },
          std::chrono::seconds(60)))
          << search.console;
      if (start > 0) {
        EXPECT_NE(search.console.find("Continuing the search begun "), std::string::npos);
        EXPECT_NE(search.console.find(" trials, " + std::to_string(finds_before) + " finds"),
                  std::string::npos)
            << search.console.substr(0, 200);
      }
      std::this_thread::sleep_for(std::chrono::microseconds(pause_us(random)));
      const int status = search.kill_now(SIGKILL);
      ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;

      const std::string results = read_file(dir / "lyapsearch.txt");
      ASSERT_TRUE(results_whole(results));
      ASSERT_EQ(results.substr(0, results_before.size()), results_before);
      ASSERT_TRUE(no_key_twice(results));
      const std::string progress = read_file(dir / "lyapsearch.dat");
      ASSERT_TRUE(progress_whole(progress));
      ASSERT_TRUE(bitmap_whole(dir / "lyapsearch.bmp"));
      const auto records = records_of(progress);
      ASSERT_FALSE(records.empty());
      EXPECT_EQ(records[0], (std::pair<long long, long long>{0, 25}));
      for (std::size_t i = 1; i < records.size(); ++i) {
        EXPECT_GE(records[i].first, records[i - 1].first) << progress;
        EXPECT_LE(records[i].second, records[i - 1].second) << progress;
      }
      // One record at the start and one per find; a kill between a find's state and its
      // record leaves the record to the next start.
      const long long finds = state_value(dir, "finds");
      EXPECT_GE(finds, finds_before);
      EXPECT_TRUE(finds == static_cast<long long>(records.size()) - 1 ||
                  finds == static_cast<long long>(records.size()))
          << finds << " finds, " << records.size() << " records";
      for (const auto& entry : fs::directory_iterator(dir)) {
        EXPECT_NE(entry.path().filename().string().rfind("lyapsearch-", 0), 0u) << entry.path();
      }
      results_before = results;
      finds_before = finds;
    }
    most_finds = std::max(most_finds, finds_before);
  }
  // The kills did come while finds were being written, not only after the first.
  EXPECT_GE(most_finds, 6);
}

// The signals a user or a batch system sends end the search with whole files and the terminal
// as it was found.
TEST(Kill, SignalsLeaveWholeFilesAndTheTerminalRestored) {
  std::mt19937 random(std::random_device{}());
  std::uniform_int_distribution<int> pause_us(0, 40000);
  for (const int sig : {SIGTERM, SIGINT, SIGHUP, SIGTERM, SIGINT, SIGHUP}) {
    const ScratchDir scratch;
    ASSERT_TRUE(scratch.ok());
    const fs::path& dir = scratch.path();
    Session session(dir, "stty -g > before.txt; ./lyapsearch; stty -g > after.txt",
                    LYAPSEARCH_SEARCH_TARGET);
    ASSERT_TRUE(session.started());
    ASSERT_TRUE(session.wait_for([&] { return fs::exists(dir / "lyapsearch.bmp"); },
                                 std::chrono::seconds(60)));
    std::this_thread::sleep_for(std::chrono::microseconds(pause_us(random)));
    // The search is the shell's only child.
    ASSERT_EQ(system(("pkill -" + std::to_string(sig) + " -P " + std::to_string(session.pid()) +
                      " -x lyapsearch")
                         .c_str()),
              0);
    // The shell creates the file before stty writes it.
    ASSERT_TRUE(session.wait_for([&] { return !read_file(dir / "after.txt").empty(); },
                                 std::chrono::seconds(30)));
    EXPECT_EQ(read_file(dir / "after.txt"), read_file(dir / "before.txt")) << strsignal(sig);
    EXPECT_TRUE(results_whole(read_file(dir / "lyapsearch.txt"))) << strsignal(sig);
    EXPECT_TRUE(progress_whole(read_file(dir / "lyapsearch.dat"))) << strsignal(sig);
    EXPECT_TRUE(lyap::testing::temporaries_in(dir).empty()) << strsignal(sig);
  }
}

// Saves take most of the test search's time, so a signal at a random moment mostly comes
// during one; with no terminal, nothing but the files' own handler sees it. The save's temporary
// goes, and the signal still ends the process as the signal it is.
TEST(Kill, SignalsDuringSavesLeaveNoTemporary) {
  std::mt19937 random(std::random_device{}());
  std::uniform_int_distribution<int> pause_us(0, 20000);
  const ScratchDir scratch;
  ASSERT_TRUE(scratch.ok());
  int round = 0;
  for (const int sig : {SIGTERM, SIGINT, SIGHUP, SIGQUIT, SIGPIPE, SIGUSR1}) {
    for (int repeat = 0; repeat < 4; ++repeat) {
      SCOPED_TRACE(std::string(strsignal(sig)) + ", round " + std::to_string(repeat));
      const fs::path dir = scratch.path() / std::to_string(round++);
      fs::create_directory(dir);
      Search search(dir);
      ASSERT_GT(search.pid, 0);
      ASSERT_TRUE(
          wait_until([&] { return fs::exists(dir / "lyapsearch.bmp"); }, std::chrono::seconds(60)));
      std::this_thread::sleep_for(std::chrono::microseconds(pause_us(random)));
      const int status = search.kill_now(sig);
      EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << status;
      for (const std::string& name : lyap::testing::temporaries_in(dir)) ADD_FAILURE() << name;
    }
  }
}

// A disk that fills up: the search goes on, says once which file it cannot write and why, and
// leaves no half line.
TEST(Kill, FullDiskLeavesNoHalfLineAndIsSaid) {
  const ScratchDir scratch;
  ASSERT_TRUE(scratch.ok());
  const fs::path& dir = scratch.path();
  constexpr rlim_t limit = 500;  // room for four lines or so
  Search search(dir, limit);
  ASSERT_GT(search.pid, 0);
  const auto said = [&](const std::string& text) {
    return search.read_console().find(text) != std::string::npos;
  };
  EXPECT_TRUE(
      wait_until([&] { return said("lyapsearch.txt: File too large"); }, std::chrono::seconds(60)))
      << search.console;
  // It searches on past the full disk.
  const std::size_t console_then = search.console.size();
  EXPECT_TRUE(wait_until([&] { return search.read_console().size() > console_then + 2000; },
                         std::chrono::seconds(60)));
  const int status = search.kill_now(SIGKILL);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
  const std::string results = read_file(dir / "lyapsearch.txt");
  EXPECT_TRUE(results_whole(results));
  EXPECT_LE(results.size(), limit);
  EXPECT_GE(lines_in(results), 2u);
  // The bitmap never fits: said once, however many finds tried.
  const std::string& console = search.console;
  std::size_t bitmap_warnings = 0;
  for (std::size_t at = console.find("lyapsearch.bmp: File too large"); at != std::string::npos;
       at = console.find("lyapsearch.bmp: File too large", at + 1))
    ++bitmap_warnings;
  EXPECT_EQ(bitmap_warnings, 1u);
  // A save that does not fit leaves no broken picture, and no temporary file either (the kill
  // may catch a smaller file's write under way).
  EXPECT_FALSE(fs::exists(dir / "lyapsearch.bmp"));
  for (const std::string& name : lyap::testing::temporaries_in(dir)) {
    EXPECT_FALSE(name.starts_with("lyapsearch.bmp")) << name;
  }
}

}  // namespace
