#include "types/specs.h"

#include <cstring>

#include "types/rounding.h"
#include "types/specs_fields.h"

namespace tarvo {

TSpecs BuiltInDefaultSpecs() {
  TSpecs s;
  std::memset(&s, 0, sizeof s);
  for (const SpecsField& f : SpecsFields()) SetField(s, f, f.def);
  SetSceneName(s, kNoSceneName);
  return s;
}

bool SpecsEqual(const TSpecs& a, const TSpecs& b) {
  if (a.Vmin != b.Vmin || a.Vmax != b.Vmax || a.ProcMode != b.ProcMode || a.TestSignal != b.TestSignal)
    return false;
  const auto* pa = reinterpret_cast<const uint8_t*>(&a);
  const auto* pb = reinterpret_cast<const uint8_t*>(&b);
  return std::memcmp(pa + 32, pb + 32, 192) == 0;
}

namespace {

// Format 71 kept a channel selector where format 72 keeps the colour strength:
// 0 both channels, 1 luminance only, 2 colour only.
void SplitChannelSelector(int16_t& luma, int16_t& chroma) {
  switch (chroma) {
    case 0: chroma = luma; break;
    case 1: chroma = 0; break;
    case 2: chroma = luma; luma = 0; break;
    default: break;
  }
}

}  // namespace

bool UpgradeSpecsFrom70(TSpecs& s) {
  bool changed = false;
  if (s.Version == 70) {
    s.Version = 71;
    s.Slope = 50;
    changed = true;
  }
  if (s.Version == 71) {
    s.Version = 72;
    SplitChannelSelector(s.YDespeckle, s.CDespeckle);
    SplitChannelSelector(s.YSharpness, s.CSharpness);
    SplitChannelSelector(s.TempYThreshold, s.TempCThreshold);
    changed = true;
  }
  return changed;
}

void UpgradeSpecsFrom69(TSpecs& s) {
  s.Version = 70;
  s.Knee = static_cast<int16_t>(100 - s.Knee);
  SetSceneName(s, kNoSceneName);
}

bool UpgradeSpecs(TSpecs& s) {
  bool changed = false;
  if (s.Version == 69) {
    UpgradeSpecsFrom69(s);
    changed = true;
  }
  return UpgradeSpecsFrom70(s) || changed;
}

std::string SceneNameOf(const TSpecs& s) {
  size_t n = s.SceneName[0];
  if (n > kSceneNameMax) n = kSceneNameMax;
  return std::string(reinterpret_cast<const char*>(s.SceneName + 1), n);
}

void SetSceneName(TSpecs& s, const std::string& bytes) {
  const size_t n = bytes.size() > kSceneNameMax ? kSceneNameMax : bytes.size();
  s.SceneName[0] = static_cast<uint8_t>(n);
  std::memcpy(s.SceneName + 1, bytes.data(), n);
}

int32_t SharpGainOf(int32_t sharpness) {
  const long double b = (sharpness + 100) * 0.01L;
  return static_cast<int32_t>(Rnd((b * (b * b) - 1.0L) * 256.0L));
}

TDerived ComputeDerived(const TSpecs& s) {
  TDerived d;
  d.Range = s.Vmax - s.Vmin;
  const int32_t peak = s.Vmax - s.Vblack;
  d.PeakSpan[0] = peak * 4;
  d.PeakSpan[1] = peak * 6;
  d.PeakSpan[2] = peak * 8;
  d.PeakSpan[3] = peak * 12;
  d.YSharpGain = SharpGainOf(s.YSharpness);
  d.CSharpGain = SharpGainOf(s.CSharpness);
  d.LevelDependLevel = static_cast<int32_t>(Rnd(s.LevelDepend * 255 * 0.01L));
  // The square is a 16-bit product, as the record's field type gives it.
  const int16_t square = static_cast<int16_t>(s.MedianLimit * s.MedianLimit);
  d.MedianMaxStep = static_cast<int32_t>(Rnd(square * d.Range * 0.0001L));
  return d;
}

int32_t MedianStepThreshold(const TSpecs& s, const TDerived& d) { return s.MedianThreshold * d.Range / 100; }

}  // namespace tarvo
