#include "util/atomic_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <limits>
#include <memory>
#include <optional>
#include <random>
#include <vector>

#include "util/file_read.h"

namespace tarvo {
namespace {

void SetError(std::string* error, const std::string& what, const std::string& path, int err) {
  if (error) *error = what + " '" + path + "': " + std::strerror(err);
}

constexpr int kMaxLinks = 40;
constexpr char kTempInfix[] = ".tmp-";
// Temporaries named by earlier versions carry no owner; they are removed once
// they are this old and nobody holds them.
constexpr time_t kOwnerlessTempAge = 3600;

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string BaseNameOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The start time of a process in clock ticks since boot (field 22 of
// /proc/PID/stat), which tells a process apart from a later one that got the
// same id. Nothing when the process does not exist or /proc cannot tell.
std::optional<unsigned long long> StartTimeOf(long pid) {
  char name[64];
  std::snprintf(name, sizeof name, "/proc/%ld/stat", pid);
  std::ifstream in(name);
  if (!in) return std::nullopt;
  std::string line;
  std::getline(in, line);
  // The command name in parentheses may hold spaces and parentheses itself.
  const size_t close = line.rfind(')');
  if (close == std::string::npos) return std::nullopt;
  const char* p = line.c_str() + close + 1;
  for (int field = 3; field < 22; ++field) {  // fields 3..21 come first
    while (*p == ' ') ++p;
    while (*p && *p != ' ') ++p;
  }
  char* end = nullptr;
  errno = 0;
  const unsigned long long t = std::strtoull(p, &end, 10);
  if (end == p || errno != 0) return std::nullopt;
  return t;
}

// This process's start time, looked up again in a forked child.
unsigned long long OwnStartTime() {
  static std::atomic<long> knownPid{0};
  static std::atomic<unsigned long long> knownStart{0};
  const long pid = static_cast<long>(::getpid());
  if (knownPid.load() != pid) {
    knownStart.store(StartTimeOf(pid).value_or(0));
    knownPid.store(pid);
  }
  return knownStart.load();
}

// Whether the process that named a temporary (pid, start time; 0 when its
// start time was unknown) may still be writing it.
bool WriterMayBeAlive(long pid, unsigned long long start) {
  if (pid <= 0) return false;
  if (pid == static_cast<long>(::getpid())) return true;  // another save of this process
  if (const auto now = StartTimeOf(pid)) return start == 0 || *now == start;
  return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

bool AllDigits(const std::string& s) {
  if (s.empty()) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

bool AllAlphanumeric(const std::string& s) {
  for (char c : s)
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))) return false;
  return true;
}

// Whether `suffix` (what follows "<name>.tmp-") is a temporary of ours whose
// writer is gone: "<pid>-<start>-<6 random>" with no live owner, or the
// ownerless six characters of earlier versions after an hour.
bool IsStaleTemporary(const std::string& folder, const std::string& entry, const std::string& suffix) {
  const size_t a = suffix.find('-');
  const size_t b = a == std::string::npos ? std::string::npos : suffix.find('-', a + 1);
  const bool owned = b != std::string::npos && AllDigits(suffix.substr(0, a)) &&
                     AllDigits(suffix.substr(a + 1, b - a - 1)) && suffix.size() - b - 1 == 6 &&
                     AllAlphanumeric(suffix.substr(b + 1)) && a <= 10 && b - a - 1 <= 20;
  const bool ownerless = suffix.size() == 6 && AllAlphanumeric(suffix);
  if (!owned && !ownerless) return false;
  struct stat st;
  const std::string full = folder + "/" + entry;
  if (::lstat(full.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  if (owned) {
    const long pid = std::strtol(suffix.c_str(), nullptr, 10);
    const unsigned long long start = std::strtoull(suffix.c_str() + a + 1, nullptr, 10);
    if (WriterMayBeAlive(pid, start)) return false;
  } else if (std::time(nullptr) - st.st_mtime < kOwnerlessTempAge) {
    return false;
  }
  // A writer holds its temporary locked; a lock we can take means nobody
  // writes it (this also covers a writer on another machine sharing the
  // folder, whose process id means nothing here).
  const int fd = ::open(full.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  const bool free = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
  ::close(fd);
  return free;
}

// Removes the temporaries killed writers left beside `target`.
void RemoveStaleTemporaries(const std::string& target) {
  const std::string folder = FolderOf(target);
  const std::string prefix = BaseNameOf(target) + kTempInfix;
  // The folder is closed however the scan ends: building a name may throw.
  const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), ::closedir);
  if (!dir) return;
  std::vector<std::string> stale;
  while (const dirent* e = ::readdir(dir.get())) {
    const std::string name = e->d_name;
    if (name.size() > prefix.size() && name.compare(0, prefix.size(), prefix) == 0 &&
        IsStaleTemporary(folder, name, name.substr(prefix.size())))
      stale.push_back(name);
  }
  for (const std::string& name : stale) ::unlink((folder + "/" + name).c_str());
}

// Creates "<target>.tmp-<pid>-<start>-<random>" for writing, with the
// permissions of a new file, and locks it. -1 with errno set on failure.
int CreateTemporary(const std::string& target, std::string& tmp) {
  static const char kChars[] = "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
  std::random_device seed;
  std::minstd_rand rng(seed());
  const std::string stem =
      target + kTempInfix + std::to_string(::getpid()) + "-" + std::to_string(OwnStartTime()) + "-";
  for (int attempt = 0; attempt < 100; ++attempt) {
    tmp = stem;
    for (int i = 0; i < 6; ++i) tmp += kChars[rng() % (sizeof kChars - 1)];
    const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd >= 0) {
      while (::flock(fd, LOCK_EX) != 0 && errno == EINTR) {
      }
      return fd;
    }
    if (errno != EEXIST) return -1;
  }
  errno = EEXIST;
  return -1;
}

// Gives the temporary the replaced file's owner, group and permission bits.
// Setting the owner needs privileges, and the group membership of that group:
// what the process may not set stays as created.
void CopyOwnerAndMode(int fd, const struct stat& old) {
  struct stat now;
  if (::fstat(fd, &now) == 0 && (now.st_uid != old.st_uid || now.st_gid != old.st_gid)) {
    if (::fchown(fd, old.st_uid, old.st_gid) != 0 && now.st_gid != old.st_gid) {
      if (::fchown(fd, static_cast<uid_t>(-1), old.st_gid) != 0) {
        // Neither is permitted: the file keeps our owner and group.
      }
    }
  }
  // After fchown, which may clear the set-id bits.
  if (::fchmod(fd, old.st_mode & 07777) != 0) {
    // Our own new file: cannot fail in practice; the created mode stays.
  }
}

// Makes the rename itself durable.
void SyncFolder(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

}  // namespace

bool ResolveWriteTarget(const std::string& path, std::string& target, std::string* error) {
  std::string p = path;
  for (int links = 0;; ++links) {
    struct stat st;
    if (::lstat(p.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
      target = p;  // a file, or nothing yet (the write creates it or says why not)
      return true;
    }
    if (links == kMaxLinks) {
      SetError(error, "cannot write", path, ELOOP);
      return false;
    }
    std::string link(static_cast<size_t>(st.st_size > 0 ? st.st_size : 255) + 1, '\0');
    const ssize_t n = ::readlink(p.c_str(), link.data(), link.size());
    if (n < 0) {
      SetError(error, "cannot follow the link", path, errno);
      return false;
    }
    if (static_cast<size_t>(n) >= link.size()) {
      SetError(error, "cannot follow the link", path, ENAMETOOLONG);  // changed while read
      return false;
    }
    link.resize(static_cast<size_t>(n));
    if (link.empty()) {
      SetError(error, "cannot follow the link", path, ENOENT);
      return false;
    }
    if (link[0] == '/') p = link;
    else if (p.find('/') == std::string::npos) p = link;
    else p = FolderOf(p) + "/" + link;
  }
}

bool WriteFileAtomically(const std::string& path, const void* bytes, size_t size, std::string* error) {
  std::string target;
  if (!ResolveWriteTarget(path, target, error)) return false;
  // Messages name the path as given, and the file it links to.
  auto setError = [&](const char* what, int err) {
    if (!error) return;
    *error = std::string(what) + " '" + path + "'";
    if (target != path) *error += " (a link to '" + target + "')";
    *error += std::string(": ") + std::strerror(err);
  };
  struct stat old;
  const bool replacing = ::stat(target.c_str(), &old) == 0;
  // A folder, a pipe or a device in the file's place is the user's mistake
  // to be told of, not something to replace with a plain file.
  if (replacing && !S_ISREG(old.st_mode)) {
    if (error) {
      *error = "cannot replace '" + path + "'";
      if (target != path) *error += " (a link to '" + target + "')";
      *error += S_ISDIR(old.st_mode) ? ": it is a folder" : ": it is not a regular file";
    }
    return false;
  }
  RemoveStaleTemporaries(target);

  std::string tmp;
  const int fd = CreateTemporary(target, tmp);
  if (fd < 0) {
    setError("cannot create a temporary file for", errno);
    return false;
  }
  auto fail = [&](const char* what, int err) {
    ::close(fd);
    ::unlink(tmp.c_str());
    setError(what, err);
    return false;
  };
  const auto* p = static_cast<const uint8_t*>(bytes);
  size_t left = size;
  while (left > 0) {
    ssize_t n = ::write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      return fail("cannot write", errno);
    }
    p += n;
    left -= static_cast<size_t>(n);
  }
  if (replacing) CopyOwnerAndMode(fd, old);
  if (::fsync(fd) != 0) return fail("cannot write", errno);
  // The rename happens while the temporary is still locked, so no cleaner
  // takes it for a killed writer's.
  if (::rename(tmp.c_str(), target.c_str()) != 0) return fail("cannot replace", errno);
  if (::close(fd) != 0) {
    // The data reached the disk with fsync and the rename is done.
  }
  SyncFolder(FolderOf(target));
  return true;
}

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& out, std::string* error) {
  return ReadStoredFile(path, std::numeric_limits<size_t>::max(), out, error) == ReadStatus::Ok;
}

}  // namespace tarvo
