// The real executable asked about itself, or given what it does not take: the exit status, the
// stream that gets the text, and a folder left exactly as it was, even one where a search runs.
#include "driver/command_line.hpp"

#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "pty_session.hpp"
#include "scratch.hpp"

namespace {

namespace fs = std::filesystem;

using lyap::testing::read_file;
using lyap::testing::ScratchDir;

struct Ran {
  bool ended = false;  // false: still running after a minute, so killed
  int status = -1;
  std::string out, err;
};

// Runs the executable with `arguments` in `dir`, standard input and output on a pseudo-terminal
// of its own (on which a search would take the keyboard, set the title and clear the screen),
// standard error on a pipe. A program that searches instead of answering is killed after a
// minute.
Ran run(const fs::path& dir, const std::vector<std::string>& arguments) {
  Ran ran;
  int err_pipe[2];
  if (pipe(err_pipe) != 0) return ran;
  pollfd fds[2] = {{-1, POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
  const pid_t pid = forkpty(&fds[0].fd, nullptr, nullptr, nullptr);
  if (pid == 0) {
    dup2(err_pipe[1], 2);
    termios mode;  // the text as written, without the terminal's CR before each LF
    if (tcgetattr(1, &mode) == 0) mode.c_oflag &= ~static_cast<tcflag_t>(ONLCR);
    tcsetattr(1, TCSANOW, &mode);
    unsetenv("DISPLAY");
    setenv("TERM", "xterm", 1);
    std::vector<char*> argv{const_cast<char*>(LYAPSEARCH_EXE)};
    for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    if (chdir(dir.c_str()) == 0) execv(LYAPSEARCH_EXE, argv.data());
    _exit(127);
  }
  close(err_pipe[1]);
  std::string* into[2] = {&ran.out, &ran.err};
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::minutes(1);
  while ((fds[0].fd >= 0 || fds[1].fd >= 0) && std::chrono::steady_clock::now() < give_up) {
    if (poll(fds, 2, 100) <= 0) continue;
    for (int i = 0; i < 2; ++i) {
      char buf[4096];
      const ssize_t n = fds[i].revents != 0 ? read(fds[i].fd, buf, sizeof buf) : 0;
      if (n > 0) into[i]->append(buf, static_cast<std::size_t>(n));
      // The end of the pipe, or EIO once the terminal's last user has gone.
      if (n <= 0 && fds[i].revents != 0) {
        close(fds[i].fd);
        fds[i].fd = -1;
      }
    }
  }
  ran.ended = fds[0].fd < 0 && fds[1].fd < 0;
  if (!ran.ended) kill(pid, SIGKILL);
  if (pid > 0) waitpid(pid, &ran.status, 0);
  for (const pollfd& p : fds) {
    if (p.fd >= 0) close(p.fd);
  }
  return ran;
}

// Every file's bytes, and the folder's modification time, which a file made and removed again
// would change.
std::pair<std::map<fs::path, std::string>, fs::file_time_type> snapshot(const fs::path& dir) {
  std::map<fs::path, std::string> files;
  for (const fs::path& file : fs::recursive_directory_iterator(dir)) files[file] = read_file(file);
  return {files, fs::last_write_time(dir)};
}

std::string refusal(const std::string& argument) {
  return "lyapsearch: unknown argument '" + argument +
         "' (lyapsearch --help lists what it takes)\n";
}

const std::string usage = lyap::usage_text("lyapsearch");

// Each form, first in a quiet folder, which is left exactly as it was, then in the same folder
// while a search runs there: asking takes no lock, so the answers are the same.
TEST(CommandLine, AnswersOrRefusesAndTouchesNothing) {
  for (const char* said :
       {"Usage: lyapsearch [--help | --version]", "current folder", "lyapsearch.txt", "Escape",
        "Ctrl-C", "continues", "not a terminal", "DISPLAY", "Exit status"}) {
    EXPECT_NE(usage.find(said), std::string::npos) << said;
  }

  const ScratchDir scratch;
  ASSERT_TRUE(scratch.ok());
  const fs::path& dir = scratch.path();
  // Earlier results, which a search would keep aside, a progress file it would restart, and a
  // file of the user's.
  lyap::testing::write_file(dir / "lyapsearch.txt", "results of an earlier run\r\n");
  lyap::testing::write_file(dir / "lyapsearch.dat", " 0             25 \r\n");
  lyap::testing::write_file(dir / "notes.txt", "the user's own\n");

  const std::string version_start = "lyapsearch " LYAPSEARCH_VERSION " (";
  struct Case {
    std::vector<std::string> arguments;
    int status;
    std::string out;  // the exact text on standard output; "version" for the version line
    std::string err;
  };
  const Case cases[] = {
      {{"--help"}, 0, usage, ""},
      {{"-h"}, 0, usage, ""},
      {{"--version"}, 0, "version", ""},
      {{"--version", "--help"}, 0, "version", ""},
      {{"--frobnicate"}, 2, "", refusal("--frobnicate")},
      {{"search"}, 2, "", refusal("search")},
      {{"notes.txt"}, 2, "", refusal("notes.txt")},
      {{"--help", "extra"}, 2, "", refusal("extra")},
      {{""}, 2, "", refusal("")},
  };
  std::unique_ptr<lyap::testing::Session> search;
  for (const bool beside_search : {false, true}) {
    if (beside_search) {
      // Once the earlier results are kept aside, the search holds the folder's lock.
      search = std::make_unique<lyap::testing::Session>(dir, "exec ./lyapsearch");
      ASSERT_TRUE(search->wait_for([&] { return read_file(dir / "lyapsearch.txt").empty(); },
                                   std::chrono::seconds(60)))
          << search->output();
    }
    for (const Case& c : cases) {
      std::string shown = beside_search ? "beside a search:" : "";
      for (const std::string& a : c.arguments) shown += " '" + a + "'";
      SCOPED_TRACE(shown);
      const auto before = snapshot(dir);
      const Ran ran = run(dir, c.arguments);
      ASSERT_TRUE(ran.ended) << "searched instead of answering: " << ran.out;
      ASSERT_TRUE(WIFEXITED(ran.status)) << ran.status;
      EXPECT_EQ(WEXITSTATUS(ran.status), c.status);
      if (c.out == "version") {
        // One line: the version from the build, and what the build is.
        EXPECT_EQ(ran.out.rfind(version_start, 0), 0u) << ran.out;
        EXPECT_TRUE(ran.out.ends_with(" sine and cosine)\n") ||
                    ran.out.ends_with(" sine and cosine: a reference build)\n"))
            << ran.out;
        EXPECT_EQ(std::count(ran.out.begin(), ran.out.end(), '\n'), 1) << ran.out;
      } else {
        EXPECT_EQ(ran.out, c.out);
      }
      EXPECT_EQ(ran.err, c.err);
      if (!beside_search) {
        EXPECT_TRUE(snapshot(dir) == before) << "the folder changed";
      }
    }
  }
  int status = 0;
  EXPECT_FALSE(search->exited(status)) << search->output();
}

}  // namespace
