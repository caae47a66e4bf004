// TSpecs: the 256-byte per-clip parameter record. The host stores it in its
// projects and the scene file stores copies, so the layout below is a storage
// format: every offset and reserved gap is fixed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/host_services.h"

namespace tarvo {

constexpr int16_t kSpecsVersion = 72;
constexpr int32_t kSpecsSize = 256;

// A record of a format newer than this version knows: its fields are used
// where this version has them, but it is never written back.
constexpr bool IsNewerSpecsVersion(int16_t version) { return version > kSpecsVersion; }

#pragma pack(push, 1)
struct TSpecs {
  int16_t Version;         // 0   72 current; 69..71 older; 0 never filled
  int16_t Vmin;            // 2   output floor
  int16_t Vmax;            // 4   output ceiling
  int16_t PageIndex;       // 6   dialog page last shown
  int16_t ProcMode;        // 8   0 4:4:4, 1 4:2:2, 2 4:2:0, 3 4:1:1
  int16_t MonitorView;     // 10  0 picture, 1 waveform, 2 vectorscope
  int16_t ChannelView;     // 12  0 all, 1 luminance only, 2 colour only
  int16_t Bypass;          // 14
  int16_t TestSignal;      // 16  0 off .. 7 PLUGE type 2
  int16_t BalanceLabels;   // 18
  int16_t Vblack;          // 20
  int16_t UseMaster;       // 22
  int16_t Vblank;          // 24
  int16_t Vwhite;          // 26
  int16_t FramePos;        // 28
  int16_t LastPart;        // 30
  int16_t Lift;            // 32  -100..100
  int16_t Gain;            // 34  0..800 percent
  uint8_t Reserved36[2];   // 36
  int16_t Gamma;           // 38  negated bar position
  int16_t Sat;             // 40
  int16_t Knee;            // 42
  int16_t Slope;           // 44
  uint8_t Reserved46[18];  // 46
  int16_t RLift;           // 64
  int16_t GLift;           // 66
  int16_t BLift;           // 68
  int16_t RGain;           // 70
  int16_t GGain;           // 72
  int16_t BGain;           // 74
  int16_t RGamma;          // 76
  int16_t GGamma;          // 78
  int16_t BGamma;          // 80
  uint8_t Reserved82[14];  // 82
  int16_t YDespeckle;      // 96
  int16_t CDespeckle;      // 98
  uint8_t Reserved100[2];  // 100
  int16_t NoiseMask;       // 102
  int16_t NoiseMaskYOnly;  // 104
  int16_t NoiseShowMask;   // 106
  int16_t NoiseSmooth;     // 108
  int16_t MaskRadius;      // 110
  uint8_t Reserved112[2];  // 112
  int16_t MedianLimit;     // 114
  int16_t MedianThreshold; // 116
  int16_t MedianWhen;      // 118 bit 0 before, bit 1 after
  int16_t MedianWeighted;  // 120
  uint8_t Reserved122[6];  // 122
  int16_t YSharpness;      // 128
  int16_t CSharpness;      // 130
  int16_t SharpShowEdges;  // 132
  int16_t SharpMask;       // 134
  uint8_t Reserved136[2];  // 136
  int16_t SharpShowMask;   // 138
  int16_t SharpSmooth;     // 140
  int16_t SharpRadius;     // 142
  int16_t LevelDepend;     // 144
  uint8_t Reserved146[14]; // 146
  int16_t TempYThreshold;  // 160
  int16_t TempRecursion;   // 162
  int16_t TempOnset;       // 164
  int16_t TempLimit;       // 166
  int16_t TempResponse;    // 168
  int16_t TempFlags;       // 170 bit 0 motion detection, bit 1 smoothing
  int16_t TempCThreshold;  // 172
  uint8_t Reserved174[50]; // 174
  uint8_t SceneName[32];   // 224 length byte, then up to 31 characters
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

// The record new clips start from, as built into the filter: Version 72, the
// documented defaults, "<none>" as scene name and zero everywhere else.
TSpecs BuiltInDefaultSpecs();

// True when Vmin, Vmax, ProcMode and TestSignal are equal and bytes 32..223
// are identical. Everything else (dialog state, preference levels, frame
// position, master link and scene name) is ignored.
bool SpecsEqual(const TSpecs& a, const TSpecs& b);

// Brings a record of format 69, 70 or 71 up to 72, step by step. A format-69
// record is shorter than 256 bytes; its handle is grown with SetHandleSize.
// Returns true when anything changed. Returns false without change for any
// other version, and when the handle cannot be grown (out of memory).
bool UpgradeSpecs(Handle specs, HostServices& host);
// The same on a full 256-byte image (scene records).
bool UpgradeSpecs(TSpecs& specs);

// Scene name as a length-prefixed string (length byte, up to 31 bytes).
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

// Reading and writing a record file of exactly 256 bytes. Errors (missing
// file, wrong size, write failure) come back as a message; the record is not
// changed on failure. Writing is atomic (temporary file, then rename).
bool ReadSpecsFile(const std::string& path, TSpecs& out, std::string* error);
bool WriteSpecsFile(const std::string& path, const TSpecs& specs, std::string* error);

}  // namespace tarvo
