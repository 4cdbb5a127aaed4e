// The program's output files are each opened for exclusive use and closed again within one
// operation. The lock is an advisory flock taken without waiting: a file that another program
// holds is skipped rather than waited for, so the search never stalls on a file.
#pragma once

#include <string>
#include <string_view>

namespace lyap {

enum class OpenMode {
  read,      // existing file only
  truncate,  // created when missing, emptied once the lock is held
  append,    // created when missing; every write goes to the end
};

// An open descriptor holding the lock; closing it releases the lock.
struct LockedFile {
  int fd = -1;
  LockedFile() = default;
  explicit LockedFile(int descriptor) : fd(descriptor) {}
  LockedFile(LockedFile&& other) noexcept : fd(other.fd) { other.fd = -1; }
  LockedFile& operator=(LockedFile&&) = delete;
  LockedFile(const LockedFile&) = delete;
  LockedFile& operator=(const LockedFile&) = delete;
  ~LockedFile();
  bool is_open() const { return fd >= 0; }
  // Gives up ownership of the descriptor (and of the lock that rides on it).
  int release() {
    const int d = fd;
    fd = -1;
    return d;
  }
};

// Closed (fd -1) when the file cannot be opened, is not a regular file, or another open
// holds its lock. Never blocks, not even on a FIFO planted under the file's name.
LockedFile open_locked(const std::string& path, OpenMode mode);

// The bytes in one write call, so a record is never split by a writer between two calls.
// Returns false when nothing or only part could be written; a part is cut off again, so the
// file never keeps half a record.
bool write_once(const LockedFile& file, std::string_view bytes);

}  // namespace lyap
