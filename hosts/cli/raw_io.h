// Raw frames: 4-byte pixels (blue, green, red, fourth byte), rows top first,
// frames back to back, nothing else. "-" is standard input or output.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "frame.h"

namespace tarvo::cli {

// Parses "WxH" (both at least 1). False with a message otherwise.
bool ParseFrameSize(const std::string& text, int& width, int& height, std::string* error);

class RawReader final : public FrameSource {
 public:
  ~RawReader() override;
  bool Open(const std::string& path, int width, int height, std::string* error);
  // Frames in the file, or -1 when reading a pipe.
  int64_t frameCount() const { return frameCount_; }
  // 1 with a frame, 0 at a clean end, -1 on a read error or a partial frame.
  int Next(Frame& out, std::string* error);
  bool SeekTo(int64_t n, std::string* error);
  bool ReadFrameAt(int64_t n, Frame& out, std::string* error) override;

 private:
  FILE* f_ = nullptr;
  bool owned_ = false;
  int width_ = 0, height_ = 0;
  int64_t frameCount_ = -1;
  int64_t next_ = 0;
  std::string path_;
};

// Writes frames to an open stream (a temporary file or standard output).
bool WriteRawFrame(FILE* f, const Frame& frame, const std::string& name, std::string* error);

}  // namespace tarvo::cli
