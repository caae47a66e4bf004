// The setup dialog's controls as data: every named form, page, group box,
// control, label, timer and menu of the dialog with its kind, parent, caption,
// hint, help context and the record field it stands for. Slider ranges and
// default positions come from the record's field table (types/specs_fields.h)
// wherever slider and field agree; only the sliders whose range differs from
// their field (the gain slider, the frame slider) carry their own.
//
// The names are the widgets' objectNames, so a form and its tests find every
// widget by the name listed here.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "types/specs_fields.h"

namespace tarvo::ui {

enum class ControlKind : uint8_t {
  Form,
  PageControl,
  Page,
  Group,        // group box (captioned frame)
  Panel,        // plain or bevelled panel
  Bar,          // slider (TKivBar)
  RadioButton,
  CheckBox,
  Edit,         // one-line edit box
  KeyButton,    // image key (TKivButton)
  ComboBox,     // drop-down list
  Label,        // static text or value readout
  Button,       // push button
  Image,
  StatusBar,
  Timer,
  PopupMenu,
};

// How a slider's position is shown in its readout label.
enum class ReadoutCode : char {
  None = 0,
  I = 'I',  // the position as a decimal integer
  P = 'P',  // position x 0.01
  G = 'G',  // 10 raised to (-position / 100)
  R = 'R',  // 2 x 2 raised to (position / 50)
};

// How a control stands for its record field.
enum class FieldMap : uint8_t {
  None,
  Position,         // field = slider position
  NegatedPosition,  // field = -slider position (the gamma sliders)
  GainPosition,     // field = slider position x the checked multiplier
  Multiplier,       // gain multiplier radio button: `value` is 1, 2 or 4
  Value,            // radio or key button: the field holds `value` while it is checked/down
  Flag,             // check box or key button: field 1 when checked/down, 0 when not
  Bit0,             // check box: bit 0 of the field
  Bit1,             // check box: bit 1 of the field
  TestModeSwitch,   // "Enable Test Mode": the field is 0 while unchecked
  Text,             // edit box holding the field as a decimal integer
  PageName,         // page control: the field is the active page's index
};

struct ControlEntry {
  std::string_view name;     // objectName
  ControlKind kind;
  std::string_view parent;   // objectName of the parent; "" for the form
  std::string_view caption;  // caption or row label ("" when none)
  std::string_view hint;     // tool tip ("" when none)
  int32_t helpContext;       // 0: the nearest parent's context applies
  std::string_view field;    // record field ("" when none)
  FieldMap map;
  int16_t value;             // Value and Multiplier: the value the control stands for
  // Sliders:
  bool ownRange;             // false: range and default from the field table
  int16_t min, max, def;     // ownRange only
  int16_t pageSize;
  ReadoutCode readout;
  std::string_view readoutLabel;  // objectName of the readout label beside the slider
  bool levelControl;         // the change handler sets the changed flag
};

// Every control in a fixed order: the form, its areas and their controls,
// then the pages in tab order with their controls (groups top to bottom).
std::span<const ControlEntry> ControlEntries();
const ControlEntry* FindControlEntry(std::string_view name);
// Position of a control in ControlEntries(), or -1.
int ControlIndex(std::string_view name);

// The record field a control stands for, or nullptr.
const SpecsField* FieldOf(const ControlEntry& c);

// A slider's range, page size and default (factory) position.
struct BarRange {
  int32_t min = 0, max = 0, def = 0, pageSize = 0;
};
BarRange BarRangeOf(const ControlEntry& c);

// The design-time help context of a control: its own, else its nearest
// parent's (the form's, 10000, at the top).
int32_t DesignHelpContextOf(std::string_view name);

// The pages in tab order; a record's PageIndex counts in this order.
std::span<const std::string_view> PageNames();

// The sliders in the order UpdateControls calls their change handlers (the
// frame slider first).
std::span<const std::string_view> BarChangeOrder();

// The seven test-pattern radio buttons, TestSignal 1..7 in order.
std::span<const std::string_view> PatternButtons();

// Help contexts the dialog sets at run time.
inline constexpr int32_t kFormHelpContext = 10000;

// The About page's version text.
inline constexpr std::string_view kVersionText = "Version\n1.02.02";

}  // namespace tarvo::ui
