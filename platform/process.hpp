// What the program asks of the operating system for its process as a whole.
#pragma once

#include <string>

namespace lyap {

enum class FolderLock {
  held,         // ours until the process ends
  taken,        // another process holds it: a search is already running there
  unavailable,  // the folder cannot be locked (it cannot be found, say); `reason` tells why
};

// Locks the folder for the rest of the process's life, whatever its read permission, without
// creating anything in it. "." locks the current folder by itself, not by its absolute name, so
// it works at any depth. The system drops the lock when the process ends in any way, a kill
// included, so no stale lock can block a later search.
FolderLock lock_folder(const std::string& folder, std::string& reason);

enum class FolderUse {
  searched,     // a live search holds the folder's lock
  idle,         // nobody holds it
  no_folder,    // the folder cannot be found or opened; `reason` tells why
  cannot_tell,  // the system does not show its locks; `reason` tells why
};

// Whether a search holds lock_folder's lock on the folder now, told without taking the lock
// even for a moment, so that a search starting meanwhile is never turned away.
FolderUse folder_in_use(const std::string& folder, std::string& reason);

// The current folder's absolute name, as the system's text; empty when it cannot be told.
std::string current_folder();

// A write past the process's file size limit then fails with an error, as on a full disk,
// instead of ending the process.
void survive_file_size_limit();

// The processors this process may run on: its CPU affinity mask, lowered to its CPU quota
// where a control group sets one (containers, batch systems), and at least 1.
int usable_processors();

// The calling thread runs at the lowest scheduling priority from now on, so that it only takes
// time the rest of the machine leaves idle. The process's other threads keep theirs.
void lower_thread_priority();

}  // namespace lyap
