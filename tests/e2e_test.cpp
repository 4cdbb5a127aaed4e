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

#include <sys/file.h>
#include <sys/stat.h>

#include <cctype>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

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
  // The state is the last file that start-up writes.
  ASSERT_TRUE(first.wait_for(
      [&] {
        return read_file(dir / "lyapsearch.dat") == first_record &&
               fs::exists(dir / "lyapsearch.state");
      },
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

// ---------------------------------------------------------------------------------------------
// Hostile folders and stray keys, each met by the test search (a find at every other trial) on
// a terminal of its own.

std::size_t lines_of(const fs::path& file) {
  const std::string text = read_file(file);
  std::size_t n = 0;
  for (std::size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at + 2))
    ++n;
  return n;
}

bool is_link(const fs::path& path) {
  std::error_code error;
  return fs::is_symlink(fs::symlink_status(path, error));
}

// The names in the folder that begin with `prefix`.
std::vector<std::string> named(const fs::path& dir, const std::string& prefix) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind(prefix, 0) == 0) names.push_back(name);
  }
  return names;
}

// Escape alone ends the search; `last_key` is the key the end of run waits for.
void end_with_escape(Session& session, const std::string& last_key = "x") {
  session.send("\x1b");
  ASSERT_TRUE(
      session.wait_for([&] { return session.output().find("Trials =") != std::string::npos; },
                       std::chrono::seconds(120)))
      << session.output();
  session.send(last_key);
  int status = 0;
  ASSERT_TRUE(session.wait_for([&] { return session.exited(status); }, std::chrono::seconds(60)))
      << session.output();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

void wait_for_finds(Session& session, const fs::path& results, std::size_t finds) {
  ASSERT_TRUE(
      session.wait_for([&] { return lines_of(results) >= finds; }, std::chrono::seconds(60)))
      << session.output();
}

void two_finds_then_escape(Session& session, const fs::path& dir) {
  wait_for_finds(session, dir / "lyapsearch.txt", 2);
  end_with_escape(session);
}

struct HostileCase {
  const char* name;
  const char* exe = "lyapsearch";
  const char* program = LYAPSEARCH_SEARCH_TARGET;
  const char* folder = "search";
  bool unprivileged = false;  // run as nobody when the test runs as root
  // Before the search starts: the folder, and a folder beside it that the search must not
  // touch.
  std::function<void(const fs::path& dir, const fs::path& outside)> prepare = {};
  // What happens while it runs; by default two finds, then Escape and a last key.
  std::function<void(Session&, const fs::path& dir)> drive = two_finds_then_escape;
  std::function<void(const fs::path& dir, const fs::path& outside, const std::string& console)>
      check = {};
};

// The bitmap of the end-of-run picture, a regular file of the program's own.
void bitmap_is_whole(const fs::path& dir) {
  EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(dir / "lyapsearch.bmp")));
  std::error_code error;
  EXPECT_EQ(fs::file_size(dir / "lyapsearch.bmp", error), 559734u);
}

