#include "support/kernel_check.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

#include "filters/kernel_set.h"
#include "filters/mask.h"
#include "filters/median.h"
#include "filters/masksharp_kernels.h"
#include "filters/noise_kernels.h"
#include "filters/noise_passes.h"
#include "filters/temporal_kernels.h"
#include "filters/temporal_tables.h"
#include "planes/channel.h"
#include "planes/inout.h"
#include "planes/inout_kernels.h"
#include "filters/sharpen.h"
#include "filters/temporal.h"
#include "util/band_runner.h"

namespace tarvo::test {
namespace {

constexpr size_t kGuard = 64;
constexpr uint8_t kMarker = 0xA5;

// Bytes with a band of kMarker on either side.
class Guarded {
 public:
  explicit Guarded(size_t size) : bytes_(size + 2 * kGuard, kMarker), size_(size) {}
  uint8_t* Data() { return bytes_.data() + kGuard; }
  const uint8_t* Data() const { return bytes_.data() + kGuard; }
  int16_t* Data16() { return reinterpret_cast<int16_t*>(Data()); }
  size_t Size() const { return size_; }
  bool Intact() const {
    for (size_t i = 0; i < kGuard; ++i)
      if (bytes_[i] != kMarker || bytes_[kGuard + size_ + i] != kMarker) return false;
    return true;
  }
  void CopyFrom(const Guarded& o) { std::memcpy(Data(), o.Data(), size_); }

 private:
  std::vector<uint8_t> bytes_;
  size_t size_;
};

int Draw(std::mt19937& rng, int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); }

// Samples of one depth: full range, extremes only, crowded at the bottom or
// at the top.
void Fill(Guarded& g, int depth, int fill, std::mt19937& rng) {
  const int lo = depth == 1 ? 0 : -32768, hi = depth == 1 ? 255 : 32767;
  const size_t n = g.Size() / depth;
  for (size_t i = 0; i < n; ++i) {
    int v;
    switch (fill) {
      case 1: {
        const int pick = Draw(rng, 0, 2);
        v = pick == 0 ? lo : pick == 1 ? hi : (depth == 1 ? 255 * Draw(rng, 0, 1) : 0);
        break;
      }
      case 2:
        v = Draw(rng, lo, lo + 12);
        break;
      case 3:
        v = Draw(rng, hi - 12, hi);
        break;
      default:
        v = Draw(rng, lo, hi);
        break;
    }
    if (depth == 1)
      g.Data()[i] = static_cast<uint8_t>(v);
    else
      g.Data16()[i] = static_cast<int16_t>(v);
  }
}

struct Level {
  const char* name;
  KernelSet set;
};

// The levels this CPU runs, plain first.
std::vector<Level> Levels() {
  std::vector<Level> v{{"scalar", KernelSetFor(KernelLevel::Scalar, false)}};
#if defined(__x86_64__) || defined(__i386__)
  __builtin_cpu_init();
  if (__builtin_cpu_supports("sse2")) v.push_back({"sse2", KernelSetFor(KernelLevel::Sse2, false)});
  if (__builtin_cpu_supports("avx2")) {
    v.push_back({"avx2", KernelSetFor(KernelLevel::Avx2, false)});
    if (inout_kernels::Avx512Supported()) v.push_back({"avx512", KernelSetFor(KernelLevel::Avx2, true)});
  }
#endif
  return v;
}

class Checker {
 public:
  Checker(const KernelCase& c, int depth) : c_(c), depth_(depth) {}

  // Records the first failure: guard bands touched or bytes differing.
  bool Same(const char* family, const char* entry, const char* level, const Guarded& want, const Guarded& got) {
    if (!failure_.empty()) return false;
    std::string what;
    if (!got.Intact()) {
      what = "wrote outside its plane";
    } else {
      for (size_t i = 0; i < want.Size(); ++i)
        if (want.Data()[i] != got.Data()[i]) {
          what = "differs at byte " + std::to_string(i) + " (" + std::to_string(want.Data()[i]) + " wanted, " +
                 std::to_string(got.Data()[i]) + " written)";
          break;
        }
    }
    if (what.empty()) return true;
    failure_ = std::string(family) + " " + entry + " at level " + level + ", " + std::to_string(c_.width) + "x" +
               std::to_string(c_.height) + " depth " + std::to_string(depth_) + " fill " + std::to_string(c_.fill) +
               ": " + what;
    return false;
  }
  const std::string& Failure() const { return failure_; }

