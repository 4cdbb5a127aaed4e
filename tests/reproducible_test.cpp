// Searches that can be run again: the same seed gives the same search on any number of
// workers, and a search killed at random moments and continued each time gives, after the same
// number of trials, exactly the results file, tally and closest approach of one never
// interrupted. Run on the test search, whose trials succeed often and follow from the seed.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "scratch.hpp"

namespace {

namespace fs = std::filesystem;
using lyap::testing::read_file;
using lyap::testing::ScratchDir;

// The test search started in `dir` with `arguments`, no terminal and no display, on `workers`
// threads, its console into console.txt there, its errors into errors.txt.
pid_t start_search(const fs::path& dir, const std::vector<std::string>& arguments, int workers) {
  fs::copy_file(LYAPSEARCH_SEARCH_TARGET, dir / "lyapsearch", fs::copy_options::overwrite_existing);
  const pid_t pid = fork();
  if (pid == 0) {
    const int in = open("/dev/null", O_RDONLY);
    if (chdir(dir.c_str()) != 0 || in < 0 || dup2(in, 0) < 0) _exit(127);
    const int out = open("console.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = open("errors.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) _exit(127);
    unsetenv("DISPLAY");
    setenv("LYAPSEARCH_TEST_WORKERS", std::to_string(workers).c_str(), 1);
    std::vector<char*> argv{const_cast<char*>("lyapsearch")};
    for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv("./lyapsearch", argv.data());
    _exit(127);
  }
  return pid;
}

// The exit status of a search that ends by itself, or -1 when it is still running after ten
// minutes (then killed): only a hang takes that long, however busy the machine.
int wait_for_end(pid_t pid) {
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::minutes(10);
  int status = 0;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > give_up) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int run_search(const fs::path& dir, const std::vector<std::string>& arguments, int workers) {
  return wait_for_end(start_search(dir, arguments, workers));
}

// What the end of run says of the whole search, from "Trials =" on: the count, the tally and
// the closest approach.
std::string summary(const fs::path& dir) {
  const std::string console = read_file(dir / "console.txt");
  const std::size_t at = console.rfind("Trials =");
  return at == std::string::npos ? "" : console.substr(at);
}

constexpr int planned = 60;
const std::vector<std::string> seeded = {"--seed", "42", "--trials", std::to_string(planned)};

TEST(Reproducible, TheSameSeedGivesTheSameSearchOnAnyNumberOfWorkers) {
  std::map<int, std::string> results, summaries;
  for (const int workers : {1, 2, 4}) {
    SCOPED_TRACE(std::to_string(workers) + " workers");
    const ScratchDir scratch;
    ASSERT_TRUE(scratch.ok());
    // --trials ends the search by itself, with the end of run and no wait for a key.
    ASSERT_EQ(run_search(scratch.path(), seeded, workers), 0);
    results[workers] = read_file(scratch.path() / "lyapsearch.txt");
    summaries[workers] = summary(scratch.path());
    EXPECT_NE(summaries[workers].find("Trials = " + std::to_string(planned) + " "),
              std::string::npos)
        << summaries[workers];
    EXPECT_FALSE(fs::exists(scratch.path() / "lyapsearch.state"));
    EXPECT_FALSE(fs::exists(scratch.path() / "lyapsearch.dat"));
    EXPECT_NE(read_file(scratch.path() / "console.txt").find("Seed 42\n"), std::string::npos);
  }
  EXPECT_FALSE(results[1].empty());
  EXPECT_EQ(results[2], results[1]);
  EXPECT_EQ(results[4], results[1]);
  EXPECT_EQ(summaries[2], summaries[1]);
  EXPECT_EQ(summaries[4], summaries[1]);

  // The model's own p1 given is no option at all.
  const ScratchDir own_p1;
  ASSERT_TRUE(own_p1.ok());
  std::vector<std::string> with_p1 = seeded;
  with_p1.insert(with_p1.end(), {"--p1", "1.000136"});
  ASSERT_EQ(run_search(own_p1.path(), with_p1, 2), 0);
  EXPECT_EQ(read_file(own_p1.path() / "lyapsearch.txt"), results[1]);
  EXPECT_EQ(summary(own_p1.path()), summaries[1]);
}

// Every file's bytes and the folder's modification time.
std::map<fs::path, std::string> folder_bytes(const fs::path& dir) {
  std::map<fs::path, std::string> files;
  for (const fs::path& file : fs::directory_iterator(dir)) files[file] = read_file(file);
  return files;
}

TEST(Reproducible, ASearchKilledAndContinuedIsTheSearchNeverInterrupted) {
  const ScratchDir uninterrupted, killed;
  ASSERT_TRUE(uninterrupted.ok() && killed.ok());
  const std::vector<std::string> longer = {"--seed", "42", "--trials", "150"};
  ASSERT_EQ(run_search(uninterrupted.path(), longer, 2), 0);

  std::mt19937 random(20261209);
  int kills = 0;
  for (int start = 0; kills < 6 && start < 40; ++start) {
    const pid_t pid = start_search(killed.path(), longer, 2);
    std::this_thread::sleep_for(std::chrono::milliseconds(50 + random() % 400));
    if (kill(pid, SIGKILL) == 0) {
      int status = 0;
      waitpid(pid, &status, 0);
      if (WIFSIGNALED(status)) ++kills;
    }
    // Another seed or p1 is refused while the search is unfinished, and touches nothing.
    if (start <= 1 && fs::exists(killed.path() / "lyapsearch.state")) {
      const auto before = folder_bytes(killed.path());
      const bool seed = start == 0;
      ASSERT_EQ(run_search(killed.path(), {seed ? "--seed" : "--p1", seed ? "43" : "3"}, 2), 2);
      EXPECT_NE(read_file(killed.path() / "errors.txt")
                    .find(seed ? "has seed 42, not 43" : "has p1 1.000136, not 3"),
                std::string::npos);
      auto after = folder_bytes(killed.path());
      // The runner itself rewrites the two files that catch the refused start's output.
      for (const char* own : {"console.txt", "errors.txt"}) {
        after.erase(killed.path() / own);
      }
      auto kept = before;
      for (const char* own : {"console.txt", "errors.txt"}) kept.erase(killed.path() / own);
      EXPECT_TRUE(after == kept) << "the refused start changed the folder";
    }
  }
  ASSERT_GE(kills, 5);
  // Finished without a seed: the unfinished search's own goes on.
  ASSERT_EQ(run_search(killed.path(), {"--trials", "150"}, 2), 0);
  EXPECT_EQ(read_file(killed.path() / "lyapsearch.txt"),
            read_file(uninterrupted.path() / "lyapsearch.txt"));
  EXPECT_EQ(summary(killed.path()), summary(uninterrupted.path()));
  EXPECT_NE(read_file(killed.path() / "console.txt").find("seed 42"), std::string::npos);
}

}  // namespace
