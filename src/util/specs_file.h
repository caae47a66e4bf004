// Record files: a clip's 256-byte record on its own in a file.
#pragma once

#include <string>

#include "types/specs.h"

namespace tarvo {

// Reading and writing a record file of exactly 256 bytes. Errors (missing
// file, wrong size, write failure) come back as a message; the record is not
// changed on failure. Writing is atomic (temporary file, then rename).
bool ReadSpecsFile(const std::string& path, TSpecs& out, std::string* error);
bool WriteSpecsFile(const std::string& path, const TSpecs& specs, std::string* error);

}  // namespace tarvo
