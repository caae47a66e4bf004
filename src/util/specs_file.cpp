#include "util/specs_file.h"

#include <cstdint>
#include <cstring>
#include <vector>

#include "util/atomic_file.h"

namespace tarvo {

bool ReadSpecsFile(const std::string& path, TSpecs& out, std::string* error) {
  std::vector<uint8_t> bytes;
  if (!ReadWholeFile(path, bytes, error)) return false;
  if (bytes.size() != static_cast<size_t>(kSpecsSize)) {
    if (error)
      *error = "'" + path + "' is not a parameter record: it holds " + std::to_string(bytes.size()) +
               " bytes, a record is exactly 256";
    return false;
  }
  std::memcpy(&out, bytes.data(), kSpecsSize);
  return true;
}

bool WriteSpecsFile(const std::string& path, const TSpecs& specs, std::string* error) {
  return WriteFileAtomically(path, &specs, sizeof specs, error);
}

}  // namespace tarvo
