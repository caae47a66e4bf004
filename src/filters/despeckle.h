// Directional despeckle: pulls isolated specks toward their surroundings.
#pragma once

#include "planes/channel.h"

namespace tarvo {
namespace noise {
struct Kernels;
}
class BandRunner;

// When source and destination hold different buffers the source is first
// copied into the destination (which has the source's size); then the
// destination is filtered in place. Strength < 1 only copies; > 4 acts as 4.
// Planes smaller than 3 x 3 are copied and left unfiltered.
void Despeckle(const TChannel& source, TChannel& destination, int strength, const noise::Kernels& kernels);
// The same result, bit for bit, with the work cut into row bands run on
// `runner`. The passes run in groups, each one sweep over the plane; every
// band of a group recomputes the few rows beyond its own edges that the
// group's passes reach, so bands never wait for each other within a group.
// On rows of 256 samples or more the groups run in place on destination, the
// bands reading the rows beyond their own from copies kept in `spare`;
// narrower rows alternate between destination and `spare`. `spare` is given
// the source's width and depth and the rows it needs (PlanDespeckle's
// spareRows) when it has other ones or fewer rows, and must not share a
// buffer with either plane (std::invalid_argument otherwise); the result
// always ends in destination. With one thread, or a plane too small to share
// out, this is the whole-plane version and `spare` is left untouched.
void Despeckle(const TChannel& source, TChannel& destination, int strength, const noise::Kernels& kernels,
               const BandRunner& runner, TChannel& spare);

// How the banded version cuts the work for a plane: `groups` sweeps of `bands`
// bands (groups == 0: the whole-plane version runs), whether they run in
// place with copies of the band edges (`halos`) or alternate with the spare
// plane, the rows of the plane's width the spare plane needs for that
// (`spareRows`), and the pass-samples the halos add, as a fraction of those a
// whole-plane run computes.
struct DespecklePlan {
  int groups = 0;
  int bands = 1;
  bool halos = false;
  int spareRows = 0;
  double redundant = 0;
};
DespecklePlan PlanDespeckle(int width, int height, int depth, int strength, int parallelism, bool inPlace);

// The same with the kernels of ActiveKernelLevel(), chosen on every call.
void Despeckle(const TChannel& source, TChannel& destination, int strength);
// The plain reference version, always available.
void DespeckleReference(const TChannel& source, TChannel& destination, int strength);

}  // namespace tarvo
