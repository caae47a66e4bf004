// The preview window's stored values under "\Software\Morlund\Tarvo\Preview":
// whether its visibility is recalled, whether it is open, the picture size
// and the window's position. They are read each time the preview window is
// made and written back by the preview window and the preferences.
#pragma once

#include <cstdint>

#include "options/option_store.h"

namespace tarvo::ui {

struct PreviewOptions {
  int32_t Persistent = 0;  // 1: the window reopens with the dialog when it was open
  int32_t Visible = 0;     // 1: the window is open
  int32_t Width = 320;     // picture size in pixels
  int32_t Height = 240;
  int32_t Top = 20;        // window position on the screen
  int32_t Left = 20;
};

// The preferences accept picture sizes in this range.
inline constexpr int32_t kPreviewSizeMin = 32;
inline constexpr int32_t kPreviewSizeMax = 4096;

// Reads the six values; each one missing or not an integer keeps its default
// and sets *defaulted (when given). Nothing is written.
PreviewOptions ReadPreviewOptions(OptionStore& store, bool* defaulted = nullptr);

// Writes "Persistent", "Visible", "Width", "Height", "Top" and "Left", in that
// order, as one group. False when any of them could not be made persistent.
bool WritePreviewOptions(OptionStore& store, const PreviewOptions& p);

}  // namespace tarvo::ui
