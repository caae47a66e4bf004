#include "text_encoding.h"

#include "scenes/cp1252.h"

namespace tarvo::cli {

// The command reads and shows scene names exactly as the filter and the scene
// commands do: the five unassigned bytes as the control characters of the
// same number (so every stored name can be typed back), and text that is not
// UTF-8 refused whole rather than cut short.

std::string Cp1252ToUtf8(const std::string& bytes) { return tarvo::Cp1252ToUtf8(bytes); }

bool Utf8ToCp1252(const std::string& utf8, std::string& out, std::string* error) {
  std::string why;
  if (!tarvo::Utf8ToCp1252(utf8, out, &why)) {
    if (error) *error = "the name cannot be stored in a scene: " + why;
    return false;
  }
  return true;
}

}  // namespace tarvo::cli
