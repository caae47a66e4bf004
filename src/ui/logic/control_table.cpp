#include "ui/logic/control_table.h"

#include <array>
#include <string>
#include <unordered_map>

namespace tarvo::ui {
namespace {

using K = ControlKind;
using M = FieldMap;
using R = ReadoutCode;

// Any control that is not a slider.
constexpr ControlEntry Item(std::string_view name, ControlKind kind, std::string_view parent,
                           std::string_view caption = {}, std::string_view hint = {}, int32_t help = 0,
                           std::string_view field = {}, FieldMap map = M::None, int16_t value = 0) {
  return ControlEntry{name, kind, parent, caption, hint, help, field, map, value,
                     false, 0, 0, 0, 0, R::None, {}, false};
}

// A slider whose range and default are its field's (negated for the gamma
// sliders).
constexpr ControlEntry Bar(std::string_view name, std::string_view parent, std::string_view rowCaption,
                          std::string_view field, FieldMap map, int16_t pageSize, ReadoutCode readout,
                          std::string_view label, bool level, std::string_view hint) {
  return ControlEntry{name, K::Bar, parent, rowCaption, hint, 0, field, map, 0,
                     false, 0, 0, 0, pageSize, readout, label, level};
}

// A slider with a range of its own.
constexpr ControlEntry OwnBar(std::string_view name, std::string_view parent, std::string_view field, FieldMap map,
                             int16_t min, int16_t max, int16_t def, int16_t pageSize, ReadoutCode readout,
                             std::string_view label, bool level, std::string_view hint) {
  return ControlEntry{name, K::Bar, parent, {}, hint, 0, field, map, 0,
                     true, min, max, def, pageSize, readout, label, level};
}

constexpr std::string_view kSameHint = "Set threshold for application of smoothing between successive frames";

constexpr std::array kControls = {
    // The form and its areas.
    Item("TSetup", K::Form, "", "Tarvo", {}, kFormHelpContext),
    Item("AMon", K::Panel, "TSetup", {}, {}, 11100),
    Item("AGraph", K::Image, "AMon"),
    Item("AScreen", K::Panel, "AMon"),
    Item("BMon", K::Panel, "TSetup", {}, {}, 11100),
    Item("BGraph", K::Image, "BMon"),
    Item("BScreen", K::Panel, "BMon"),
    Item("MMon", K::Panel, "TSetup", {}, {}, 11100),
    Item("MGraph", K::Image, "MMon"),
    Item("MScreen", K::Panel, "MMon"),
    Item("YOnlyButton", K::KeyButton, "MMon", {}, {}, 0, "ChannelView", M::Value, 1),
    Item("COnlyButton", K::KeyButton, "MMon", {}, {}, 0, "ChannelView", M::Value, 2),
    Item("BypassButton", K::KeyButton, "MMon", {}, "Bypass processing, show original signal", 0, "Bypass", M::Flag),
    Item("TopLabel", K::Label, "MMon", "R"),
    Item("TopVal", K::Label, "MMon"),
    Item("MidLabel", K::Label, "MMon", "G"),
    Item("MidVal", K::Label, "MMon"),
    Item("BotLabel", K::Label, "MMon", "B"),
    Item("BotVal", K::Label, "MMon"),
    Item("WFButton", K::KeyButton, "MMon", {}, {}, 0, "MonitorView", M::Value, 1),
    Item("VSButton", K::KeyButton, "MMon", {}, {}, 0, "MonitorView", M::Value, 2),
    Item("PixButton", K::KeyButton, "MMon", {}, {}, 0, "MonitorView", M::Value, 0),
    Item("Panel4", K::Panel, "TSetup", {}, {}, 11200),
    Item("FirstButton", K::KeyButton, "Panel4", {}, "Go to first frame of clip"),
    OwnBar("FrameBar", "Panel4", "FramePos", M::Position, 0, 0, 0, 0, R::None, {}, false,
           "Choose frame for monitoring above"),
    Item("LastButton", K::KeyButton, "Panel4", {}, "Go to last frame of clip"),
    Item("PageControl1", K::PageControl, "TSetup", {}, {}, 11400, "PageIndex", M::PageName),
    Item("PreviewBox", K::CheckBox, "TSetup", "Preview", "Show preview of selected frame", 11300),
    Item("HelpButton", K::Button, "TSetup", "Help", {}, kFormHelpContext),
    Item("CancelButton", K::Button, "TSetup", "Cancel", {}, 11400),
    Item("OkButton", K::Button, "TSetup", "OK", {}, 11400),
    Item("StatusBar1", K::StatusBar, "TSetup", "Press F1 key for context sensitive help", {}, 11400),
    Item("Panel10", K::Panel, "TSetup", {}, {}, 11500),
    Item("BypassModeButton", K::RadioButton, "Panel10", "Bypass"),
    Item("DraftModeButton", K::RadioButton, "Panel10", "Draft"),
    Item("FinalModeButton", K::RadioButton, "Panel10", "Final"),
    Item("Timer1", K::Timer, "TSetup"),
    Item("PopupMenu1", K::PopupMenu, "TSetup", {}, {}, 11400),

    // Scenes page.
    Item("ScenesSheet", K::Page, "PageControl1", "Scenes", {}, 12100),
    Item("ScenePresetsGroupBox", K::Group, "ScenesSheet", " Scene Presets "),
    Item("SceneBox", K::ComboBox, "ScenePresetsGroupBox", {}, "Use this list to load settings from a chosen saved scene"),
    Item("UseMasterButton", K::RadioButton, "ScenePresetsGroupBox", "Use chosen scene as master for this clip",
         "Changes to the saved scene will affect this clip", 10101, "UseMaster", M::Value, 1),
    Item("UseIndividualButton", K::RadioButton, "ScenePresetsGroupBox", "Store clip settings independently of scene",
         "Changes to the saved scene will NOT affect this clip", 0, "UseMaster", M::Value, 0),
    Item("DefaultSceneCaption", K::Label, "ScenePresetsGroupBox", "Default Scene"),
    Item("DefaultSceneLabel", K::Label, "ScenePresetsGroupBox"),
    Item("SceneDefaultButton", K::Button, "ScenePresetsGroupBox", "Set Default", "Set default scene preset"),
    Item("SceneDeleteButton", K::Button, "ScenePresetsGroupBox", "Delete", "Delete current scene preset"),
    Item("SceneSaveButton", K::Button, "ScenePresetsGroupBox", "Save As", "Save current settings as a scene preset"),
    Item("ScenesBalancePanel", K::Panel, "ScenesSheet", {}, {}, 12000),
    Item("BBButton0", K::KeyButton, "ScenesBalancePanel", {}, "Point-&-click black balance - sets lifts", 0, "Bypass", M::Flag),
    Item("WBButton0", K::KeyButton, "ScenesBalancePanel", {}, "Point-&-click white balance - sets gains", 0, "Bypass", M::Flag),
    Item("CBButton0", K::KeyButton, "ScenesBalancePanel", {}, "Point-&-click colour balance - sets gains", 0, "Bypass", M::Flag),
    Item("GBButton0", K::KeyButton, "ScenesBalancePanel", {}, "Point-&-click gamma balance - sets gammas"),

    // Levels page.
    Item("LevelsSheet", K::Page, "PageControl1", "Levels", {}, 12200),
    Item("LiftGroupBox", K::Group, "LevelsSheet", " Lift ", {}, 12210),
    Bar("LiftBar", "LiftGroupBox", {}, "Lift", M::Position, 10, R::I, "LiftLabel", true,
        "Adjust black level by applying an offset"),
    Item("LiftLabel", K::Label, "LiftGroupBox"),
    Item("GainGroupBox", K::Group, "LevelsSheet", " Gain ", {}, 12220),
    OwnBar("GainBar", "GainGroupBox", "Gain", M::GainPosition, 0, 200, 100, 10, R::P, "GainLabel", true,
           "Adjust video amplitude"),
    Item("GainLabel", K::Label, "GainGroupBox"),
    Item("GainX1", K::RadioButton, "GainGroupBox", "x1", "Video amplitude multiplier", 0, "Gain", M::Multiplier, 1),
    Item("GainX2", K::RadioButton, "GainGroupBox", "x2", "Video amplitude multiplier", 0, "Gain", M::Multiplier, 2),
    Item("GainX4", K::RadioButton, "GainGroupBox", "x4", "Video amplitude multiplier", 0, "Gain", M::Multiplier, 4),
    Item("GammaGroupBox", K::Group, "LevelsSheet", " Gamma ", {}, 12230),
    Bar("GammaBar", "GammaGroupBox", {}, "Gamma", M::NegatedPosition, 10, R::G, "GammaLabel", true,
        "Adjust mid tones by varying signal linearity"),
    Item("GammaLabel", K::Label, "GammaGroupBox"),
    Item("KneeGroupBox", K::Group, "LevelsSheet", " Knee ", {}, 12240),
    Bar("KneeBar", "KneeGroupBox", {}, "Knee", M::Position, 10, R::I, "KneeLabel", true,
        "Set signal threshold above which gain limiting is applied"),
    Item("KneeLabel", K::Label, "KneeGroupBox"),
    Bar("SlopeBar", "KneeGroupBox", "Slope", "Slope", M::Position, 10, R::P, "SlopeLabel", true,
        "Sets the slope of gain limiting above Knee threshold"),
    Item("SlopeLabel", K::Label, "KneeGroupBox"),
    Item("SatGroupBox", K::Group, "LevelsSheet", " Saturation ", {}, 12250),
    Bar("SatBar", "SatGroupBox", {}, "Sat", M::Position, 10, R::P, "SatLabel", true, "Adjust overall colour content"),
    Item("SatLabel", K::Label, "SatGroupBox"),
    Item("LevelsBalancePanel", K::Panel, "LevelsSheet", {}, {}, 12000),
    Item("BBButton1", K::KeyButton, "LevelsBalancePanel", {}, "Point-&-click black balance - sets lifts"),
    Item("WBButton1", K::KeyButton, "LevelsBalancePanel", {}, "Point-&-click white balance - sets gains"),
    Item("CBButton1", K::KeyButton, "LevelsBalancePanel", {}, "Point-&-click colour balance - sets gains"),
    Item("GBButton1", K::KeyButton, "LevelsBalancePanel", {}, "Point-&-click gamma balance - sets gammas"),

    // Colour page.
    Item("ColourSheet", K::Page, "PageControl1", "Colour", {}, 12300),
    Item("ColourLiftGroupBox", K::Group, "ColourSheet", " Lift ", {}, 12310),
    Bar("RLiftBar", "ColourLiftGroupBox", "R", "RLift", M::Position, 10, R::I, "RLiftLabel", true,
        "Adjust colour balance in dark areas"),
    Item("RLiftLabel", K::Label, "ColourLiftGroupBox"),
    Bar("GLiftBar", "ColourLiftGroupBox", "G", "GLift", M::Position, 10, R::I, "GLiftLabel", true,
        "Adjust colour balance in dark areas"),
    Item("GLiftLabel", K::Label, "ColourLiftGroupBox"),
    Bar("BLiftBar", "ColourLiftGroupBox", "B", "BLift", M::Position, 10, R::I, "BLiftLabel", true,
        "Adjust colour balance in dark areas"),
    Item("BLiftLabel", K::Label, "ColourLiftGroupBox"),
    Item("ColourGainGroupBox", K::Group, "ColourSheet", " Gain ", {}, 12320),
    Bar("RGainBar", "ColourGainGroupBox", "R", "RGain", M::Position, 10, R::P, "RGainLabel", true,
        "Adjust colour balance in light areas"),
    Item("RGainLabel", K::Label, "ColourGainGroupBox"),
    Bar("GGainBar", "ColourGainGroupBox", "G", "GGain", M::Position, 10, R::P, "GGainLabel", true,
        "Adjust colour balance in light areas"),
    Item("GGainLabel", K::Label, "ColourGainGroupBox"),
    Bar("BGainBar", "ColourGainGroupBox", "B", "BGain", M::Position, 10, R::P, "BGainLabel", true,
        "Adjust colour balance in light areas"),
    Item("BGainLabel", K::Label, "ColourGainGroupBox"),
    Item("ColourGammaGroupBox", K::Group, "ColourSheet", " Gamma ", {}, 12330),
    Bar("RGammaBar", "ColourGammaGroupBox", "R", "RGamma", M::NegatedPosition, 10, R::G, "RGammaLabel", true,
        "Adjust colour balance in mid tones"),
    Item("RGammaLabel", K::Label, "ColourGammaGroupBox"),
    Bar("GGammaBar", "ColourGammaGroupBox", "G", "GGamma", M::NegatedPosition, 10, R::G, "GGammaLabel", true,
        "Adjust colour balance in mid tones"),
    Item("GGammaLabel", K::Label, "ColourGammaGroupBox"),
    Bar("BGammaBar", "ColourGammaGroupBox", "B", "BGamma", M::NegatedPosition, 10, R::G, "BGammaLabel", true,
        "Adjust colour balance in mid tones"),
    Item("BGammaLabel", K::Label, "ColourGammaGroupBox"),
    Item("BalancePanel", K::Panel, "ColourSheet", {}, {}, 12000),
    Item("BBButton2", K::KeyButton, "BalancePanel", {}, "Point-&-click black balance - sets lifts"),
    Item("WBButton2", K::KeyButton, "BalancePanel", {}, "Point-&-click white balance - sets gains"),
    Item("CBButton2", K::KeyButton, "BalancePanel", {}, "Point-&-click colour balance - sets gains"),
    Item("GBButton2", K::KeyButton, "BalancePanel", {}, "Point-&-click gamma balance - sets gammas"),

    // Sharpness page.
    Item("SharpnessSheet", K::Page, "PageControl1", "Sharpness", {}, 12400),
    Item("SharpnessGroupBox", K::Group, "SharpnessSheet", " Sharpness "),
    Bar("YSharpnessBar", "SharpnessGroupBox", "Y", "YSharpness", M::Position, 10, R::I, "YSharpnessLabel", false,
        "Apply sharpening or softening to the picture"),
    Item("YSharpnessLabel", K::Label, "SharpnessGroupBox"),
    Bar("CSharpnessBar", "SharpnessGroupBox", "C", "CSharpness", M::Position, 10, R::I, "CSharpnessLabel", false,
        "Apply sharpening or softening to the picture"),
    Item("CSharpnessLabel", K::Label, "SharpnessGroupBox"),
    Item("SharpMaskingGroupBox", K::Group, "SharpnessSheet", " Masking ", {}, 12450),
    Bar("SharpMaskBar", "SharpMaskingGroupBox", {}, "SharpMask", M::Position, 1, R::I, "SharpMaskLabel", false,
        "Mask sharpening to prevent increase of noise in smooth areas"),
    Item("SharpMaskLabel", K::Label, "SharpMaskingGroupBox"),
    Bar("SharpSmoothBar", "SharpMaskingGroupBox", "Offset", "SharpSmooth", M::Position, 10, R::I, "SharpSmoothLabel",
        false, "Adjust sharpen mask offset"),
    Item("SharpSmoothLabel", K::Label, "SharpMaskingGroupBox"),
    Item("SharpShowEdgesBox", K::CheckBox, "SharpMaskingGroupBox", "Show Edges", "Display sharpening edge signal", 0,
         "SharpShowEdges", M::Flag),
    Item("SharpShowMaskBox", K::CheckBox, "SharpMaskingGroupBox", "Show Mask", "Display sharpening mask", 0,
         "SharpShowMask", M::Flag),
    Item("SharpRadiusGroupBox", K::Group, "SharpnessSheet", " Sharpness Radius "),
    Bar("SharpRadiusBar", "SharpRadiusGroupBox", {}, "SharpRadius", M::Position, 1, R::I, "SharpRadiusLabel", false,
        "Determines aperture size used for sharpening or softening"),
    Item("SharpRadiusLabel", K::Label, "SharpRadiusGroupBox"),
    Item("LevelDependGroupBox", K::Group, "SharpnessSheet", " Level Dependence "),
    Bar("LevelDependBar", "LevelDependGroupBox", {}, "LevelDepend", M::Position, 10, R::I, "LevelDependLabel", false,
        "Makes sharpening dependent on level - reduces noise in dark areas"),
    Item("LevelDependLabel", K::Label, "LevelDependGroupBox"),

    // Temporal page.
    Item("TemporalSheet", K::Page, "PageControl1", "Temporal", {}, 12510),
    Item("ThresholdGroupBox", K::Group, "TemporalSheet", " Threshold "),
    Bar("TempYThresholdBar", "ThresholdGroupBox", "Y", "TempYThreshold", M::Position, 10, R::I, "TempYThresholdLabel",
        false, kSameHint),
    Item("TempYThresholdLabel", K::Label, "ThresholdGroupBox"),
    Bar("TempCThresholdBar", "ThresholdGroupBox", "C", "TempCThreshold", M::Position, 10, R::I, "TempCThresholdLabel",
        false, kSameHint),
    Item("TempCThresholdLabel", K::Label, "ThresholdGroupBox"),
    Item("RecursionGroupBox", K::Group, "TemporalSheet", " Recursion "),
    Bar("TempRecursionBar", "RecursionGroupBox", {}, "TempRecursion", M::Position, 10, R::R, "TempRecursionLabel",
        false, "Set maximum recursion of temporal filter"),
    Item("TempRecursionLabel", K::Label, "RecursionGroupBox"),
    Item("MotionGroupBox", K::Group, "TemporalSheet", " Motion "),
    Item("TempMotionBox", K::CheckBox, "MotionGroupBox", "Enable motion detection",
         "Reduce recursion on motion to prevent blurring", 0, "TempFlags", M::Bit0),
    Item("TempSmoothBox", K::CheckBox, "MotionGroupBox", "Smoothing",
         "Spatial smoothing of the difference signal between frames (reduces noise by further 6dB)", 0, "TempFlags",
         M::Bit1),
    Bar("TempOnsetBar", "MotionGroupBox", "Onset", "TempOnset", M::Position, 10, R::I, "TempOnsetLabel", false,
        "Set point at which motion begins to reduce recursion"),
    Item("TempOnsetLabel", K::Label, "MotionGroupBox"),
    Bar("TempLimitBar", "MotionGroupBox", "Limit", "TempLimit", M::Position, 10, R::I, "TempLimitLabel", false,
        "Set point at which recursion is completely disabled by motion"),
    Item("TempLimitLabel", K::Label, "MotionGroupBox"),
    Bar("TempResponseBar", "MotionGroupBox", "Response", "TempResponse", M::Position, 10, R::I, "TempResponseLabel",
        false, "Set rate at which motion reduces recursion between above limits"),
    Item("TempResponseLabel", K::Label, "MotionGroupBox"),
    Item("TemporalNotePanel", K::Panel, "TemporalSheet",
         "Because temporal noise reduction works by smoothing the signal between successive frames, results cannot "
         "be shown on the Tarvo display."),

    // Spatial page.
    Item("SpatialSheet", K::Page, "PageControl1", "Spatial", {}, 12520),
    Item("DespeckleGroupBox", K::Group, "SpatialSheet", " Despeckle "),
    Bar("YDespeckleBar", "DespeckleGroupBox", "Y", "YDespeckle", M::Position, 1, R::I, "YDespeckleLabel", false,
        "Apply spatial noise filtering"),
    Item("YDespeckleLabel", K::Label, "DespeckleGroupBox"),
    Bar("CDespeckleBar", "DespeckleGroupBox", "C", "CDespeckle", M::Position, 1, R::I, "CDespeckleLabel", false,
        "Apply spatial noise filtering"),
    Item("CDespeckleLabel", K::Label, "DespeckleGroupBox"),
    Item("NoiseMaskingGroupBox", K::Group, "SpatialSheet", " Masking ", {}, 12450),
    Bar("NoiseMaskBar", "NoiseMaskingGroupBox", {}, "NoiseMask", M::Position, 1, R::I, "NoiseMaskLabel", false,
        "Mask noise removal to prevent loss of detail"),
    Item("NoiseMaskLabel", K::Label, "NoiseMaskingGroupBox"),
    Bar("NoiseSmoothBar", "NoiseMaskingGroupBox", "Offset", "NoiseSmooth", M::Position, 10, R::I, "NoiseSmoothLabel",
        false, "Adjust noise mask offset"),
    Item("NoiseSmoothLabel", K::Label, "NoiseMaskingGroupBox"),
    Item("NoiseMaskYOnlyButton", K::RadioButton, "NoiseMaskingGroupBox", "Y Only",
         "Apply noise mask to luminance channel only", 0, "NoiseMaskYOnly", M::Value, 1),
    Item("NoiseMaskYUVButton", K::RadioButton, "NoiseMaskingGroupBox", "Y && C",
         "Apply noise mask to luminance and colour channels", 0, "NoiseMaskYOnly", M::Value, 0),
    Item("NoiseShowMaskBox", K::CheckBox, "NoiseMaskingGroupBox", "Show Mask", "Display noise mask", 0,
         "NoiseShowMask", M::Flag),
    Item("MaskRadiusGroupBox", K::Group, "SpatialSheet", " Mask Radius ", {}, 12450),
    Bar("MaskRadiusBar", "MaskRadiusGroupBox", {}, "MaskRadius", M::Position, 1, R::I, "MaskRadiusLabel", false,
        "Adjust size of mask aperture"),
    Item("MaskRadiusLabel", K::Label, "MaskRadiusGroupBox"),
    Item("MedianGroupBox", K::Group, "SpatialSheet", " Median Filter "),
    Bar("MedianLimitBar", "MedianGroupBox", {}, "MedianLimit", M::Position, 10, R::I, "MedianLimitLabel", false,
        "Set maximum amount of median filter correction"),
    Item("MedianLimitLabel", K::Label, "MedianGroupBox"),
    Bar("MedianThresholdBar", "MedianGroupBox", "Threshold", "MedianThreshold", M::Position, 10, R::I,
        "MedianThresholdLabel", false, "Set threshold above which median correction is applied"),
    Item("MedianThresholdLabel", K::Label, "MedianGroupBox"),
    Item("MedianBeforeBox", K::CheckBox, "MedianGroupBox", "Before", "Apply median filter before other noise filtering",
         0, "MedianWhen", M::Bit0),
    Item("MedianAfterBox", K::CheckBox, "MedianGroupBox", "After", "Apply median filter after other noise filtering",
         0, "MedianWhen", M::Bit1),
    Item("MedianWeightedBox", K::CheckBox, "MedianGroupBox", "Use Weighting",
         "Use weighted median filter to preserve horizontal lines", 0, "MedianWeighted", M::Flag),

    // Settings page.
    Item("SettingsSheet", K::Page, "PageControl1", "Settings", {}, 12600),
    Item("ProcessingGroupBox", K::Group, "SettingsSheet", " Processing "),
    Item("Pm444Button", K::RadioButton, "ProcessingGroupBox", "4:4:4",
         "Process luminance and colour with full resolution", 0, "ProcMode", M::Value, 0),
    Item("Pm422Button", K::RadioButton, "ProcessingGroupBox", "4:2:2",
         "Horizontal colour resolution half that of luminance", 0, "ProcMode", M::Value, 1),
    Item("Pm420Button", K::RadioButton, "ProcessingGroupBox", "4:2:0",
         "Horizontal and vertical colour resolution half that of luminance", 0, "ProcMode", M::Value, 2),
    Item("Pm411Button", K::RadioButton, "ProcessingGroupBox", "4:1:1",
         "Horizontal colour resolution quarter that of luminance", 0, "ProcMode", M::Value, 3),
    Item("ClippingGroupBox", K::Group, "SettingsSheet", " Clipping "),
    Item("VminCaption", K::Label, "ClippingGroupBox", "Minimum clip level"),
    Item("VminEdit", K::Edit, "ClippingGroupBox", {}, "Set minimum video level allowed (blanking level)", 0, "Vmin",
         M::Text),
    Item("VmaxCaption", K::Label, "ClippingGroupBox", "Maximum clip level"),
    Item("VmaxEdit", K::Edit, "ClippingGroupBox", {}, "Set maximum video level allowed (peak white)", 0, "Vmax",
         M::Text),
    Item("TestModeGroupBox", K::Group, "SettingsSheet", " Test Mode ", {}, 12620),
    Item("TestModeBox", K::CheckBox, "TestModeGroupBox", "Enable Test Mode",
         "Output signal chosen below instead of main picture", 0, "TestSignal", M::TestModeSwitch),
    Item("MonOnlyButton", K::RadioButton, "TestModeGroupBox", "Monitor signal only",
         "Output chosen signal, mask or edges", 0, "TestSignal", M::Value, 1),
    Item("Bars100Button", K::RadioButton, "TestModeGroupBox", "100% Colour Bars", "Output standard 100% colour bars", 0,
         "TestSignal", M::Value, 2),
    Item("BarsNTSCButton", K::RadioButton, "TestModeGroupBox", "SMPTE Colour Bars", "Output NTSC colour bars", 0,
         "TestSignal", M::Value, 3),
    Item("GreyscaleButton", K::RadioButton, "TestModeGroupBox", "Greyscale", "Output 10-step greyscale", 0,
         "TestSignal", M::Value, 4),
    Item("SawtoothButton", K::RadioButton, "TestModeGroupBox", "Sawtooth", "Output line sawtooth signal", 0,
         "TestSignal", M::Value, 5),
    Item("Pluge1Button", K::RadioButton, "TestModeGroupBox", "PLUGE Type 1", "Output PLUGE with 0/+2/+4% stripes", 0,
         "TestSignal", M::Value, 6),
    Item("Pluge2Button", K::RadioButton, "TestModeGroupBox", "PLUGE Type 2", "Output PLUGE with -2/0/+2% stripes", 0,
         "TestSignal", M::Value, 7),
    Item("SetDefaultsButton", K::Button, "SettingsSheet", "Set Defaults", "Save the above settings as defaults"),
    Item("PreferButton", K::Button, "SettingsSheet", "Preferences", {}, 12610),

    // About page.
    Item("AboutSheet", K::Page, "PageControl1", "About", {}, 12700),
    Item("LogoImage", K::Image, "AboutSheet"),
    Item("VersionLabel", K::Label, "AboutSheet"),
};

constexpr std::string_view kPages[] = {"ScenesSheet",   "LevelsSheet",  "ColourSheet",   "SharpnessSheet",
                                       "TemporalSheet", "SpatialSheet", "SettingsSheet", "AboutSheet"};

constexpr std::string_view kBarOrder[] = {
    "FrameBar",          "LiftBar",           "GainBar",           "GammaBar",         "SatBar",
    "KneeBar",           "SlopeBar",          "RLiftBar",          "GLiftBar",         "BLiftBar",
    "RGainBar",          "GGainBar",          "BGainBar",          "RGammaBar",        "GGammaBar",
    "BGammaBar",         "YDespeckleBar",     "CDespeckleBar",     "NoiseMaskBar",     "NoiseSmoothBar",
    "MaskRadiusBar",     "MedianLimitBar",    "MedianThresholdBar", "YSharpnessBar",   "CSharpnessBar",
    "SharpMaskBar",      "SharpSmoothBar",    "SharpRadiusBar",    "LevelDependBar",   "TempYThresholdBar",
    "TempCThresholdBar", "TempRecursionBar",  "TempOnsetBar",      "TempLimitBar",     "TempResponseBar"};

constexpr std::string_view kPatterns[] = {"MonOnlyButton",   "Bars100Button", "BarsNTSCButton", "GreyscaleButton",
                                          "SawtoothButton",  "Pluge1Button",  "Pluge2Button"};

constexpr int IndexIn(std::string_view name) {
  for (size_t i = 0; i < kControls.size(); ++i)
    if (kControls[i].name == name) return static_cast<int>(i);
  return -1;
}

// Names are unique, every parent is listed before its children, every
// slider's readout label exists and every slider is in the change order once.
constexpr bool TableIsConsistent() {
  for (size_t i = 0; i < kControls.size(); ++i) {
    const ControlEntry& c = kControls[i];
    if (IndexIn(c.name) != static_cast<int>(i)) return false;
    if (i > 0 && !(IndexIn(c.parent) >= 0 && IndexIn(c.parent) < static_cast<int>(i))) return false;
    if (c.kind == K::Bar) {
      if (!c.readoutLabel.empty() && IndexIn(c.readoutLabel) < 0) return false;
      int uses = 0;
      for (std::string_view b : kBarOrder) uses += b == c.name;
      if (uses != 1) return false;
    }
  }
  for (std::string_view b : kBarOrder)
    if (IndexIn(b) < 0 || kControls[static_cast<size_t>(IndexIn(b))].kind != K::Bar) return false;
  for (std::string_view p : kPages)
    if (IndexIn(p) < 0 || kControls[static_cast<size_t>(IndexIn(p))].kind != K::Page) return false;
  return true;
}
static_assert(TableIsConsistent());

const std::unordered_map<std::string_view, int>& NameIndex() {
  static const std::unordered_map<std::string_view, int> index = [] {
    std::unordered_map<std::string_view, int> m;
    for (size_t i = 0; i < kControls.size(); ++i) m.emplace(kControls[i].name, static_cast<int>(i));
    return m;
  }();
  return index;
}

}  // namespace

std::span<const ControlEntry> ControlEntries() { return kControls; }

int ControlIndex(std::string_view name) {
  const auto& index = NameIndex();
  const auto it = index.find(name);
  return it == index.end() ? -1 : it->second;
}

const ControlEntry* FindControlEntry(std::string_view name) {
  const int i = ControlIndex(name);
  return i < 0 ? nullptr : &kControls[static_cast<size_t>(i)];
}

const SpecsField* FieldOf(const ControlEntry& c) {
  return c.field.empty() ? nullptr : FindSpecsField(c.field);
}

BarRange BarRangeOf(const ControlEntry& c) {
  BarRange r;
  r.pageSize = c.pageSize;
  if (c.kind != K::Bar) return r;
  if (c.ownRange) {
    r.min = c.min;
    r.max = c.max;
    r.def = c.def;
    return r;
  }
  const SpecsField* f = FieldOf(c);
  if (!f) return r;
  if (c.map == M::NegatedPosition) {
    r.min = -f->max;
    r.max = -f->min;
    r.def = -f->def;
  } else {
    r.min = f->min;
    r.max = f->max;
    r.def = f->def;
  }
  return r;
}

int32_t DesignHelpContextOf(std::string_view name) {
  for (const ControlEntry* c = FindControlEntry(name); c; c = FindControlEntry(c->parent)) {
    if (c->helpContext != 0) return c->helpContext;
    if (c->parent.empty()) break;
  }
  return kFormHelpContext;
}

std::span<const std::string_view> PageNames() { return kPages; }
std::span<const std::string_view> BarChangeOrder() { return kBarOrder; }
std::span<const std::string_view> PatternButtons() { return kPatterns; }

}  // namespace tarvo::ui
