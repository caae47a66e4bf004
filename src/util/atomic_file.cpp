#include "util/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>

#include "util/file_read.h"

namespace tarvo {
namespace {

void SetError(std::string* error, const std::string& what, const std::string& path, int err) {
  if (error) *error = what + " '" + path + "': " + std::strerror(err);
}

}  // namespace

bool WriteFileAtomically(const std::string& path, const void* bytes, size_t size, std::string* error) {
  std::string tmp = path + ".tmp-XXXXXX";
  int fd = ::mkstemp(tmp.data());
  if (fd < 0) {
    SetError(error, "cannot create a temporary file for", path, errno);
    return false;
  }
  const auto* p = static_cast<const uint8_t*>(bytes);
  size_t left = size;
  while (left > 0) {
    ssize_t n = ::write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      int err = errno;
      ::close(fd);
      ::unlink(tmp.c_str());
      SetError(error, "cannot write", path, err);
      return false;
    }
    p += n;
    left -= static_cast<size_t>(n);
  }
  // mkstemp creates the file 0600; give it the usual permissions.
  ::fchmod(fd, 0644);
  if (::fsync(fd) != 0 || ::close(fd) != 0) {
    int err = errno;
    ::unlink(tmp.c_str());
    SetError(error, "cannot write", path, err);
    return false;
  }
  if (::rename(tmp.c_str(), path.c_str()) != 0) {
    int err = errno;
    ::unlink(tmp.c_str());
    SetError(error, "cannot replace", path, err);
    return false;
  }
  return true;
}

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& out, std::string* error) {
  return ReadStoredFile(path, std::numeric_limits<size_t>::max(), out, error) == ReadStatus::Ok;
}

}  // namespace tarvo
