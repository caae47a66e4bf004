#include "raw_io.h"

#include <sys/stat.h>

#include <cerrno>
#include <charconv>
#include <cstring>

namespace tarvo::cli {

bool ParseFrameSize(const std::string& text, int& width, int& height, std::string* error) {
  const size_t x = text.find_first_of("xX");
  auto num = [](std::string_view s, int& out) {
    auto r = std::from_chars(s.data(), s.data() + s.size(), out);
    return !s.empty() && r.ec == std::errc() && r.ptr == s.data() + s.size() && out > 0;
  };
  if (x == std::string::npos || !num(std::string_view(text).substr(0, x), width) ||
      !num(std::string_view(text).substr(x + 1), height)) {
    if (error) *error = "expected a frame size WIDTHxHEIGHT such as 720x576, got '" + text + "'";
    return false;
  }
  return true;
}

RawReader::~RawReader() {
  if (f_ && owned_) std::fclose(f_);
}

bool RawReader::Open(const std::string& path, int width, int height, std::string* error) {
  path_ = path == "-" ? "standard input" : path;
  width_ = width;
  height_ = height;
  if (path == "-") {
    f_ = stdin;
  } else {
    f_ = std::fopen(path.c_str(), "rb");
    owned_ = true;
  }
  if (!f_) {
    if (error) *error = "cannot read '" + path + "': " + std::strerror(errno);
    return false;
  }
  struct stat st {};
  if (fstat(fileno(f_), &st) == 0 && S_ISREG(st.st_mode)) {
    const int64_t frameBytes = static_cast<int64_t>(width) * height * 4;
    frameCount_ = st.st_size / frameBytes;
    if (st.st_size % frameBytes != 0) {
      if (error)
        *error = "'" + path + "' is not a whole number of " + std::to_string(width) + "x" + std::to_string(height) +
                 " BGRA frames (" + std::to_string(st.st_size) + " bytes)";
      return false;
    }
  }
  return true;
}

int RawReader::Next(Frame& out, std::string* error) {
  out.Resize(width_, height_);
  out.pts = next_;
  const size_t got = std::fread(out.pixels.data(), 1, out.bytes(), f_);
  if (got == out.bytes()) {
    ++next_;
    return 1;
  }
  if (std::ferror(f_)) {
    if (error) *error = "cannot read " + path_ + ": " + std::strerror(errno);
    return -1;
  }
  if (got == 0) return 0;
  if (error)
    *error = path_ + " ends inside frame " + std::to_string(next_) + " (" + std::to_string(got) + " of " +
             std::to_string(out.bytes()) + " bytes)";
  return -1;
}

bool RawReader::SeekTo(int64_t n, std::string* error) {
  if (n == next_) return true;
  const int64_t frameBytes = static_cast<int64_t>(width_) * height_ * 4;
  if (frameCount_ >= 0) {
    if (n < 0 || n >= frameCount_ || fseeko(f_, n * frameBytes, SEEK_SET) != 0) {
      if (error) *error = path_ + " has no frame " + std::to_string(n);
      return false;
    }
    next_ = n;
    return true;
  }
  // A pipe only goes forward.
  Frame skip;
  while (next_ < n) {
    const int r = Next(skip, error);
    if (r <= 0) {
      if (r == 0 && error) *error = path_ + " has no frame " + std::to_string(n);
      return false;
    }
  }
  if (next_ != n) {
    if (error) *error = "cannot go back to frame " + std::to_string(n) + " of " + path_;
    return false;
  }
  return true;
}

bool RawReader::ReadFrameAt(int64_t n, Frame& out, std::string* error) {
  if (!SeekTo(n, error)) return false;
  return Next(out, error) == 1;
}

bool WriteRawFrame(FILE* f, const Frame& frame, const std::string& name, std::string* error) {
  if (std::fwrite(frame.pixels.data(), 1, frame.bytes(), f) != frame.bytes()) {
    if (error) *error = "cannot write " + name + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

}  // namespace tarvo::cli
