#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "platform/process.hpp"

namespace lyap {

FolderLock lock_folder(const std::string& folder) {
  // An advisory lock on the folder itself, so that nothing is created in it. The descriptor
  // stays open, deliberately, until the process ends.
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return FolderLock::unavailable;
  if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return FolderLock::held;
  const bool taken = errno == EWOULDBLOCK;
  ::close(fd);
  return taken ? FolderLock::taken : FolderLock::unavailable;
}

void survive_file_size_limit() {
  ::signal(SIGXFSZ, SIG_IGN);
}

}  // namespace lyap
