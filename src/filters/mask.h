// Detail masks: edge strength maps that protect detail from noise removal and
// steer sharpening.
#pragma once

#include <cstdint>

#include "planes/channel.h"

namespace tarvo {
namespace masksharp {
struct Kernels;
}
class BandRunner;

// clamp(((m - (offset + 128)) * 2^(amount - 1)) + 128, 0, 255)
// Amounts below 1 act as 1; any amount and offset give a defined result.
int32_t MaskWeight(int32_t m, int32_t amount, int32_t offset);

// Each operation comes in two forms: with the kernel table to run (an engine
// passes the table it chose once), and without, taking the kernels of
// ActiveKernelLevel() on every call. Both give the same bits.
//
// All operations throw std::invalid_argument, changing nothing, when the
// planes do not fit together (sizes, Depth, scratch plane aliasing a picture
// plane). Planes without samples are left alone.
//
// Planes too small for the neighbourhoods: under 3x3 samples the edge plane
// and so the mask are all zero; radius 3 under 5x5 smooths like radius 2.

// Builds the edge plane of `source` and smooths it into `mask`, which is
// already sized like the source with Depth 1. `edge` is a scratch plane the
// caller keeps between calls (it is resized here); its samples are arbitrary
// afterwards. `source` and `mask` may be the same plane. Radius is clamped to
// 1..3.
void CreateMask(const TChannel& source, TChannel& mask, int radius, TChannel& edge);
void CreateMask(const TChannel& source, TChannel& mask, int radius, TChannel& edge, const masksharp::Kernels& kernels);
// The same in row bands on `runner` (same bits for any runner).
void CreateMask(const TChannel& source, TChannel& mask, int radius, TChannel& edge, const masksharp::Kernels& kernels,
                const BandRunner& runner);
// `target` holds the unfiltered samples on entry and the blend on exit.
void ApplyMask(const TChannel& filtered, TChannel& target, const TChannel& mask, int offset, int amount);
void ApplyMask(const TChannel& filtered, TChannel& target, const TChannel& mask, int offset, int amount,
               const masksharp::Kernels& kernels);
void ApplyMask(const TChannel& filtered, TChannel& target, const TChannel& mask, int offset, int amount,
               const masksharp::Kernels& kernels, const BandRunner& runner);
// Writes the mask weight of every sample into `output` (may be `mask`).
void ShowMask(const TChannel& mask, TChannel& output, int amount, int offset);
void ShowMask(const TChannel& mask, TChannel& output, int amount, int offset, const masksharp::Kernels& kernels);
void ShowMask(const TChannel& mask, TChannel& output, int amount, int offset, const masksharp::Kernels& kernels,
              const BandRunner& runner);

void CreateMaskReference(const TChannel& source, TChannel& mask, int radius, TChannel& edge);
void ApplyMaskReference(const TChannel& filtered, TChannel& target, const TChannel& mask, int offset, int amount);
void ShowMaskReference(const TChannel& mask, TChannel& output, int amount, int offset);

}  // namespace tarvo
