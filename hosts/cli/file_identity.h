// Telling whether two file arguments name the same file, so that a command
// never writes one of its files over another (a record over the clip, the
// output over the input).
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace tarvo::cli {

// What a file argument refers to: an existing file (device and inode, so
// that links, "/dev/stdout" and "/proc/self/fd/N" are seen through), an open
// descriptor, or the resolved path of a file still to be made.
struct FileIdentity {
  std::string label;      // the argument, for messages
  int descriptor = -1;    // for "-", fd:N, pipe:N
  bool exists = false;
  dev_t dev = 0;
  ino_t ino = 0;
  bool nullDevice = false;
  std::string resolved;   // for a file that does not exist yet
};

FileIdentity IdentifyDescriptor(std::string label, int fd);
FileIdentity IdentifyPath(std::string label, const std::string& path);
bool SameFile(const FileIdentity& a, const FileIdentity& b);

// "LABEL is the same file as LABEL" for the first two entries that name one
// file, or "" when all differ.
std::string FirstSameFile(const std::vector<FileIdentity>& ids);

}  // namespace tarvo::cli
