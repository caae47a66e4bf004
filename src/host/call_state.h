// What the entry point keeps about the running call and hands to the
// pipeline.
#pragma once

#include <cstdint>

#include "types/frame_view.h"

namespace tarvo {

struct CallState {
  int32_t part = 0;             // Part of the running call
  int32_t total = 0;            // Total of the running call
  uint16_t fieldWord = 0;       // 16-bit word at the field-word offset; high byte = FieldFlags
  bool inSetup = false;         // the setup selector is running (dialog mode)
  bool changed = false;         // the record differs from the previous call's
  uint8_t privateBlock[64] = {};  // first bytes of the host's private data
  // How the call's source and destination descriptors are read: a video
  // host's 14-bit rows, or our own hosts' full-width rows.
  FrameRules frames = FrameRules::kHostProtocol;

  uint8_t FieldFlags() const { return static_cast<uint8_t>(fieldWord >> 8); }
};

}  // namespace tarvo
