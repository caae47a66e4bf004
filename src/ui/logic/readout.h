// Readout texts and clip-level parsing of the setup dialog: plain functions,
// independent of any widget toolkit and of the C locale.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "ui/logic/control_table.h"

namespace tarvo::ui {

// The text a slider's readout label shows for `position`: I as a decimal
// integer; P (position x 0.01), G (10 to the power -position/100) and R
// (2 x 2 to the power position/50) in fixed-point notation with two
// decimals, written with `decimalSeparator` (the user's locale's, e.g. ","
// or "."). None gives "".
std::string ReadoutText(ReadoutCode code, int32_t position, std::string_view decimalSeparator);

// Reads a clip level typed into an edit box: optional blanks, an optional
// sign, decimal digits, optional blanks. Nothing for any other text. A number
// too large for 32 bits is held at the 32-bit limit of its sign (it is
// clamped to 0..255 afterwards anyway).
std::optional<int32_t> ParseClipLevel(std::string_view text);

}  // namespace tarvo::ui
