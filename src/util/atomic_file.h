// Whole-file reads and atomic writes for the filter's stored formats.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tarvo {

// Writes `bytes` to a temporary file beside `path`, flushes it to disk and
// renames it over `path`, so readers see either the old file or the new one,
// never a partial one. On failure (no space, no permission) the old file is
// untouched, the temporary file is removed and false is returned with a
// message naming the path and the reason.
bool WriteFileAtomically(const std::string& path, const void* bytes, size_t size, std::string* error);

// Reads a whole regular file of any size (ReadStoredFile without a limit).
// False with a message when it cannot be opened or read, or is not a file.
bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& out, std::string* error);

}  // namespace tarvo