 private:
  KernelCase c_;
  int depth_;
  std::string failure_;
};

// ----------------------------------------------------------------- noise

void CheckNoise(const KernelCase& c, int depth, const std::vector<Level>& levels, std::mt19937& rng, Checker& ck) {
  const int w = c.width, h = c.height;
  if (w < 3 || h < 3) return;
  const size_t bytes = static_cast<size_t>(w) * h * depth;
  Guarded src(bytes);
  Fill(src, depth, c.fill, rng);
  const noise::Kernels& plain = *levels[0].set.noise;
  auto despeckle = [&](const noise::Kernels& k, const Guarded& in, Guarded& out, int strength) {
    if (depth == 1)
      k.despeckle8(in.Data(), out.Data(), w, h, strength);
    else
      k.despeckle16(reinterpret_cast<const int16_t*>(in.Data()), out.Data16(), w, h, strength);
  };
  auto median = [&](const noise::Kernels& k, const Guarded& in, Guarded& out, int weighted, int step, int th) {
    if (depth == 1)
      k.median8[weighted](in.Data(), out.Data(), w, h, 0, h, step, th, nullptr);
    else
      k.median16[weighted](reinterpret_cast<const int16_t*>(in.Data()), out.Data16(), w, h, 0, h, step, th, nullptr);
  };
  const int strength = Draw(rng, 1, 4);
  const int top = depth == 1 ? 255 : 65536;
  const int limits[][2] = {{Draw(rng, 0, top), Draw(rng, 0, top)}, {Draw(rng, 0, 40), Draw(rng, 0, 8)}, {top, 0}};
  const int(&lim)[2] = limits[Draw(rng, 0, 2)];
  const int weighted = Draw(rng, 0, 1);
  Guarded wantD(bytes), wantM(bytes);
  despeckle(plain, src, wantD, strength);
  median(plain, src, wantM, weighted, lim[0], lim[1]);
  for (size_t l = 1; l < levels.size(); ++l) {
    const noise::Kernels& k = *levels[l].set.noise;
    Guarded got(bytes);
    std::memset(got.Data(), 0x3C, bytes);
    despeckle(k, src, got, strength);
    ck.Same("noise", "despeckle", levels[l].name, wantD, got);
    got.CopyFrom(src);
    despeckle(k, got, got, strength);
    ck.Same("noise", "despeckle in place", levels[l].name, wantD, got);
    std::memset(got.Data(), 0x96, bytes);
    median(k, src, got, weighted, lim[0], lim[1]);
    ck.Same("noise", weighted ? "weighted median" : "plain median", levels[l].name, wantM, got);
    got.CopyFrom(src);
    median(k, got, got, weighted, lim[0], lim[1]);
    ck.Same("noise", weighted ? "weighted median in place" : "plain median in place", levels[l].name, wantM, got);
  }
  // The banded entries of every level against the plain whole-plane result:
  // the passes cut into groups of a random size, every group run band by
  // band from one plane into another. Up to seven bands each band writes into
  // a plane of its own, which shows any write outside its rows; with more
  // bands than rows (some of them empty) they share one plane, last band
  // first.
  const int passes = strength == 1 ? 16 : 16 * (strength - 1);
  const int group = Draw(rng, 0, 2) == 0 ? Draw(rng, 1, 4) : Draw(rng, 1, 48);
  auto band = [&](const noise::Kernels& k, const Guarded& in, Guarded& out, const noise::DespeckleBand& b) {
    if (depth == 1)
      k.despeckleBand8(in.Data(), out.Data(), w, h, b);
    else
      k.despeckleBand16(reinterpret_cast<const int16_t*>(in.Data()), out.Data16(), w, h, b);
  };
  const size_t rowBytes = static_cast<size_t>(w) * depth;
  for (const Level& level : levels) {
    const noise::Kernels& k = *level.set.noise;
    for (int bands : {1, 2, 3, 7, h + 2}) {
      Guarded cur(bytes), next(bytes), own(bytes);
      cur.CopyFrom(src);
      bool stray = false;
      for (int first = 0; first < passes && !stray; first += group) {
        const int count = std::min(group, passes - first);
        std::memset(next.Data(), 0x3C, bytes);
        for (int j = bands - 1; j >= 0; --j) {
          const int rows = h / bands, extra = h % bands;
          const int begin = j * rows + std::min(j, extra), end = begin + rows + (j < extra ? 1 : 0);
          const noise::DespeckleBand b{strength, first, count, begin, end};
          if (bands > 7) {
            band(k, cur, next, b);
            continue;
          }
          std::memset(own.Data(), 0x5A, bytes);
          band(k, cur, own, b);
          for (size_t i = 0; i < bytes && !stray; ++i)
            if ((i < begin * rowBytes || i >= end * rowBytes) && own.Data()[i] != 0x5A) stray = true;
          if (stray || !own.Intact()) {
            ck.Same("noise", "despeckle band (wrote outside its rows)", level.name, src, own);
            stray = true;
            break;
          }
          std::memcpy(next.Data() + begin * rowBytes, own.Data() + begin * rowBytes, (end - begin) * rowBytes);
        }
        cur.CopyFrom(next);
        if (!next.Intact()) ck.Same("noise", "despeckle band", level.name, wantD, next);
      }
      if (stray) continue;
      const std::string entry = "despeckle in bands of " + std::to_string(group) + " passes, " +
                                std::to_string(bands) + " bands";
      ck.Same("noise", entry.c_str(), level.name, wantD, cur);
    }
    // In place on one plane: before each group the rows around every edge
    // between bands are copied into buffers of just that size, and the bands
    // run last first in even groups and first first in odd ones, so that
    // each band meets neighbours already filtered on one side or the other.
    for (int bands : {2, 3, 7}) {
      if (bands > h) continue;
      Guarded cur(bytes);
      cur.CopyFrom(src);
      int g = 0;
      for (int first = 0; first < passes; first += group, ++g) {
        const int count = std::min(group, passes - first);
        const int halo = noise::DespeckleHaloRows(w, count);
        std::vector<std::vector<uint8_t>> copies(bands);
        std::vector<int> copyRow(bands, 0);
        for (int e = 1; e < bands; ++e) {
          const int edge = BandRows(h, bands, e).begin;
          const int r0 = std::max(0, edge - halo), r1 = std::min(h, edge + halo);
          copies[e].assign(cur.Data() + r0 * rowBytes, cur.Data() + r1 * rowBytes);
          copyRow[e] = r0;
        }
        for (int i = 0; i < bands; ++i) {
          const int j = g % 2 == 0 ? bands - 1 - i : i;
          const RowRange rows = BandRows(h, bands, j);
          noise::DespeckleBand b{strength, first, count, rows.begin, rows.end};
          if (j > 0) {
            b.above = copies[j].data();
            b.aboveRow = copyRow[j];
          }
          if (j + 1 < bands) {
            b.below = copies[j + 1].data();
            b.belowRow = copyRow[j + 1];
          }
          band(k, cur, cur, b);
        }
      }
      const std::string entry = "despeckle in place in bands of " + std::to_string(group) + " passes, " +
                                std::to_string(bands) + " bands";
      ck.Same("noise", entry.c_str(), level.name, wantD, cur);
    }
  }
}

// -------------------------------------------------------------- temporal

void CheckTemporal(const KernelCase& c, int depth, const std::vector<Level>& levels, std::mt19937& rng, Checker& ck) {
  const int w = c.width, h = c.height;
  if (w < 3 || h < 3) return;
  const size_t bytes = static_cast<size_t>(w) * h * depth;
  TemporalSettings s;
  s.threshold = Draw(rng, 0, 100);
  s.recursion = Draw(rng, 0, 100);
  s.onset = Draw(rng, 0, 100);
  s.limit = Draw(rng, 0, 100);
  s.response = Draw(rng, 0, 100);
  s.flags = Draw(rng, 0, 3);
  const TemporalLevels lv = BuildTemporalLevels(s);
  auto t = std::make_unique<temporal_detail::TemporalTables>();
  temporal_detail::BuildTemporalTables(lv, s.flags, *t);
  Guarded cur(bytes), prev(bytes);
  Fill(cur, depth, c.fill, rng);
  Fill(prev, depth, Draw(rng, 0, 3), rng);
  const ptrdiff_t first = w + 1, last = static_cast<ptrdiff_t>(w) * (h - 1) - 2;
  const temporal_detail::Kernels& plain = *levels[0].set.temporal;
  auto diff = [&](const temporal_detail::Kernels& k, Guarded& hist, ptrdiff_t a, ptrdiff_t b) {
    if (depth == 1)
      k.diff8(cur.Data(), hist.Data(), a, b);
    else
      k.diff16(reinterpret_cast<const int16_t*>(cur.Data()), hist.Data16(), a, b);
  };
  auto main = [&](const temporal_detail::Kernels& k, Guarded& work, const Guarded& hist, ptrdiff_t a, ptrdiff_t b) {
    if (depth == 1)
      k.main8(work.Data(), hist.Data(), w, a, b, *t);
    else
      k.main16(work.Data16(), reinterpret_cast<const int16_t*>(hist.Data()), w, a, b, *t);
  };
  // A random stretch, and the whole processed range.
  const ptrdiff_t a = Draw(rng, static_cast<int>(first), static_cast<int>(last));
  const ptrdiff_t b = Draw(rng, static_cast<int>(a), static_cast<int>(last));
  Guarded wantHist(bytes), wantCur(bytes), stored(bytes);
  wantHist.CopyFrom(prev);
  diff(plain, wantHist, a, b);
  stored.CopyFrom(prev);
  diff(plain, stored, first, last);
  wantCur.CopyFrom(cur);
  if (t->usable && t->T > 0) main(plain, wantCur, stored, first, last);
  for (size_t l = 1; l < levels.size(); ++l) {
    const temporal_detail::Kernels& k = *levels[l].set.temporal;
    Guarded got(bytes);
    got.CopyFrom(prev);
    diff(k, got, a, b);
    ck.Same("temporal", "difference", levels[l].name, wantHist, got);
    if (!t->usable || t->T == 0) continue;
    got.CopyFrom(cur);
    main(k, got, stored, first, last);
    ck.Same("temporal", s.flags & 1 ? "smoothing with motion" : "smoothing", levels[l].name, wantCur, got);
  }
}

// ------------------------------------------------------ masks, sharpening

void CheckMaskSharp(const KernelCase& c, int depth, const std::vector<Level>& levels, std::mt19937& rng, Checker& ck) {
  const int w = c.width, h = c.height;
  const ptrdiff_t n = static_cast<ptrdiff_t>(w) * h;
  const size_t bytes = static_cast<size_t>(n) * depth;
  Guarded src(bytes), other(bytes), mask(static_cast<size_t>(n)), edge(static_cast<size_t>(n));
  Fill(src, depth, c.fill, rng);
  Fill(other, depth, Draw(rng, 0, 3), rng);
  Fill(mask, 1, Draw(rng, 0, 3), rng);
  Fill(edge, 1, Draw(rng, 0, 3), rng);
  const masksharp::WeightParams wp = masksharp::MakeWeightParams(Draw(rng, -2, 12), Draw(rng, -400, 400));
  const int32_t k0 = masksharp::GainLimit(Draw(rng, -3000, 3000));
  const int32_t g = masksharp::LevelFactor(Draw(rng, -20, 300));
  const bool d1 = depth == 1;
  const uint8_t* s8 = src.Data();
  const int16_t* s16 = reinterpret_cast<const int16_t*>(src.Data());
  const int16_t* o16 = reinterpret_cast<const int16_t*>(other.Data());
  // Each entry writes `out` (sized `size`, starting as `start`).
  struct Entry {
    const char* name;
    bool runs;
    size_t size;
    const Guarded* start;
    std::function<void(const masksharp::Kernels&, Guarded&)> call;
  };
  const bool inner3 = w >= 3 && h >= 3, inner5 = w >= 5 && h >= 5;
  const ptrdiff_t band5 = 2 * static_cast<ptrdiff_t>(w) + 2;
  std::vector<Entry> entries = {
      {"edge", inner3, static_cast<size_t>(n), &edge,
       [&](const masksharp::Kernels& k, Guarded& o) {
         if (d1)
           k.edge8(s8, o.Data(), w, w + 1, n - w - 1);
         else
           k.edge16(s16, o.Data(), w, w + 1, n - w - 1);
       }},
      {"box3", d1 && inner3, static_cast<size_t>(n), &mask,
       [&](const masksharp::Kernels& k, Guarded& o) { k.box3(edge.Data(), o.Data(), w, w + 1, n - w - 1); }},
      {"box5", d1 && inner5, static_cast<size_t>(n), &mask,
       [&](const masksharp::Kernels& k, Guarded& o) { k.box5(edge.Data(), o.Data(), w, band5, n - band5); }},
      {"apply mask", true, bytes, &other,
       [&](const masksharp::Kernels& k, Guarded& o) {
         if (d1)
           k.applyMask8(s8, o.Data(), mask.Data(), n, wp);
         else
           k.applyMask16(s16, o.Data16(), mask.Data(), n, wp);
       }},
      {"show mask", true, bytes, &other,
       [&](const masksharp::Kernels& k, Guarded& o) {
         if (d1)
           k.showMask8(mask.Data(), o.Data(), n, wp);
         else
           k.showMask16(mask.Data(), o.Data16(), n, wp);
       }},
      {"plain sharpen", true, bytes, &src,
       [&](const masksharp::Kernels& k, Guarded& o) {
         if (d1)
           k.plainSharpen8(o.Data(), other.Data(), n, k0, g);
         else
           k.plainSharpen16(o.Data16(), o16, n, k0, g);
       }},
      {"mask sharpen", true, bytes, &src,
       [&](const masksharp::Kernels& k, Guarded& o) {
         if (d1)
           k.maskSharpen8(o.Data(), other.Data(), mask.Data(), n, k0, wp);
         else
           k.maskSharpen16(o.Data16(), o16, mask.Data(), n, k0, wp);
       }},
      {"plain edges", true, bytes, &src,
       [&](const masksharp::Kernels& k, Guarded& o) {
         if (d1)
           k.plainEdges8(o.Data(), other.Data(), n, g);
         else
           k.plainEdges16(o.Data16(), o16, n, g);
       }},
      {"mask edges", true, bytes, &src,
       [&](const masksharp::Kernels& k, Guarded& o) {
         if (d1)
           k.maskEdges8(o.Data(), other.Data(), mask.Data(), n, wp);
         else
           k.maskEdges16(o.Data16(), o16, mask.Data(), n, wp);
       }},
  };
  static const char* const kBlurNames[3] = {"blur radius 1", "blur radius 2", "blur radius 3"};
  for (int r = 1; r <= 3; ++r) {
    const ptrdiff_t band = r == 3 ? band5 : w + 1;
    entries.push_back({kBlurNames[r - 1], r == 3 ? inner5 : inner3, bytes, &other,
                       [&, r, band](const masksharp::Kernels& k, Guarded& o) {
                         if (d1)
                           k.blur8[r - 1](s8, o.Data(), w, band, n - band);
                         else
                           k.blur16[r - 1](s16, o.Data16(), w, band, n - band);
                       }});
  }
  for (const Entry& e : entries) {
    if (!e.runs) continue;
    Guarded want(e.size);
    want.CopyFrom(*e.start);
    e.call(*levels[0].set.masksharp, want);
    for (size_t l = 1; l < levels.size(); ++l) {
      Guarded got(e.size);
      got.CopyFrom(*e.start);
      e.call(*levels[l].set.masksharp, got);
      ck.Same("masks", e.name, levels[l].name, want, got);
    }
  }
  // The one-sweep masks against the plain mask of the same radius.
  if (!d1) return;
  for (int r = 2; r <= 3; ++r) {
    if (!(r == 2 ? inner3 : inner5)) continue;
    TChannel plane, want, scratchEdge;
    plane.SetSize(w, h, 1);
    std::memcpy(plane.Data(), s8, static_cast<size_t>(n));
    want.SetSize(w, h, 1);
    CreateMaskReference(plane, want, r, scratchEdge);
    Guarded wanted(static_cast<size_t>(n));
    std::memcpy(wanted.Data(), want.Data(), static_cast<size_t>(n));
    for (size_t l = 1; l < levels.size(); ++l) {
      const masksharp::Kernels& k = *levels[l].set.masksharp;
      if (k.oneSweep8[r - 2] == nullptr) continue;
      Guarded got(static_cast<size_t>(n)), scratch(2 * static_cast<size_t>(k.oneSweepScratch(w)));
      k.oneSweep8[r - 2](s8, got.Data(), w, h, 0, h, scratch.Data16());
      ck.Same("masks", r == 2 ? "one-sweep mask radius 2" : "one-sweep mask radius 3", levels[l].name, wanted, got);
      if (!scratch.Intact()) ck.Same("masks", "one-sweep scratch", levels[l].name, wanted, scratch);
      // In bands of uneven heights (one row, rows at either edge of the
      // plane, bands starting inside the warm-up reach of the top), each
      // band writing only its own rows (run top down and bottom up, so that a
      // stray write lands after the rows' own band in one of the two), with
      // the scratch left as the band before it left it.
      std::vector<int> cuts = {0, 1, 3, h / 3, h / 3 + 1, h - 2, h};
      for (int& c : cuts) c = std::clamp(c, 0, h);
      std::sort(cuts.begin(), cuts.end());
      cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
      for (bool down : {true, false}) {
        Guarded banded(static_cast<size_t>(n));
        std::memset(banded.Data(), 0xA5, static_cast<size_t>(n));
        const size_t count = cuts.size() - 1;
        for (size_t i = 0; i < count; ++i) {
          const size_t c = down ? i : count - 1 - i;
          k.oneSweep8[r - 2](s8, banded.Data(), w, h, cuts[c], cuts[c + 1], scratch.Data16());
        }
        ck.Same("masks", r == 2 ? "one-sweep mask radius 2 in bands" : "one-sweep mask radius 3 in bands",
                levels[l].name, wanted, banded);
      }
      if (!scratch.Intact()) ck.Same("masks", "one-sweep scratch in bands", levels[l].name, wanted, scratch);
    }
  }
}

// ----------------------------------------------------------------- colour

ColourSettings RandomColour(std::mt19937& rng) {
  ColourSettings s;
  s.vmin = Draw(rng, 0, 40);
  s.vmax = Draw(rng, 200, 255);
  s.vblack = Draw(rng, 0, 40);
  s.vwhite = Draw(rng, 180, 255);
  s.knee = Draw(rng, 50, 100);
  s.slope = Draw(rng, 0, 200);
  s.lift = Draw(rng, -100, 100);
  s.gain = Draw(rng, 0, 800);
  s.gamma = Draw(rng, -100, 100);
  s.liftR = Draw(rng, -50, 50), s.liftG = Draw(rng, -50, 50), s.liftB = Draw(rng, -50, 50);
  s.gainR = Draw(rng, 50, 150), s.gainG = Draw(rng, 50, 150), s.gainB = Draw(rng, 50, 150);
  s.gammaR = Draw(rng, -50, 50), s.gammaG = Draw(rng, -50, 50), s.gammaB = Draw(rng, -50, 50);
  // Now and then any value a record can hold: the chroma table is then
  // limited and no longer follows the rounding formula.
  s.sat = Draw(rng, 0, 4) == 0 ? Draw(rng, -32768, 32767) : Draw(rng, 0, 200);
  s.procMode = Draw(rng, 0, 3);
  s.neutral = Draw(rng, 0, 5) == 0;
  return s;
}

void CheckColour(const KernelCase& c, const std::vector<Level>& levels, std::mt19937& rng, Checker& ck) {
  const int w = c.width, h = c.height;
  const ColourSettings s = RandomColour(rng);
  ColourConverter conv;
  conv.BuildTables(s, s.neutral);
  // The merged tables, built from the converter's as it builds its own.
  int32_t chroma[256], lumR[256], lumG[256], lumB[256], chromaR[256], chromaB[256], packedR[256], packedB[256];
  const uint8_t *red = conv.RedTable(), *green = conv.GreenTable(), *blue = conv.BlueTable();
  for (int i = 0; i < 256; ++i) chroma[i] = conv.ChromaTable()[i];
  for (int i = 0; i < 256; ++i) {
    lumR[i] = 77 * red[i];
    lumG[i] = 150 * green[i];
    lumB[i] = 29 * blue[i] + 128;
    chromaR[i] = chroma[red[i]];
    chromaB[i] = chroma[blue[i]];
    packedR[i] = static_cast<int32_t>(static_cast<uint32_t>(chromaR[i]) << 16) + lumR[i];
    packedB[i] = static_cast<int32_t>(static_cast<uint32_t>(chromaB[i]) << 16) + lumB[i];
  }
  // The chroma table follows the rounding formula for the saturation factor
  // in range; the vector input then computes it instead of looking it up.
  const int32_t sat = s.neutral ? 256 : static_cast<int32_t>(std::nearbyint(s.sat * 2.56L));
  bool formula = true;
  for (int i = 0; i < 256; ++i) formula = formula && chroma[i] == inout_kernels::ChromaByFormula(sat, i);
  const inout_kernels::InputTables tables{lumR,    lumG,    lumB, chromaR, chromaB, chroma, packedR,
                                          packedB, formula, sat,  red,     green,   blue};
  const int mode = EffectiveProcMode(s.procMode, w, h);
  const int hs = mode == 0 ? 0 : mode == 3 ? 2 : 1, vs = mode == 2 ? 1 : 0;
  const int cw = w >> hs, ch = h >> vs;
  const int stride = 4 * w + 4 * Draw(rng, 0, 3);
  const size_t frame = static_cast<size_t>(stride) * h;
  Guarded src(frame), fourth(frame), dst(frame);
  Fill(src, 1, c.fill, rng);
  Fill(fourth, 1, 0, rng);
  Fill(dst, 1, 0, rng);
  const size_t lumBytes = static_cast<size_t>(w) * h, chromaBytes = static_cast<size_t>(cw) * ch * 2;
  Guarded wantY(lumBytes), wantU(chromaBytes), wantV(chromaBytes);
  auto input = [&](const inout_kernels::Kernels& k, Guarded& y, Guarded& u, Guarded& v) {
    k.input(tables, inout_kernels::InputJob{src.Data(), stride, w, h, mode, y.Data(), u.Data16(), v.Data16()});
  };
  input(*levels[0].set.colour, wantY, wantU, wantV);
  // The output over any plane contents, colour differences over the whole
  // 16-bit range or the usual one.
  Guarded py(lumBytes), pu(chromaBytes), pv(chromaBytes);
  Fill(py, 1, c.fill, rng);
  Fill(pu, 2, Draw(rng, 0, 1), rng);
  Fill(pv, 2, Draw(rng, 0, 1), rng);
  const OutputLevels ol = OutputLevelsOf(s);
  const bool withFourth = Draw(rng, 0, 1) == 1;
  auto output = [&](const inout_kernels::Kernels& k, Guarded& out) {
    k.output(inout_kernels::OutputJob{py.Data(), pu.Data16(), pv.Data16(), out.Data(), stride, w, h, mode, ol.range,
                                      ol.vmin, withFourth ? fourth.Data() : nullptr});
  };
  Guarded wantOut(frame);
  wantOut.CopyFrom(dst);
  output(*levels[0].set.colour, wantOut);
  for (size_t l = 1; l < levels.size(); ++l) {
    const inout_kernels::Kernels& k = *levels[l].set.colour;
    Guarded y(lumBytes), u(chromaBytes), v(chromaBytes), out(frame);
    input(k, y, u, v);
    ck.Same("colour", "input (Y)", levels[l].name, wantY, y);
    ck.Same("colour", "input (U)", levels[l].name, wantU, u);
    ck.Same("colour", "input (V)", levels[l].name, wantV, v);
    out.CopyFrom(dst);
    output(k, out);
    ck.Same("colour", withFourth ? "output with fourth bytes" : "output", levels[l].name, wantOut, out);
  }
}

// ------------------------------------------------------------------ bands

// Cuts `bands` bands and runs them on the calling thread in reverse order, so
// that a band reading what a later band of the same pass writes (or writing
// outside its rows) shows as a difference from the whole-plane result.
class ReverseRunner final : public BandRunner {
 public:
  explicit ReverseRunner(int32_t bands) : bands_(bands) {}
  int32_t Parallelism() const override { return bands_; }
  void Run(int32_t count, Job job, void* context) const override {
    for (int32_t i = count - 1; i >= 0; --i) job(context, i);
  }

