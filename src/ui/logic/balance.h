// Point-and-click balance: from a 3 x 3 block of the dialog's pictures under
// the click, new lift, gain or gamma slider positions that make the spot
// black, white or neutral grey under the output conversion's correction model
//
//   level = Vblack + Span * (x / Span)^g,
//   x = (input + Lift + channel lift - Vblack) * Gain * channel gain / 10000,
//   g = 10^((Gamma + channel gamma) / 100),  Span = Vwhite - Vblack.
//
// Plain computation without widgets: the dialog sets the sliders it returns,
// fires their change handlers and shows the message on failure. All real
// arithmetic is done on extended-precision (long double) values and rounded
// to the nearest integer, halves to even.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

#include "types/pix_buffer.h"
#include "types/specs.h"

namespace tarvo::ui {

enum class BalanceMode { None, White, Black, Colour, Gamma };

// Shown once after any balance that could not produce a valid setting.
inline constexpr char kBalanceFailedMessage[] = "Could not balance at this point - please try again";

// What each mode shows and sets.
struct BalanceModeInfo {
  int cursorSlot;                              // 87 none .. 91 gamma
  std::array<std::string_view, 3> buttons;     // the family's three keys (empty for none)
  std::string_view instruction;                // status panel 1 while armed
  std::string_view hint;                       // the keys' hint
  std::array<std::string_view, 4> sliders;     // set and fired, overall slider first
};
const BalanceModeInfo& InfoOf(BalanceMode mode);

// The mean and minimum of one byte (0 blue, 1 green, 2 red) over the 3 x 3
// block centred on column x, row y of `frame`, the centre kept one pixel
// inside the frame. The frame must be usable and at least 3 x 3.
struct BlockSample {
  int32_t mean = 0;
  int32_t min = 0;
};
BlockSample SampleBlock(const TPixBuffer& frame, int32_t x, int32_t y, int32_t byteIndex);

struct BalanceInput {
  BalanceMode mode = BalanceMode::None;
  // The source picture of the last preview render (before processing) and
  // its processed result, both 240 x 180 in the dialog; any equal size of at
  // least 3 x 3 works.
  const TPixBuffer* source = nullptr;
  const TPixBuffer* monitor = nullptr;
  // The click: column and buffer row (the pixel readout's stored point).
  int32_t x = 0;
  int32_t y = 0;
  // The dialog's working record (Lift, Gain, Gamma, the channel lifts, gains
  // and gammas, Vmin, TestSignal).
  const TSpecs* specs = nullptr;
  // The preference levels (the built-in default record's Vblack and Vwhite).
  int32_t vblack = 0;
  int32_t vwhite = 255;
};

struct BalanceResult {
  enum class Action {
    Ignore,   // Span 0 (or no pictures): the click does nothing at all
    NoMode,   // no balance armed: only the click's closing steps
    Skipped,  // a generated test signal is shown: no slider changes
    Computed, // the mode's computation ran
  };
  Action action = Action::Ignore;
  bool failure = false;
  // New positions of InfoOf(mode).sliders; empty: that slider keeps its
  // position (its change handler still runs).
  std::array<std::optional<int32_t>, 4> positions;
  // White and colour balance: the gain multiplier radio to check (1, 2, 4).
  std::optional<int32_t> gainMultiplier;
};

// The radio button of a gain multiplier: "GainX1", "GainX2", "GainX4".
std::string_view GainMultiplierRadio(int32_t multiplier);

BalanceResult ComputeBalance(const BalanceInput& in);

}  // namespace tarvo::ui
