#include "util/file_read.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tarvo {
namespace {

// Closes the descriptor on every way out.
class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

const char* KindOf(mode_t mode) {
  if (S_ISDIR(mode)) return "a directory";
  if (S_ISFIFO(mode)) return "a named pipe";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  if (S_ISSOCK(mode)) return "a socket";
  return "not a regular file";
}

ReadStatus Fail(ReadStatus status, std::string* error, const std::string& text) {
  if (error) *error = text;
  return status;
}

}  // namespace

std::string DescribeSize(uint64_t bytes) {
  constexpr uint64_t kMiB = 1024 * 1024;
  if (bytes >= kMiB && bytes % kMiB == 0) return std::to_string(bytes / kMiB) + " MiB";
  return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
}

ReadStatus ReadStoredFile(const std::string& path, uint64_t maxSize, std::vector<uint8_t>& out, std::string* error,
                          uint64_t* size) {
  out.clear();
  if (size) *size = 0;
  const std::string quoted = "'" + path + "'";
  // O_NONBLOCK: opening a named pipe must not wait for a writer (it is
  // refused below); it changes nothing for regular files.
  Fd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  if (fd.get() < 0) {
    const int err = errno;
    // ENOTDIR: a part of the path is a file, so nothing can be at the path.
    return Fail(err == ENOENT || err == ENOTDIR ? ReadStatus::Missing : ReadStatus::Failed, error,
                "cannot open " + quoted + ": " + std::strerror(err));
  }
  struct stat st;
  if (::fstat(fd.get(), &st) != 0) {
    const int err = errno;
    return Fail(ReadStatus::Failed, error, "cannot read " + quoted + ": " + std::strerror(err));
  }
  if (!S_ISREG(st.st_mode))
    return Fail(ReadStatus::NotRegular, error, quoted + " is " + KindOf(st.st_mode) + ", not a file");
  const auto length = static_cast<uint64_t>(st.st_size);
  if (size) *size = length;
  if (length > maxSize)
    return Fail(ReadStatus::TooLarge, error,
                quoted + " holds " + DescribeSize(length) + ", more than the " + DescribeSize(maxSize) +
                    " such a file may hold");
  out.resize(static_cast<size_t>(length));
  size_t done = 0;
  while (done < out.size()) {
    const ssize_t n = ::read(fd.get(), out.data() + done, out.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      const int err = errno;
      out.clear();
      return Fail(ReadStatus::Failed, error, "cannot read " + quoted + ": " + std::strerror(err));
    }
    if (n == 0) {
      out.clear();
      return Fail(ReadStatus::Failed, error, quoted + " became shorter while it was read");
    }
    done += static_cast<size_t>(n);
  }
  return ReadStatus::Ok;
}

}  // namespace tarvo