const HostileCase kHostileCases[] = {
    {.name = "FIFO under the bitmap's name",
     .prepare =
         [](const fs::path& dir, const fs::path&) {
           ASSERT_EQ(mkfifo((dir / "lyapsearch.bmp").c_str(), 0644), 0);
         },
     .check = [](const fs::path& dir, const fs::path&,
                 const std::string&) { bitmap_is_whole(dir); }},
    {.name = "link under the bitmap's name",
     .prepare =
         [](const fs::path& dir, const fs::path& outside) {
           fs::create_symlink(outside / "victim", dir / "lyapsearch.bmp");
         },
     .check = [](const fs::path& dir, const fs::path&,
                 const std::string&) { bitmap_is_whole(dir); }},
    {.name = "link under the progress file's name",
     .prepare =
         [](const fs::path& dir, const fs::path& outside) {
           fs::create_symlink(outside / "victim", dir / "lyapsearch.dat");
         },
     .drive =
         [](Session& session, const fs::path& dir) {
           wait_for_finds(session, dir / "lyapsearch.txt", 2);
           session.hang_up();  // a search left unfinished keeps its progress file
           int status = 0;
           ASSERT_TRUE(
               session.wait_for([&] { return session.exited(status); }, std::chrono::seconds(60)));
         },
     .check =
         [](const fs::path& dir, const fs::path&, const std::string&) {
           EXPECT_FALSE(is_link(dir / "lyapsearch.dat"));
           EXPECT_EQ(read_file(dir / "lyapsearch.dat").substr(0, first_record.size()),
                     first_record);
         }},
    {.name = "link under the results name",
     .prepare =
         [](const fs::path& dir, const fs::path& outside) {
           fs::create_symlink(outside / "empty", dir / "lyapsearch.txt");
         },
     .check =
         [](const fs::path& dir, const fs::path& outside, const std::string& console) {
           // The link itself was kept aside like earlier results, and said so.
           const std::vector<std::string> kept = named(dir, "lyapsearch-");
           ASSERT_EQ(kept.size(), 1u);
           EXPECT_EQ(fs::read_symlink(dir / kept[0]), outside / "empty");
           EXPECT_NE(console.find("Earlier results kept in " + kept[0]), std::string::npos);
           EXPECT_FALSE(is_link(dir / "lyapsearch.txt"));
         }},
    {.name = "dangling link under the results name",
     .prepare =
         [](const fs::path& dir, const fs::path& outside) {
           fs::create_symlink(outside / "made by the search", dir / "lyapsearch.txt");
         },
     .check =
         [](const fs::path& dir, const fs::path&, const std::string&) {
           EXPECT_EQ(named(dir, "lyapsearch-").size(), 1u);
           EXPECT_GE(lines_of(dir / "lyapsearch.txt"), 2u);
         }},
    {.name = "folder that can be written but not listed",
     .unprivileged = true,
     .prepare = [](const fs::path& dir,
                   const fs::path&) { fs::permissions(dir, static_cast<fs::perms>(0333)); },
     .drive =
         [](Session& first, const fs::path& dir) {
           wait_for_finds(first, dir / "lyapsearch.txt", 2);
           const std::string results = read_file(dir / "lyapsearch.txt");
           Session second(dir, "exec ./lyapsearch", nullptr, true);
           int status = 0;
           ASSERT_TRUE(
               second.wait_for([&] { return second.exited(status); }, std::chrono::seconds(60)))
               << second.output();
           EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
           EXPECT_NE(second.output().find("A search is already running in " + dir.string()),
                     std::string::npos)
               << second.output();
           // The first search's finds were neither kept aside nor cut.
           EXPECT_EQ(read_file(dir / "lyapsearch.txt").substr(0, results.size()), results);
           EXPECT_FALSE(first.exited(status));
           end_with_escape(first);
         },
     .check = [](const fs::path& dir, const fs::path&,
                 const std::string&) { EXPECT_TRUE(named(dir, "lyapsearch-").empty()); }},
    {.name = "Alt+letter during the search, and as the last key",
     .drive =
         [](Session& session, const fs::path& dir) {
           wait_for_finds(session, dir / "lyapsearch.txt", 1);
           session.send("\x1bx");
           const std::size_t finds = lines_of(dir / "lyapsearch.txt");
           // The search goes on past it.
           wait_for_finds(session, dir / "lyapsearch.txt", finds + 1);
           EXPECT_EQ(session.output().find("Trials ="), std::string::npos);
           end_with_escape(session, "\x1bq");
         }},
    {.name = "a last line without its line end",
     .drive =
         [](Session& session, const fs::path& dir) {
           const fs::path results = dir / "lyapsearch.txt";
           wait_for_finds(session, results, 1);
           {
             // Another program adds a note, holding the file as the search does.
             const int fd = open(results.c_str(), O_WRONLY | O_APPEND);
             ASSERT_GE(fd, 0);
             ASSERT_EQ(flock(fd, LOCK_EX), 0);
             ASSERT_EQ(write(fd, "note", 4), 4);
             close(fd);
           }
           const std::size_t finds = lines_of(results);
           wait_for_finds(session, results, finds + 2);
           end_with_escape(session);
         },
     .check =
         [](const fs::path& dir, const fs::path&, const std::string&) {
           const std::string text = read_file(dir / "lyapsearch.txt");
           const std::size_t note = text.find("note");
           ASSERT_NE(note, std::string::npos);
           EXPECT_EQ(text.substr(note - 2, 10), "\r\nnote\r\n 1");
         }},
    {.name = "a folder with a name beyond ASCII",
     .folder = "\xc3\x9cn\xc3\xaf dir",
     .drive =
         [](Session& first, const fs::path& dir) {
           wait_for_finds(first, dir / "lyapsearch.txt", 1);
           Session second(dir, "exec ./lyapsearch", nullptr);
           int status = 0;
           ASSERT_TRUE(
               second.wait_for([&] { return second.exited(status); }, std::chrono::seconds(60)));
           // The folder's name as the system has it, bytes unchanged.
           EXPECT_NE(
               second.output().find("A search is already running in " + dir.string() + "\r\n"),
               std::string::npos)
               << second.output();
           end_with_escape(first);
         }},
    {.name = "a program name beyond ASCII",
     .exe = "chaos\xc3\xbc",
     .program = LYAPSEARCH_EXE,
     .drive =
         [](Session& session, const fs::path& dir) {
           // The real program, named after its file: the title and its files carry the name.
           ASSERT_TRUE(session.wait_for([&] { return fs::exists(dir / "chaos\xc3\xbc.dat"); },
                                        std::chrono::seconds(60)));
           ASSERT_TRUE(session.wait_for(
               [&] { return session.output().find("\x1b[2J") != std::string::npos; },
               std::chrono::seconds(60)));
           EXPECT_NE(session.output().find("\x1b]0;chaos\xc3\xbc"), std::string::npos)
               << session.output();
         }},
    {.name = "folders and a link under the temporaries' old names",
     .prepare =
         [](const fs::path& dir, const fs::path& outside) {
           fs::create_directory(dir / "lyapsearch.state.tmp");
           fs::create_directory(dir / "lyapsearch.bmp.tmp");
           fs::create_symlink(outside / "made by the search", dir / "lyapsearch.dat.tmp");
         },
     .check =
         [](const fs::path& dir, const fs::path&, const std::string& console) {
           // Every write went through, and what was in the way is still there.
           EXPECT_EQ(console.find(".state: "), std::string::npos) << console;
           EXPECT_EQ(console.find(".bmp: "), std::string::npos) << console;
           bitmap_is_whole(dir);
           EXPECT_TRUE(fs::is_directory(dir / "lyapsearch.state.tmp"));
           EXPECT_TRUE(fs::is_directory(dir / "lyapsearch.bmp.tmp"));
           EXPECT_TRUE(is_link(dir / "lyapsearch.dat.tmp"));
         }},
    {.name = "temporaries left by killed writes, and names like them",
     .prepare =
         [](const fs::path& dir, const fs::path&) {
           for (const char* name :
                {"lyapsearch.bmp.tmp", "lyapsearch.dat.tmp", "lyapsearch.state.Ab3dE9.tmp",
                 "lyapsearch.txt.zzzzzz.tmp", "lyapsearch.bmp.abc.tmp", "lyapsearch.png.Ab3dE9.tmp",
                 "other.state.Ab3dE9.tmp", "lyapsearch.state.Ab3dE9.tmp.bak",
                 "lyapsearch.state.Ab-dE9.tmp"}) {
             lyap::testing::write_file(dir / name, "x");
           }
           fs::create_directory(dir / "lyapsearch.txt.Qw3rty.tmp");
         },
     .drive =
         [](Session& session, const fs::path& dir) {
           // Gone at start-up already, before the search ends.
           wait_for_finds(session, dir / "lyapsearch.txt", 1);
           for (const char* name : {"lyapsearch.bmp.tmp", "lyapsearch.dat.tmp",
                                    "lyapsearch.state.Ab3dE9.tmp", "lyapsearch.txt.zzzzzz.tmp"}) {
             EXPECT_FALSE(fs::exists(dir / name)) << name;
           }
           two_finds_then_escape(session, dir);
         },
     .check =
         [](const fs::path& dir, const fs::path&, const std::string&) {
           for (const char* name :
                {"lyapsearch.bmp.abc.tmp", "lyapsearch.png.Ab3dE9.tmp", "other.state.Ab3dE9.tmp",
                 "lyapsearch.state.Ab3dE9.tmp.bak", "lyapsearch.state.Ab-dE9.tmp"}) {
             EXPECT_EQ(read_file(dir / name), "x") << name;
           }
           EXPECT_TRUE(fs::is_directory(dir / "lyapsearch.txt.Qw3rty.tmp"));
         }},
};

