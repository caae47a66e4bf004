// The images of the dialog's buttons and the product logo, drawn by code.
//
// Keys (25 x 25, the BYPASS key 51 x 25): up is a raised key with a dark
// indicator bar above its label, down the same key sunken with the indicator
// lit, alt the raised key with the indicator lit. Arrow buttons (15 x 15): a
// bar and a triangle, grey when up and green when pressed.
#pragma once

#include <QColor>
#include <QPixmap>
#include <QSize>
#include <QString>

namespace tarvo::ui {

class TKivButton;

struct ButtonImages {
  QPixmap up, down, alt;
};

enum class Indicator { Red, Green };
enum class Arrow { First, Last };  // bar then left triangle / right triangle then bar

constexpr QSize kKeySize{25, 25};
constexpr QSize kWideKeySize{51, 25};
constexpr QSize kArrowSize{15, 15};

// The lit colour of an indicator.
QColor IndicatorColor(Indicator indicator);

ButtonImages DrawKey(const QString& label, Indicator indicator, QSize size = kKeySize);
ButtonImages DrawArrowButton(Arrow arrow);

// Gives `button` the three images (BitmapUp last, so the button takes its size).
void SetImages(TKivButton& button, const ButtonImages& images);

// The product logo for the About page.
QPixmap DrawProductLogo(QSize size = QSize(280, 120));

}  // namespace tarvo::ui
