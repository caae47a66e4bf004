#include "util/specs_file.h"

#include <cstdint>
#include <cstring>
#include <vector>

#include "util/atomic_file.h"
#include "util/file_read.h"

namespace tarvo {

bool ReadSpecsFile(const std::string& path, TSpecs& out, std::string* error) {
  // The size is checked before anything is read: whatever lies at the path
  // (a directory, a pipe, a file of gigabytes) costs no more than 256 bytes.
  std::vector<uint8_t> bytes;
  uint64_t size = 0;
  const ReadStatus status = ReadStoredFile(path, kSpecsSize, bytes, error, &size);
  if (status == ReadStatus::TooLarge || (status == ReadStatus::Ok && size != static_cast<uint64_t>(kSpecsSize))) {
    if (error)
      *error = "'" + path + "' is not a parameter record: it holds " + std::to_string(size) +
               " bytes, a record is exactly 256";
    return false;
  }
  if (status != ReadStatus::Ok) return false;
  std::memcpy(&out, bytes.data(), kSpecsSize);
  return true;
}

bool WriteSpecsFile(const std::string& path, const TSpecs& specs, std::string* error) {
  return WriteFileAtomically(path, &specs, sizeof specs, error);
}

}  // namespace tarvo
