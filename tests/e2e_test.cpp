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

#include "pty_session.hpp"
#include "scratch.hpp"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

using lyap::testing::read_file;
using lyap::testing::ScratchDir;
using lyap::testing::Session;

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
  // The earlier run's results are kept beside it, and the console says under which name.
  ASSERT_TRUE(
      session.wait_for([&] { return session.output().find(".txt\r\n") != std::string::npos; },
                       std::chrono::seconds(10)));
  const std::size_t named = session.output().find("Earlier results kept in lyapsearch-");
  ASSERT_NE(named, std::string::npos) << session.output();
  const std::size_t name_at = named + std::string("Earlier results kept in ").size();
  const std::string kept =
      session.output().substr(name_at, session.output().find(".txt", name_at) + 4 - name_at);
  EXPECT_EQ(read_file(dir / kept), "results of an earlier run\r\n");

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
  ASSERT_TRUE(session.wait_for([&] { return !read_file(dir / "after.txt").empty(); },
                               std::chrono::seconds(10)));
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

TEST(EndToEnd, SecondSearchInTheSameFolderLeavesTheFirstAlone) {
  const ScratchDir scratch;
  ASSERT_TRUE(scratch.ok());
  const fs::path& dir = scratch.path();
  Session first(dir, "exec ./lyapsearch");
  ASSERT_TRUE(first.started());
  ASSERT_TRUE(first.wait_for([&] { return read_file(dir / "lyapsearch.dat") == first_record; },
                             std::chrono::seconds(60)))
      << first.output();
  lyap::testing::write_file(dir / "lyapsearch.txt", "a find of the running search\r\n");
  // The second one (a copy, as a second double click would start) says why it stops.
  fs::copy_file(LYAPSEARCH_EXE, dir / "second");
  const auto files_before = std::distance(fs::directory_iterator(dir), fs::directory_iterator());
  Session second(dir, "exec ./second", nullptr);
  int status = 0;
  ASSERT_TRUE(second.wait_for([&] { return second.exited(status); }, std::chrono::seconds(30)));
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1);
  EXPECT_NE(second.output().find("A search is already running in " + dir.string()),
            std::string::npos)
      << second.output();
  EXPECT_EQ(read_file(dir / "lyapsearch.txt"), "a find of the running search\r\n");
  EXPECT_EQ(read_file(dir / "lyapsearch.dat"), first_record);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), files_before);
  EXPECT_FALSE(first.exited(status));
}

// In a folder it may not write, the search runs on and says which files it cannot write and
// why, before its first trial.
TEST(EndToEnd, UnwritableFolderIsSaidAloud) {
  const ScratchDir scratch;
  ASSERT_TRUE(scratch.ok());
  const fs::path& dir = scratch.path();
  // Run as nobody when the test runs as root, for whom no folder is read-only.
  fs::permissions(dir, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                           fs::perms::others_read | fs::perms::others_exec);
  Session session(dir, "chmod 555 . 2>/dev/null; exec ./lyapsearch", LYAPSEARCH_EXE, true);
  ASSERT_TRUE(session.started());
  const auto said = [&](const std::string& text) {
    return session.output().find(text) != std::string::npos;
  };
  ASSERT_TRUE(session.wait_for([&] { return said("lyapsearch.dat: Permission denied"); },
                               std::chrono::seconds(60)))
      << session.output();
  const std::string red = "\x1b[91m";
  const std::size_t results_warning = session.output().find("lyapsearch.txt: Permission denied");
  ASSERT_NE(results_warning, std::string::npos);
  EXPECT_EQ(session.output().substr(results_warning - red.size(), red.size()), red);
  session.send("\x1b");
  ASSERT_TRUE(session.wait_for([&] { return said("lyapsearch.bmp: Permission denied"); },
                               std::chrono::seconds(600)))
      << session.output();
  session.send("x");
  int status = 0;
  ASSERT_TRUE(session.wait_for([&] { return session.exited(status); }, std::chrono::seconds(30)));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
}

}  // namespace
