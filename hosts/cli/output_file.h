// The output is written under a temporary name in the destination folder and
// renamed only when complete, so a failed or interrupted render leaves no file
// that looks finished.
#pragma once

#include <string>

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
  const std::string& tempPath() const { return temp_; }
  const std::string& finalPath() const { return final_; }
  // Flushes the temporary file to disk and renames it over the final name.
  bool Commit(std::string* error);
  void Discard();

 private:
  std::string final_;
  std::string temp_;
  bool done_ = false;
};

}  // namespace tarvo::cli
