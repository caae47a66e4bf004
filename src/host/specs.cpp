#include "host/specs.h"

#include <cstring>
#include <vector>

#include "util/atomic_file.h"
#include "util/rounding.h"

namespace tarvo {

TSpecs BuiltInDefaultSpecs() {
  TSpecs s;
  std::memset(&s, 0, sizeof s);
  s.Version = kSpecsVersion;
  s.Vmax = 255;
  s.Vwhite = 255;
  s.Gain = 100;
  s.Sat = 100;
  s.Knee = 100;
  s.Slope = 50;
  s.RGain = s.GGain = s.BGain = 100;
  s.NoiseMaskYOnly = 1;
  s.MaskRadius = 2;
  s.SharpRadius = 1;
  s.TempLimit = 50;
  s.TempResponse = 50;
  SetSceneName(s, "<none>");
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

// Steps 70 -> 71 -> 72 on a full-size record.
bool UpgradeFrom70(TSpecs& s) {
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

void From69(TSpecs& s) {
  s.Version = 70;
  s.Knee = static_cast<int16_t>(100 - s.Knee);
  SetSceneName(s, "<none>");
}

}  // namespace

bool UpgradeSpecs(TSpecs& s) {
  bool changed = false;
  if (s.Version == 69) {
    From69(s);
    changed = true;
  }
  return UpgradeFrom70(s) || changed;
}

bool UpgradeSpecs(Handle h, HostServices& host) {
  if (!h || !*h) return false;
  // A record the host made itself holds the protocol's 256 bytes; only our
  // own handles can be shorter, and only they can be grown.
  const int32_t size = UsableHandleSize(host, h, kSpecsSize);
  // Version sits in the first two bytes; an empty or one-byte block has none.
  if (size < 2) return false;
  int16_t version;
  std::memcpy(&version, *h, 2);
  if (version == 69) {
    // Older records were shorter than 256 bytes: grow the block first; the
    // new bytes are zero.
    if (size < kSpecsSize && !host.SetHandleSize(h, kSpecsSize)) return false;
    From69(*reinterpret_cast<TSpecs*>(*h));
    UpgradeFrom70(*reinterpret_cast<TSpecs*>(*h));
    return true;
  }
  if (version != 70 && version != 71) return false;
  if (size < kSpecsSize && !host.SetHandleSize(h, kSpecsSize)) return false;
  return UpgradeFrom70(*reinterpret_cast<TSpecs*>(*h));
}

std::string SceneNameOf(const TSpecs& s) {
  size_t n = s.SceneName[0];
  if (n > 31) n = 31;
  return std::string(reinterpret_cast<const char*>(s.SceneName + 1), n);
}

void SetSceneName(TSpecs& s, const std::string& bytes) {
  size_t n = bytes.size() > 31 ? 31 : bytes.size();
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

bool ReadSpecsFile(const std::string& path, TSpecs& out, std::string* error) {
  std::vector<uint8_t> bytes;
  if (!ReadWholeFile(path, bytes, error)) return false;
  if (bytes.size() != static_cast<size_t>(kSpecsSize)) {
    if (error)
      *error = "'" + path + "' is not a parameter record: it holds " + std::to_string(bytes.size()) +
               " bytes, a record is exactly 256";
    return false;
  }
  std::memcpy(&out, bytes.data(), kSpecsSize);
  return true;
}

bool WriteSpecsFile(const std::string& path, const TSpecs& specs, std::string* error) {
  return WriteFileAtomically(path, &specs, sizeof specs, error);
}

}  // namespace tarvo
