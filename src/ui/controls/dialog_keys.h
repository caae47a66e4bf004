// The image keys of the setup dialog, made by name with their images and
// behaviour:
//
//   BBButton0..2, WBButton0..2, CBButton0..2, GBButton0..2  toggle, red, 25 x 25
//   YOnlyButton, COnlyButton                                 toggle, red, 25 x 25
//   BypassButton                                             toggle, red, 51 x 25
//   WFButton, VSButton, PixButton                            latch, green, 25 x 25
//   FirstButton, LastButton                                  momentary arrows, 15 x 15
//
// Every key starts up (Down false).
#pragma once

#include <QString>

class QWidget;

namespace tarvo::ui {

class TKivButton;

// A key named `objectName` as above, a child of `parent`; nullptr for a name
// that is not one of the dialog's keys.
TKivButton* MakeDialogKey(const QString& objectName, QWidget* parent);

}  // namespace tarvo::ui
