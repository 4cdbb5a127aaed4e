#include "driver/folder_status.hpp"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "platform/process.hpp"
#include "report/state_file.hpp"
#include "scratch.hpp"

namespace lyap {
namespace {

using testing::read_file;
using testing::ScratchDir;
using testing::write_file;

SearchState some_state() {
  SearchState s;
  s.generator = {1, 2, 3, 4};  // a generator that has run: never all zero
  s.max_decimals = 3;
  s.max_digit_sum = 21;
  s.prev_digit_sum = 21;
  for (int i = 1; i <= n_params; ++i) {
    s.p_centre[i] = 1;
    s.p_decimals[i] = 3;
  }
  s.trials = 1234;
  s.tally.code[9] = 1234;
  s.elapsed_s = 3 * 3600 + 7 * 60 + 59;
  s.closest.reached = true;
  s.closest.edge = -0.00168213352398997L;
  return s;
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// A row's cells, split where two or more spaces part them.
std::vector<std::string> cells_of(const std::string& line) {
  std::vector<std::string> cells;
  std::size_t at = 0;
  while (at < line.size()) {
    const std::size_t gap = line.find("  ", at);
    cells.push_back(line.substr(at, gap == std::string::npos ? gap : gap - at));
    if (gap == std::string::npos) break;
    at = line.find_first_not_of(' ', gap);
  }
  return cells;
}

TEST(FolderStatus, OneAlignedRowPerFolderForEveryKindOfFolder) {
  ScratchDir absent, unfinished, damaged;
  ASSERT_TRUE(absent.ok() && unfinished.ok() && damaged.ok());
  write_file(unfinished.path() / "lyapsearch.state", state_text(some_state()));
  write_file(damaged.path() / "lyapsearch.state", "trials: 29\r\n");
  const std::string missing = (absent.path() / "no such folder").string();
  const std::vector<std::string> folders = {absent.path().string(), unfinished.path().string(),
                                            damaged.path().string(), missing};

  const FolderStatusAnswer answer = folder_status(folders, "lyapsearch");
  EXPECT_EQ(answer.status, 1);  // the missing folder
  const std::vector<std::string> lines = lines_of(answer.text);
  ASSERT_EQ(lines.size(), 5u) << answer.text;
  const struct {
    std::vector<std::string> cells;
  } expected[] = {
      {{"folder", "search", "trials", "finds", "budget", "run time", "closest approach"}},
      {{folders[0], "absent", "-", "-", "-", "-", "-"}},
      {{folders[1], "unfinished", "1234", "0", "21", "03:07", "-0.001682"}},
      {{folders[2], "damaged", "-", "-", "-", "-", "-"}},
      {{folders[3], "error", "-", "-", "-", "-", "-"}},
  };
  for (std::size_t i = 0; i < lines.size(); ++i) {
    std::vector<std::string> cells = cells_of(lines[i]);
    ASSERT_GE(cells.size(), expected[i].cells.size()) << lines[i];
    // A damaged state and a missing folder say why after the columns.
    EXPECT_EQ(cells.size() > expected[i].cells.size(), i >= 3) << lines[i];
    cells.resize(expected[i].cells.size());
    EXPECT_EQ(cells, expected[i].cells) << answer.text;
  }
  // Aligned: numbers end, and words start, where their header does.
  EXPECT_EQ(lines[2].size(), lines[0].size()) << answer.text;
  EXPECT_EQ(lines[2].find("03:07") + 5, lines[0].find("run time") + 8) << answer.text;
  EXPECT_EQ(lines[1].find("absent"), lines[0].find("search")) << answer.text;
}

TEST(FolderStatus, ShowsARunningSearchAndTakesNoLockNorChangesAFile) {
  // Locked for the rest of the test program: kept until it ends, so that no later folder can
  // take its place (its identity) while the lock stands.
  static ScratchDir folder;
  ASSERT_TRUE(folder.ok());
  const std::string state = state_text(some_state());
  write_file(folder.path() / "lyapsearch.state", state);
  const std::vector<std::string> folders = {folder.path().string()};

  EXPECT_EQ(cells_of(lines_of(folder_status(folders, "lyapsearch").text).at(1)).at(1),
            "unfinished");
  std::string reason;
  ASSERT_EQ(lock_folder(folders[0], reason), FolderLock::held) << reason;
  const FolderStatusAnswer answer = folder_status(folders, "lyapsearch");
  EXPECT_EQ(answer.status, 0);
  const std::vector<std::string> cells = cells_of(lines_of(answer.text).at(1));
  ASSERT_GE(cells.size(), 3u) << answer.text;
  EXPECT_EQ(cells[1], "running");
  EXPECT_EQ(cells[2], "1234");
  EXPECT_EQ(read_file(folder.path() / "lyapsearch.state"), state);
}

TEST(FolderStatus, NamesCannotReachTheTerminalAsControlBytes) {
  const std::vector<std::string> folders = {"run-\x1b]0;owned\x07\n\r", "run-\x7f\\"};
  const FolderStatusAnswer answer = folder_status(folders, "lyapsearch");
  for (const char c : answer.text) {
    const auto byte = static_cast<unsigned char>(c);
    EXPECT_TRUE(c == '\n' || (byte >= 0x20 && byte != 0x7f)) << static_cast<int>(byte);
  }
  EXPECT_NE(answer.text.find("run-\\033]0;owned\\a\\n\\r "), std::string::npos) << answer.text;
  EXPECT_NE(answer.text.find("run-\\177\\ "), std::string::npos) << answer.text;
}

}  // namespace
}  // namespace lyap
