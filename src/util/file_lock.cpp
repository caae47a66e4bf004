#include "util/file_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "util/atomic_file.h"

namespace tarvo {

FileSaveLock::FileSaveLock(const std::string& path) {
  std::string target;
  if (!ResolveWriteTarget(path, target, nullptr)) return;
  // A lock needs no write access: a shared file's lock file made by another
  // user still serves.
  const std::string lockPath = target + ".lock";
  fd_ = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
  if (fd_ < 0) fd_ = ::open(lockPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd_ < 0) return;
  while (::flock(fd_, LOCK_EX) != 0) {
    if (errno != EINTR) {
      ::close(fd_);
      fd_ = -1;
      return;
    }
  }
}

FileSaveLock::~FileSaveLock() {
  if (fd_ >= 0) ::close(fd_);  // closing releases the lock
}

}  // namespace tarvo
