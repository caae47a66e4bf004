// Helpers for the tarvo command's tests: running the command, scratch
// folders, synthetic clips written and read back with the FFmpeg libraries.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "frame.h"
#include "video_reader.h"

namespace tarvo::cli::test {

struct RunResult {
  int code = -1;  // exit status, or 128 + signal
  std::string out, err;
};

// Runs the tarvo command with extra environment entries ("NAME=VALUE") and
// standard input from `stdinPath` (or /dev/null).
RunResult RunTarvo(const std::vector<std::string>& args, const std::vector<std::string>& env = {},
                   const std::string& stdinPath = "");
// Starts the command without waiting; returns the process id.
int StartTarvo(const std::vector<std::string>& args, const std::string& stdinPath, const std::string& outPath,
               const std::vector<std::string>& env = {});

class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }
  const std::string& path() const { return path_; }
  std::vector<std::string> Entries() const;  // names, sorted, hidden ones too

 private:
  std::string path_;
};

std::vector<uint8_t> ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes);
bool Exists(const std::string& path);

// Synthetic frames (with grain), the same for the same index and seed.
std::vector<Frame> MakeFrames(int count, int width, int height, uint32_t seed = 7);
std::vector<uint8_t> Concat(const std::vector<Frame>& frames);
// Encodes frames into `path` (container and codec from its extension) at the
// given frame rate; false with a message on failure.
bool EncodeClip(const std::string& path, const std::vector<Frame>& frames, AVRational rate, std::string* error,
                FieldMode fields = FieldMode::Progressive);
// The same with a full stream description (size and rate taken from it).
bool EncodeClip(const std::string& path, const std::vector<Frame>& frames, const VideoInfo& info, std::string* error,
                const std::string& codec = "");
// Decodes every frame; `info` receives the stream's description.
std::vector<Frame> DecodeAll(const std::string& path, VideoInfo* info = nullptr);

// Sets TARVO_REGISTRY to a scratch file for the whole test program so the
// filter never touches the user's options.
void IsolateOptions();

}  // namespace tarvo::cli::test
