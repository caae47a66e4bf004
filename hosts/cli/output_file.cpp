#include "output_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace tarvo::cli {

namespace fs = std::filesystem;

namespace {

fs::path FolderOf(const fs::path& p) { return p.has_parent_path() ? p.parent_path() : fs::path("."); }

// ".NAME.tarvo-" and ".part.EXT": what every temporary for this output
// starts and ends with; the process id lies between.
std::string TempPrefix(const fs::path& p) { return "." + p.stem().string() + ".tarvo-"; }
std::string TempSuffix(const fs::path& p) { return ".part" + p.extension().string(); }

// Seconds since the epoch at which process `pid` started, or -1.
int64_t ProcessStartTime(pid_t pid) {
  std::ifstream statFile("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(statFile, line)) return -1;
  // The command name is in parentheses and may hold spaces; fields after it
  // are plain. The start time (in clock ticks since boot) is field 22.
  const size_t close = line.rfind(')');
  if (close == std::string::npos) return -1;
  std::istringstream rest(line.substr(close + 1));
  std::string field;
  unsigned long long ticks = 0;
  for (int i = 3; i <= 22; ++i) {
    if (!(rest >> field)) return -1;
    if (i == 22) ticks = std::strtoull(field.c_str(), nullptr, 10);
  }
  std::ifstream sys("/proc/stat");
  long long bootTime = -1;
  for (std::string key; sys >> key;) {
    if (key == "btime") {
      sys >> bootTime;
      break;
    }
    std::getline(sys, key);
  }
  const long hz = sysconf(_SC_CLK_TCK);
  if (bootTime < 0 || hz <= 0) return -1;
  return bootTime + static_cast<int64_t>(ticks / static_cast<unsigned long long>(hz));
}

// Whether the temporary `path`, written by process `pid`, can go: nobody
// holds its lock, and its process is gone (or the id now belongs to a process
// that started after the file was last written). A temporary of a renderer
// that does not lock (an older version) is kept while its process runs.
bool RemoveIfStale(const std::string& path, pid_t pid) {
  struct stat before {};
  if (::lstat(path.c_str(), &before) != 0 || !S_ISREG(before.st_mode)) return false;
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  bool removed = false;
  struct stat held {};
  if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::fstat(fd, &held) == 0 && held.st_ino == before.st_ino &&
      held.st_dev == before.st_dev) {
    bool gone = ::kill(pid, 0) != 0 && errno == ESRCH;
    if (!gone) {
      const int64_t started = ProcessStartTime(pid);
      // One second of slack: the boot time is only known to the second.
      gone = started >= 0 && started > static_cast<int64_t>(held.st_mtim.tv_sec) + 1;
    }
    // Remove only the file we checked, not one that replaced it meanwhile.
    struct stat now {};
    if (gone && ::lstat(path.c_str(), &now) == 0 && now.st_ino == held.st_ino && now.st_dev == held.st_dev)
      removed = ::unlink(path.c_str()) == 0;
  }
  ::close(fd);
  return removed;
}

}  // namespace

PendingOutput::PendingOutput(std::string finalPath) : final_(std::move(finalPath)) {
  const fs::path p(final_);
  temp_ = (FolderOf(p) / (TempPrefix(p) + std::to_string(::getpid()) + TempSuffix(p))).string();
}

PendingOutput::~PendingOutput() { Discard(); }

bool PendingOutput::CheckWritable(std::string* error) const {
  const fs::path p(final_);
  const fs::path dir = FolderOf(p);
  std::error_code ec;
  if (!fs::is_directory(dir, ec)) {
    if (error) *error = "cannot write '" + final_ + "': folder '" + dir.string() + "' does not exist";
    return false;
  }
  if (fs::is_directory(p, ec)) {
    if (error) *error = "cannot write '" + final_ + "': it is a folder";
    return false;
  }
  if (::access(dir.c_str(), W_OK) != 0) {
    if (error) *error = "cannot write '" + final_ + "': " + std::strerror(errno);
    return false;
  }
  return true;
}

bool PendingOutput::Create(std::string* error) {
  ReleaseLock();
  // A name with our own process id can only be a leftover of a dead process
  // that had the same id; it is taken over (and emptied) once locked.
  const int fd = ::open(temp_.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) {
    if (error) *error = "cannot write '" + final_ + "': " + std::strerror(errno);
    return false;
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    // Only a process of another process-id namespace can hold it.
    if (error) *error = "cannot write '" + final_ + "': its temporary '" + temp_ + "' is in use by another process";
    ::close(fd);
    done_ = true;  // not ours: never remove it
    return false;
  }
  if (::ftruncate(fd, 0) != 0) {
    if (error) *error = "cannot write '" + final_ + "': " + std::strerror(errno);
    ::close(fd);
    Discard();
    return false;
  }
  lockFd_ = fd;
  done_ = false;
  return true;
}

void PendingOutput::ReleaseLock() {
  if (lockFd_ >= 0) ::close(lockFd_);
  lockFd_ = -1;
}

bool RenameNoReplace(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP && errno != EOPNOTSUPP) return false;
  // A file system without that kind of rename: a hard link fails on an
  // existing name just the same.
  if (::link(from.c_str(), to.c_str()) == 0) {
    ::unlink(from.c_str());
    return true;
  }
  if (errno == EEXIST || (errno != EPERM && errno != ENOTSUP && errno != EOPNOTSUPP && errno != EMLINK)) return false;
  // Nor hard links (FAT, some network shares): claim the name with an
  // exclusive create, then move the file onto the claim.
  const int fd = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  ::close(fd);
  if (std::rename(from.c_str(), to.c_str()) == 0) return true;
  const int saved = errno;
  ::unlink(to.c_str());
  errno = saved;
  return false;
}

bool PendingOutput::Commit(std::string* error, bool noReplace) {
  const int fd = lockFd_ >= 0 ? ::dup(lockFd_) : ::open(temp_.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
  const bool moved = noReplace ? RenameNoReplace(temp_, final_) : std::rename(temp_.c_str(), final_.c_str()) == 0;
  if (!moved) {
    if (error) {
      if (noReplace && errno == EEXIST)
        *error = "'" + final_ + "' appeared while rendering (and -n was given); it was left as it is and the render "
                 "was not kept";
      else
        *error = "cannot write '" + final_ + "': " + std::strerror(errno);
    }
    Discard();
    return false;
  }
  done_ = true;
  ReleaseLock();
  return true;
}

void PendingOutput::Discard() {
  if (!done_) {
    ::unlink(temp_.c_str());
    done_ = true;
  }
  ReleaseLock();
}

std::vector<std::string> RemoveStaleTemporaries(const std::string& finalPath) {
  std::vector<std::string> removed;
  const fs::path p(finalPath);
  const std::string prefix = TempPrefix(p), suffix = TempSuffix(p);
  std::error_code ec;
  for (fs::directory_iterator it(FolderOf(p), ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.size() <= prefix.size() + suffix.size() || name.compare(0, prefix.size(), prefix) != 0 ||
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
      continue;
    const std::string digits = name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
    if (digits.empty() || digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos) continue;
    const auto pid = static_cast<pid_t>(std::stol(digits));
    if (pid <= 0 || pid == ::getpid()) continue;
    if (RemoveIfStale(it->path().string(), pid)) removed.push_back(name);
  }
  return removed;
}

}  // namespace tarvo::cli
