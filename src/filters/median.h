// Limited 3 x 3 medians: the correction applies only above a threshold and
// never by more than a maximum step.
#pragma once

#include "planes/channel.h"

namespace tarvo {
namespace noise {
struct Kernels;
}
class BandRunner;

// Read source, write destination (same size). Samples outside the filtered
// range are copied unchanged. maxStep and threshold are in 8-bit units and
// doubled on Depth 2 planes. Planes smaller than 3 x 3 are copied. The forms
// without a kernel table use the kernels of ActiveKernelLevel(), chosen on
// every call; the references always run the plain code.
void PlainMedian(const TChannel& source, TChannel& destination, int maxStep, int threshold);
void WeightedMedian(const TChannel& source, TChannel& destination, int maxStep, int threshold);
void PlainMedian(const TChannel& source, TChannel& destination, int maxStep, int threshold,
                 const noise::Kernels& kernels);
void WeightedMedian(const TChannel& source, TChannel& destination, int maxStep, int threshold,
                    const noise::Kernels& kernels);

// The same in row bands on `runner` (same bits for any runner); source and
// destination must be different planes. `spare` is a scratch plane the
// caller keeps between calls for the bands' working rows (resized here).
void PlainMedian(const TChannel& source, TChannel& destination, int maxStep, int threshold,
                 const noise::Kernels& kernels, const BandRunner& runner, TChannel& spare);
void WeightedMedian(const TChannel& source, TChannel& destination, int maxStep, int threshold,
                    const noise::Kernels& kernels, const BandRunner& runner, TChannel& spare);

void PlainMedianReference(const TChannel& source, TChannel& destination, int maxStep, int threshold);
void WeightedMedianReference(const TChannel& source, TChannel& destination, int maxStep, int threshold);

}  // namespace tarvo
