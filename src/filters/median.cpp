#include "filters/median.h"

#include <algorithm>
#include <cstring>

#include "filters/kernel_set.h"
#include "filters/noise_internal.h"
#include "filters/noise_kernels.h"
#include "util/band_runner.h"

namespace tarvo {
namespace {

// Median of nine by a compare-exchange network; the result lands in p[4].
inline void Exchange(int& a, int& b) {
  if (a > b) {
    const int t = a;
    a = b;
    b = t;
  }
}

int MedianOfNine(int p[9]) {
  Exchange(p[1], p[2]); Exchange(p[4], p[5]); Exchange(p[7], p[8]);
  Exchange(p[0], p[1]); Exchange(p[3], p[4]); Exchange(p[6], p[7]);
  Exchange(p[1], p[2]); Exchange(p[4], p[5]); Exchange(p[7], p[8]);
  Exchange(p[0], p[3]); Exchange(p[5], p[8]); Exchange(p[4], p[7]);
  Exchange(p[3], p[6]); Exchange(p[1], p[4]); Exchange(p[2], p[5]);
  Exchange(p[4], p[7]); Exchange(p[4], p[2]); Exchange(p[6], p[4]);
  Exchange(p[4], p[2]);
  return p[4];
}

// Twelve values: seven passes each carry the smallest remaining value to the
// front; the sixth and seventh smallest are then at [5] and [6].
int WeightedReference(int v[12]) {
  for (int pass = 0; pass < 7; ++pass)
    for (int j = pass + 1; j < 12; ++j) Exchange(v[pass], v[j]);
  return (v[5] + v[6]) >> 1;  // arithmetic shift: floor also for negative sums
}

// Writes the rows y0 .. y1 - 1 of dst.
template <typename T>
void MedianReference(bool weighted, const T* src, T* dst, int width, int height, int y0, int y1, int maxStep,
                     int threshold) {
  const int first = width + 1;
  const int end = width * (height - 1) - 1;
  const int lo = y0 * width, hi = y1 * width;
  if (lo < first) std::memcpy(dst + lo, src + lo, static_cast<size_t>(std::min(first, hi) - lo) * sizeof(T));
  if (hi > end) {
    const int a = std::max(end, lo);
    std::memcpy(dst + a, src + a, static_cast<size_t>(hi - a) * sizeof(T));
  }
  const int stop = std::min(end, hi);
  for (int i = std::max(first, lo); i < stop; ++i) {
    const int v = src[i];
    const int l = src[i - 1], r = src[i + 1];
    const int u = src[i - width], d = src[i + width];
    const int ul = src[i - width - 1], ur = src[i - width + 1];
    const int dl = src[i + width - 1], dr = src[i + width + 1];
    int m;
    if (weighted) {
      int set[12] = {v, v, l, l, r, r, u, d, ul, ur, dl, dr};
      m = WeightedReference(set);
    } else {
      int set[9] = {ul, u, ur, l, v, r, dl, d, dr};
      m = MedianOfNine(set);
    }
    const int diff = m - v;
    int out = v;
    if (diff > threshold)
      out = v + (diff < maxStep ? diff : maxStep);
    else if (-diff > threshold)
      out = v - (-diff < maxStep ? -diff : maxStep);
    dst[i] = static_cast<T>(out);
  }
}

// The plain entry: in place the filter would read samples it has already
// written, so it then works from a copy.
template <typename T>
void MedianScalar(const T* src, T* dst, int w, int h, int y0, int y1, int maxStep, int threshold, bool weighted) {
  if (src == dst) {
    const size_t bytes = static_cast<size_t>(w) * h * sizeof(T);
    T* copy = reinterpret_cast<T*>(noise::Scratch(bytes));
    std::memcpy(copy, src, bytes);
    src = copy;
  }
  MedianReference(weighted, src, dst, w, h, y0, y1, maxStep, threshold);
}

void Run(bool weighted, const TChannel& source, TChannel& destination, int maxStep, int threshold,
         const noise::Kernels& kernels, const BandRunner& runner, TChannel* spare) {
  if (!noise::CheckPlanes(weighted ? "WeightedMedian" : "PlainMedian", source, destination)) return;
  if (noise::TooSmall(source)) {
    if (source.Data() != destination.Data()) std::memcpy(destination.Data(), source.Data(), source.ByteSize());
    return;
  }
  noise::NormaliseMedianLimits(source.Depth(), maxStep, threshold);
  const int depth = source.Depth();
  const int w = source.Width(), h = source.Height();
  int32_t bands = source.Data() == destination.Data() ? 1 : std::min(runner.Parallelism(), h);
  // Each band's scratch rows: a slice of the spare plane when there is one,
  // else the scratch of the thread that runs the band.
  const size_t ringBytes = noise::MedianRingBytes(w, depth);
  uint8_t* rings = nullptr;
  if (spare != nullptr && bands > 1) {
    const size_t need = ringBytes * static_cast<size_t>(bands);
    if (!spare->HasBuffer() || spare->ByteSize() < need)
      spare->SetSize(w, static_cast<int32_t>((need + w - 1) / w), 1);
    rings = spare->Data();
  }
  ForEachIndexedBand(runner, h, bands, [&](RowRange band, int32_t index) {
    uint8_t* ring = rings != nullptr ? rings + ringBytes * static_cast<size_t>(index) : nullptr;
    if (depth == 1)
      kernels.median8[weighted](source.Data(), destination.Data(), w, h, band.begin, band.end, maxStep, threshold,
                                ring);
    else
      kernels.median16[weighted](source.Data16(), destination.Data16(), w, h, band.begin, band.end, maxStep * 2,
                                 threshold * 2, ring);
  });
}

}  // namespace

namespace noise {

void MedianScalar8(const uint8_t* src, uint8_t* dst, int w, int h, int y0, int y1, int maxStep, int threshold,
                   bool weighted) {
  MedianScalar(src, dst, w, h, y0, y1, maxStep, threshold, weighted);
}
void MedianScalar16(const int16_t* src, int16_t* dst, int w, int h, int y0, int y1, int maxStep, int threshold,
                    bool weighted) {
  MedianScalar(src, dst, w, h, y0, y1, maxStep, threshold, weighted);
}

}  // namespace noise

void PlainMedian(const TChannel& source, TChannel& destination, int maxStep, int threshold,
                 const noise::Kernels& kernels, const BandRunner& runner, TChannel& spare) {
  Run(false, source, destination, maxStep, threshold, kernels, runner, &spare);
}
void WeightedMedian(const TChannel& source, TChannel& destination, int maxStep, int threshold,
                    const noise::Kernels& kernels, const BandRunner& runner, TChannel& spare) {
  Run(true, source, destination, maxStep, threshold, kernels, runner, &spare);
}
void PlainMedian(const TChannel& source, TChannel& destination, int maxStep, int threshold,
                 const noise::Kernels& kernels) {
  Run(false, source, destination, maxStep, threshold, kernels, SerialRunner(), nullptr);
}
void WeightedMedian(const TChannel& source, TChannel& destination, int maxStep, int threshold,
                    const noise::Kernels& kernels) {
  Run(true, source, destination, maxStep, threshold, kernels, SerialRunner(), nullptr);
}
void PlainMedian(const TChannel& source, TChannel& destination, int maxStep, int threshold) {
  PlainMedian(source, destination, maxStep, threshold, *ActiveKernelSet().noise);
}
void WeightedMedian(const TChannel& source, TChannel& destination, int maxStep, int threshold) {
  WeightedMedian(source, destination, maxStep, threshold, *ActiveKernelSet().noise);
}
void PlainMedianReference(const TChannel& source, TChannel& destination, int maxStep, int threshold) {
  PlainMedian(source, destination, maxStep, threshold, noise::ScalarKernels());
}
void WeightedMedianReference(const TChannel& source, TChannel& destination, int maxStep, int threshold) {
  WeightedMedian(source, destination, maxStep, threshold, noise::ScalarKernels());
}

}  // namespace tarvo
