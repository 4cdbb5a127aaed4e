// The real program, headless (input at its end, output not a terminal, no display), searches on
// one worker thread per processor its affinity mask allows, also when the mask allows only one,
// until a signal ends it. (A CPU quota would lower the count; the test assumes none.) The
// workers run at the lowest priority while the main thread keeps its own, and every worker runs
// trials: each gains processor time of its own, as /proc counts it. A worker at nice 19 gets
// only what the rest of the machine leaves, so the test waits for that time with a deadline that
// only a broken program exceeds, and never asks how much it gets.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "scratch.hpp"

namespace {

namespace fs = std::filesystem;

// Minutes where a quiet machine needs a fraction of a second: a worker at nice 19 beside
// programs at nice 0 gets a few percent of a processor.
constexpr std::chrono::minutes work_deadline{3};

struct ThreadUse {
  long id = 0;
  int nice = 0;
  long long cpu_ticks = 0;  // user plus system time
};

// The threads of a running process as /proc shows them; none once it has ended.
std::vector<ThreadUse> threads_of(pid_t pid) {
  std::vector<ThreadUse> threads;
  std::error_code error;
  fs::directory_iterator tasks("/proc/" + std::to_string(pid) + "/task", error);
  for (; !error && tasks != fs::directory_iterator(); tasks.increment(error)) {
    std::ifstream in(tasks->path() / "stat");
    const std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::size_t name_end = stat.rfind(')');
    if (name_end == std::string::npos) continue;  // ended meanwhile
    // The fields after the command name, which ends with the last ')': state is field 3,
    // utime 14, stime 15, nice 19.
    std::istringstream fields(stat.substr(name_end + 2));
    ThreadUse thread;
    thread.id = std::stol(tasks->path().filename().string());
    std::string field;
    for (int n = 3; n <= 19 && fields >> field; ++n) {
      if (n == 14 || n == 15) thread.cpu_ticks += std::stoll(field);
      if (n == 19) thread.nice = std::stoi(field);
    }
    threads.push_back(thread);
  }
  return threads;
}

struct Search {
  int main_nice = -1;
  std::vector<ThreadUse> workers;  // every thread but the main one
  bool ended_by_signal = false;    // searched until SIGTERM ended it
  std::string progress;            // the progress file it leaves
};

// Runs the program under `mask` until each of `workers` threads besides the main one has had a
// clock tick (10 ms) of processor time, or the deadline has passed, then ends it with SIGTERM.
// A thread that only started and waited for work has no tick; one running trials soon has.
Search search_headless(const cpu_set_t& mask, int workers) {
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

  Search search;
  int status = 0;
  bool ended = false;
  bool workers_ran = false;
  const auto deadline = std::chrono::steady_clock::now() + work_deadline;
  for (;;) {
    ended = waitpid(pid, &status, WNOHANG) != 0;
    if (ended) break;
    std::vector<ThreadUse> threads = threads_of(pid);
    const auto main = std::find_if(threads.begin(), threads.end(),
                                   [pid](const ThreadUse& t) { return t.id == pid; });
    if (main != threads.end()) {
      search.main_nice = main->nice;
      threads.erase(main);
      search.workers = threads;
      workers_ran = static_cast<int>(threads.size()) >= workers &&
                    std::all_of(threads.begin(), threads.end(),
                                [](const ThreadUse& t) { return t.cpu_ticks > 0; });
    }
    if (workers_ran || std::chrono::steady_clock::now() > deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  if (!ended) {
    kill(pid, SIGTERM);
    waitpid(pid, &status, 0);
  }
  search.ended_by_signal = !ended && WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM;
  search.progress = lyap::testing::read_file(scratch.path() / "lyapsearch.dat");
  return search;
}

TEST(Cores, OneWorkerPerUsableProcessorSearchesAtTheLowestPriority) {
  cpu_set_t all;
  ASSERT_EQ(sched_getaffinity(0, sizeof all, &all), 0);
  // The main thread keeps the priority it inherits, 0 unless the tests run under nice.
  errno = 0;
  const int own_nice = getpriority(PRIO_PROCESS, 0);
  ASSERT_EQ(errno, 0);
  // All of them, and as `taskset -c` with the first.
  cpu_set_t one;
  CPU_ZERO(&one);
  for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
    if (CPU_ISSET(cpu, &all)) {
      CPU_SET(cpu, &one);
      break;
    }
  }
  for (const cpu_set_t& mask : {all, one}) {
    const int usable = CPU_COUNT(&mask);
    const Search search = search_headless(mask, usable);
    const std::string what = std::to_string(usable) + " usable processor(s)";
    EXPECT_EQ(search.main_nice, own_nice) << what;
    EXPECT_EQ(search.workers.size(), static_cast<std::size_t>(usable)) << what;
    for (const ThreadUse& worker : search.workers) {
      EXPECT_EQ(worker.nice, 19) << what << ", thread " << worker.id;
      EXPECT_GT(worker.cpu_ticks, 0) << what << ", thread " << worker.id << " never ran";
    }
    EXPECT_TRUE(search.ended_by_signal) << what;
    EXPECT_EQ(search.progress, " 0" + std::string(13, ' ') + "25 \r\n") << what;
  }
}

}  // namespace
