// A project file keeps each clip's record between runs, as an editing host's
// project does. Text, one block per clip:
//
//   tarvo-project 1
//   clip /absolute/path/of/the/clip.mkv
//   record 4800000000ff00... (the 256-byte record as 512 hex digits)
//
// Lines starting with '#' and blank lines are ignored.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "types/specs.h"

namespace tarvo::cli {

// The largest project file read (some 400,000 clips); a larger one is
// refused rather than read into memory.
constexpr uint64_t kMaxProjectFileSize = uint64_t{256} << 20;

class ProjectFile {
 public:
  // Reads the file; a missing file is an empty project. False with a message
  // (naming the line) for a damaged file, and for anything at the path that
  // is not a readable file of at most kMaxProjectFileSize bytes.
  bool Load(const std::string& path, std::string* error);
  // Writes atomically.
  bool Save(const std::string& path, std::string* error) const;

  std::optional<TSpecs> Find(const std::string& clip) const;
  void Put(const std::string& clip, const TSpecs& specs);
  size_t size() const { return clips_.size(); }

  // The key a clip is stored under: its absolute, normalised path.
  static std::string ClipKey(const std::string& path);

 private:
  std::map<std::string, TSpecs> clips_;
};

}  // namespace tarvo::cli
