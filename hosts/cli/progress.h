// Progress of a render: a status line on a terminal (frame, fps, time left),
// and on request key=value blocks for scripts in the manner of ffmpeg's
// -progress (frame=, fps=, out_time_us=, total_frames=, progress=continue|end).
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

namespace tarvo::cli {

class Progress {
 public:
  // `terminal`: draw the status line on standard error. `machine`: stream for
  // key=value blocks, or nullptr.
  Progress(bool terminal, FILE* machine) : terminal_(terminal), machine_(machine) {}
  void Start(int64_t totalFrames, double frameRate);
  // The number of frames expected after all (-1: unknown), when the input
  // turns out longer or shorter than it said.
  void SetTotal(int64_t totalFrames) { total_ = totalFrames; }
  int64_t total() const { return total_; }
  // Called after every frame; reports at most a few times a second.
  void Frame(int64_t done);
  // `ok`: the render completed ("end"), else it stopped.
  void Finish(int64_t done, bool ok);

 private:
  void Report(int64_t done, const char* state);
  bool terminal_;
  FILE* machine_;
  int64_t total_ = -1;
  double rate_ = 25.0;
  std::chrono::steady_clock::time_point start_, last_;
  bool drew_ = false;
};

// Where --progress writes: "-" = standard output, "fd:N" or "pipe:N" = that
// descriptor, anything else a file (created). nullptr with a message.
FILE* OpenProgressTarget(const std::string& target, std::string* error);
// The descriptor a --progress target names ("-" is 1), or -1 for a file.
int ProgressTargetDescriptor(const std::string& target);

}  // namespace tarvo::cli
