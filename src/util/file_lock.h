// An exclusive lock between processes that save the same file.
#pragma once

#include <string>

namespace tarvo {

// Takes an exclusive advisory lock (flock) on "<target>.lock", <target> being
// the file a write to `path` replaces (ResolveWriteTarget), so that every
// path leading to one file shares one lock. Waits for other holders; held
// until destruction. Programs that read the file, change it and write it back
// hold it across the whole sequence so that no other writer's change falls
// between. When the lock file cannot be opened (a folder we may not write,
// where the save fails anyway) nothing is locked and Held() is false.
class FileSaveLock {
 public:
  explicit FileSaveLock(const std::string& path);
  ~FileSaveLock();
  FileSaveLock(const FileSaveLock&) = delete;
  FileSaveLock& operator=(const FileSaveLock&) = delete;

  bool Held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

}  // namespace tarvo
