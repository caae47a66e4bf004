// Scene names are stored as Windows-1252 bytes; the rest of the filter works
// in UTF-8. These convert at that edge.
#pragma once

#include <string>

namespace tarvo {

// Every byte has a character (the five bytes Windows-1252 leaves unassigned
// become the control characters of the same number), so this never fails.
std::string Cp1252ToUtf8(const std::string& bytes);

// False, with a message naming the character, when the text is not valid
// UTF-8 or holds a character Windows-1252 cannot store.
bool Utf8ToCp1252(const std::string& utf8, std::string& bytes, std::string* error);

}  // namespace tarvo
