// Test signals drawn in place of the source picture.
#pragma once

#include <cstdint>

#include "types/frame_view.h"

namespace tarvo {

// What the patterns need of the clip's record, filled in by the pipeline.
struct TestSignalSettings {
  int32_t signal = 0;   // TestSignal: 0 off, 1 monitor only, 2..7 a pattern
  int32_t black = 0;    // Vblack: black level code value
  int32_t white = 255;  // Vwhite: white level code value
  int32_t floor = 0;    // Vmin: lowest output code value
};

// Draws the pattern chosen by settings.signal (2..7) into every pixel of the
// frame (fourth byte 255); 0 and 1 leave it alone. bandLimit is true when
// rendering for the host and false in the setup dialog.
//
// A frame that is not usable (FrameIsUsable: no pixels, empty size or a row
// stride shorter than a row) is left alone as well, since its rows cannot be
// written without overlapping.
void DrawTestSignal(const FrameView& frame, const TestSignalSettings& settings, bool bandLimit);
// The same on a video host's descriptor (the low 14 bits of its RowBytes).
inline void DrawTestSignal(const TPixBuffer& frame, const TestSignalSettings& settings, bool bandLimit) {
  DrawTestSignal(HostFrame(frame), settings, bandLimit);
}

// The single patterns, each writing every pixel of a usable frame. Levels come
// from settings.black, white and floor.
void DrawColourBars(const FrameView& frame, const TestSignalSettings& settings, bool bandLimit);  // TestSignal 2
void DrawSmpteBars(const FrameView& frame, const TestSignalSettings& settings, bool bandLimit);   // TestSignal 3
void DrawGreyscale(const FrameView& frame, const TestSignalSettings& settings, bool bandLimit);   // TestSignal 4
void DrawSawtooth(const FrameView& frame, const TestSignalSettings& settings, bool bandLimit);    // TestSignal 5
// PLUGE type 1 when settings.signal is 6, type 2 otherwise.
void DrawPluge(const FrameView& frame, const TestSignalSettings& settings, bool bandLimit);       // TestSignal 6, 7

// The quarter-half-quarter line filter on n pixels (4 bytes each); the first
// and last pixel and every fourth byte stay unchanged. Any n is accepted; it
// allocates nothing and uses integer arithmetic only.
void BandLimitLine(uint8_t* line, int32_t n);

// The same filter written out on extended-precision values, kept to check
// BandLimitLine against; it allocates.
void BandLimitLineReference(uint8_t* line, int32_t n);

}  // namespace tarvo
