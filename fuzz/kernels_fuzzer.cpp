// Differential check of the optimised kernels: small random planes (size,
// Depth, contents and settings from the input) go through each kernel at
// every kernel level and through its plain reference; any difference stops
// the run. The colour conversion is compared between the AVX2 and the plain
// level of a full converter run. One selector runs the kernel table check
// (every entry at every level, guard bands around the planes) on a case from
// the input, with rows up to about 700 samples, long enough for the
// multi-group paths.
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "filters/despeckle.h"
#include "filters/mask.h"
#include "filters/median.h"
#include "filters/sharpen.h"
#include "filters/temporal.h"
#include "fuzz_input.h"
#include "host/colour_settings.h"
#include "types/specs.h"
#include "types/specs_fields.h"
#include "planes/channel.h"
#include "planes/inout.h"
#include "support/kernel_check.h"
#include "support/kernel_level.h"
#include "util/cpu_features.h"

using namespace tarvo;

namespace {

constexpr int kMaxSide = 64;
constexpr KernelLevel kLevels[] = {KernelLevel::Scalar, KernelLevel::Sse2, KernelLevel::Avx2};

// Fills a plane from the input; when the input runs out, from a generator
// seeded by what was read, so that short inputs still give busy planes.
void Fill(TChannel& p, fuzz::FuzzInput& in) {
  const size_t n = p.ByteSize();
  const std::string bytes = in.Bytes(n);
  std::memcpy(p.Data(), bytes.data(), bytes.size());
  uint32_t x = 2463534242u ^ static_cast<uint32_t>(bytes.size() * 2654435761u);
  for (size_t i = bytes.size(); i < n; ++i) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    p.Data()[i] = static_cast<uint8_t>(x >> 11);
  }
}

void Make(TChannel& p, int w, int h, int depth) {
  p.SetSize(w, h, depth);
  p.Fill(0);
}

void Copy(TChannel& to, const TChannel& from) {
  to.SetSize(from.Width(), from.Height(), from.Depth());
  to.CopyFrom(from);
}

void Same(const TChannel& ref, const TChannel& got, const char* what, KernelLevel level) {
  if (ref.Width() != got.Width() || ref.Height() != got.Height() || ref.Depth() != got.Depth() ||
      std::memcmp(ref.Data(), got.Data(), ref.ByteSize()) != 0) {
    size_t i = 0;
    while (i < ref.ByteSize() && ref.Data()[i] == got.Data()[i]) ++i;
    fuzz::Fail(std::string(what) + " differs from its reference at kernel level " +
               std::to_string(static_cast<int>(level)) + ", byte " + std::to_string(i) + " of a " +
               std::to_string(ref.Width()) + "x" + std::to_string(ref.Height()) + " depth " +
               std::to_string(ref.Depth()) + " plane");
  }
}

using Restore = test::KernelLevelGuard;

