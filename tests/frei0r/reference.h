// What the frei0r adapter must produce: the engine driven directly, one call
// per frame with consecutive frame numbers, as a host that numbers its frames
// would drive it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "types/specs.h"

namespace tarvo::frei0r::test {

// A clip of BGRA frames, rows packed.
struct Clip {
  int width = 0, height = 0;
  std::vector<std::vector<uint32_t>> frames;
  size_t FrameBytes() const { return static_cast<size_t>(width) * height * 4; }
};

// A moving, noisy test clip: gradients, a square that moves a few pixels per
// frame, and seeded noise, so that temporal smoothing and motion detection
// both have work to do. Alpha 255.
Clip MakeClip(int width, int height, int frames, uint32_t seed);

// Renders the clip in order through a fresh engine with `specs`; a clip's
// field flags as the call record holds them (0 progressive, 1 top field
// first, 2 bottom field first).
Clip ReferenceRender(const Clip& clip, const TSpecs& specs, uint8_t fieldFlags = 0);

// A record that exercises the temporal run: levels, 4:4:4, despeckle 2 with a
// noise mask, temporal Y and C with motion detection, sharpening 30 with mask.
TSpecs TemporalRecord();

// Raw BGRA files, frames back to back.
bool WriteRaw(const std::string& path, const Clip& clip);
Clip ReadRaw(const std::string& path, int width, int height);

// Index of the first differing frame and pixel, as text ("" when equal over
// the frames both clips hold).
std::string FirstDifference(const Clip& a, const Clip& b);

}  // namespace tarvo::frei0r::test
