#include "filters/median.h"

#include <cstring>

#include "filters/noise_internal.h"
#include "util/cpu_features.h"

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

template <typename T>
void MedianReference(bool weighted, const T* src, T* dst, int width, int height, int maxStep, int threshold) {
  const int first = width + 1;
  const int end = width * (height - 1) - 1;
  std::memcpy(dst, src, static_cast<size_t>(first) * sizeof(T));
  std::memcpy(dst + end, src + end, static_cast<size_t>(width + 1) * sizeof(T));
  for (int i = first; i < end; ++i) {
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

void RunReference(bool weighted, const TChannel& source, TChannel& destination, int maxStep, int threshold) {
  if (!noise::CheckPlanes(weighted ? "WeightedMedian" : "PlainMedian", source, destination)) return;
  if (noise::TooSmall(source)) {
    if (source.Data() != destination.Data()) std::memcpy(destination.Data(), source.Data(), source.ByteSize());
    return;
  }
  noise::NormaliseMedianLimits(source.Depth(), maxStep, threshold);
  const int scale = source.Depth();
  const int w = source.Width(), h = source.Height();
  // In place the filter would read samples it has already written.
  const uint8_t* src = source.Data();
  if (src == destination.Data()) {
    uint8_t* copy = noise::Scratch(source.ByteSize());
    std::memcpy(copy, src, source.ByteSize());
    src = copy;
  }
  if (scale == 1)
    MedianReference(weighted, src, destination.Data(), w, h, maxStep, threshold);
  else
    MedianReference(weighted, reinterpret_cast<const int16_t*>(src), destination.Data16(), w, h, maxStep * 2,
                    threshold * 2);
}

void Run(bool weighted, const TChannel& source, TChannel& destination, int maxStep, int threshold) {
  if (!noise::CheckPlanes(weighted ? "WeightedMedian" : "PlainMedian", source, destination)) return;
  if (!noise::TooSmall(source)) {
    const KernelLevel level = ActiveKernelLevel();
    if (level >= KernelLevel::Avx2 && noise::MedianAvx2(weighted, source, destination, maxStep, threshold)) return;
    if (level >= KernelLevel::Sse2 && noise::MedianSse2(weighted, source, destination, maxStep, threshold)) return;
  }
  RunReference(weighted, source, destination, maxStep, threshold);
}

}  // namespace

void PlainMedian(const TChannel& source, TChannel& destination, int maxStep, int threshold) {
  Run(false, source, destination, maxStep, threshold);
}
void WeightedMedian(const TChannel& source, TChannel& destination, int maxStep, int threshold) {
  Run(true, source, destination, maxStep, threshold);
}
void PlainMedianReference(const TChannel& source, TChannel& destination, int maxStep, int threshold) {
  RunReference(false, source, destination, maxStep, threshold);
}
void WeightedMedianReference(const TChannel& source, TChannel& destination, int maxStep, int threshold) {
  RunReference(true, source, destination, maxStep, threshold);
}

}  // namespace tarvo
