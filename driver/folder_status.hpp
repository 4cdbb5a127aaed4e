// Where the searches in some folders stand, at a glance: one aligned row per folder, read from
// each folder's state file. It takes no lock and writes nothing, so it can be run at any moment
// beside running searches (on a batch system, over every job's folder: run-*).
#pragma once

#include <span>
#include <string>

namespace lyap {

struct FolderStatusAnswer {
  std::string text;  // a header row, then a row per folder, in the program's 8-bit text
  int status = 0;    // 1 when some folder could not be looked at, else 0
};

// The table for `folders` (the current folder when none is named), whose files are named after
// `base_name` as the search names them.
FolderStatusAnswer folder_status(std::span<const std::string> folders,
                                 const std::string& base_name);

}  // namespace lyap