void PrintTo(const HostileCase& c, std::ostream* out) {
  *out << c.name;
}

class HostileFolder : public ::testing::TestWithParam<HostileCase> {};

TEST_P(HostileFolder, SearchGoesOnAndTouchesNothingElse) {
  const HostileCase& c = GetParam();
  const ScratchDir scratch;
  ASSERT_TRUE(scratch.ok());
  // World-readable, so that nobody may enter it when a case runs as nobody.
  fs::permissions(scratch.path(), fs::perms::owner_all | fs::perms::group_read |
                                      fs::perms::group_exec | fs::perms::others_read |
                                      fs::perms::others_exec);
  const fs::path dir = scratch.path() / c.folder;
  const fs::path outside = scratch.path() / "outside";
  fs::create_directory(dir);
  fs::create_directory(outside);
  lyap::testing::write_file(outside / "victim", "someone else's file\n");
  lyap::testing::write_file(outside / "empty", "");
  fs::copy_file(c.program, dir / c.exe);
  fs::permissions(dir, fs::perms::all);
  if (c.prepare) c.prepare(dir, outside);
  Session session(dir, ("exec ./" + std::string(c.exe)).c_str(), nullptr, c.unprivileged);
  ASSERT_TRUE(session.started());
  c.drive(session, dir);
  if (c.check) c.check(dir, outside, session.output());
  // Nothing outside the folder was written or made; a search that finished left no temporary
  // file.
  EXPECT_EQ(read_file(outside / "victim"), "someone else's file\n");
  EXPECT_EQ(read_file(outside / "empty"), "");
  EXPECT_FALSE(fs::exists(fs::symlink_status(outside / "made by the search")));
  if (session.output().find("Trials =") != std::string::npos) {
    for (const std::string& name : lyap::testing::temporaries_in(dir)) ADD_FAILURE() << name;
  }
  fs::permissions(dir, fs::perms::owner_all);  // so that the scratch folder can go
}

