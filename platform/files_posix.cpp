#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <array>
#include <atomic>
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

// ---------------------------------------------------------------------------------------------
// Temporaries that a terminating signal removes, as git's tempfile.c does. Each write in progress
// holds a slot with its temporary's name, which the handler unlinks: no allocation, no lock, only
// memory that stays put. A name too long for a slot could not be opened either.

struct TemporarySlot {
  // held: a write owns the slot; creating: its file may be coming into being under `name`;
  // live: the file exists under `name`.
  enum : int { free, held, creating, live };
  std::atomic<int> state{free};
  char name[PATH_MAX]{};
};
std::array<TemporarySlot, 4> g_temporaries;
// Raised by the handler before it looks at the slots: a write that finds it raised makes no
// more temporaries, since the process may end before it could remove them.
std::atomic<bool> g_ending{false};
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free,
              "the signal handler reads the slots");

// The signals that end a process by default, as the console catches them (a fault is left to
// its own course: the process may not be able to run any of ours).
struct GuardedSignal {
  int sig;
  struct sigaction previous;
};
std::array<GuardedSignal, 9> g_guarded{{{SIGINT, {}},
                                        {SIGTERM, {}},
                                        {SIGHUP, {}},
                                        {SIGQUIT, {}},
                                        {SIGPIPE, {}},
                                        {SIGALRM, {}},
                                        {SIGUSR1, {}},
                                        {SIGUSR2, {}},
                                        {SIGXCPU, {}}}};

// Async-signal-safe: unlink(2), sigaction(2) and raise(3) only. The signal then goes on to the
// handler that was there before (the console's, which restores the terminal) or ends the
// process as it would have without us.
void remove_temporaries_and_pass_on(int sig) {
  const int saved_errno = errno;
  g_ending = true;
  for (TemporarySlot& slot : g_temporaries) {
    // A file being created on another thread (which holds the signals back meanwhile) is named
    // in a moment; its open is all there is to wait for.
    const timespec pause{0, 100000};
    for (int waited = 0; slot.state.load() == TemporarySlot::creating && waited < 10000; ++waited) {
      ::nanosleep(&pause, nullptr);
    }
    if (slot.state.load() == TemporarySlot::live) ::unlink(slot.name);
  }
  for (GuardedSignal& guarded : g_guarded) {
    if (guarded.sig != sig) continue;
    ::sigaction(sig, &guarded.previous, nullptr);
    ::raise(sig);  // delivered when this handler returns
    break;
  }
  errno = saved_errno;
}

// Once for the process, and never undone: a handler installed later (the console's) keeps ours
// by passing the signal on to it. A signal the process ignores (nohup) stays ignored.
void guard_temporaries() {
  static const bool installed = [] {
    for (GuardedSignal& guarded : g_guarded) {
      struct sigaction previous {};
      if (::sigaction(guarded.sig, nullptr, &previous) != 0) continue;
      if ((previous.sa_flags & SA_SIGINFO) == 0 && previous.sa_handler == SIG_IGN) continue;
      guarded.previous = previous;
      struct sigaction action {};
      sigemptyset(&action.sa_mask);
      action.sa_handler = remove_temporaries_and_pass_on;
      action.sa_flags = SA_ONSTACK;
      ::sigaction(guarded.sig, &action, nullptr);
    }
    return true;
  }();
  (void)installed;
}

