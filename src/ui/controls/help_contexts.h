// The help contexts of the setup dialog: each control's context number, and
// the anchor of the help file that explains it. F1 opens the help at the
// focused control's context (or its nearest parent's); the Help button opens
// kHelpContents.
#pragma once

#include <QString>

namespace tarvo::ui {

enum HelpContext : int {
  kHelpContents = 10000,        // the form, HelpButton
  kHelpUseMaster = 10101,       // UseMasterButton
  kHelpMonitors = 11100,        // AMon, BMon, MMon
  kHelpFrameChoice = 11200,     // Panel4
  kHelpPreviewBox = 11300,      // PreviewBox
  kHelpDialogButtons = 11400,   // OkButton, CancelButton, StatusBar1, PopupMenu1, PageControl1
  kHelpOperatingMode = 11500,   // Panel10
  kHelpBalanceButtons = 12000,  // the three balance-button panels
  kHelpScenesPage = 12100,
  kHelpLevelsPage = 12200,
  kHelpLevelsLift = 12210,
  kHelpLevelsGain = 12220,
  kHelpLevelsGamma = 12230,
  kHelpLevelsKnee = 12240,
  kHelpLevelsSaturation = 12250,
  kHelpColourPage = 12300,
  kHelpColourLift = 12310,
  kHelpColourGain = 12320,
  kHelpColourGamma = 12330,
  kHelpSharpnessPage = 12400,
  kHelpMasking = 12450,         // both Masking groups and Mask Radius
  kHelpTemporalPage = 12510,
  kHelpSpatialPage = 12520,
  kHelpSettingsPage = 12600,
  kHelpPreferButton = 12610,
  kHelpTestMode = 12620,
  kHelpAboutPage = 12700,
};

// Every context above, in the order the help file explains them.
inline constexpr int kAllHelpContexts[] = {
    kHelpContents,      kHelpUseMaster,       kHelpMonitors,        kHelpFrameChoice,     kHelpPreviewBox,
    kHelpDialogButtons, kHelpOperatingMode,   kHelpBalanceButtons,  kHelpScenesPage,      kHelpLevelsPage,
    kHelpLevelsLift,    kHelpLevelsGain,      kHelpLevelsGamma,     kHelpLevelsKnee,      kHelpLevelsSaturation,
    kHelpColourPage,    kHelpColourLift,      kHelpColourGain,      kHelpColourGamma,     kHelpSharpnessPage,
    kHelpMasking,       kHelpTemporalPage,    kHelpSpatialPage,     kHelpSettingsPage,    kHelpPreferButton,
    kHelpTestMode,      kHelpAboutPage,
};

// The help file's anchor for a context: "context-10000".
inline QString HelpAnchor(int context) { return QString("context-%1").arg(context); }

}  // namespace tarvo::ui
