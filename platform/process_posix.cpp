#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "platform/process.hpp"

namespace lyap {

namespace {

// The name every search on this machine binds for the folder: its device and inode.
std::string lock_name(const struct stat& folder) {
  char name[80];
  std::snprintf(name, sizeof name, "lyapsearch-folder-%llx-%llx",
                static_cast<unsigned long long>(folder.st_dev),
                static_cast<unsigned long long>(folder.st_ino));
  return name;
}

// A socket bound to a name in the abstract namespace, made of the folder's device and inode:
// it creates nothing in any folder, needs no read permission on the folder, every user on the
// machine sees it, and the system frees the name when the process ends. The descriptor stays
// open, deliberately, until then.
FolderLock lock_by_name(const struct stat& folder, std::string& reason) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    reason = std::strerror(errno);
    return FolderLock::unavailable;
  }
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  // sun_path[0] stays 0: the abstract namespace.
  const std::string name = lock_name(folder);
  std::memcpy(address.sun_path + 1, name.data(), name.size());
  const auto size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), size) == 0) return FolderLock::held;
  const int error = errno;
  ::close(fd);
  if (error == EADDRINUSE) return FolderLock::taken;
  reason = std::strerror(error);
  return FolderLock::unavailable;
}

// The folder's identity for both the lock and the look at it; false, with the reason, for
// anything that is not a folder.
bool look_at_folder(const std::string& folder, struct stat& info, std::string& reason) {
  if (::stat(folder.c_str(), &info) != 0) {
    reason = std::strerror(errno);
    return false;
  }
  if (!S_ISDIR(info.st_mode)) {
    reason = std::strerror(ENOTDIR);
    return false;
  }
  return true;
}

// An advisory lock on the folder itself, which a search on another machine sharing the folder
// (NFS) sees too. Needs read permission on the folder, and not every file system has it.
FolderLock lock_by_flock(const std::string& folder, std::string& reason) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    reason = std::strerror(errno);
    return FolderLock::unavailable;
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return FolderLock::held;
  const int error = errno;
  ::close(fd);
  if (error == EWOULDBLOCK) return FolderLock::taken;
  reason = std::strerror(error);
  return FolderLock::unavailable;
}

}  // namespace

FolderLock lock_folder(const std::string& folder, std::string& reason) {
  struct stat info {};
  if (!look_at_folder(folder, info, reason)) return FolderLock::unavailable;
  // Both locks, so that a search started by any means sees this one: the name for every search
  // on this machine, the folder's own lock for searches elsewhere. Either one suffices to run.
  std::string name_reason, flock_reason;
  const FolderLock by_name = lock_by_name(info, name_reason);
  if (by_name == FolderLock::taken) return FolderLock::taken;
  const FolderLock by_flock = lock_by_flock(folder, flock_reason);
  if (by_flock == FolderLock::taken) return FolderLock::taken;
  if (by_name == FolderLock::held || by_flock == FolderLock::held) return FolderLock::held;
  reason = name_reason;
  return FolderLock::unavailable;
}

namespace {

// Whether the system's table `path` has a line whose words include `word`; unset when the
// table cannot be read.
std::optional<bool> table_names(const char* path, const std::string& word) {
  std::ifstream in(path);
  if (!in) return std::nullopt;
  for (std::string line; std::getline(in, line);) {
    std::istringstream words(line);
    for (std::string w; words >> w;) {
      if (w == word) return true;
    }
  }
  return false;
}

}  // namespace

FolderUse folder_in_use(const std::string& folder, std::string& reason) {
  struct stat info {};
  if (!look_at_folder(folder, info, reason)) return FolderUse::no_folder;
  // The system's own lists of bound names and of held locks show both of lock_folder's locks
  // without our taking either: a bind or a flock here, however brief, could turn away a search
  // starting at that moment.
  const std::optional<bool> named = table_names("/proc/net/unix", '@' + lock_name(info));
  if (named == true) return FolderUse::searched;
  char flock_id[80];  // as /proc/locks writes a file: major:minor:inode
  std::snprintf(flock_id, sizeof flock_id, "%02x:%02x:%llu", major(info.st_dev), minor(info.st_dev),
                static_cast<unsigned long long>(info.st_ino));
  const std::optional<bool> flocked = table_names("/proc/locks", flock_id);
  if (flocked == true) return FolderUse::searched;
  if (named.has_value() && flocked.has_value()) return FolderUse::idle;
  reason = "the system does not list its locks (/proc)";
  return FolderUse::cannot_tell;
}

std::string current_folder() {
  std::vector<char> buffer(4096);
  for (;;) {
    if (::getcwd(buffer.data(), buffer.size()) != nullptr) return buffer.data();
    if (errno != ERANGE || buffer.size() > (1u << 20)) return {};
    buffer.resize(buffer.size() * 2);
  }
}

void survive_file_size_limit() {
  ::signal(SIGXFSZ, SIG_IGN);
}

namespace {

// A cgroup v2 cpu.max file: "quota period", or "max period" for none. 0 for none.
int processors_in_cpu_max(const std::string& file) {
  std::ifstream in(file);
  std::string quota_text;
  long long period = 0;
  if (!(in >> quota_text >> period) || quota_text == "max" || period <= 0) return 0;
  const long long quota = std::atoll(quota_text.c_str());
  if (quota <= 0) return 0;
  // A quota of 1.5 processors keeps two workers busy 75% of the time each: round up.
  return static_cast<int>((quota + period - 1) / period);
}

// The processors' worth of time the CPU quota allows: the tightest cpu.max of the process's
// control group and of the groups above it (cgroup v2), or cgroup v1's quota over its period.
// 0 when nothing sets a quota.
int quota_processors() {
  std::string group;  // "0::/path" is the cgroup v2 line of /proc/self/cgroup
  {
    std::ifstream in("/proc/self/cgroup");
    for (std::string line; std::getline(in, line);) {
      if (line.rfind("0::", 0) == 0) group = line.substr(3);
    }
  }
  int tightest = 0;
  for (std::string path = group;;) {
    const int quota = processors_in_cpu_max("/sys/fs/cgroup" + path + "/cpu.max");
    if (quota > 0 && (tightest == 0 || quota < tightest)) tightest = quota;
    const std::size_t slash = path.find_last_of('/');
    if (path.empty() || slash == std::string::npos) break;
    path.erase(slash);
  }
  if (tightest > 0) return tightest;

  std::ifstream v1_quota("/sys/fs/cgroup/cpu/cpu.cfs_quota_us");
  std::ifstream v1_period("/sys/fs/cgroup/cpu/cpu.cfs_period_us");
  long long quota = 0;
  long long period = 0;
  if (!(v1_quota >> quota) || !(v1_period >> period) || quota <= 0 || period <= 0) return 0;
  return static_cast<int>((quota + period - 1) / period);
}

}  // namespace

int usable_processors() {
  int count = 0;
  cpu_set_t mask;
  CPU_ZERO(&mask);
  if (::sched_getaffinity(0, sizeof mask, &mask) == 0) count = CPU_COUNT(&mask);
  if (count <= 0) count = static_cast<int>(::sysconf(_SC_NPROCESSORS_ONLN));
  const int quota = quota_processors();
  if (quota > 0 && quota < count) count = quota;
  return count > 0 ? count : 1;
}

void lower_thread_priority() {
  // On Linux each thread has a nice value of its own, set through its thread id.
  (void)::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), 19);
}

}  // namespace lyap
