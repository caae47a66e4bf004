#include <set>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

#include "types/specs_fields.h"
#include "ui/logic/control_table.h"

namespace tarvo::ui {
namespace {

struct BarRow {
  std::string_view name;
  int min, max, page, def;
  char readout;
  std::string_view label;
  bool level;
};

// The sliders of the seven pages as the dialog shows them, written out here
// independently of the field table the control table takes them from.
constexpr BarRow kBars[] = {
    {"LiftBar", -100, 100, 10, 0, 'I', "LiftLabel", true},
    {"GainBar", 0, 200, 10, 100, 'P', "GainLabel", true},
    {"GammaBar", -100, 100, 10, 0, 'G', "GammaLabel", true},
    {"KneeBar", 0, 100, 10, 100, 'I', "KneeLabel", true},
    {"SlopeBar", 0, 100, 10, 50, 'P', "SlopeLabel", true},
    {"SatBar", 0, 200, 10, 100, 'P', "SatLabel", true},
    {"RLiftBar", -100, 100, 10, 0, 'I', "RLiftLabel", true},
    {"GLiftBar", -100, 100, 10, 0, 'I', "GLiftLabel", true},
    {"BLiftBar", -100, 100, 10, 0, 'I', "BLiftLabel", true},
    {"RGainBar", 0, 200, 10, 100, 'P', "RGainLabel", true},
    {"GGainBar", 0, 200, 10, 100, 'P', "GGainLabel", true},
    {"BGainBar", 0, 200, 10, 100, 'P', "BGainLabel", true},
    {"RGammaBar", -100, 100, 10, 0, 'G', "RGammaLabel", true},
    {"GGammaBar", -100, 100, 10, 0, 'G', "GGammaLabel", true},
    {"BGammaBar", -100, 100, 10, 0, 'G', "BGammaLabel", true},
    {"YSharpnessBar", -100, 100, 10, 0, 'I', "YSharpnessLabel", false},
    {"CSharpnessBar", -100, 100, 10, 0, 'I', "CSharpnessLabel", false},
    {"SharpMaskBar", 0, 4, 1, 0, 'I', "SharpMaskLabel", false},
    {"SharpSmoothBar", -100, 100, 10, 0, 'I', "SharpSmoothLabel", false},
    {"SharpRadiusBar", 1, 3, 1, 1, 'I', "SharpRadiusLabel", false},
    {"LevelDependBar", 0, 100, 10, 0, 'I', "LevelDependLabel", false},
    {"TempYThresholdBar", 0, 100, 10, 0, 'I', "TempYThresholdLabel", false},
    {"TempCThresholdBar", 0, 100, 10, 0, 'I', "TempCThresholdLabel", false},
    {"TempRecursionBar", 0, 100, 10, 0, 'R', "TempRecursionLabel", false},
    {"TempOnsetBar", 0, 100, 10, 0, 'I', "TempOnsetLabel", false},
    {"TempLimitBar", 0, 100, 10, 50, 'I', "TempLimitLabel", false},
    {"TempResponseBar", 0, 100, 10, 50, 'I', "TempResponseLabel", false},
    {"YDespeckleBar", 0, 4, 1, 0, 'I', "YDespeckleLabel", false},
    {"CDespeckleBar", 0, 4, 1, 0, 'I', "CDespeckleLabel", false},
    {"NoiseMaskBar", 0, 4, 1, 0, 'I', "NoiseMaskLabel", false},
    {"NoiseSmoothBar", -100, 100, 10, 0, 'I', "NoiseSmoothLabel", false},
    {"MaskRadiusBar", 1, 3, 1, 2, 'I', "MaskRadiusLabel", false},
    {"MedianLimitBar", 0, 100, 10, 0, 'I', "MedianLimitLabel", false},
    {"MedianThresholdBar", 0, 100, 10, 0, 'I', "MedianThresholdLabel", false},
};

TEST(ControlTable, EverySliderHasItsRangePageDefaultAndReadout) {
  int bars = 0;
  for (const ControlEntry& c : ControlEntries()) bars += c.kind == ControlKind::Bar && c.name != "FrameBar";
  EXPECT_EQ(bars, static_cast<int>(std::size(kBars)));
  for (const BarRow& row : kBars) {
    SCOPED_TRACE(std::string(row.name));
    const ControlEntry* c = FindControlEntry(row.name);
    ASSERT_NE(c, nullptr);
    ASSERT_EQ(c->kind, ControlKind::Bar);
    const BarRange r = BarRangeOf(*c);
    EXPECT_EQ(r.min, row.min);
    EXPECT_EQ(r.max, row.max);
    EXPECT_EQ(r.pageSize, row.page);
    EXPECT_EQ(r.def, row.def);
    EXPECT_EQ(static_cast<char>(c->readout), row.readout);
    EXPECT_EQ(c->readoutLabel, row.label);
    EXPECT_EQ(c->levelControl, row.level);
    EXPECT_NE(FindControlEntry(row.label), nullptr);
  }
}

TEST(ControlTable, HelpContextsComeFromTheControlOrItsNearestParent) {
  const std::pair<std::string_view, int> expected[] = {
      {"TSetup", 10000},          {"HelpButton", 10000},         {"UseMasterButton", 10101},
      {"UseIndividualButton", 12100}, {"SceneBox", 12100},       {"AMon", 11100},
      {"YOnlyButton", 11100},     {"PixButton", 11100},          {"FrameBar", 11200},
      {"FirstButton", 11200},     {"PreviewBox", 11300},         {"OkButton", 11400},
      {"CancelButton", 11400},    {"StatusBar1", 11400},         {"PopupMenu1", 11400},
      {"PageControl1", 11400},    {"FinalModeButton", 11500},    {"CBButton0", 12000},
      {"WBButton1", 12000},       {"BBButton2", 12000},          {"LiftBar", 12210},
      {"GainX4", 12220},          {"GammaLabel", 12230},         {"SlopeBar", 12240},
      {"SatBar", 12250},          {"RLiftBar", 12310},           {"GGainBar", 12320},
      {"BGammaBar", 12330},       {"YSharpnessBar", 12400},      {"LevelDependBar", 12400},
      {"SharpShowMaskBox", 12450}, {"NoiseShowMaskBox", 12450},  {"MaskRadiusBar", 12450},
      {"TempMotionBox", 12510},   {"TempRecursionBar", 12510},   {"MedianAfterBox", 12520},
      {"YDespeckleBar", 12520},   {"VminEdit", 12600},           {"Pm411Button", 12600},
      {"PreferButton", 12610},    {"SetDefaultsButton", 12600},  {"TestModeBox", 12620},
      {"Pluge2Button", 12620},    {"VersionLabel", 12700},
  };
  for (auto [name, context] : expected) EXPECT_EQ(DesignHelpContextOf(name), context) << name;
}

// Each control names a real field and, for a radio button, a value the field
// can hold; every setting a user edits has a control.
TEST(ControlTable, FieldsExistAndEveryUserSettingHasAControl) {
  std::set<std::string_view> mapped;
  for (const ControlEntry& c : ControlEntries()) {
    if (c.field.empty()) continue;
    const SpecsField* f = FieldOf(c);
    ASSERT_NE(f, nullptr) << c.name << " names " << c.field;
    if (c.map == FieldMap::Value) {
      EXPECT_GE(c.value, f->min) << c.name;
      EXPECT_LE(c.value, f->max) << c.name;
    }
    mapped.insert(f->name);
  }
  for (const SpecsField& f : SpecsFields())
    if (f.kind != FieldKind::Internal) {
      EXPECT_TRUE(mapped.count(f.name)) << f.name << " has no control";
    }
  for (std::string_view dialogField : {"PageIndex", "MonitorView", "Bypass", "FramePos"})
    EXPECT_TRUE(mapped.count(dialogField)) << dialogField;
}

TEST(ControlTable, PagesAndGroupsInTabOrder) {
  const std::string_view pages[] = {"ScenesSheet",  "LevelsSheet",   "ColourSheet", "SharpnessSheet",
                                    "TemporalSheet", "SpatialSheet", "SettingsSheet", "AboutSheet"};
  ASSERT_EQ(PageNames().size(), std::size(pages));
  for (size_t i = 0; i < std::size(pages); ++i) {
    EXPECT_EQ(PageNames()[i], pages[i]);
    EXPECT_EQ(FindControlEntry(pages[i])->parent, "PageControl1");
  }
  EXPECT_EQ(FindControlEntry("LiftGroupBox")->caption, " Lift ");
  EXPECT_EQ(FindControlEntry("NoiseMaskYUVButton")->caption, "Y && C");
  EXPECT_EQ(FindControlEntry(PatternButtons()[4])->caption, "Sawtooth");
  EXPECT_EQ(ControlIndex("NoSuchControl"), -1);
}

}  // namespace
}  // namespace tarvo::ui
