// A synthetic test clip made in code: gradients, colour bars, fine detail and
// a moving disc, with film-like grain and occasional specks on top. The
// demo and the tests use it; the same index and seed give the same picture.
#pragma once

#include <cstdint>

#include "frame.h"

namespace tarvo::cli {

struct GrainSettings {
  int grain = 10;         // spread of the grain in code values (0 = clean)
  int specksPerMille = 2; // bright or dark single-pixel specks per 1000 pixels
};

void SynthesizeFrame(int index, int width, int height, uint32_t seed, const GrainSettings& grain, Frame& out);

}  // namespace tarvo::cli
