#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "types/specs.h"
#include "types/specs_fields.h"

namespace tarvo {
namespace {

// The built-in default record byte for byte: the stored format of every new
// clip, so it is written out here independently of the field table it is
// built from.
TEST(Specs, BuiltInDefaultRecordIsTheFixedImage) {
  uint8_t expected[256] = {};
  const std::pair<int, uint8_t> nonZero[] = {
      {0, 72},    // Version
      {4, 255},   // Vmax
      {26, 255},  // Vwhite
      {34, 100},  // Gain
      {40, 100},  // Sat
      {42, 100},  // Knee
      {44, 50},   // Slope
      {70, 100},  // RGain
      {72, 100},  // GGain
      {74, 100},  // BGain
      {104, 1},   // NoiseMaskYOnly
      {110, 2},   // MaskRadius
      {142, 1},   // SharpRadius
      {166, 50},  // TempLimit
      {168, 50},  // TempResponse
      {224, 6},   // SceneName: length, then "<none>"
      {225, '<'}, {226, 'n'}, {227, 'o'}, {228, 'n'}, {229, 'e'}, {230, '>'},
  };
  for (auto [offset, byte] : nonZero) expected[offset] = byte;
  const TSpecs s = BuiltInDefaultSpecs();
  const auto* actual = reinterpret_cast<const uint8_t*>(&s);
  for (int i = 0; i < 256; ++i) EXPECT_EQ(actual[i], expected[i]) << "byte " << i;
}

TEST(Specs, EqualityIgnoresDialogStateButSeesEveryByteFrom32To223) {
  const TSpecs a = BuiltInDefaultSpecs();
  TSpecs b = a;
  b.FramePos = 9; b.PageIndex = 3; b.UseMaster = 1; b.Vblack = 16; b.Vblank = 16; b.Vwhite = 235;
  b.Version = 70; b.MonitorView = 2; b.ChannelView = 1; b.Bypass = 1; b.BalanceLabels = 1; b.LastPart = 4;
  SetSceneName(b, "Evening");
  EXPECT_TRUE(SpecsEqual(a, b));
  for (int off : {32, 36, 100, 174, 223}) {
    TSpecs c = a;
    reinterpret_cast<uint8_t*>(&c)[off] ^= 1;
    EXPECT_FALSE(SpecsEqual(a, c)) << "offset " << off;
  }
  for (auto f : {&TSpecs::Vmin, &TSpecs::Vmax, &TSpecs::ProcMode, &TSpecs::TestSignal}) {
    TSpecs c = a;
    c.*f += 1;
    EXPECT_FALSE(SpecsEqual(a, c));
  }
}

TEST(Specs, Format69RecordPassesThroughEveryUpgrade) {
  TSpecs s{};
  s.Version = 69;
  s.Knee = 30;
  s.Slope = 7;
  s.YSharpness = 40;
  s.CSharpness = 1;  // selector: luminance only
  EXPECT_TRUE(UpgradeSpecs(s));
  EXPECT_EQ(s.Version, 72);
  EXPECT_EQ(s.Knee, 70);
  EXPECT_EQ(s.Slope, 50);
  EXPECT_EQ(SceneNameOf(s), "<none>");
  EXPECT_EQ(s.YSharpness, 40);
  EXPECT_EQ(s.CSharpness, 0);
  EXPECT_FALSE(UpgradeSpecs(s));
}

TEST(Specs, Format71ChannelSelectorsBecomeColourStrengths) {
  TSpecs s = BuiltInDefaultSpecs();
  s.Version = 71;
  s.YSharpness = 40; s.CSharpness = 2;          // colour only
  s.YDespeckle = 3; s.CDespeckle = 0;           // both
  s.TempYThreshold = 20; s.TempCThreshold = 7;  // unknown selector: kept
  EXPECT_TRUE(UpgradeSpecs(s));
  EXPECT_EQ(s.Version, 72);
  EXPECT_EQ(s.YSharpness, 0);
  EXPECT_EQ(s.CSharpness, 40);
  EXPECT_EQ(s.YDespeckle, 3);
  EXPECT_EQ(s.CDespeckle, 3);
  EXPECT_EQ(s.TempYThreshold, 20);
  EXPECT_EQ(s.TempCThreshold, 7);
}

TEST(Specs, CurrentAndUnknownVersionsAreNotTouched) {
  for (int16_t v : {72, 0, 68, 73, -1}) {
    TSpecs s = BuiltInDefaultSpecs();
    s.Version = v;
    TSpecs before = s;
    EXPECT_FALSE(UpgradeSpecs(s));
    EXPECT_EQ(std::memcmp(&s, &before, sizeof s), 0);
  }
}

TEST(Specs, DerivedValuesRoundHalvesToEvenOnExtendedIntermediates) {
  const std::pair<int, int> gains[] = {{-100, -256}, {-50, -224}, {-25, -148}, {-10, -69}, {-1, -8}, {0, 0},
                                       {1, 8},       {10, 85},    {25, 244},   {50, 608},   {75, 1116}, {100, 1792}};
  for (auto [setting, gain] : gains) EXPECT_EQ(SharpGainOf(setting), gain) << setting;

  TSpecs s = BuiltInDefaultSpecs();
  const std::pair<int, int> levels[] = {{10, 26}, {30, 76}, {50, 128}, {70, 178}, {90, 230}, {100, 255}};
  for (auto [ld, lv] : levels) {
    s.LevelDepend = static_cast<int16_t>(ld);
    EXPECT_EQ(ComputeDerived(s).LevelDependLevel, lv) << ld;
  }
  s.Vmin = 16; s.Vmax = 235; s.Vblack = 16;
  s.MedianLimit = 50;  // 2500 * 219 * 0.0001 = 54.75
  TDerived d = ComputeDerived(s);
  EXPECT_EQ(d.Range, 219);
  EXPECT_EQ(d.MedianMaxStep, 55);
  EXPECT_EQ(d.PeakSpan[0], 219 * 4);
  EXPECT_EQ(d.PeakSpan[3], 219 * 12);
  s.MedianThreshold = 33;
  EXPECT_EQ(MedianStepThreshold(s, d), 33 * 219 / 100);
  // The square is a 16-bit product: 200^2 = 40000 wraps to -25536.
  s.MedianLimit = 200; s.Vmin = 0; s.Vmax = 255;
  EXPECT_EQ(ComputeDerived(s).MedianMaxStep, -651);  // -25536 * 255 * 0.0001 = -651.168
}

TEST(SpecsFields, AssignmentsAreCheckedAgainstTheFieldsRange) {
  TSpecs s = BuiltInDefaultSpecs();
  std::string err;
  EXPECT_TRUE(ApplyFieldAssignment(s, "Gain=400", &err)) << err;
  EXPECT_EQ(s.Gain, 400);
  EXPECT_TRUE(ApplyFieldAssignment(s, "ProcMode=420", &err)) << err;
  EXPECT_EQ(s.ProcMode, 2);
  EXPECT_TRUE(ApplyFieldAssignment(s, "TestSignal=+3", &err)) << err;
  EXPECT_EQ(s.TestSignal, 3);
  EXPECT_TRUE(ApplyFieldAssignment(s, "Lift=-100", &err));
  EXPECT_FALSE(ApplyFieldAssignment(s, "Lift=-101", &err));
  EXPECT_NE(err.find("between -100 and 100"), std::string::npos);
  EXPECT_FALSE(ApplyFieldAssignment(s, "ProcMode=4", &err));
  EXPECT_FALSE(ApplyFieldAssignment(s, "ProcMode=422x", &err));
  EXPECT_FALSE(ApplyFieldAssignment(s, "Lfit=3", &err));
  EXPECT_FALSE(ApplyFieldAssignment(s, "Sat=abc", &err));
  EXPECT_FALSE(ApplyFieldAssignment(s, "Sat", &err));
  EXPECT_EQ(s.Sat, 100);
  EXPECT_EQ(s.Lift, -100);
  EXPECT_EQ(s.ProcMode, 2);
}

TEST(SpecsFields, SceneNamesUpToTheLimitAreTakenLongerOnesRefused) {
  TSpecs s = BuiltInDefaultSpecs();
  std::string err;
  const std::string longest(31, 'A');
  EXPECT_TRUE(ApplyFieldAssignment(s, "SceneName=" + longest, &err)) << err;
  EXPECT_EQ(SceneNameOf(s), longest);
  EXPECT_FALSE(ApplyFieldAssignment(s, "SceneName=" + longest + "B", &err));
  EXPECT_NE(err.find("31"), std::string::npos) << err;
  EXPECT_EQ(SceneNameOf(s), longest);
  // Setting a longer name directly keeps its first 31 bytes.
  SetSceneName(s, longest + "BC");
  EXPECT_EQ(SceneNameOf(s), longest);
}

TEST(SpecsFields, ChoiceNamesAndValuesReadBothWays) {
  const SpecsField& proc = *FindSpecsField("ProcMode");
  EXPECT_EQ(ChoiceName(proc, 3), "411");
  EXPECT_EQ(ChoiceName(proc, 4), "");
  EXPECT_EQ(ChoiceName(proc, -1), "");
  EXPECT_EQ(ChoiceValue(proc, "422"), std::optional<int16_t>(1));
  EXPECT_EQ(ChoiceValue(proc, "4:2:2"), std::nullopt);
  EXPECT_EQ(ChoiceListText(proc), "0 444, 1 422, 2 420, 3 411");
  EXPECT_EQ(ChoiceListText(*FindSpecsField("ChannelView")), "0 all, 1 luma, 2 chroma");
  const SpecsField& gain = *FindSpecsField("Gain");
  EXPECT_EQ(ChoiceName(gain, 0), "");
  EXPECT_EQ(ChoiceListText(gain), "");
}

}  // namespace
}  // namespace tarvo
