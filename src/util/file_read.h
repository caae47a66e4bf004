// Reading the files the filter keeps (records, the scene file, the options
// file, projects) without trusting what is found at their path: a directory,
// a named pipe, a device or a huge file in their place gets a clear refusal,
// never a blocked process, an exception or gigabytes of memory.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tarvo {

enum class ReadStatus {
  Ok,          // the whole file is in `out`
  Missing,     // nothing at the path (ENOENT, ENOTDIR)
  NotRegular,  // a directory, named pipe, device or socket: not opened for reading
  TooLarge,    // larger than the caller's limit: nothing read
  Failed,      // could not be opened or read (permissions, I/O error)
};

// Reads the regular file at `path` (symbolic links are followed) if it holds
// at most `maxSize` bytes. The file is opened without blocking (a named pipe
// never waits for a writer) and checked with fstat before a byte is read;
// exactly the size found is read. On anything but Ok, `out` is left empty and
// `error` (optional) receives one line naming the path and the reason, and
// `size` (optional) the size found on disk when it is known.
ReadStatus ReadStoredFile(const std::string& path, uint64_t maxSize, std::vector<uint8_t>& out,
                          std::string* error, uint64_t* size = nullptr);

// "64 MiB", "256 bytes": sizes in refusals.
std::string DescribeSize(uint64_t bytes);

}  // namespace tarvo
