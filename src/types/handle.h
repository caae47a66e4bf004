// The host's movable memory block.
#pragma once

#include <cstdint>

namespace tarvo {

// A movable memory block: a pointer to the block's master pointer. The block
// can grow (SetHandleSize) without the handle changing.
using Handle = uint8_t**;

}  // namespace tarvo
