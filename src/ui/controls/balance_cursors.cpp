#include "ui/controls/balance_cursors.h"

#include <QLinearGradient>
#include <QPainter>

namespace tarvo::ui {
namespace {

constexpr int kSize = 32;
constexpr int kHot = 10;

}  // namespace

QPixmap BalanceCursorImage(int slot) {
  if (slot < kWhiteCursorSlot || slot > kGammaCursorSlot) return {};
  QPixmap image(kSize, kSize);
  image.fill(Qt::transparent);
  QPainter p(&image);
  // The cross-hair: black lines with a white edge, so it shows on any picture;
  // the centre pixel is left open to show the spot being picked.
  for (const auto& [colour, width] : {std::pair{QColor(Qt::white), 3}, std::pair{QColor(Qt::black), 1}}) {
    p.setPen(QPen(colour, width, Qt::SolidLine, Qt::FlatCap));
    p.drawLine(kHot, 0, kHot, kHot - 2);
    p.drawLine(kHot, kHot + 2, kHot, 2 * kHot);
    p.drawLine(0, kHot, kHot - 2, kHot);
    p.drawLine(kHot + 2, kHot, 2 * kHot, kHot);
  }
  // The swatch, bottom right, framed in black.
  const QRect swatch(17, 17, 12, 12);
  switch (slot) {
    case kWhiteCursorSlot:
      p.fillRect(swatch, Qt::white);
      break;
    case kBlackCursorSlot:
      p.fillRect(swatch, Qt::black);
      break;
    case kColourCursorSlot:
      p.fillRect(QRect(17, 17, 4, 12), QColor(255, 0, 0));
      p.fillRect(QRect(21, 17, 4, 12), QColor(0, 255, 0));
      p.fillRect(QRect(25, 17, 4, 12), QColor(0, 0, 255));
      break;
    default: {
      QLinearGradient ramp(swatch.topLeft(), swatch.topRight());
      ramp.setColorAt(0, Qt::black);
      ramp.setColorAt(1, Qt::white);
      p.fillRect(swatch, ramp);
      break;
    }
  }
  p.setPen(QPen(Qt::black, 1));
  p.drawRect(swatch.adjusted(0, 0, -1, -1));
  p.setPen(QPen(Qt::white, 1));
  p.drawRect(swatch.adjusted(-1, -1, 0, 0));
  return image;
}

QCursor BalanceCursor(int slot) {
  const QPixmap image = BalanceCursorImage(slot);
  if (image.isNull()) return QCursor(Qt::ArrowCursor);
  return QCursor(image, kHot, kHot);
}

}  // namespace tarvo::ui
