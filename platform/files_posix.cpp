#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/files.hpp"

namespace lyap {

namespace {

std::string system_reason(int error) {
  if (error == EWOULDBLOCK) return "in use by another program";
  return std::strerror(error);
}

int fd_of(const LockedFile& file) {
  return static_cast<int>(file.handle);
}

// The file being opened is closed by its own destructor on the way out.
LockedFile failed(int error) {
  LockedFile result;
  result.failure = system_reason(error);
  return result;
}

}  // namespace

LockedFile::~LockedFile() {
  if (handle >= 0) ::close(fd_of(*this));
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
  LockedFile file;
  file.handle = ::open(path.c_str(), flags, 0644);
  if (!file.is_open()) return failed(errno);
  struct stat info {};
  if (::fstat(fd_of(file), &info) != 0) return failed(errno);
  if (!S_ISREG(info.st_mode)) {
    LockedFile result;
    result.failure = "not a regular file";
    return result;
  }
  if (::flock(fd_of(file), LOCK_EX | LOCK_NB) != 0) return failed(errno);
  if (mode == OpenMode::truncate && ::ftruncate(fd_of(file), 0) != 0) {
    return failed(errno);
  }
  return file;
}

std::string write_once(const LockedFile& file, std::string_view bytes) {
  if (!file.is_open()) return file.failure.empty() ? "not open" : file.failure;
  struct stat before {};
  const bool sized = ::fstat(fd_of(file), &before) == 0;
  ssize_t written;
  do {
    written = ::write(fd_of(file), bytes.data(), bytes.size());
  } while (written < 0 && errno == EINTR);
  if (written >= 0 && static_cast<std::size_t>(written) == bytes.size()) return {};
  // A full disk (or a file size limit) can take part of a record. Cut it off again: we hold the
  // lock, so the file still ends where it ended before, with whole records only. A short write
  // sets no errno; the write that would go on from there tells why it stopped.
  int error = errno;
  if (written >= 0) {
    const std::size_t rest = bytes.size() - static_cast<std::size_t>(written);
    const ssize_t more = ::write(fd_of(file), bytes.data() + written, rest);
    if (more >= 0 && static_cast<std::size_t>(more) == rest) return {};
    error = more < 0 ? errno : ENOSPC;
  }
  if (written > 0 && sized) (void)!::ftruncate(fd_of(file), before.st_size);
  return system_reason(error);
}

std::size_t read_some(const LockedFile& file, char* buffer, std::size_t size) {
  if (!file.is_open()) return 0;
  for (;;) {
    const ssize_t got = ::read(fd_of(file), buffer, size);
    if (got >= 0) return static_cast<std::size_t>(got);
    if (errno != EINTR) return 0;
  }
}

std::FILE* into_stream(LockedFile&& file) {
  if (!file.is_open()) return nullptr;
  std::FILE* stream = ::fdopen(fd_of(file), "rb");
  if (stream != nullptr) file.handle = -1;  // the stream closes it now
  return stream;
}

FileFacts look_at_file(const std::string& path) {
  FileFacts facts;
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return facts;
  facts.exists = true;
  facts.regular = S_ISREG(info.st_mode);
  facts.size = static_cast<std::uintmax_t>(info.st_size);
  struct tm local {};
  if (::localtime_r(&info.st_mtime, &local) != nullptr) {
    facts.modified = {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                      local.tm_hour,        local.tm_min,     local.tm_sec};
  }
  return facts;
}

Move move_file_keeping_target(const std::string& from, const std::string& to,
                              std::string& failure) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
    return Move::moved;
  }
  if (errno == EEXIST) return Move::name_taken;
  // File systems that cannot rename without replacing: a hard link never replaces either.
  if (errno == EINVAL || errno == ENOSYS) {
    if (::link(from.c_str(), to.c_str()) == 0) {
      if (::unlink(from.c_str()) == 0) return Move::moved;
      failure = system_reason(errno);
      ::unlink(to.c_str());
      return Move::failed;
    }
    if (errno == EEXIST) return Move::name_taken;
  }
  failure = system_reason(errno);
  return Move::failed;
}

}  // namespace lyap