 private:
  int32_t bands_;
};

void Load(TChannel& c, const Guarded& g, int w, int h, int depth) {
  c.SetSize(w, h, depth);
  if (c.ByteSize() > 0) std::memcpy(c.Data(), g.Data(), c.ByteSize());
}

Guarded GuardedOf(const TChannel& c) {
  Guarded g(c.ByteSize());
  if (c.ByteSize() > 0) std::memcpy(g.Data(), c.Data(), c.ByteSize());
  return g;
}

// Every band form against the whole-plane form at the same level: 2, 3 and 7
// bands and bands of one row, so band edges fall on the first and last rows,
// on the rows next to them and inside the plane.
void CheckBands(const KernelCase& c, int depth, const std::vector<Level>& levels, std::mt19937& rng, Checker& ck) {
  const int w = c.width, h = c.height;
  const size_t bytes = static_cast<size_t>(w) * h * depth;
  Guarded src(bytes), other(bytes), maskBytes(static_cast<size_t>(w) * h);
  Fill(src, depth, c.fill, rng);
  Fill(other, depth, Draw(rng, 0, 3), rng);
  Fill(maskBytes, 1, Draw(rng, 0, 3), rng);
  const int step = Draw(rng, 0, 60), threshold = Draw(rng, 0, 10), weighted = Draw(rng, 0, 1);
  TemporalSettings ts;
  ts.threshold = Draw(rng, 1, 100);
  ts.recursion = Draw(rng, 0, 100);
  ts.onset = Draw(rng, 0, 100);
  ts.limit = Draw(rng, 0, 100);
  ts.response = Draw(rng, 0, 100);
  ts.flags = Draw(rng, 0, 3);
  const int radius = Draw(rng, 1, 3), amount = Draw(rng, 0, 4), offset = Draw(rng, -100, 100);
  const int gain = Draw(rng, -256, 1792), levelValue = Draw(rng, 0, 255);
  const ColourSettings colour = RandomColour(rng);
  for (const Level& level : levels) {
    const KernelSet& k = level.set;
    for (int32_t bands : {2, 3, 7, h}) {
      if (bands < 2) continue;
      const ReverseRunner runner(bands);
      const std::string tag = std::to_string(bands) + " bands";
      auto same = [&](const std::string& entry, const TChannel& want, const TChannel& got) {
        ck.Same("bands", (entry + ", " + tag).c_str(), level.name, GuardedOf(want), GuardedOf(got));
      };
      TChannel plane;
      Load(plane, src, w, h, depth);
      // Medians, at the kernel level (guard bands around every buffer, the
      // working rows included) and through the filter.
      if (w >= 3 && h >= 3) {
        Guarded want(bytes), got(bytes);
        std::memset(want.Data(), 0x5A, bytes);
        std::memset(got.Data(), 0xC3, bytes);
        const int top = depth == 1 ? 1 : 2;
        if (depth == 1)
          k.noise->median8[weighted](src.Data(), want.Data(), w, h, 0, h, step, threshold, nullptr);
        else
          k.noise->median16[weighted](reinterpret_cast<const int16_t*>(src.Data()), want.Data16(), w, h, 0, h,
                                      step * 2, threshold * 2, nullptr);
        Guarded ring(noise::MedianRingBytes(w, top));
        for (int32_t i = std::min(bands, h) - 1; i >= 0; --i) {
          const RowRange r = BandRows(h, std::min(bands, h), i);
          if (depth == 1)
            k.noise->median8[weighted](src.Data(), got.Data(), w, h, r.begin, r.end, step, threshold, ring.Data());
          else
            k.noise->median16[weighted](reinterpret_cast<const int16_t*>(src.Data()), got.Data16(), w, h, r.begin,
                                        r.end, step * 2, threshold * 2, ring.Data());
        }
        ck.Same("bands", ("median kernel, " + tag).c_str(), level.name, want, got);
        if (!ring.Intact()) ck.Same("bands", ("median working rows, " + tag).c_str(), level.name, want, ring);
        TChannel wantPlane, gotPlane, spare;
        Load(wantPlane, other, w, h, depth);
        Load(gotPlane, other, w, h, depth);
        if (weighted) {
          WeightedMedian(plane, wantPlane, step, threshold, *k.noise);
          WeightedMedian(plane, gotPlane, step, threshold, *k.noise, runner, spare);
        } else {
          PlainMedian(plane, wantPlane, step, threshold, *k.noise);
          PlainMedian(plane, gotPlane, step, threshold, *k.noise, runner, spare);
        }
        same("median", wantPlane, gotPlane);
      }
      {
        TChannel wantWork, wantHist, gotWork, gotHist;
        Load(wantWork, src, w, h, depth);
        Load(wantHist, other, w, h, depth);
        Load(gotWork, src, w, h, depth);
        Load(gotHist, other, w, h, depth);
        TemporalSmooth(wantWork, wantHist, ts, true, *k.temporal);
        TemporalSmooth(gotWork, gotHist, ts, true, *k.temporal, runner);
        same("temporal smoothing", wantWork, gotWork);
        same("temporal differences", wantHist, gotHist);
      }
      TChannel mask;
      Load(mask, maskBytes, w, h, 1);
      for (int r = 1; r <= 3; ++r) {
        TChannel want, got, edgeA, edgeB;
        want.SetSize(w, h, 1);
        got.SetSize(w, h, 1);
        CreateMask(plane, want, r, edgeA, *k.masksharp);
        CreateMask(plane, got, r, edgeB, *k.masksharp, runner);
        same("mask radius " + std::to_string(r), want, got);
        if (depth == 1) {
          // The mask replacing its source, as the mask views use it.
          TChannel inPlaceWant, inPlaceGot;
          Load(inPlaceWant, src, w, h, 1);
          Load(inPlaceGot, src, w, h, 1);
          CreateMask(inPlaceWant, inPlaceWant, r, edgeA, *k.masksharp);
          CreateMask(inPlaceGot, inPlaceGot, r, edgeB, *k.masksharp, runner);
          same("mask in place radius " + std::to_string(r), inPlaceWant, inPlaceGot);
        }
      }
      {
        TChannel want, got;
        Load(want, other, w, h, depth);
        Load(got, other, w, h, depth);
        ApplyMask(plane, want, mask, offset, amount, *k.masksharp);
        ApplyMask(plane, got, mask, offset, amount, *k.masksharp, runner);
        same("apply mask", want, got);
        ShowMask(mask, want, amount, offset, *k.masksharp);
        ShowMask(mask, got, amount, offset, *k.masksharp, runner);
        same("show mask", want, got);
      }
      for (const TChannel* m : {static_cast<const TChannel*>(nullptr), static_cast<const TChannel*>(&mask)})
        for (bool edges : {false, true}) {
          TChannel want, got, blurA, blurB;
          Load(want, src, w, h, depth);
          Load(got, src, w, h, depth);
          if (edges) {
            SharpenShowEdges(want, m, radius, offset, amount, levelValue, gain, blurA, *k.masksharp);
            SharpenShowEdges(got, m, radius, offset, amount, levelValue, gain, blurB, *k.masksharp, runner);
          } else {
            Sharpen(want, m, radius, offset, amount, levelValue, gain, blurA, *k.masksharp);
            Sharpen(got, m, radius, offset, amount, levelValue, gain, blurB, *k.masksharp, runner);
          }
          same(std::string(edges ? "edge view" : "sharpen") + (m ? " with mask" : ""), want, got);
        }
      if (depth != 1) continue;
      // The colour conversions, whole frames in and out.
      const int stride = 4 * w + 4 * Draw(rng, 0, 2);
      Guarded frame(static_cast<size_t>(stride) * h), fourth(static_cast<size_t>(stride) * h);
      Fill(frame, 1, c.fill, rng);
      Fill(fourth, 1, 0, rng);
      auto describe = [&](Guarded& g) {
        TPixBuffer b{};
        b.Bounds = TRect{0, 0, w, h};
        b.RowBytes = stride;
        b.Pixels = g.Data();
        return b;
      };
      const TPixBuffer in = describe(frame), fourthFrom = describe(fourth);
      ColourConverter whole, banded;
      whole.SetKernels(k.colour);
      banded.SetKernels(k.colour);
      banded.SetRunner(&runner);
      TChannel y1, u1, v1, y2, u2, v2;
      bool changed = true;
      whole.Input(in, in, colour, changed, y1, u1, v1);
      changed = true;
      banded.Input(in, in, colour, changed, y2, u2, v2);
      same("colour input (Y)", y1, y2);
      same("colour input (U)", u1, u2);
      same("colour input (V)", v1, v2);
      Guarded outA(static_cast<size_t>(stride) * h), outB(static_cast<size_t>(stride) * h);
      Fill(outA, 1, 0, rng);
      outB.CopyFrom(outA);
      TPixBuffer a = describe(outA), b = describe(outB);
      whole.Output(y1, u1, v1, a, colour, nullptr, &fourthFrom);
      banded.Output(y1, u1, v1, b, colour, nullptr, &fourthFrom);
      ck.Same("bands", ("colour output, " + tag).c_str(), level.name, outA, outB);
    }
  }
}

}  // namespace

