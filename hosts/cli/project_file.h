// A project file keeps each clip's record between runs, as an editing host's
// project does. Text, one block per clip:
//
//   tarvo-project 1
//   clip /absolute/path/of/the/clip.mkv
//   record 4800000000ff00... (the 256-byte record as 512 hex digits)
//
// Lines starting with '#' and blank lines are ignored. A path holding a
// control character (a line break, a tab...) is written on a "clip-escaped"
// line instead, with backslash escapes: \\ for a backslash, \n, \r, \t, and
// \xHH for any other control character:
//
//   clip-escaped /home/ann/two\nlines.mkv
//
// Every other path is written on a plain "clip" line exactly as it is, as
// before, so projects without such paths read in older versions too.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
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
  // Writes atomically. Saving to the file last loaded or saved merges, so that
  // programs sharing a project keep each other's clips: under a lock shared
  // with every process saving that file, the file is read again and the clips
  // Put since then are written into what it holds now. Saving to another
  // file writes every clip. Afterwards this object holds what was written.
  bool Save(const std::string& path, std::string* error);

  std::optional<TSpecs> Find(const std::string& clip) const;
  void Put(const std::string& clip, const TSpecs& specs);
  size_t size() const { return clips_.size(); }

  // The key a clip is stored under: its absolute, normalised path.
  static std::string ClipKey(const std::string& path);

 private:
  std::map<std::string, TSpecs> clips_;
  std::set<std::string> changed_;  // clips Put since the last load or save
  std::string file_;               // the file last loaded or saved
};

}  // namespace tarvo::cli
