#include "filters/despeckle.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "filters/kernel_set.h"
#include "filters/noise_internal.h"
#include "filters/noise_kernels.h"
#include "filters/noise_passes.h"
#include "util/band_runner.h"

namespace tarvo {
namespace {

// One directional pass in place over the filtered range, scanning away from
// the neighbour so that every comparison sees the neighbour's value from
// before the pass.
template <typename T>
void ReferencePass(T* data, int width, int height, const noise::TPassDir& dir, int step) {
  const int off = dir.dy * width + dir.dx;
  const int first = width + 1;
  const int last = width * (height - 1) - 2;
  auto apply = [&](int i) {
    const int p = data[i];
    const int n = data[i + off];
    if (dir.raise) {
      if (p + step < n) data[i] = static_cast<T>(p + step);
    } else {
      if (n < p - step) data[i] = static_cast<T>(p - step);
    }
  };
  if (off < 0) {
    for (int i = last; i >= first; --i) apply(i);
  } else {
    for (int i = first; i <= last; ++i) apply(i);
  }
}

template <typename T>
void ReferenceFilter(const T* src, T* data, int width, int height, int strength) {
  if (src != data) std::memcpy(data, src, static_cast<size_t>(width) * height * sizeof(T));
  const int scale = static_cast<int>(sizeof(T));
  int steps[3];
  const int cycles = noise::DespeckleSteps(strength, steps);
  for (int c = 0; c < cycles; ++c)
    for (const noise::TPassDir& dir : noise::kPasses) ReferencePass(data, width, height, dir, steps[c] * scale);
}

// Rows [rowBegin, rowEnd) of a group of passes, plainly: the input range the
// group can reach is copied into scratch memory (in place, the rows beyond the
// band's from its halo copies) and every pass runs in place
// over the linear range DespeckleBandRange gives it (an in-place scan away
// from the neighbour, as in ReferencePass). A pass reads only samples the
// pass before it computed, or samples no pass changes.
template <typename T>
void ReferenceBand(const T* in, T* out, int width, int height, const noise::DespeckleBand& band) {
  const int rowBegin = std::max(band.rowBegin, 0), rowEnd = std::min(band.rowEnd, height);
  if (rowBegin >= rowEnd) return;
  const bool inPlace = in == out;
  const size_t bandStart = static_cast<size_t>(rowBegin) * width;
  if (!inPlace)
    std::memcpy(out + bandStart, in + bandStart, static_cast<size_t>(rowEnd - rowBegin) * width * sizeof(T));
  const int strength = std::clamp(band.strength, 1, 4);
  const int total = noise::DespecklePassCount(strength);
  const int firstPass = std::max(band.first, 0);
  const int count = std::min(band.count, total - firstPass);
  if (count <= 0) return;
  int a0, b0, a, b;
  noise::DespeckleBandRange(width, height, count, 0, rowBegin, rowEnd, a0, b0);
  noise::DespeckleBandRange(width, height, count, count - 1, rowBegin, rowEnd, a, b);
  if (a >= b) return;
  // The samples the first pass reads: its range widened by one neighbour.
  const int lo = a0 - (width + 1), hi = b0 + width + 1;
  T* buf = reinterpret_cast<T*>(noise::Scratch(static_cast<size_t>(hi - lo) * sizeof(T)));
  noise::CopyBandInput(buf, in, lo, hi, width, band, inPlace);
  const int scale = static_cast<int>(sizeof(T));
  int steps[3];
  noise::DespeckleSteps(strength, steps);
  for (int k = 0; k < count; ++k) {
    const int p = firstPass + k;
    const noise::TPassDir& dir = noise::kPasses[p % 16];
    const int step = steps[p / 16] * scale;
    const int off = dir.dy * width + dir.dx;
    int pa, pb;
    noise::DespeckleBandRange(width, height, count, k, rowBegin, rowEnd, pa, pb);
    auto apply = [&](int i) {
      const int v = buf[i - lo];
      const int nb = buf[i - lo + off];
      if (dir.raise) {
        if (v + step < nb) buf[i - lo] = static_cast<T>(v + step);
      } else {
        if (nb < v - step) buf[i - lo] = static_cast<T>(v - step);
      }
    };
    if (off < 0) {
      for (int i = pb - 1; i >= pa; --i) apply(i);
    } else {
      for (int i = pa; i < pb; ++i) apply(i);
    }
  }
  std::memcpy(out + a, buf + (a - lo), static_cast<size_t>(b - a) * sizeof(T));
}

}  // namespace

namespace noise {

void DespeckleBandScalar8(const uint8_t* in, uint8_t* out, int w, int h, const DespeckleBand& band) {
  ReferenceBand(in, out, w, h, band);
}
void DespeckleBandScalar16(const int16_t* in, int16_t* out, int w, int h, const DespeckleBand& band) {
  ReferenceBand(in, out, w, h, band);
}

void DespeckleScalar8(const uint8_t* src, uint8_t* dst, int w, int h, int strength) {
  ReferenceFilter(src, dst, w, h, strength);
}
void DespeckleScalar16(const int16_t* src, int16_t* dst, int w, int h, int strength) {
  ReferenceFilter(src, dst, w, h, strength);
}

}  // namespace noise

void Despeckle(const TChannel& source, TChannel& destination, int strength, const noise::Kernels& kernels) {
  if (!noise::CheckPlanes("Despeckle", source, destination)) return;
  if (strength < 1 || noise::TooSmall(source)) {
    if (source.Data() != destination.Data()) std::memcpy(destination.Data(), source.Data(), source.ByteSize());
    return;
  }
  strength = std::min(strength, 4);
  const int w = source.Width(), h = source.Height();
  if (source.Depth() == 1)
    kernels.despeckle8(source.Data(), destination.Data(), w, h, strength);
  else
    kernels.despeckle16(reinterpret_cast<const int16_t*>(source.Data()), destination.Data16(), w, h, strength);
}

namespace {

// Passes of group `index` of `groups` nearly equal groups over `passes`.
int GroupPasses(int passes, int groups, int index) { return passes / groups + (index < passes % groups ? 1 : 0); }

}  // namespace

DespecklePlan PlanDespeckle(int width, int height, int depth, int strength, int parallelism, bool inPlace) {
  DespecklePlan plan;
  if (strength < 1 || width < 3 || height < 3 || parallelism <= 1) return plan;
  const int passes = noise::DespecklePassCount(std::min(strength, 4));
  const size_t rowBytes = static_cast<size_t>(width) * depth;
  int group = noise::DespeckleGroupPassesWithin(rowBytes, noise::kDespeckleLevel1Budget);
  // Each band recomputes about group - 1 rows beyond its own per pass (half
  // on either side, on average over the passes): bands of at least ten times
  // that keep the extra work near a tenth or less.
  const int minRows = std::max(8, 10 * (group - 1));
  const int bands = std::min(parallelism, height / minRows);
  if (bands <= 1) return plan;
  // Each group is one sweep, reading one plane and writing the other, whose
  // bands meet at a barrier. While a band's rows of both planes fit in its
  // core's level-2 cache, sweeps are cheap and the level-1 groups above are
  // the fastest; beyond that the sweeps of all threads compete for the outer
  // caches, and groups as large as the level-2 cache holds keep them few,
  // still at most a tenth of the band's rows.
  const int bandRows = height / bands;
  if (width >= noise::kDespeckleStripMinWidth) {
    // Rows this wide run in column strips whose live rows stay in the
    // first-level cache for up to sixteen passes (noise_simd.h), so groups
    // that large cost no more per pass and save sweeps and barriers.
    group = std::max(group, std::min(noise::kDespeckleStripMaxPasses, (bandRows / 10 + 1) & ~1));
  } else if (2 * rowBytes * static_cast<size_t>(bandRows) > noise::kDespeckleBandCheapBytes) {
    group = std::max(group, std::min(noise::DespeckleGroupPassesWithin(rowBytes, noise::kDespeckleLevel2Budget),
                                     (bandRows / 10 + 1) & ~1));
  }
  int groups = (passes + group - 1) / group;
  // Rows this wide run the groups in place on the destination (all but a
  // first one that reads a separate source): before each group, the rows
  // around every edge between two bands are copied into the spare plane,
  // and each band reads the input beyond its own rows from those copies. A
  // copy of a few dozen rows per edge replaces a sweep through the spare
  // plane, and no group is added to end in the destination. Narrower rows,
  // or bands so many that the copies outgrow the spare plane, alternate
  // between the destination and the spare plane instead, and the last group
  // must write the destination: an odd number of groups when the first one
  // reads a separate source, an even one when it reads the destination.
  const int haloRows = noise::DespeckleHaloRows(width, group);
  plan.halos = width >= noise::kDespeckleStripMinWidth && 2LL * haloRows * (bands - 1) <= height;
  if (!plan.halos && (groups % 2 == 1) == inPlace) ++groups;
  plan.groups = groups;
  plan.bands = bands;
  plan.spareRows = plan.halos ? 2 * haloRows * (bands - 1) : height;
  double computed = 0;
  for (int g = 0; g < groups; ++g) {
    const int count = GroupPasses(passes, groups, g);
    for (int band = 0; band < bands; ++band) {
      const RowRange rows = BandRows(height, bands, band);
      for (int k = 0; k < count; ++k) {
        int a, b;
        noise::DespeckleBandRange(width, height, count, k, rows.begin, rows.end, a, b);
        if (a < b) computed += b - a;
      }
    }
  }
  const double serial = static_cast<double>(passes) * (static_cast<double>(width) * (height - 1) - 1 - (width + 1));
  plan.redundant = serial > 0 ? computed / serial - 1 : 0;
  return plan;
}

void Despeckle(const TChannel& source, TChannel& destination, int strength, const noise::Kernels& kernels,
               const BandRunner& runner, TChannel& spare) {
  if (!noise::CheckPlanes("Despeckle", source, destination)) return;
  const bool inPlace = source.Data() == destination.Data();
  const DespecklePlan plan = PlanDespeckle(source.Width(), source.Height(), source.Depth(), strength,
                                           runner.Parallelism(), inPlace);
  if (plan.groups == 0) {
    Despeckle(source, destination, strength, kernels);
    return;
  }
  if (spare.Width() != source.Width() || spare.Depth() != source.Depth() || spare.Height() < plan.spareRows)
    spare.SetSize(source.Width(), plan.spareRows, source.Depth());
  if (!spare.HasBuffer() || spare.Data() == source.Data() || spare.Data() == destination.Data())
    throw std::invalid_argument("Despeckle: the spare plane must have a buffer of its own");
  strength = std::min(strength, 4);
  const int w = source.Width(), h = source.Height();
  const int passes = noise::DespecklePassCount(strength);
  const uint8_t* in = source.Data();
  int first = 0;
  if (plan.halos) {
    uint8_t* const out = destination.Data();
    const size_t rowBytes = static_cast<size_t>(w) * source.Depth();
    for (int g = 0; g < plan.groups; ++g) {
      const int count = GroupPasses(passes, plan.groups, g);
      const bool here = in == out;
      // Copies of the rows around each edge between bands: block e - 1 holds
      // rows edge - halo .. edge + halo - 1 of edge e (clipped to the plane).
      const int halo = noise::DespeckleHaloRows(w, count);
      auto block = [&](int e) { return spare.Data() + static_cast<size_t>(e - 1) * 2 * halo * rowBytes; };
      auto blockRow = [&](int e) { return std::max(0, BandRows(h, plan.bands, e).begin - halo); };
      if (here) {
        for (int e = 1; e < plan.bands; ++e) {
          const int r0 = blockRow(e), r1 = std::min(h, BandRows(h, plan.bands, e).begin + halo);
          std::memcpy(block(e), out + r0 * rowBytes, static_cast<size_t>(r1 - r0) * rowBytes);
        }
      }
      ForEachIndexedBand(runner, h, plan.bands, [&](RowRange rows, int32_t index) {
        noise::DespeckleBand band{strength, first, count, rows.begin, rows.end};
        if (here) {
          if (index > 0) {
            band.above = block(index);
            band.aboveRow = blockRow(index);
          }
          if (index + 1 < plan.bands) {
            band.below = block(index + 1);
            band.belowRow = blockRow(index + 1);
          }
        }
        if (source.Depth() == 1)
          kernels.despeckleBand8(in, out, w, h, band);
        else
          kernels.despeckleBand16(reinterpret_cast<const int16_t*>(in), reinterpret_cast<int16_t*>(out), w, h, band);
      });
      in = out;
      first += count;
    }
    return;
  }
  uint8_t* const planes[2] = {destination.Data(), spare.Data()};
  int target = inPlace ? 1 : 0;
  for (int g = 0; g < plan.groups; ++g) {
    const int count = GroupPasses(passes, plan.groups, g);
    uint8_t* out = planes[target];
    ForEachBand(runner, h, plan.bands, [&](RowRange rows) {
      const noise::DespeckleBand band{strength, first, count, rows.begin, rows.end};
      if (source.Depth() == 1)
        kernels.despeckleBand8(in, out, w, h, band);
      else
        kernels.despeckleBand16(reinterpret_cast<const int16_t*>(in), reinterpret_cast<int16_t*>(out), w, h, band);
    });
    in = out;
    target ^= 1;
    first += count;
  }
}

void Despeckle(const TChannel& source, TChannel& destination, int strength) {
  Despeckle(source, destination, strength, *ActiveKernelSet().noise);
}

void DespeckleReference(const TChannel& source, TChannel& destination, int strength) {
  Despeckle(source, destination, strength, noise::ScalarKernels());
}

}  // namespace tarvo
