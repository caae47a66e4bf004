// Picture-click balance in the setup dialog, without widgets: the four
// families of balance keys (three keys each, in three places of the dialog,
// always in the same state), the armed mode with its cursor and instruction,
// and the click on the main monitor picture that runs the computation
// (balance.h) and moves the sliders.
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>

#include "types/pix_buffer.h"
#include "ui/logic/balance.h"
#include "ui/logic/setup_logic.h"

namespace tarvo::ui {

// The family a balance key belongs to, or None for any other control.
BalanceMode BalanceFamilyOf(std::string_view key);

class BalanceClicks {
 public:
  // `setCursor` shows the cursor of a slot (87 none .. 91 gamma) over the
  // main monitor picture.
  BalanceClicks(SetupLogic& logic, SetupHooks& hooks, std::function<void(int slot)> setCursor);

  // A key of a family was clicked; the logic has already put it down or up.
  void FamilyClick(std::string_view key);
  // A click on the main monitor picture at column x, frame row y (rows are
  // counted from the bottom), over the source picture and the processed
  // picture of the last render (either may be null: the click then does
  // nothing).
  void ScreenClick(int32_t x, int32_t y, const TPixBuffer* source, const TPixBuffer* monitor);

  // Back to mode none without touching the keys (the bypass key releases
  // them itself).
  void Disarm() { SetMode(BalanceMode::None); }

  BalanceMode Mode() const { return mode_; }
  int CursorSlot() const { return InfoOf(mode_).cursorSlot; }

 private:
  void SetFamily(BalanceMode family, bool down);
  void SetMode(BalanceMode mode);

  SetupLogic& logic_;
  SetupHooks& hooks_;
  std::function<void(int)> setCursor_;
  BalanceMode mode_ = BalanceMode::None;
};

}  // namespace tarvo::ui
