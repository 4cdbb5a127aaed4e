// The real program, headless (input at its end, no display), searches until a signal ends it
// and keeps every processor it may use busy, and no more: its CPU time over a few seconds, read
// from /proc, is close to one processor's worth per usable processor, also when its affinity
// mask allows only one. Runs alone (RUN_SERIAL): its workers run at the
// lowest priority and would yield to other tests.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "scratch.hpp"

namespace {

namespace fs = std::filesystem;

// User plus system time of a process, in seconds.
double cpu_seconds(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // Fields after the command name, which ends with the last ')': state is field 3, utime 14.
  std::istringstream fields(stat.substr(stat.rfind(')') + 2));
  std::string field;
  double ticks = 0;
  for (int n = 3; n <= 15 && fields >> field; ++n) {
    if (n >= 14) ticks += std::stod(field);
  }
  return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// The nice value of each of the process's threads, the main thread first.
std::vector<int> thread_nice_values(pid_t pid) {
  std::vector<int> values;
  const fs::path tasks = "/proc/" + std::to_string(pid) + "/task";
  std::vector<std::string> ids;
  for (const auto& entry : fs::directory_iterator(tasks)) ids.push_back(entry.path().filename());
  std::sort(ids.begin(), ids.end(),
            [](const std::string& a, const std::string& b) { return std::stol(a) < std::stol(b); });
  for (const std::string& id : ids) {
    std::ifstream in(tasks / id / "stat");
    std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::istringstream fields(stat.substr(stat.rfind(')') + 2));
    std::string field;
    for (int n = 3; n <= 19 && fields >> field; ++n) {
      if (n == 19) values.push_back(std::stoi(field));
    }
  }
  return values;
}

struct Use {
  double processors = -1;        // busy on average while the program searches
  std::vector<int> nice;         // of its threads, the main thread first
  bool ended_by_signal = false;  // still searching after seconds, then ended by SIGTERM
  std::string progress;          // the progress file it leaves
};

Use processors_used(const cpu_set_t& mask) {
  const lyap::testing::ScratchDir scratch;
  fs::copy_file(LYAPSEARCH_EXE, scratch.path() / "lyapsearch");
  const pid_t pid = fork();
  if (pid == 0) {
    const int in = open("/dev/null", O_RDONLY);
    const int out = open("/dev/null", O_WRONLY);
    if (chdir(scratch.path().c_str()) != 0 || in < 0 || out < 0 || dup2(in, 0) < 0 ||
        dup2(out, 1) < 0 || sched_setaffinity(0, sizeof mask, &mask) != 0) {
      _exit(127);
    }
    unsetenv("DISPLAY");
    execl("./lyapsearch", "lyapsearch", static_cast<char*>(nullptr));
    _exit(127);
  }
  if (pid < 0) return {};
  std::this_thread::sleep_for(std::chrono::milliseconds(500));  // start-up
  Use use;
  use.nice = thread_nice_values(pid);
  const double cpu_before = cpu_seconds(pid);
  const auto wall_before = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(std::chrono::seconds(3));
  const double cpu = cpu_seconds(pid) - cpu_before;
  const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - wall_before;
  int status = 0;
  const bool running = waitpid(pid, &status, WNOHANG) == 0;
  kill(pid, SIGTERM);
  waitpid(pid, &status, 0);
  use.ended_by_signal = running && WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM;
  use.progress = lyap::testing::read_file(scratch.path() / "lyapsearch.dat");
  use.processors = cpu / wall.count();
  return use;
}

TEST(Cores, EveryUsableProcessorSearches) {
  cpu_set_t all;
  ASSERT_EQ(sched_getaffinity(0, sizeof all, &all), 0);
  const int usable = CPU_COUNT(&all);
  const Use use = processors_used(all);
  EXPECT_GT(use.processors, 0.75 * usable) << usable << " processors";
  EXPECT_LT(use.processors, usable + 0.2);
  // One worker per processor at the lowest priority; the main thread keeps its own.
  std::vector<int> expected(static_cast<std::size_t>(usable) + 1, 19);
  expected[0] = 0;
  EXPECT_EQ(use.nice, expected);
  EXPECT_TRUE(use.ended_by_signal);
  EXPECT_EQ(use.progress, " 0" + std::string(13, ' ') + "25 \r\n");

  // As `taskset -c` with the first usable processor.
  cpu_set_t one;
  CPU_ZERO(&one);
  for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
    if (CPU_ISSET(cpu, &all)) {
      CPU_SET(cpu, &one);
      break;
    }
  }
  const Use alone = processors_used(one);
  EXPECT_GT(alone.processors, 0.8);
  EXPECT_LT(alone.processors, 1.1);
  EXPECT_EQ(alone.nice, (std::vector<int>{0, 19}));
}

}  // namespace
