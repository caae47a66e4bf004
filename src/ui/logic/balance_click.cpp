#include "ui/logic/balance_click.h"

#include <utility>

namespace tarvo::ui {
namespace {

constexpr BalanceMode kFamilies[] = {BalanceMode::White, BalanceMode::Black, BalanceMode::Colour,
                                     BalanceMode::Gamma};

}  // namespace

BalanceMode BalanceFamilyOf(std::string_view key) {
  for (BalanceMode f : kFamilies)
    for (std::string_view b : InfoOf(f).buttons)
      if (b == key) return f;
  return BalanceMode::None;
}

BalanceClicks::BalanceClicks(SetupLogic& logic, SetupHooks& hooks, std::function<void(int slot)> setCursor)
    : logic_(logic), hooks_(hooks), setCursor_(std::move(setCursor)) {}

void BalanceClicks::SetFamily(BalanceMode family, bool down) {
  for (std::string_view b : InfoOf(family).buttons) logic_.SetKeyDown(b, down);
}

void BalanceClicks::SetMode(BalanceMode mode) {
  mode_ = mode;
  if (setCursor_) setCursor_(InfoOf(mode).cursorSlot);
}

void BalanceClicks::FamilyClick(std::string_view key) {
  const BalanceMode family = BalanceFamilyOf(key);
  if (family == BalanceMode::None) return;
  if (bool* changed = logic_.Context().changed) *changed = true;
  const Sender sender = By(key);
  if (!logic_.Checked(key)) {
    SetFamily(family, false);
    SetMode(BalanceMode::None);
    logic_.SetText("StatusBar1", "");
    logic_.KickTimer(sender);
    return;
  }
  SetFamily(family, true);
  for (BalanceMode other : kFamilies)
    if (other != family) SetFamily(other, false);
  logic_.SetKeyDown("YOnlyButton", false);
  // The main monitor shows the picture to click on.
  logic_.UserPressedKey("PixButton", true);
  if (family == BalanceMode::Colour) logic_.SetKeyDown("BypassButton", false);
  SetMode(family);
  logic_.SetText("StatusBar1", std::string(InfoOf(family).instruction));
}

void BalanceClicks::ScreenClick(int32_t x, int32_t y, const TPixBuffer* source, const TPixBuffer* monitor) {
  const TSpecs* live = logic_.Context().live;
  const TSpecs* defaults = logic_.Context().defaults;
  if (!live) return;
  BalanceInput in;
  in.mode = mode_;
  in.source = source;
  in.monitor = monitor;
  in.x = x;
  in.y = y;
  in.specs = live;
  in.vblack = defaults ? defaults->Vblack : live->Vblack;
  in.vwhite = defaults ? defaults->Vwhite : live->Vwhite;
  const BalanceResult r = ComputeBalance(in);
  if (r.action == BalanceResult::Action::Ignore) return;
  const BalanceMode mode = mode_;
  if (r.action != BalanceResult::Action::NoMode) {
    const BalanceModeInfo& info = InfoOf(mode);
    if (r.gainMultiplier) logic_.CheckRadio(GainMultiplierRadio(*r.gainMultiplier));
    for (size_t i = 0; i < info.sliders.size(); ++i)
      if (r.positions[i]) logic_.SetPosition(info.sliders[i], *r.positions[i]);
    SetFamily(mode, false);
    logic_.SetText("StatusBar1", "");
    for (std::string_view bar : info.sliders) logic_.BarChange(bar, kNoSender);
  }
  logic_.SetKeyDown("BypassButton", false);
  SetMode(BalanceMode::None);
  if (r.failure) hooks_.ShowMessage(kBalanceFailedMessage);
  logic_.KickTimer(By("MScreen"));
}

}  // namespace tarvo::ui
