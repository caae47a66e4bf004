// Nearest-neighbour frame scaler used to make the dialog's work image.
#pragma once

#include <string>

#include "types/pix_buffer.h"

namespace tarvo {

// Scales source into destination (both 4-byte pixels; rows sw * 4 and dw * 4
// bytes apart, RowBytes not used). Refuses, returning false with a message,
// destinations with width or height below 2 or width above 4096, and a source
// with no pixels.
bool ScaleFrame(const TPixBuffer& source, TPixBuffer& destination, std::string* error = nullptr);

}  // namespace tarvo
