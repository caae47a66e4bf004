#include "progress.h"

#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstring>

namespace tarvo::cli {

void Progress::Start(int64_t totalFrames, double frameRate) {
  total_ = totalFrames;
  rate_ = frameRate > 0 ? frameRate : 25.0;
  start_ = last_ = std::chrono::steady_clock::now();
}

void Progress::Frame(int64_t done) {
  const auto now = std::chrono::steady_clock::now();
  if (now - last_ < std::chrono::milliseconds(500)) return;
  last_ = now;
  Report(done, "continue");
}

void Progress::Finish(int64_t done, bool ok) {
  Report(done, ok ? "end" : "stopped");
  if (terminal_ && drew_) std::fputc('\n', stderr);
}

void Progress::Report(int64_t done, const char* state) {
  const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  const double fps = elapsed > 0 ? static_cast<double>(done) / elapsed : 0.0;
  if (terminal_) {
    char left[32] = "--:--";
    if (total_ > 0 && fps > 0 && done <= total_) {
      const auto secs = static_cast<int64_t>(static_cast<double>(total_ - done) / fps + 0.5);
      std::snprintf(left, sizeof left, "%" PRId64 ":%02d:%02d", secs / 3600, static_cast<int>(secs / 60 % 60),
                    static_cast<int>(secs % 60));
    }
    if (total_ > 0)
      std::fprintf(stderr, "\rframe %6" PRId64 "/%" PRId64 "  fps %6.1f  time left %s   ", done, total_, fps, left);
    else
      std::fprintf(stderr, "\rframe %6" PRId64 "  fps %6.1f   ", done, fps);
    std::fflush(stderr);
    drew_ = true;
  }
  if (machine_) {
    const auto outUs = static_cast<int64_t>(static_cast<double>(done) / rate_ * 1e6);
    std::fprintf(machine_, "frame=%" PRId64 "\nfps=%.2f\ntotal_frames=%" PRId64 "\nout_time_us=%" PRId64
                           "\nelapsed_us=%" PRId64 "\nprogress=%s\n",
                 done, fps, total_, outUs, static_cast<int64_t>(elapsed * 1e6), state);
    std::fflush(machine_);
  }
}

int ProgressTargetDescriptor(const std::string& target) {
  if (target == "-") return 1;
  if (target.rfind("fd:", 0) != 0 && target.rfind("pipe:", 0) != 0) return -1;
  const std::string digits = target.substr(target.find(':') + 1);
  if (digits.empty() || digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos) return -1;
  return std::atoi(digits.c_str());
}

FILE* OpenProgressTarget(const std::string& target, std::string* error) {
  const int fd = ProgressTargetDescriptor(target);
  if (fd == 1) return stdout;
  if (fd == 2) return stderr;
  if (fd >= 0 || target.rfind("fd:", 0) == 0 || target.rfind("pipe:", 0) == 0) {
    const int copy = fd > 2 ? dup(fd) : -1;
    FILE* f = copy >= 0 ? fdopen(copy, "w") : nullptr;
    if (!f && copy >= 0) close(copy);
    if (!f && error) *error = "cannot write progress to '" + target + "'";
    return f;
  }
  FILE* f = std::fopen(target.c_str(), "w");
  if (!f && error) *error = "cannot write progress to '" + target + "': " + std::strerror(errno);
  return f;
}

}  // namespace tarvo::cli