std::string CheckKernels(const KernelCase& c, std::mt19937& rng) {
  const std::vector<Level> levels = Levels();
  for (int depth : {1, 2}) {
    Checker ck(c, depth);
    CheckNoise(c, depth, levels, rng, ck);
    CheckTemporal(c, depth, levels, rng, ck);
    CheckMaskSharp(c, depth, levels, rng, ck);
    if (depth == 1) CheckColour(c, levels, rng, ck);
    CheckBands(c, depth, levels, rng, ck);
    if (!ck.Failure().empty()) return ck.Failure();
  }
  return {};
}

void BenchKernels(std::mt19937& rng) {
  const int w = 1920, h = 1080;
  const size_t n = static_cast<size_t>(w) * h;
  Guarded a(n), b(n), hist(n);
  Fill(a, 1, 0, rng);
  Fill(hist, 1, 0, rng);
  TemporalSettings s;
  s.threshold = 20, s.recursion = 50, s.onset = 30, s.limit = 50, s.response = 50, s.flags = 3;
  auto t = std::make_unique<temporal_detail::TemporalTables>();
  temporal_detail::BuildTemporalTables(BuildTemporalLevels(s), s.flags, *t);
  struct Job {
    const char* name;
    std::function<void(const KernelSet&)> run;
  };
  const Job jobs[] = {
      {"despeckle 4", [&](const KernelSet& k) { k.noise->despeckle8(a.Data(), b.Data(), w, h, 4); }},
      {"plain median", [&](const KernelSet& k) { k.noise->median8[0](a.Data(), b.Data(), w, h, 0, h, 20, 2, nullptr); }},
      {"weighted median", [&](const KernelSet& k) { k.noise->median8[1](a.Data(), b.Data(), w, h, 0, h, 20, 2, nullptr); }},
      {"temporal flags 3",
       [&](const KernelSet& k) { k.temporal->main8(b.Data(), hist.Data(), w, w + 1, w * (h - 1) - 2, *t); }},
      {"blur radius 2", [&](const KernelSet& k) { k.masksharp->blur8[1](a.Data(), b.Data(), w, w + 1, n - w - 1); }},
      {"edge", [&](const KernelSet& k) { k.masksharp->edge8(a.Data(), b.Data(), w, w + 1, n - w - 1); }},
  };
  for (const Level& level : Levels())
    for (const Job& job : jobs) {
      job.run(level.set);  // warm up
      const int reps = 5;
      const auto t0 = std::chrono::steady_clock::now();
      for (int r = 0; r < reps; ++r) job.run(level.set);
      const auto t1 = std::chrono::steady_clock::now();
      std::printf("%-8s %-18s %9.1f us\n", level.name, job.name,
                  std::chrono::duration<double, std::micro>(t1 - t0).count() / reps);
    }
}

}  // namespace tarvo::test
