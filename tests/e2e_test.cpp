// The real executable under a pseudo-terminal in a scratch folder: start-up files, Escape, the
// end of run, the last key, and the terminal left as it was found.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>

#include "scratch.hpp"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

using lyap::testing::read_file;
using lyap::testing::ScratchDir;

class Session {
 public:
  // Runs `command` on a new pseudo-terminal, inside `dir`, where a copy of the program waits.
  Session(const fs::path& dir, const char* command) {
    const fs::path exe = dir / "lyapsearch";
    fs::copy_file(LYAPSEARCH_EXE, exe, fs::copy_options::overwrite_existing);
    pid_ = forkpty(&master_, nullptr, nullptr, nullptr);
    if (pid_ == 0) {
      if (chdir(dir.c_str()) != 0) _exit(127);
      unsetenv("DISPLAY");  // the terminal run alone; the window has its own tests
      setenv("TERM", "xterm", 1);
      execl("/bin/sh", "sh", "-c", command, static_cast<char*>(nullptr));
      _exit(127);
    }
  }
  ~Session() {
    if (pid_ > 0 && !reaped_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (master_ >= 0) close(master_);
  }
  bool started() const { return pid_ > 0; }
  // Closing the terminal hangs up on whatever runs in it.
  void hang_up() {
    close(master_);
    master_ = -1;
  }

  void send(const std::string& keys) {
    ASSERT_EQ(write(master_, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
  }

  // Reads the program's output until `done` holds or the time is up.
  bool wait_for(const std::function<bool()>& done, std::chrono::seconds limit) {
    const auto end = Clock::now() + limit;
    while (!done()) {
      if (Clock::now() > end) return false;
      pump(100);
    }
    return true;
  }
  bool exited(int& status) {
    if (reaped_) {
      status = status_;
      return true;
    }
    pump(50);
    if (waitpid(pid_, &status_, WNOHANG) == pid_) {
      reaped_ = true;
      status = status_;
      return true;
    }
    return false;
  }
  const std::string& output() const { return output_; }

 private:
  void pump(int timeout_ms) {
    if (master_ < 0) {
      usleep(timeout_ms * 1000);
      return;
    }
    pollfd p{master_, POLLIN, 0};
    if (poll(&p, 1, timeout_ms) > 0) {
      char buf[4096];
      const ssize_t n = read(master_, buf, sizeof buf);
      if (n > 0) output_.append(buf, static_cast<std::size_t>(n));
    }
  }

  int master_ = -1;
  pid_t pid_ = -1;
  bool reaped_ = false;
  int status_ = 0;
  std::string output_;
};

const std::string first_record = " 0" + std::string(13, ' ') + "25 \r\n";

TEST(EndToEnd, StartsSearchesAndEndsOnEscape) {
  const ScratchDir scratch;
  ASSERT_TRUE(scratch.ok());
  const fs::path& dir = scratch.path();
  lyap::testing::write_file(dir / "lyapsearch.txt", "results of an earlier run\r\n");
  lyap::testing::write_file(dir / "lyapsearch.dat", " 0             25 \r\n 60            20 \r\n");

  // The shell records the terminal settings before and after the program.
  Session session(dir, "stty -g > before.txt; ./lyapsearch; rc=$?; stty -g > after.txt; exit $rc");
  ASSERT_TRUE(session.started());
  ASSERT_TRUE(session.wait_for(
      [&] {
        return fs::exists(dir / "before.txt") && read_file(dir / "lyapsearch.dat") == first_record;
      },
      std::chrono::seconds(60)))
      << session.output();
  EXPECT_EQ(read_file(dir / "lyapsearch.txt"), "");

  // Escape takes effect when the running trial ends; a trial may take a while under the
  // sanitizers.
  session.send("\x1b");
  ASSERT_TRUE(
      session.wait_for([&] { return session.output().find("Trials =") != std::string::npos; },
                       std::chrono::seconds(600)))
      << session.output();
  ASSERT_TRUE(session.wait_for([&] { return !fs::exists(dir / "lyapsearch.dat"); },
                               std::chrono::seconds(60)));
  EXPECT_EQ(fs::file_size(dir / "lyapsearch.bmp"), 559734u);

  // The program waits for one more key, then leaves the terminal as it found it.
  int status = 0;
  EXPECT_FALSE(session.exited(status));
  session.send("x");
  ASSERT_TRUE(session.wait_for([&] { return session.exited(status); }, std::chrono::seconds(30)));
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  ASSERT_TRUE(
      session.wait_for([&] { return fs::exists(dir / "after.txt"); }, std::chrono::seconds(10)));
  EXPECT_EQ(read_file(dir / "after.txt"), read_file(dir / "before.txt"));
  EXPECT_EQ(read_file(dir / "lyapsearch.txt"), "");
}

TEST(EndToEnd, HangingUpEndsTheProgram) {
  const ScratchDir scratch;
  ASSERT_TRUE(scratch.ok());
  const fs::path& dir = scratch.path();
  Session session(dir, "exec ./lyapsearch");
  ASSERT_TRUE(session.started());
  ASSERT_TRUE(session.wait_for([&] { return read_file(dir / "lyapsearch.dat") == first_record; },
                               std::chrono::seconds(60)))
      << session.output();
  session.hang_up();
  int status = 0;
  ASSERT_TRUE(session.wait_for([&] { return session.exited(status); }, std::chrono::seconds(60)));
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGHUP) << status;
  EXPECT_EQ(read_file(dir / "lyapsearch.txt"), "");
}

}  // namespace
