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

constexpr const char* not_regular = "not a regular file";

std::string system_reason(int error) {
  if (error == EWOULDBLOCK) return "in use by another program";
  return std::strerror(error);
}

int fd_of(const LockedFile& file) {
  return static_cast<int>(file.handle);
}

// Something under the name that is neither a regular file nor a folder: a link, a FIFO, a
// device, a socket.
bool is_other_kind(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode);
}

// The file being opened is closed by its own destructor on the way out.
LockedFile failed(std::string reason) {
  LockedFile result;
  result.failure = std::move(reason);
  return result;
}

// A descriptor closed on every way out of a function.
struct Descriptor {
  int fd = -1;
  explicit Descriptor(int fd_) : fd(fd_) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() {
    if (fd >= 0) ::close(fd);
  }
};

bool write_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) {
      errno = ENOSPC;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

}  // namespace

LockedFile::~LockedFile() {
  if (handle >= 0) ::close(fd_of(*this));
}

LockedFile open_locked(const std::string& path, OpenMode mode) {
  // O_NOFOLLOW: a link under the name is refused, not followed out of the folder; O_NONBLOCK:
  // a FIFO under the name cannot stall the open.
  int flags = O_CLOEXEC | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW;
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
  if (!file.is_open()) {
    const int error = errno;
    // A link (ELOOP) or a FIFO without a reader (ENXIO) says so in plain words.
    if (error != EISDIR && is_other_kind(path)) return failed(not_regular);
    return failed(system_reason(error));
  }
  struct stat info {};
  if (::fstat(fd_of(file), &info) != 0) return failed(system_reason(errno));
  if (!S_ISREG(info.st_mode)) return failed(not_regular);
  if (::flock(fd_of(file), LOCK_EX | LOCK_NB) != 0) return failed(system_reason(errno));
  if (mode == OpenMode::truncate && ::ftruncate(fd_of(file), 0) != 0) {
    return failed(system_reason(errno));
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

bool read_unlocked(const std::string& path, std::size_t limit, std::string& text,
                   std::string& failure) {
  text.clear();
  Descriptor in(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW));
  if (in.fd < 0) {
    const int error = errno;
    failure = error != EISDIR && is_other_kind(path) ? not_regular : system_reason(error);
    return false;
  }
  struct stat info {};
  if (::fstat(in.fd, &info) != 0) {
    failure = system_reason(errno);
    return false;
  }
  if (!S_ISREG(info.st_mode)) {
    failure = not_regular;
    return false;
  }
  char buffer[4096];
  for (;;) {
    const ssize_t got = ::read(in.fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      failure = system_reason(errno);
      return false;
    }
    if (got == 0) return true;
    text.append(buffer, static_cast<std::size_t>(got));
    // The file may grow while we read: what is past the limit is never kept.
    if (text.size() > limit) {
      failure = "it is far too long";
      return false;
    }
  }
}

FileFacts look_at_file(const std::string& path) {
  FileFacts facts;
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) return facts;
  facts.exists = true;
  facts.regular = S_ISREG(info.st_mode);
  facts.folder = S_ISDIR(info.st_mode);
  facts.size = static_cast<std::uintmax_t>(info.st_size);
  struct tm local {};
  if (::localtime_r(&info.st_mtime, &local) != nullptr) {
    facts.modified = {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                      local.tm_hour,        local.tm_min,     local.tm_sec};
  }
  return facts;
}

WriteOutcome replace_file(const std::string& path, std::string_view bytes) {
  // A regular file under the name must be one we could write in place: not read-only, and not
  // held by another open (that open's lock is held through the rename). Anything else that is
  // not a folder is simply replaced; it is never opened, so a device or FIFO sees nothing.
  Descriptor existing(-1);
  struct stat info {};
  if (::lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
    existing.fd = ::open(path.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (existing.fd < 0 && errno != ENOENT && errno != ELOOP) {
      return {WriteOutcome::failed, system_reason(errno)};
    }
    if (existing.fd >= 0 && ::flock(existing.fd, LOCK_EX | LOCK_NB) != 0) {
      return {WriteOutcome::failed, system_reason(errno)};
    }
  }

  const std::string temp = temporary_name(path);
  constexpr int temp_flags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC;
  Descriptor out(::open(temp.c_str(), temp_flags, 0644));
  // The name is ours alone: whatever is there was left by a write cut short (or planted), and
  // goes; unlink removes a link itself, never what it points to.
  if (out.fd < 0 && errno == EEXIST && ::unlink(temp.c_str()) == 0) {
    out.fd = ::open(temp.c_str(), temp_flags, 0644);
  }
  if (out.fd < 0) return {WriteOutcome::failed, system_reason(errno)};
  // The new bytes reach the disk before the name points at them, so a power cut after the
  // rename cannot leave an empty file.
  const bool written = write_all(out.fd, bytes) && ::fsync(out.fd) == 0;
  int error = errno;
  const bool closed = ::close(out.fd) == 0;
  if (written && !closed) error = errno;
  out.fd = -1;
  if (written && closed && ::rename(temp.c_str(), path.c_str()) == 0) {
    return {WriteOutcome::written, {}};
  }
  if (written && closed) error = errno;
  ::unlink(temp.c_str());
  return {WriteOutcome::failed, system_reason(error)};
}

bool remove_file(const std::string& path) {
  return ::unlink(path.c_str()) == 0;
}

Move move_file_keeping_target(const std::string& from, const std::string& to,
                              std::string& failure) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
    return Move::moved;
  }
  if (errno == EEXIST) return Move::name_taken;
  // File systems that cannot rename without replacing: a hard link never replaces either (and
  // links a symbolic link itself, not what it points to).
  if (errno == EINVAL || errno == ENOSYS) {
    if (::linkat(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), 0) == 0) {
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
