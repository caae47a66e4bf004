// Scene names are stored as single bytes (Windows-1252); the command line and
// the terminal speak UTF-8.
#pragma once

#include <string>

namespace tarvo::cli {

std::string Cp1252ToUtf8(const std::string& bytes);
// False with a message when the text is not UTF-8 or a character has no
// single-byte form.
bool Utf8ToCp1252(const std::string& utf8, std::string& out, std::string* error);

}  // namespace tarvo::cli
