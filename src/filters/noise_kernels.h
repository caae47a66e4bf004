// The kernel table of the despeckle and median filters, one per instruction
// set. Declarations only: the units built for wider instruction sets include
// this header, so it must not hold code that could be shared between them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tarvo::noise {

// Passes and rows of one banded despeckle call (see despeckleBand8).
//
// A band may also run in place (in == out), on a plane whose other bands are
// being filtered at the same time: the input rows it reads beyond its own
// then come from copies taken before any band of the group wrote. `above`
// holds rows aboveRow .. rowBegin - 1 of the input (at least
// DespeckleHaloRows(w, count) of them, fewer only where the plane begins) and
// `below` rows rowEnd .. belowRow + that many - 1 starting at row belowRow, as
// whole rows of w samples; each is needed unless the band touches that edge
// of the plane.
struct DespeckleBand {
  int strength = 1;
  int first = 0;
  int count = 0;
  int rowBegin = 0;
  int rowEnd = 0;
  const void* above = nullptr;
  int aboveRow = 0;
  const void* below = nullptr;
  int belowRow = 0;
};

// Every entry works on whole gap-free planes of w x h samples with w >= 3 and
// h >= 3, and handles any such size (vector entries hand what they do not
// cover to the plain ones). src may equal dst (filtered in place).
struct Kernels {
  // Despeckle cycles for a strength of 1..4: dst receives the filtered src.
  void (*despeckle8)(const uint8_t* src, uint8_t* dst, int w, int h, int strength);
  void (*despeckle16)(const int16_t* src, int16_t* dst, int w, int h, int strength);
  // Rows [band.rowBegin, band.rowEnd) of the result of passes band.first ..
  // band.first + band.count - 1 of the despeckle sequence for band.strength
  // (1..4), applied to in; only those rows of out are written, and samples the
  // passes never change keep in's values. in and out are different planes,
  // or the same one with the band's halo copies given (see DespeckleBand).
  // The band reads rows of in up to count + 1 rows beyond its own (more on
  // planes narrower than count) and recomputes them in the calling thread's
  // scratch memory, so bands of one group may run at once.
  void (*despeckleBand8)(const uint8_t* in, uint8_t* out, int w, int h, const DespeckleBand& band);
  void (*despeckleBand16)(const int16_t* in, int16_t* out, int w, int h, const DespeckleBand& band);
  // Limited 3 x 3 medians, index 0 plain and 1 weighted. maxStep and
  // threshold are in sample units, each 0..255 on Depth 1 and 0..65536 on
  // Depth 2. Samples outside the filtered range are copied. Only rows
  // y0 .. y1 - 1 of dst are written (0 <= y0 < y1 <= h); src is read around
  // them and must then be another buffer unless the rows are the whole plane.
  // ring: MedianRingBytes(w, depth) bytes of scratch for the call, or null to
  // take the calling thread's Scratch.
  void (*median8[2])(const uint8_t* src, uint8_t* dst, int w, int h, int y0, int y1, int maxStep, int threshold,
                     uint8_t* ring);
  void (*median16[2])(const int16_t* src, int16_t* dst, int w, int h, int y0, int y1, int maxStep, int threshold,
                      uint8_t* ring);
};

const Kernels& ScalarKernels();
const Kernels& Sse2Kernels();
const Kernels& Avx2Kernels();
// 512-bit kernels: only where the processor has AVX-512 F, BW and VL.
const Kernels& Avx512Kernels();

// The plain entries, which the vector ones fall back on.
void DespeckleScalar8(const uint8_t* src, uint8_t* dst, int w, int h, int strength);
void DespeckleScalar16(const int16_t* src, int16_t* dst, int w, int h, int strength);
void DespeckleBandScalar8(const uint8_t* in, uint8_t* out, int w, int h, const DespeckleBand& band);
void DespeckleBandScalar16(const int16_t* in, int16_t* out, int w, int h, const DespeckleBand& band);
void MedianScalar8(const uint8_t* src, uint8_t* dst, int w, int h, int y0, int y1, int maxStep, int threshold,
                   bool weighted);
void MedianScalar16(const int16_t* src, int16_t* dst, int w, int h, int y0, int y1, int maxStep, int threshold,
                    bool weighted);

// Bytes from one row of a median call's scratch to the next: a cache line
// more than a row, so that on planes whose rows are a power of two long (4096
// samples, say) the nine rows do not all fall into the same cache sets.
inline size_t MedianRingRowBytes(int w, int depth) { return static_cast<size_t>(w) * depth + 64; }

// Scratch a median call of a plane w samples wide needs at most (nine rows).
inline size_t MedianRingBytes(int w, int depth) { return 9 * MedianRingRowBytes(w, depth); }

// Reusable scratch memory of the calling thread; grows, never shrinks.
uint8_t* Scratch(size_t bytes);

}  // namespace tarvo::noise
