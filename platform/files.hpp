// Files in the folder of the search. Every output file is opened for exclusive use and closed
// again within one operation, and every failure comes back with the system's own words for it,
// so the run can tell the user which file it could not write and why. Whatever lies under a
// file's name and is not a regular file (a link, a FIFO, a device) is never written through,
// never followed and never opened in a way that could block.
//
// Names and reasons are the system's text: on POSIX the bytes as the system gives them, on
// Windows UTF-8.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/clock.hpp"

namespace lyap {

enum class OpenMode {
  read,      // existing file only
  truncate,  // created when missing, emptied once the lock is held
  append,    // created when missing; every write goes to the end
};

// What became of one write to a file: done, not needed, or failed for the reason given in the
// system's words.
struct WriteOutcome {
  enum Kind { written, skipped, failed } kind = skipped;
  std::string reason;
};
// `written` for an empty reason (as write_once returns it), `failed` for any other.
inline WriteOutcome outcome_of(std::string reason) {
  return reason.empty() ? WriteOutcome{WriteOutcome::written, {}}
                        : WriteOutcome{WriteOutcome::failed, std::move(reason)};
}

// An open file holding its exclusive lock; closing it releases the lock. The lock is taken
// without waiting: a file that another program holds is skipped rather than waited for, so the
// search never stalls on a file.
struct LockedFile {
  std::intptr_t handle = -1;  // a descriptor on POSIX, a HANDLE on Windows
  std::string failure;        // why it is not open, in the system's words
  LockedFile() = default;
  LockedFile(LockedFile&& other) noexcept
      : handle(other.handle), failure(std::move(other.failure)) {
    other.handle = -1;
  }
  LockedFile& operator=(LockedFile&&) = delete;
  LockedFile(const LockedFile&) = delete;
  LockedFile& operator=(const LockedFile&) = delete;
  ~LockedFile();
  bool is_open() const { return handle >= 0; }
};

// Not open, with `failure` set, when the file cannot be opened, is not a regular file (a link
// under the name counts as none, and is not followed), or another open holds its lock. Never
// blocks, not even on a FIFO planted under the file's name.
LockedFile open_locked(const std::string& path, OpenMode mode);

// Writes the bytes in one call, so a record is never split by a writer between two calls.
// Returns the reason when nothing or only part could be written (empty when all went); a part
// is cut off again, so the file never keeps half a record.
std::string write_once(const LockedFile& file, std::string_view bytes);

// Up to `size` bytes from the file's position; 0 at its end or on an error.
std::size_t read_some(const LockedFile& file, char* buffer, std::size_t size);

// The open file as a stdio stream for reading, which then owns it (and its lock). Null when
// the file is not open or the stream cannot be made; the file is closed either way.
std::FILE* into_stream(LockedFile&& file);

// The whole of a small regular file, read without its lock and without standing in the way of
// anyone who writes or replaces it meanwhile: for looking at a running search's files from
// outside. False, with `failure` set, for whatever open_locked would refuse to read (no file, a
// link, no regular file) and for a file of more than `limit` bytes.
bool read_unlocked(const std::string& path, std::size_t limit, std::string& text,
                   std::string& failure);

// What lies under a name, the name itself looked at: a link is described, not followed.
struct FileFacts {
  bool exists = false;
  bool regular = false;
  bool folder = false;
  std::uintmax_t size = 0;
  LocalTime modified;
};
FileFacts look_at_file(const std::string& path);

// Makes `bytes` the whole content of `path` at once: they are written to a fresh temporary
// beside it (temporary_name), reach the disk, and the temporary is renamed over `path`. A kill
// at any moment leaves the old content or the new one, never a mix; a failed write leaves the
// old file as it was and no temporary beside it, and so does a terminating signal. Whatever
// lies under `path` and is not a folder (a link, a FIFO, a device) is replaced by the new file,
// never written through. A regular file that cannot be written (read-only, or held by another
// open's lock) is left as it is.
WriteOutcome replace_file(const std::string& path, std::string_view bytes);

// A fresh name for replace_file to write `path` to first: `path`, a dot, six letters or digits
// drawn anew at each call, and ".tmp". A write creates its temporary only where nothing has the
// name yet, and draws again otherwise, so nothing left in the folder can stop it.
std::string temporary_name(const std::string& path);
// Whether `name` is a temporary of `path`: one of temporary_name's, or `path` + ".tmp", the one
// name that earlier versions of the program wrote to.
bool is_temporary_of(std::string_view name, std::string_view path);
// Removes the temporaries of the files `paths` (all in one folder) that writes ended by a kill
// or a power cut left behind: regular files under those names only, nothing else. Only while
// the folder's search lock is held, when no write of another search can be under way.
void remove_stale_temporaries(const std::vector<std::string>& paths);

// Removes the name: a link itself, never what it points to. False when nothing was removed.
bool remove_file(const std::string& path);

enum class Move { moved, name_taken, failed };
// Renames `from` to `to` unless something is already called `to`, which is never replaced.
// `failure` gets the reason when the move failed.
Move move_file_keeping_target(const std::string& from, const std::string& to, std::string& failure);

}  // namespace lyap
