#include "driver/folder_status.hpp"

#include <algorithm>
#include <array>
#include <vector>

#include "driver/status.hpp"
#include "platform/files.hpp"
#include "platform/process.hpp"
#include "platform/shown_text.hpp"
#include "report/console_report.hpp"
#include "report/state_file.hpp"

namespace lyap {

namespace {

// A sound state is a few hundred bytes; anything far past that is not one, and is not read on.
constexpr std::size_t largest_state = 1 << 16;

// The columns a text takes on a terminal: UTF-8 continuation bytes take none.
std::size_t columns_of(const std::string& text) {
  return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }));
}

enum Column { folder, search, trials, finds, budget, run_time, closest, note, n_columns };
using Row = std::array<std::string, n_columns>;

const Row header = {"folder", "search",   "trials",           "finds",
                    "budget", "run time", "closest approach", ""};
// Text columns are aligned left, numbers right.
constexpr std::array<bool, n_columns> left_aligned = {true,  true,  false, false,
                                                      false, false, false, true};

void fill_counts(Row& row, const SearchState& state) {
  row[trials] = std::to_string(state.trials);
  row[finds] = std::to_string(state.finds);
  row[budget] = std::to_string(state.max_digit_sum);
  row[run_time] = run_time_text(state.elapsed_s);
  row[closest] = state.closest.reached ? band_edge_text(state.closest.edge) : "none";
}

// One folder's row; `looked` is false when the folder, or whether a search runs there, could
// not be looked at.
Row row_of(const std::string& folder_name, const std::string& base_name, bool& looked) {
  Row row;
  for (std::size_t c = trials; c <= closest; ++c) row[c].assign(1, '-');
  row[folder] = shown_text(folder_name);
  std::string reason;
  const FolderUse use = folder_in_use(folder_name, reason);
  looked = use == FolderUse::searched || use == FolderUse::idle;
  if (use == FolderUse::no_folder) {
    row[search] = "error";
    row[note] = reason;
    return row;
  }

  // Read past any lock: a running search holds its state file only while it replaces it.
  SearchState state;
  std::string text, unsound;
  const std::string state_path = folder_name + "/" + base_name + ".state";
  const bool there = look_at_file(state_path).exists;
  if (there && read_unlocked(state_path, largest_state, text, unsound)) {
    unsound = parse_state(text, state);
  }
  if (there && unsound.empty()) fill_counts(row, state);
  if (there && !unsound.empty()) row[note] = base_name + ".state: " + unsound;

  if (use == FolderUse::searched) {
    row[search] = "running";
  } else if (use == FolderUse::cannot_tell) {
    row[search] = "unknown";
    row[note] = reason;
  } else {
    row[search] = !there ? "absent" : unsound.empty() ? "unfinished" : "damaged";
  }
  return row;
}

}  // namespace

FolderStatusAnswer folder_status(std::span<const std::string> folders,
                                 const std::string& base_name) {
  static const std::string here[] = {"."};
  if (folders.empty()) folders = here;

  FolderStatusAnswer answer;
  std::vector<Row> rows{header};
  for (const std::string& name : folders) {
    bool looked = true;
    rows.push_back(row_of(name, base_name, looked));
    if (!looked) answer.status = 1;
  }

  std::array<std::size_t, n_columns> width{};
  for (const Row& row : rows) {
    for (std::size_t c = 0; c < n_columns; ++c) width[c] = std::max(width[c], columns_of(row[c]));
  }
  for (const Row& row : rows) {
    std::string line;
    for (std::size_t c = 0; c < n_columns; ++c) {
      const std::string pad(width[c] - columns_of(row[c]), ' ');
      if (c > 0) line += "  ";
      line += left_aligned[c] ? row[c] + pad : pad + row[c];
    }
    line.erase(line.find_last_not_of(' ') + 1);
    answer.text += line + '\n';
  }
  return answer;
}

}  // namespace lyap
