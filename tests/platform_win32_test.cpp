// The Windows backends where Windows behaves differently from POSIX: files held by sharing
// modes, the system's words for a failure, the folder lock as a named object, the local clock.
#include <windows.h>

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <iterator>
#include <string>

#include "platform/clock.hpp"
#include "platform/files.hpp"
#include "platform/process.hpp"
#include "platform/text_win32.hpp"
#include "scratch.hpp"

namespace lyap {
namespace {

class Win32Files : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(scratch.ok()); }
  testing::ScratchDir scratch;
};

TEST_F(Win32Files, AnyOtherOpenHoldsTheFileAndSaysSo) {
  const std::string path = scratch.file("held.txt");
  testing::write_file(path, "kept\r\n");
  // Another program's handle that shares nothing, then one that shares reading only: both
  // keep us out, and the file is neither emptied nor written.
  for (const DWORD sharing : {DWORD{0}, DWORD{FILE_SHARE_READ}}) {
    const HANDLE other = CreateFileA(path.c_str(), GENERIC_READ, sharing, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    for (const OpenMode mode : {OpenMode::read, OpenMode::truncate, OpenMode::append}) {
      const LockedFile file = open_locked(path, mode);
      EXPECT_FALSE(file.is_open());
      EXPECT_EQ(file.failure, "in use by another program");
    }
    CloseHandle(other);
  }
  EXPECT_EQ(testing::read_file(path), "kept\r\n");

  // While we hold it, nobody else gets in, not even to read.
  {
    const LockedFile ours = open_locked(path, OpenMode::append);
    ASSERT_TRUE(ours.is_open());
    EXPECT_EQ(write_once(ours, "more\r\n"), "");
    const HANDLE other = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_EQ(other, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  }
  EXPECT_EQ(testing::read_file(path), "kept\r\nmore\r\n");
}

TEST_F(Win32Files, FailuresGiveTheSystemsWordsWithoutThePeriod) {
  const std::string missing = scratch.file("missing\\file.txt");
  const LockedFile file = open_locked(missing, OpenMode::append);
  EXPECT_FALSE(file.is_open());
  // Wine's words and Windows's differ; the form is the same.
  EXPECT_FALSE(file.failure.empty());
  EXPECT_NE(file.failure.back(), '.');
  EXPECT_EQ(file.failure.find('\n'), std::string::npos);

  std::filesystem::create_directory(scratch.file("folder.txt"));
  EXPECT_EQ(open_locked(scratch.file("folder.txt"), OpenMode::append).failure,
            "not a regular file");
  EXPECT_EQ(open_locked("NUL", OpenMode::read).failure, "not a regular file");
}

TEST_F(Win32Files, MovingNeverReplacesAndKeepsTheLocalModificationTime) {
  const std::string from = scratch.file("a.txt");
  const std::string to = scratch.file("b.txt");
  testing::write_file(from, "a");
  testing::write_file(to, "b");
  std::string failure;
  EXPECT_EQ(move_file_keeping_target(from, to, failure), Move::name_taken);
  EXPECT_EQ(testing::read_file(to), "b");

  SYSTEMTIME before{};
  GetLocalTime(&before);
  const FileFacts facts = look_at_file(from);
  ASSERT_TRUE(facts.exists && facts.regular);
  EXPECT_EQ(facts.size, 1u);
  EXPECT_EQ(facts.modified.year, before.wYear);
  EXPECT_EQ(facts.modified.day, before.wDay);
  EXPECT_NEAR(facts.modified.hour * 60 + facts.modified.minute, before.wHour * 60 + before.wMinute,
              1);
  ASSERT_EQ(move_file_keeping_target(from, scratch.file("c.txt"), failure), Move::moved);
  EXPECT_FALSE(look_at_file(from).exists);
}

// A whole-file replace, for names Windows gives in UTF-16, and for a link under the name: the
// link is replaced, what it points to is left alone.
TEST_F(Win32Files, ReplacingIsWholeAndNeverFollowsALink) {
  const auto entries = [&] {
    return std::distance(std::filesystem::directory_iterator(scratch.path()),
                         std::filesystem::directory_iterator());
  };
  // "Ünï.bmp" in the scratch folder, as UTF-8 and as UTF-16.
  const std::wstring wide = scratch.path().wstring() + L"\\\u00dcn\u00ef.bmp";
  const std::string path = narrow_path(wide);
  ASSERT_EQ(path.substr(path.size() - 9), "\xc3\x9cn\xc3\xaf.bmp");
  EXPECT_EQ(replace_file(path, "first").kind, WriteOutcome::written);
  EXPECT_EQ(replace_file(path, "second").kind, WriteOutcome::written);
  EXPECT_NE(GetFileAttributesW(wide.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(testing::read_file(std::filesystem::path(wide)), "second");
  EXPECT_EQ(entries(), 1) << "a temporary was left";

  SetFileAttributesW(wide.c_str(), FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(replace_file(path, "third").kind, WriteOutcome::failed);
  EXPECT_EQ(testing::read_file(std::filesystem::path(wide)), "second");
  EXPECT_EQ(entries(), 1) << "a temporary was left";
  SetFileAttributesW(wide.c_str(), FILE_ATTRIBUTE_NORMAL);

  const std::string victim = scratch.file("victim.txt");
  const std::string link = scratch.file("link.dat");
  testing::write_file(victim, "someone else's");
  if (!CreateSymbolicLinkW(wide_path(link).c_str(), wide_path(victim).c_str(),
                           SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE)) {
    GTEST_SKIP() << "no symbolic links here";
  }
  // Wine makes a link of the host's, which it follows without showing a reparse point.
  const DWORD link_attributes = GetFileAttributesW(wide_path(link).c_str());
  if (link_attributes == INVALID_FILE_ATTRIBUTES ||
      (link_attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
    GTEST_SKIP() << "this system shows no reparse points";
  }
  EXPECT_EQ(open_locked(link, OpenMode::append).failure, "not a regular file");
  EXPECT_FALSE(look_at_file(link).regular);
  EXPECT_EQ(replace_file(link, "ours").kind, WriteOutcome::written);
  EXPECT_EQ(testing::read_file(victim), "someone else's");
  EXPECT_EQ(testing::read_file(link), "ours");
  EXPECT_TRUE(look_at_file(link).regular);
}

// Nothing left in the folder stops a write; only the program's own stale temporaries go.
TEST_F(Win32Files, NamesInTheWayStopNothingAndOnlyStaleTemporariesGo) {
  const std::string state = scratch.file("a.state");
  CreateDirectoryW(wide_path(state + ".tmp").c_str(), nullptr);
  EXPECT_EQ(replace_file(state, "state").kind, WriteOutcome::written);
  EXPECT_EQ(testing::read_file(state), "state");

  struct Entry {
    const char* name;
    bool folder;
    bool stays;
  };
  const Entry entries[] = {
      {"a.bmp.tmp", false, false},          {"a.bmp.Ab3dE9.tmp", false, false},
      {"a.state.zzzzzz.tmp", false, false}, {"a.state.tmp", true, true},
      {"a.txt.Qw3rty.tmp", true, true},     {"a.bmp.Ab3dE9.tmp.bak", false, true},
      {"a.png.Ab3dE9.tmp", false, true},    {"b.bmp.Ab3dE9.tmp", false, true},
      {"a.bmp.Ab-dE9.tmp", false, true},
  };
  for (const Entry& e : entries) {
    if (e.folder) {
      CreateDirectoryW(wide_path(scratch.file(e.name)).c_str(), nullptr);
    } else {
      testing::write_file(scratch.file(e.name), "x");
    }
  }
  remove_stale_temporaries(
      {scratch.file("a.txt"), scratch.file("a.dat"), scratch.file("a.bmp"), state});
  for (const Entry& e : entries) {
    EXPECT_EQ(look_at_file(scratch.file(e.name)).exists, e.stays) << e.name;
  }
  EXPECT_EQ(testing::read_file(state), "state");
}

TEST(Win32Process, FolderLockIsHeldOnceWhateverTheFolderIsCalled) {
  testing::ScratchDir scratch;
  ASSERT_TRUE(scratch.ok());
  const std::string folder = scratch.path().string();
  std::string reason;
  ASSERT_EQ(lock_folder(folder, reason), FolderLock::held);
  // The same folder by another spelling: other case, a trailing separator, a detour.
  std::string upper = folder;
  CharUpperBuffA(upper.data(), static_cast<DWORD>(upper.size()));
  for (const std::string& name :
       {folder, upper, folder + "\\", folder + "\\..\\" + scratch.path().filename().string()}) {
    EXPECT_EQ(lock_folder(name, reason), FolderLock::taken) << name;
  }
  EXPECT_EQ(lock_folder(scratch.file("no such folder"), reason), FolderLock::unavailable);
  EXPECT_FALSE(reason.empty());
  EXPECT_GE(usable_processors(), 1);
}

TEST(Win32Clock, TimeOfDayIsTheLocalClock) {
  SYSTEMTIME now{};
  GetLocalTime(&now);
  const long double of_day = system_clock().time_of_day_s();
  const long double expected =
      now.wHour * 3600.0L + now.wMinute * 60.0L + now.wSecond + now.wMilliseconds / 1000.0L;
  if (of_day < expected - 1) GTEST_SKIP() << "midnight passed during the test";
  EXPECT_NEAR(static_cast<double>(of_day), static_cast<double>(expected), 1.0);
  const long double t0 = system_clock().monotonic_s();
  Sleep(20);
  EXPECT_GT(system_clock().monotonic_s() - t0, 0.015L);
}

}  // namespace
}  // namespace lyap
