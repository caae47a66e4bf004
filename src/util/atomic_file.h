// Whole-file reads and atomic writes for the filter's stored formats.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tarvo {

// The file a write to `path` lands in: `path` itself, or, when `path` is a
// symbolic link, the file at the end of its chain of links (relative links
// are taken from the folder of the link that holds them). The target need not
// exist: a dangling link names the file to create. False with a message for
// a loop or a chain of more than 40 links.
bool ResolveWriteTarget(const std::string& path, std::string& target, std::string* error);

// Writes `bytes` to a temporary file beside `path`, flushes it to disk and
// renames it over `path`, so readers see either the old file or the new one,
// never a partial one. On failure (no space, no permission) the old file is
// untouched, the temporary file is removed and false is returned with a
// message naming the path and the reason.
//
// A symbolic link is followed (ResolveWriteTarget): the file at its end is
// replaced and the link stays. The replaced file's permission bits are kept,
// and its owner and group where the process may set them; a new file gets
// the permissions any new file gets (0666 less the umask, or the folder's
// default ACL). The temporary file is "<target>.tmp-<pid>-<start>-<random>",
// <start> being the writing process's start time, and is locked while it is
// written; temporaries that a killed writer left beside the same target are
// removed at the next write.
bool WriteFileAtomically(const std::string& path, const void* bytes, size_t size, std::string* error);

// Reads a whole regular file of any size (ReadStoredFile without a limit).
// False with a message when it cannot be opened or read, or is not a file.
bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& out, std::string* error);

}  // namespace tarvo
