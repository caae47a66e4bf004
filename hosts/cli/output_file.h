// The output is written under a temporary name in the destination folder and
// renamed only when complete, so a failed or interrupted render leaves no file
// that looks finished.
//
// The temporary is named ".NAME.tarvo-PID.part.EXT" and, once Create() has
// run, locked (flock) by the process writing it for as long as it lives. A
// temporary left by a process that was killed outright is recognised by its
// free lock and removed by the next render to the same output.
#pragma once

#include <string>
#include <vector>

namespace tarvo::cli {

class PendingOutput {
 public:
  // Picks the temporary name beside `finalPath` (same folder, hidden, with
  // the same extension so the container is recognised).
  explicit PendingOutput(std::string finalPath);
  // Removes the temporary file unless Commit succeeded.
  ~PendingOutput();
  PendingOutput(const PendingOutput&) = delete;
  PendingOutput& operator=(const PendingOutput&) = delete;

  // Checks that the folder exists and is writable. False with a message.
  bool CheckWritable(std::string* error) const;
  // Creates the temporary file (empty) and holds a lock on it until Commit or
  // Discard, so that other renders see it is in use. False with a message.
  bool Create(std::string* error);
  const std::string& tempPath() const { return temp_; }
  const std::string& finalPath() const { return final_; }
  // Flushes the temporary file to disk and renames it to the final name.
  // With `noReplace` an existing file of the final name (even one created
  // while the render ran) is never replaced: the commit fails with a message
  // and the temporary is removed.
  bool Commit(std::string* error, bool noReplace = false);
  void Discard();

 private:
  void ReleaseLock();

  std::string final_;
  std::string temp_;
  int lockFd_ = -1;
  bool done_ = false;
};

// Removes temporaries of earlier renders to `finalPath` whose process is gone
// (killed before it could clean up): a temporary is stale when no process
// holds its lock and the process of the id in its name no longer runs, or
// started after the temporary was last written (the id was reused). Returns
// the names removed.
std::vector<std::string> RemoveStaleTemporaries(const std::string& finalPath);

// Moves `from` to `to` unless `to` exists, atomically. False with errno set
// (EEXIST when `to` exists).
bool RenameNoReplace(const std::string& from, const std::string& to);

}  // namespace tarvo::cli
