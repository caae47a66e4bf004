// TSpecs: the 256-byte per-clip parameter record. The host stores it in its
// projects and the scene file stores copies, so the layout below is a storage
// format: every offset and reserved gap is fixed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tarvo {

constexpr int16_t kSpecsVersion = 72;
constexpr int32_t kSpecsSize = 256;

// A record of a format newer than this version knows: its fields are used
// where this version has them, but it is never written back.
constexpr bool IsNewerSpecsVersion(int16_t version) { return version > kSpecsVersion; }

#pragma pack(push, 1)
struct TSpecs {
  int16_t Version;         // 72 current; 69..71 older; 0 never filled
  int16_t Vmin;            // output floor
  int16_t Vmax;            // output ceiling
  int16_t PageIndex;       // dialog page last shown
  int16_t ProcMode;        // 0 4:4:4, 1 4:2:2, 2 4:2:0, 3 4:1:1
  int16_t MonitorView;     // 0 picture, 1 waveform, 2 vectorscope
  int16_t ChannelView;     // 0 all, 1 luminance only, 2 colour only
  int16_t Bypass;
  int16_t TestSignal;      // 0 off .. 7 PLUGE type 2
  int16_t BalanceLabels;
  int16_t Vblack;
  int16_t UseMaster;
  int16_t Vblank;
  int16_t Vwhite;
  int16_t FramePos;
  int16_t LastPart;
  int16_t Lift;            // -100..100
  int16_t Gain;            // 0..800 percent
  uint8_t Reserved36[2];
  int16_t Gamma;           // negated bar position
  int16_t Sat;
  int16_t Knee;
  int16_t Slope;
  uint8_t Reserved46[18];
  int16_t RLift;
  int16_t GLift;
  int16_t BLift;
  int16_t RGain;
  int16_t GGain;
  int16_t BGain;
  int16_t RGamma;
  int16_t GGamma;
  int16_t BGamma;
  uint8_t Reserved82[14];
  int16_t YDespeckle;
  int16_t CDespeckle;
  uint8_t Reserved100[2];
  int16_t NoiseMask;
  int16_t NoiseMaskYOnly;
  int16_t NoiseShowMask;
  int16_t NoiseSmooth;
  int16_t MaskRadius;
  uint8_t Reserved112[2];
  int16_t MedianLimit;
  int16_t MedianThreshold;
  int16_t MedianWhen;      // bit 0 before, bit 1 after
  int16_t MedianWeighted;
  uint8_t Reserved122[6];
  int16_t YSharpness;
  int16_t CSharpness;
  int16_t SharpShowEdges;
  int16_t SharpMask;
  uint8_t Reserved136[2];
  int16_t SharpShowMask;
  int16_t SharpSmooth;
  int16_t SharpRadius;
  int16_t LevelDepend;
  uint8_t Reserved146[14];
  int16_t TempYThreshold;
  int16_t TempRecursion;
  int16_t TempOnset;
  int16_t TempLimit;
  int16_t TempResponse;
  int16_t TempFlags;       // bit 0 motion detection, bit 1 smoothing
  int16_t TempCThreshold;
  uint8_t Reserved174[50];
  uint8_t SceneName[32];   // length byte, then up to 31 characters
};
#pragma pack(pop)

