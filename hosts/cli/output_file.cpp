#include "output_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace tarvo::cli {

namespace fs = std::filesystem;

PendingOutput::PendingOutput(std::string finalPath) : final_(std::move(finalPath)) {
  const fs::path p(final_);
  const fs::path dir = p.has_parent_path() ? p.parent_path() : fs::path(".");
  temp_ = (dir / ("." + p.stem().string() + ".tarvo-" + std::to_string(::getpid()) + ".part" + p.extension().string()))
              .string();
}

PendingOutput::~PendingOutput() { Discard(); }

bool PendingOutput::CheckWritable(std::string* error) const {
  const fs::path p(final_);
  const fs::path dir = p.has_parent_path() ? p.parent_path() : fs::path(".");
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

bool PendingOutput::Commit(std::string* error) {
  const int fd = ::open(temp_.c_str(), O_RDONLY);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
  if (std::rename(temp_.c_str(), final_.c_str()) != 0) {
    if (error) *error = "cannot write '" + final_ + "': " + std::strerror(errno);
    Discard();
    return false;
  }
  done_ = true;
  return true;
}

void PendingOutput::Discard() {
  if (!done_) {
    ::unlink(temp_.c_str());
    done_ = true;
  }
}

}  // namespace tarvo::cli
