// Directional despeckle: pulls isolated specks toward their surroundings.
#pragma once

#include "planes/channel.h"

namespace tarvo {
namespace noise {
struct Kernels;
}

// When source and destination hold different buffers the source is first
// copied into the destination (which has the source's size); then the
// destination is filtered in place. Strength < 1 only copies; > 4 acts as 4.
// Planes smaller than 3 x 3 are copied and left unfiltered.
void Despeckle(const TChannel& source, TChannel& destination, int strength, const noise::Kernels& kernels);
// The same with the kernels of ActiveKernelLevel(), chosen on every call.
void Despeckle(const TChannel& source, TChannel& destination, int strength);
// The plain reference version, always available.
void DespeckleReference(const TChannel& source, TChannel& destination, int strength);

}  // namespace tarvo