// A write's hold on a slot, given back on every way out of the write. Without a free slot, or
// for a name too long to open anyway, the write goes on unguarded.
class GuardedName {
 public:
  GuardedName() {
    for (TemporarySlot& slot : g_temporaries) {
      int expected = TemporarySlot::free;
      if (slot.state.compare_exchange_strong(expected, TemporarySlot::held)) {
        slot_ = &slot;
        return;
      }
    }
  }
  GuardedName(const GuardedName&) = delete;
  GuardedName& operator=(const GuardedName&) = delete;
  ~GuardedName() { release(); }
  // A file is about to be created under `name`. False when a signal is ending the process: then
  // nothing may be created. Either this sees g_ending, or the handler sees `creating` (both
  // sequentially consistent) and waits for the file.
  bool begin(const std::string& name) {
    if (slot_ != nullptr && name.size() < sizeof slot_->name) {
      slot_->state = TemporarySlot::held;
      std::memcpy(slot_->name, name.c_str(), name.size() + 1);
      slot_->state = TemporarySlot::creating;
    }
    return !g_ending;
  }
  // Whether the file came into being: a signal removes it from now on.
  void end(bool created) {
    if (slot_ == nullptr) return;
    int expected = TemporarySlot::creating;
    slot_->state.compare_exchange_strong(expected,
                                         created ? TemporarySlot::live : TemporarySlot::held);
  }
  void release() {
    if (slot_ != nullptr) slot_->state = TemporarySlot::free;
    slot_ = nullptr;
  }

 private:
  TemporarySlot* slot_ = nullptr;
};

// Creates a fresh temporary for `path`, named in `temp` and in `guarded`'s slot; -1 with errno
// set when none can be made (EINTR: a signal is ending the process). A name already there (a
// leftover, a folder, a link) is never touched: another is drawn, and so many taken in a row
// would be no chance. This thread holds the signals back from before the file is created until
// its slot names it, so that the handler, here or on another thread, never misses it.
int create_temporary(const std::string& path, GuardedName& guarded, std::string& temp) {
  sigset_t held, before;
  sigemptyset(&held);
  for (const GuardedSignal& guarded_signal : g_guarded) sigaddset(&held, guarded_signal.sig);
  ::pthread_sigmask(SIG_BLOCK, &held, &before);
  constexpr int flags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC;
  int fd = -1;
  int error = EEXIST;
  for (int attempt = 0; attempt < 100 && fd < 0 && error == EEXIST; ++attempt) {
    temp = temporary_name(path);
    if (!guarded.begin(temp)) {
      error = EINTR;
      break;
    }
    fd = ::open(temp.c_str(), flags, 0644);
    error = errno;
    guarded.end(fd >= 0);
  }
  ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
  errno = error;
  return fd;
}

// A regular file under `name` in `folder`, removed; anything else left alone.
void remove_if_regular(int folder, const char* name) {
  struct stat info {};
  if (::fstatat(folder, name, &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(info.st_mode)) {
    ::unlinkat(folder, name, 0);
  }
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

  guard_temporaries();
  GuardedName guarded;
  std::string temp;
  Descriptor out(create_temporary(path, guarded, temp));
  if (out.fd < 0) return {WriteOutcome::failed, system_reason(errno)};
  // The new bytes reach the disk before the name points at them, so a power cut after the
  // rename cannot leave an empty file.
  const bool written = write_all(out.fd, bytes) && ::fsync(out.fd) == 0;
  int error = errno;
  const bool closed = ::close(out.fd) == 0;
  if (written && !closed) error = errno;
  out.fd = -1;
  if (written && closed && ::rename(temp.c_str(), path.c_str()) == 0) {
    guarded.release();
    return {WriteOutcome::written, {}};
  }
  if (written && closed) error = errno;
  ::unlink(temp.c_str());
  guarded.release();
  return {WriteOutcome::failed, system_reason(error)};
}

void remove_stale_temporaries(const std::vector<std::string>& paths) {
  // The earlier versions' fixed names by name, so that a folder that may not be listed loses
  // them too.
  for (const std::string& path : paths) remove_if_regular(AT_FDCWD, (path + ".tmp").c_str());
  if (paths.empty()) return;
  const std::size_t slash = paths[0].rfind('/');
  DIR* folder = ::opendir(slash == std::string::npos ? "." : paths[0].substr(0, slash + 1).c_str());
  if (folder == nullptr) return;
  while (const dirent* entry = ::readdir(folder)) {
    for (const std::string& path : paths) {
      const std::size_t at = path.rfind('/');
      const std::string_view file =
          std::string_view(path).substr(at == std::string::npos ? 0 : at + 1);
      if (is_temporary_of(entry->d_name, file)) remove_if_regular(::dirfd(folder), entry->d_name);
    }
  }
  ::closedir(folder);
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
