// The real executable asked about itself, or given what it does not take: the exit status, the
// stream that gets the text, and a folder left exactly as it was, even one where a search runs.
#include "driver/command_line.hpp"

#include "driver/search.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
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

std::string refused(const std::string& problem) {
  return "lyapsearch: " + problem + " (lyapsearch --help lists what it takes)\n";
}
std::string refusal(const std::string& argument) {
  return refused("unknown argument '" + argument + "'");
}

const std::string usage = lyap::usage_text("lyapsearch");

// Each form, first in a quiet folder, which is left exactly as it was, then in the same folder
// while a search runs there: asking takes no lock, so the answers are the same.
TEST(CommandLine, AnswersOrRefusesAndTouchesNothing) {
  for (const char* said :
       {"Usage: lyapsearch [--seed N] [--trials N]", "--check P3 P4 P5 X1 X2 X3 X4", "--picture",
        "  lyapsearch --seed 12345", "current folder", "lyapsearch.txt", "Escape", "Ctrl-C",
        "continues", "not a terminal", "DISPLAY", "Exit status"}) {
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
  const std::string p1_range = "--p1 takes a decimal above 1, or free, not ";
  const std::string seed_range = "--seed takes a whole number from 0 to 18446744073709551615, not ";
  const std::string trials_range = "--trials takes a whole number from 1 to 9007199254740992, not ";
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
      {{"--seed"}, 2, "", refused("--seed needs a value")},
      {{"--seed", "-1"}, 2, "", refused(seed_range + "'-1'")},
      {{"--seed", "18446744073709551616"}, 2, "", refused(seed_range + "'18446744073709551616'")},
      {{"--seed", "1e3"}, 2, "", refused(seed_range + "'1e3'")},
      {{"--seed", "1", "--seed", "1"}, 2, "", refused("--seed is given more than once")},
      {{"--trials", "0"}, 2, "", refused(trials_range + "'0'")},
      {{"--trials", "9007199254740993"}, 2, "", refused(trials_range + "'9007199254740993'")},
      {{"--trials", "x"}, 2, "", refused(trials_range + "'x'")},
      {{"--check", "1", "2"},
       2,
       "",
       refused("--check takes 7 values, p3 p4 p5 x1 x2 x3 x4, not 2")},
      {{"--check", "1", "2", "3", "4", "5", "6", "1e-19"},
       2,
       "",
       refused("--check: '1e-19' is not a decimal number with at most 18 decimals")},
      {{"--check", "1", "2", "3", "4", "5", "6", "7", "--trials", "9"},
       2,
       "",
       refused("--check cannot go with --trials")},
      {{"--check", "1", "2", "3", "4", "5", "6", "7", "--seed", "9"},
       2,
       "",
       refused("--check cannot go with --seed")},
      {{"--picture", "a.bmp"}, 2, "", refused("--picture goes with --check only")},
      {{"--trials", "5", "7"}, 2, "", refusal("7")},
      {{"--", "--help"}, 2, "", refusal("--help")},
      {{"--status", "--trials", "5"}, 2, "", refused("--status cannot go with --trials")},
      {{"--p1", "1"}, 2, "", refused(p1_range + "'1'")},
      {{"--p1", "0.5"}, 2, "", refused(p1_range + "'0.5'")},
      {{"--p1", "abc"}, 2, "", refused(p1_range + "'abc'")},
      {{"--p1", "1e-19"}, 2, "", refused(p1_range + "'1e-19'")},
      {{"--check", "--p1", "free", "1", "2", "3", "4", "5", "6", "7"},
       2,
       "",
       refused("--check takes a value of --p1, not free")},
      {{"--status", "--check", "1", "2", "3", "4", "5", "6", "7"},
       2,
       "",
       refused("--check cannot go with --status")},
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

// An answer that cannot be written is a failure: a full disk, a closed standard output.
TEST(CommandLine, AnAnswerThatCannotBeWrittenFails) {
  for (const char* argument : {"--help", "--version"}) {
    for (const bool closed : {false, true}) {
      const pid_t pid = fork();
      if (pid == 0) {
        const int err = open("/dev/null", O_WRONLY);
        const int full = open("/dev/full", O_WRONLY);
        if (err < 0 || full < 0 || dup2(err, 2) < 0) _exit(127);
        if (closed) {
          close(1);
        } else if (dup2(full, 1) < 0) {
          _exit(127);
        }
        execl(LYAPSEARCH_EXE, "lyapsearch", argument, static_cast<char*>(nullptr));
        _exit(127);
      }
      int status = 0;
      ASSERT_EQ(waitpid(pid, &status, 0), pid);
      ASSERT_TRUE(WIFEXITED(status));
      EXPECT_EQ(WEXITSTATUS(status), 1) << argument << (closed ? " >&-" : " >/dev/full");
    }
  }
}

// The check runs the trial the search runs: the same end, exponent and range, to the last bit,
// for known trials, from the texts the results file and the end of run print.
TEST(CommandLine, CheckRunsTheTrialTheSearchRuns) {
  struct Case {
    std::vector<std::string> texts;  // [--p1 P1] p3 p4 p5 x1 x2 x3 x4
    lyap::Params p;
    lyap::State x;
    std::string steps;  // when known: the find of the model family at p1 = 3
  };
  const Case cases[] = {
      {{"-.15", ".01", "1.39", "3.3", "1.2", "-1.3", ".1"},
       {0, lyap::model_p1, lyap::fixed_p2, -0.15L, 0.01L, 1.39L},
       {0, 3.3L, 1.2L, -1.3L, 0.1L},
       ""},
      {{"2.55", ".58", ".47", "2", "-1.1", ".1", "1.1"},
       {0, lyap::model_p1, lyap::fixed_p2, 2.55L, 0.58L, 0.47L},
       {0, 2, -1.1L, 0.1L, 1.1L},
       ""},
      {{"-0.60", "0.51", "5.1E-1", "1.2", ".3", ".7", ".1"},
       {0, lyap::model_p1, lyap::fixed_p2, -0.6L, 0.51L, 0.51L},
       {0, 1.2L, 0.3L, 0.7L, 0.1L},
       ""},
      {{"--p1", "3", "-.6", ".51", ".51", "1.2", ".3", ".7", ".1"},
       {0, 3, lyap::fixed_p2, -0.6L, 0.51L, 0.51L},
       {0, 1.2L, 0.3L, 0.7L, 0.1L},
       "109998"},
  };
  const ScratchDir scratch;
  ASSERT_TRUE(scratch.ok());
  for (const Case& c : cases) {
    std::vector<std::string> arguments{"--check"};
    arguments.insert(arguments.end(), c.texts.begin(), c.texts.end());
    const auto before = snapshot(scratch.path());
    const Ran ran = run(scratch.path(), arguments);
    ASSERT_TRUE(ran.ended && WIFEXITED(ran.status)) << ran.out;
    EXPECT_EQ(WEXITSTATUS(ran.status), 0) << ran.err;
    EXPECT_TRUE(snapshot(scratch.path()) == before) << "the check changed the folder";

    auto s = std::make_unique<lyap::RunState>();
    s->eps_sq = lyap::eps * lyap::eps;
    s->p = c.p;
    s->x_start = c.x;
    s->x = c.x;
    for (int j = 1; j <= lyap::n_dims; ++j) s->x_near[j] = c.x[j] + lyap::eps / 2;
    lyap::Rng jitter = lyap::seeded_rng(99);
    lyap::run_trial(*s, jitter);

    const auto value = [&](const std::string& name) {
      const std::size_t at = ran.out.find("\n" + name + ": ");
      return at == std::string::npos
                 ? std::string("missing")
                 : ran.out.substr(at + name.size() + 3,
                                  ran.out.find_first_of(" \n", at + 1 + name.size() + 2) -
                                      (at + name.size() + 3));
    };
    const auto same = [](const std::string& text, long double v) {
      const long double back = std::strtold(text.c_str(), nullptr);
      return std::memcmp(&back, &v, 10) == 0;
    };
    const std::string end = s->step >= 10 ? "chaotic" : std::to_string(s->step);
    EXPECT_EQ(value("end"), end) << ran.out;
    EXPECT_TRUE(same(value("le"), s->le)) << ran.out;
    EXPECT_TRUE(same(value("le_range"), s->le_range)) << ran.out;
    EXPECT_TRUE(same(value("div_mean"), s->div_mean)) << ran.out;
    EXPECT_EQ(value("n_samples"), std::to_string(s->n_samples)) << ran.out;
    if (!c.steps.empty()) {
      EXPECT_EQ(value("end"), "chaotic");
      EXPECT_EQ(value("steps"), c.steps);
    }
  }
}

}  // namespace
