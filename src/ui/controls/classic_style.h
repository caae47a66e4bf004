// The classic look shared by the filter's dialogs: group captions on the
// frame line, compact check boxes and sliders.
#pragma once

class QStyle;
class QWidget;

namespace tarvo::ui {

// The process's one classic style, owned by the application so that it
// outlives every widget that uses it; nullptr when Qt has none.
QStyle* ClassicStyle();

// Gives `form` and every widget now in it the classic style (a style set on
// a widget does not pass to its children).
void ApplyClassicStyle(QWidget* form);

}  // namespace tarvo::ui
