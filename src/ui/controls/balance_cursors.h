// The cursors shown over the main monitor picture, one per balance mode,
// drawn by code: the normal arrow (slot 87), and for white (88), black (89),
// colour (90) and gamma (91) balance a cross-hair whose centre is the hot spot,
// with a small swatch beside it that tells the mode: a white square, a black
// square, red, green and blue bars, a grey ramp.
#pragma once

#include <QCursor>
#include <QPixmap>

namespace tarvo::ui {

inline constexpr int kNormalCursorSlot = 87;
inline constexpr int kWhiteCursorSlot = 88;
inline constexpr int kBlackCursorSlot = 89;
inline constexpr int kColourCursorSlot = 90;
inline constexpr int kGammaCursorSlot = 91;

// The cursor of a slot; any slot other than 88..91 gives the normal arrow.
QCursor BalanceCursor(int slot);
// The drawn image of a balance cursor (32 x 32, hot spot at 10, 10); a null
// pixmap for the normal arrow.
QPixmap BalanceCursorImage(int slot);

}  // namespace tarvo::ui