void ColourConversion(fuzz::FuzzInput& in, int w, int h) {
  // A record with every field inside its range, or, as a host may hand
  // over any bytes, with any values.
  const uint8_t how = in.Byte();
  const bool wild = how & 2;
  TSpecs specs = BuiltInDefaultSpecs();
  for (const SpecsField& f : SpecsFields())
    if (f.kind != FieldKind::Internal || f.name == "Vblack" || f.name == "Vwhite" || f.name == "Vblank")
      SetField(specs, f, wild ? static_cast<int16_t>(in.Word()) : static_cast<int16_t>(in.Range(f.min, f.max)));
  const bool inSetup = how & 1;
  std::vector<uint8_t> src(static_cast<size_t>(w) * h * 4);
  {
    const std::string bytes = in.Bytes(src.size());
    std::memcpy(src.data(), bytes.data(), bytes.size());
    for (size_t i = bytes.size(); i < src.size(); ++i) src[i] = static_cast<uint8_t>(i * 37 + (i >> 3));
  }
  TChannel y0, u0, v0, yo, uo, vo;
  std::vector<uint8_t> out0;
  for (KernelLevel level : {KernelLevel::Scalar, KernelLevel::Avx2}) {
    SetKernelLevelCap(level);
    ColourConverter conv;
    std::vector<uint8_t> dstPixels(src.size(), 0x77);
    TPixBuffer s{}, d{};
    s.Bounds = d.Bounds = {0, 0, w, h};
    s.RowBytes = d.RowBytes = w * 4;
    s.Pixels = src.data();
    d.Pixels = dstPixels.data();
    TChannel y, u, v;
    bool changed = true;
    if (!conv.Input(s, d, ColourSettingsOf(specs, inSetup), changed, y, u, v))
      fuzz::Fail("input conversion refused a sound frame");
    if (level == KernelLevel::Scalar) {
      Copy(y0, y);
      Copy(u0, u);
      Copy(v0, v);
      // The output runs on planes of the same sizes and any contents, the
      // colour planes over the whole 16-bit range.
      Copy(yo, y);
      Copy(uo, u);
      Copy(vo, v);
      Fill(yo, in);
      Fill(uo, in);
      Fill(vo, in);
    } else {
      Same(y0, y, "input conversion (Y)", level);
      Same(u0, u, "input conversion (U)", level);
      Same(v0, v, "input conversion (V)", level);
    }
    if (!conv.Output(yo, uo, vo, d, ColourSettingsOf(specs, inSetup), nullptr, &s))
      fuzz::Fail("output conversion refused sound planes");
    if (level == KernelLevel::Scalar) out0 = dstPixels;
    else if (out0 != dstPixels) fuzz::Fail("output conversion differs between the plain and the AVX2 kernels");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 3 * kMaxSide * kMaxSide * 2 + 64) return 0;
  fuzz::FuzzInput in(data, size);
  Restore restore;
  const int kernel = in.Range(0, 13);
  if (kernel == 13) {
    test::KernelCase c;
    c.width = in.Range(1, 700);
    c.height = in.Range(1, 12);
    c.fill = in.Range(0, 3);
    std::mt19937 rng(static_cast<uint32_t>(in.Word()) * 65536u + static_cast<uint32_t>(in.Word()));
    const std::string failure = test::CheckKernels(c, rng);
    if (!failure.empty()) fuzz::Fail(failure);
    return 0;
  }
  const int w = in.Range(1, kMaxSide), h = in.Range(1, kMaxSide), depth = in.Range(1, 2);

  if (kernel == 12) {
    ColourConversion(in, w, h);
    return 0;
  }

  TChannel src;
  Make(src, w, h, depth);
  Fill(src, in);
  switch (kernel) {
    case 0: {  // despeckle, into another plane and in place
      const int strength = in.Range(-1, 6);
      TChannel ref;
      Make(ref, w, h, depth);
      DespeckleReference(src, ref, strength);
      for (KernelLevel level : kLevels) {
        SetKernelLevelCap(level);
        TChannel got;
        Make(got, w, h, depth);
        got.Fill(0xC3);
        Despeckle(src, got, strength);
        Same(ref, got, "Despeckle", level);
        got.CopyFrom(src);
        Despeckle(got, got, strength);
        Same(ref, got, "Despeckle in place", level);
      }
      break;
    }
    case 1:
    case 2: {  // limited medians
      const int maxStep = in.Range(0, 300), threshold = in.Range(0, 300);
      TChannel ref;
      Make(ref, w, h, depth);
      if (kernel == 1) PlainMedianReference(src, ref, maxStep, threshold);
      else WeightedMedianReference(src, ref, maxStep, threshold);
      for (KernelLevel level : kLevels) {
        SetKernelLevelCap(level);
        TChannel got;
        Make(got, w, h, depth);
        if (kernel == 1) PlainMedian(src, got, maxStep, threshold);
        else WeightedMedian(src, got, maxStep, threshold);
        Same(ref, got, kernel == 1 ? "PlainMedian" : "WeightedMedian", level);
      }
      break;
    }
    case 3: {  // temporal smoothing: work and history
      TemporalSettings s;
      s.threshold = in.Range(-5, 110);
      s.recursion = in.Range(-5, 110);
      s.onset = in.Range(-5, 110);
      s.limit = in.Range(-5, 110);
      s.response = in.Range(-5, 110);
      s.flags = in.Range(-1, 4);
      TChannel history;
      Make(history, w, h, depth);
      Fill(history, in);
      TChannel refWork, refHistory;
      Copy(refWork, src);
      Copy(refHistory, history);
      TemporalSmoothReference(refWork, refHistory, s, true);
      for (KernelLevel level : kLevels) {
        SetKernelLevelCap(level);
        TChannel work, hist;
        Copy(work, src);
        Copy(hist, history);
        TemporalSmooth(work, hist, s, true);
        Same(refWork, work, "TemporalSmooth (work)", level);
        Same(refHistory, hist, "TemporalSmooth (history)", level);
      }
      break;
    }
    case 4: {  // mask creation
      const int radius = in.Range(0, 4);
      TChannel refMask, refEdge;
      Make(refMask, w, h, 1);
      CreateMaskReference(src, refMask, radius, refEdge);
      TChannel edge;  // kept between levels, as the pipeline keeps it
      for (KernelLevel level : kLevels) {
        SetKernelLevelCap(level);
        TChannel mask;
        Make(mask, w, h, 1);
        mask.Fill(0x5A);
        edge.Fill(0xEE);
        CreateMask(src, mask, radius, edge);
        Same(refMask, mask, "CreateMask", level);
      }
      break;
    }
    case 5:
    case 6: {  // mask blend and mask view
      const int offset = in.Range(-150, 150), amount = in.Range(-1, 6);
      TChannel mask, filtered;
      Make(mask, w, h, 1);
      Fill(mask, in);
      Make(filtered, w, h, depth);
      Fill(filtered, in);
      TChannel ref;
      Copy(ref, src);
      if (kernel == 5) ApplyMaskReference(filtered, ref, mask, offset, amount);
      else ShowMaskReference(mask, ref, amount, offset);
      for (KernelLevel level : kLevels) {
        SetKernelLevelCap(level);
        TChannel got;
        Copy(got, src);
        if (kernel == 5) ApplyMask(filtered, got, mask, offset, amount);
        else ShowMask(mask, got, amount, offset);
        Same(ref, got, kernel == 5 ? "ApplyMask" : "ShowMask", level);
      }
      break;
    }
    default: {  // blur and the sharpen kernels (7..11)
      const int radius = in.Range(0, 4), offset = in.Range(-150, 150), amount = in.Range(-1, 6);
      const int levelValue = in.Range(-20, 280), gain = in.Range(-400, 2300);
      TChannel mask;
      Make(mask, w, h, 1);
      Fill(mask, in);
      TChannel refBlur;
      BlurReference(src, refBlur, radius);
      TChannel ref;
      Copy(ref, src);
      switch (kernel) {
        case 8: PlainSharpenReference(ref, refBlur, gain, levelValue); break;
        case 9: MaskSharpenReference(ref, refBlur, mask, offset, amount, gain); break;
        case 10: PlainShowEdgesReference(ref, refBlur, levelValue); break;
        case 11: MaskShowEdgesReference(ref, refBlur, mask, offset, amount); break;
        default: break;
      }
      TChannel blur;  // the caller's scratch plane, reused across levels
      for (KernelLevel level : kLevels) {
        SetKernelLevelCap(level);
        Blur(src, blur, radius);
        Same(refBlur, blur, "Blur", level);
        TChannel got;
        Copy(got, src);
        switch (kernel) {
          case 8: PlainSharpen(got, blur, gain, levelValue); Same(ref, got, "PlainSharpen", level); break;
          case 9: MaskSharpen(got, blur, mask, offset, amount, gain); Same(ref, got, "MaskSharpen", level); break;
          case 10: PlainShowEdges(got, blur, levelValue); Same(ref, got, "PlainShowEdges", level); break;
          case 11:
            MaskShowEdges(got, blur, mask, offset, amount);
            Same(ref, got, "MaskShowEdges", level);
            break;
          default: break;
        }
      }
    }
  }
  return 0;
}
