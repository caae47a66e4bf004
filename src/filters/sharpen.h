// Unsharp-mask sharpening and softening, and the edge views.
#pragma once

#include <cstdint>

#include "planes/channel.h"

namespace tarvo {
namespace masksharp {
struct Kernels;
}
class BandRunner;

// Each operation comes in two forms: with the kernel table to run (an engine
// passes the table it chose once), and without, taking the kernels of
// ActiveKernelLevel() on every call. Both give the same bits.

// All operations throw std::invalid_argument, changing nothing, when the
// planes do not fit together; planes without samples are left alone. On a
// plane under 3x3 samples (5x5 for radius 3) the blur is a copy of the source,
// so sharpening leaves it as it is and the edge views show flat 128 / 0.
// Depth 2 results are limited to -32767..32767 everywhere, borders included.

// Blurs `source` into `blur` (resized like the source). Radius clamped to 1..3.
void Blur(const TChannel& source, TChannel& blur, int radius);
void Blur(const TChannel& source, TChannel& blur, int radius, const masksharp::Kernels& kernels);
// The same in row bands on `runner` (same bits for any runner).
void Blur(const TChannel& source, TChannel& blur, int radius, const masksharp::Kernels& kernels,
          const BandRunner& runner);

// In place on `plane`. `mask` may be nullptr (plain sharpening). `blur` is a
// scratch plane the caller keeps between calls. Sharpen does nothing when
// gain is 0.
void Sharpen(TChannel& plane, const TChannel* mask, int radius, int offset, int amount, int levelValue,
             int gain, TChannel& blur);
void Sharpen(TChannel& plane, const TChannel* mask, int radius, int offset, int amount, int levelValue, int gain,
             TChannel& blur, const masksharp::Kernels& kernels);
void SharpenShowEdges(TChannel& plane, const TChannel* mask, int radius, int offset, int amount,
                      int levelValue, int gain, TChannel& blur);
void SharpenShowEdges(TChannel& plane, const TChannel* mask, int radius, int offset, int amount, int levelValue,
                      int gain, TChannel& blur, const masksharp::Kernels& kernels);
// Sharpen and SharpenShowEdges in row bands on `runner`: the whole blur
// first, then the per-sample pass (same bits for any runner).
void Sharpen(TChannel& plane, const TChannel* mask, int radius, int offset, int amount, int levelValue, int gain,
             TChannel& blur, const masksharp::Kernels& kernels, const BandRunner& runner);
void SharpenShowEdges(TChannel& plane, const TChannel* mask, int radius, int offset, int amount, int levelValue,
                      int gain, TChannel& blur, const masksharp::Kernels& kernels, const BandRunner& runner);

void PlainSharpen(TChannel& plane, const TChannel& blur, int gain, int levelValue);
void PlainSharpen(TChannel& plane, const TChannel& blur, int gain, int levelValue, const masksharp::Kernels& kernels);
void MaskSharpen(TChannel& plane, const TChannel& blur, const TChannel& mask, int offset, int amount, int gain);
void MaskSharpen(TChannel& plane, const TChannel& blur, const TChannel& mask, int offset, int amount, int gain,
                 const masksharp::Kernels& kernels);
void PlainShowEdges(TChannel& plane, const TChannel& blur, int levelValue);
void PlainShowEdges(TChannel& plane, const TChannel& blur, int levelValue, const masksharp::Kernels& kernels);
void MaskShowEdges(TChannel& plane, const TChannel& blur, const TChannel& mask, int offset, int amount);
void MaskShowEdges(TChannel& plane, const TChannel& blur, const TChannel& mask, int offset, int amount,
                   const masksharp::Kernels& kernels);

// Plain reference versions of the per-sample kernels.
void BlurReference(const TChannel& source, TChannel& blur, int radius);
void PlainSharpenReference(TChannel& plane, const TChannel& blur, int gain, int levelValue);
void MaskSharpenReference(TChannel& plane, const TChannel& blur, const TChannel& mask, int offset, int amount,
                          int gain);
void PlainShowEdgesReference(TChannel& plane, const TChannel& blur, int levelValue);
void MaskShowEdgesReference(TChannel& plane, const TChannel& blur, const TChannel& mask, int offset, int amount);

}  // namespace tarvo