static_assert(sizeof(TSpecs) == kSpecsSize);
static_assert(offsetof(TSpecs, Version) == 0);
static_assert(offsetof(TSpecs, Vmin) == 2);
static_assert(offsetof(TSpecs, Vmax) == 4);
static_assert(offsetof(TSpecs, PageIndex) == 6);
static_assert(offsetof(TSpecs, ProcMode) == 8);
static_assert(offsetof(TSpecs, MonitorView) == 10);
static_assert(offsetof(TSpecs, ChannelView) == 12);
static_assert(offsetof(TSpecs, Bypass) == 14);
static_assert(offsetof(TSpecs, TestSignal) == 16);
static_assert(offsetof(TSpecs, BalanceLabels) == 18);
static_assert(offsetof(TSpecs, Vblack) == 20);
static_assert(offsetof(TSpecs, UseMaster) == 22);
static_assert(offsetof(TSpecs, Vblank) == 24);
static_assert(offsetof(TSpecs, Vwhite) == 26);
static_assert(offsetof(TSpecs, FramePos) == 28);
static_assert(offsetof(TSpecs, LastPart) == 30);
static_assert(offsetof(TSpecs, Lift) == 32);
static_assert(offsetof(TSpecs, Gain) == 34);
static_assert(offsetof(TSpecs, Gamma) == 38);
static_assert(offsetof(TSpecs, Sat) == 40);
static_assert(offsetof(TSpecs, Knee) == 42);
static_assert(offsetof(TSpecs, Slope) == 44);
static_assert(offsetof(TSpecs, RLift) == 64);
static_assert(offsetof(TSpecs, GLift) == 66);
static_assert(offsetof(TSpecs, BLift) == 68);
static_assert(offsetof(TSpecs, RGain) == 70);
static_assert(offsetof(TSpecs, GGain) == 72);
static_assert(offsetof(TSpecs, BGain) == 74);
static_assert(offsetof(TSpecs, RGamma) == 76);
static_assert(offsetof(TSpecs, GGamma) == 78);
static_assert(offsetof(TSpecs, BGamma) == 80);
static_assert(offsetof(TSpecs, YDespeckle) == 96);
static_assert(offsetof(TSpecs, CDespeckle) == 98);
static_assert(offsetof(TSpecs, NoiseMask) == 102);
static_assert(offsetof(TSpecs, NoiseMaskYOnly) == 104);
static_assert(offsetof(TSpecs, NoiseShowMask) == 106);
static_assert(offsetof(TSpecs, NoiseSmooth) == 108);
static_assert(offsetof(TSpecs, MaskRadius) == 110);
static_assert(offsetof(TSpecs, MedianLimit) == 114);
static_assert(offsetof(TSpecs, MedianThreshold) == 116);
static_assert(offsetof(TSpecs, MedianWhen) == 118);
static_assert(offsetof(TSpecs, MedianWeighted) == 120);
static_assert(offsetof(TSpecs, YSharpness) == 128);
static_assert(offsetof(TSpecs, CSharpness) == 130);
static_assert(offsetof(TSpecs, SharpShowEdges) == 132);
static_assert(offsetof(TSpecs, SharpMask) == 134);
static_assert(offsetof(TSpecs, SharpShowMask) == 138);
static_assert(offsetof(TSpecs, SharpSmooth) == 140);
static_assert(offsetof(TSpecs, SharpRadius) == 142);
static_assert(offsetof(TSpecs, LevelDepend) == 144);
static_assert(offsetof(TSpecs, TempYThreshold) == 160);
static_assert(offsetof(TSpecs, TempRecursion) == 162);
static_assert(offsetof(TSpecs, TempOnset) == 164);
static_assert(offsetof(TSpecs, TempLimit) == 166);
static_assert(offsetof(TSpecs, TempResponse) == 168);
static_assert(offsetof(TSpecs, TempFlags) == 170);
static_assert(offsetof(TSpecs, TempCThreshold) == 172);
static_assert(offsetof(TSpecs, SceneName) == 224);

// The scene name: a length byte, then at most this many bytes of text
// (Windows-1252); the name "<none>" means no scene.
constexpr size_t kSceneNameMax = sizeof(TSpecs::SceneName) - 1;
inline constexpr char kNoSceneName[] = "<none>";

// The record new clips start from, as built into the filter: Version 72, each
// field's default from the field table, "<none>" as scene name and zero
// everywhere else.
TSpecs BuiltInDefaultSpecs();

// True when Vmin, Vmax, ProcMode and TestSignal are equal and bytes 32..223
// are identical. Everything else (dialog state, preference levels, frame
// position, master link and scene name) is ignored.
bool SpecsEqual(const TSpecs& a, const TSpecs& b);

// Brings a full 256-byte record of format 69, 70 or 71 up to 72, step by
// step. Returns true when anything changed; false without change for any
// other version. (A clip's record handle, which may be shorter, is upgraded
// by the host layer, which can grow it.)
bool UpgradeSpecs(TSpecs& specs);
// The single steps, for a record whose block has already been made full size:
// 69 -> 70 (Knee inverted, scene name reset), then 70 -> 71 -> 72.
void UpgradeSpecsFrom69(TSpecs& specs);
bool UpgradeSpecsFrom70(TSpecs& specs);

// Scene name as a length-prefixed string (length byte, up to kSceneNameMax
// bytes). SetSceneName keeps the first kSceneNameMax bytes of a longer text.
std::string SceneNameOf(const TSpecs& s);
void SetSceneName(TSpecs& s, const std::string& bytes);

// Values computed from the record before each processing run.
struct TDerived {
  int32_t Range = 0;            // Vmax - Vmin
  int32_t PeakSpan[4] = {};     // (Vmax - Vblack) times 4, 6, 8, 12
  int32_t YSharpGain = 0;       // 0 = no luminance sharpening
  int32_t CSharpGain = 0;       // 0 = no colour sharpening
  int32_t LevelDependLevel = 0;
  int32_t MedianMaxStep = 0;    // 0 = median passes off
};
TDerived ComputeDerived(const TSpecs& s);

// The sharpening gain of one sharpness setting (-100..100).
int32_t SharpGainOf(int32_t sharpness);
// MedianThreshold * Range div 100, the threshold handed to the median stages.
int32_t MedianStepThreshold(const TSpecs& s, const TDerived& d);

}  // namespace tarvo