INSTANTIATE_TEST_SUITE_P(EndToEnd, HostileFolder, ::testing::ValuesIn(kHostileCases),
                         [](const ::testing::TestParamInfo<HostileCase>& info) {
                           std::string name;
                           for (const char ch : std::string(info.param.name)) {
                             if (std::isalnum(static_cast<unsigned char>(ch))) name += ch;
                           }
                           return name;
                         });

// A folder deeper than PATH_MAX, reached a step at a time (bash goes down by relative names
// where sh gives up): searched and locked like any other.
TEST(EndToEnd, FolderOfAnyDepthIsSearchedAndLocked) {
  const ScratchDir scratch;
  ASSERT_TRUE(scratch.ok());
  const fs::path& dir = scratch.path();
  const std::string step(200, 'd');
  // remove_all goes by whole names, which are too long down there.
  struct RemoveDeep {
    fs::path top;
    ~RemoveDeep() { (void)!system(("rm -rf '" + top.string() + "'").c_str()); }
  } remove_deep{dir / step};
  fs::copy_file(LYAPSEARCH_SEARCH_TARGET, dir / "search");
  lyap::testing::write_file(
      dir / "deep.sh",
      "for i in $(seq 25); do mkdir -p " + step + " && cd " + step +
          " || exit 9; done\n"
          "\"$1\"; status=$?\nls -1 lyapsearch.bmp lyapsearch.txt\nexit $status\n");
  const std::string command = "exec bash ./deep.sh '" + (dir / "search").string() + "'";
  Session first(dir, command.c_str(), nullptr);
  ASSERT_TRUE(first.started());
  ASSERT_TRUE(first.wait_for([&] { return first.output().find("\x1b[2J") != std::string::npos; },
                             std::chrono::seconds(60)))
      << first.output();
  Session second(dir, command.c_str(), nullptr);
  int status = 0;
  ASSERT_TRUE(second.wait_for([&] { return second.exited(status); }, std::chrono::seconds(60)));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
  EXPECT_NE(second.output().find("A search is already running in "), std::string::npos)
      << second.output();

  end_with_escape(first);
  // The files were written and the last picture saved down there.
  ASSERT_TRUE(first.wait_for(
      [&] { return first.output().find("lyapsearch.bmp\r\nlyapsearch.txt") != std::string::npos; },
      std::chrono::seconds(10)))
      << first.output();
  EXPECT_EQ(first.output().find("too long"), std::string::npos) << first.output();
}

}  // namespace
