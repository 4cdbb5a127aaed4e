// A program run on a pseudo-terminal of its own, in a scratch folder, for the end-to-end tests.
#pragma once

#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>

#include <gtest/gtest.h>

namespace lyap::testing {

class Session {
 public:
  // Runs `command` on a new pseudo-terminal, inside `dir`, where a copy of `program` waits
  // under the name lyapsearch (unless `program` is null). With `unprivileged`, a root test runs it
  // as nobody, for whom folder permissions count.
  Session(const std::filesystem::path& dir, const char* command,
          const char* program = LYAPSEARCH_EXE, bool unprivileged = false) {
    const std::filesystem::path exe = dir / "lyapsearch";
    if (program != nullptr) {
      std::filesystem::copy_file(program, exe, std::filesystem::copy_options::overwrite_existing);
    }
    pid_ = forkpty(&master_, nullptr, nullptr, nullptr);
    if (pid_ == 0) {
      if (unprivileged && geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(126);
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
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
      if (std::chrono::steady_clock::now() > end) return false;
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
  pid_t pid() const { return pid_; }

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

}  // namespace lyap::testing
