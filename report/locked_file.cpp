#include "report/locked_file.hpp"

#include <cerrno>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lyap {

LockedFile::~LockedFile() {
  if (fd >= 0) ::close(fd);
}

LockedFile open_locked(const std::string& path, OpenMode mode) {
  int flags = O_CLOEXEC | O_NONBLOCK | O_NOCTTY;
  switch (mode) {
    case OpenMode::read:
      flags |= O_RDONLY;
      break;
    // Never O_TRUNC: that would empty the file before we know that nobody else holds it.
    case OpenMode::truncate:
      flags |= O_WRONLY | O_CREAT;
      break;
    case OpenMode::append:
      flags |= O_WRONLY | O_CREAT | O_APPEND;
      break;
  }
  LockedFile file(::open(path.c_str(), flags, 0644));
  if (!file.is_open()) return {};
  struct stat info {};
  if (::fstat(file.fd, &info) != 0 || !S_ISREG(info.st_mode)) return {};
  if (::flock(file.fd, LOCK_EX | LOCK_NB) != 0) return {};
  if (mode == OpenMode::truncate && ::ftruncate(file.fd, 0) != 0) return {};
  return file;
}

bool write_once(const LockedFile& file, std::string_view bytes) {
  if (!file.is_open()) return false;
  struct stat before {};
  const bool sized = ::fstat(file.fd, &before) == 0;
  ssize_t written;
  do {
    written = ::write(file.fd, bytes.data(), bytes.size());
  } while (written < 0 && errno == EINTR);
  if (written >= 0 && static_cast<std::size_t>(written) == bytes.size()) return true;
  // A full disk (or a file size limit) can take part of a record. Cut it off again: we hold the
  // lock, so the file still ends where it ended before, with whole records only.
  if (written > 0 && sized) (void)!::ftruncate(file.fd, before.st_size);
  return false;
}

}  // namespace lyap
