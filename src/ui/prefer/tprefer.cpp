#include "ui/prefer/tprefer.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFocusEvent>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QShortcut>
#include <QStyle>

#include <algorithm>
#include <utility>
#include <vector>

#include "ui/controls/classic_style.h"
#include "ui/controls/help_window.h"

namespace tarvo::ui {

namespace {

constexpr int kClientWidth = 297;
constexpr int kClientHeight = 377;

QString Q(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

// Space a check box or radio button needs beside its caption.
int IndicatorRoom(const QWidget* w) {
  const QStyle* st = w->style();
  if (qobject_cast<const QRadioButton*>(w))
    return st->pixelMetric(QStyle::PM_ExclusiveIndicatorWidth, nullptr, w) +
           st->pixelMetric(QStyle::PM_RadioButtonLabelSpacing, nullptr, w) + 2;
  return st->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, w) +
         st->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, nullptr, w) + 2;
}

// Makes `w`'s caption fit in `room` pixels (its whole width): the layout was
// measured for a narrow face, so a wider desktop font is narrowed, then made
// smaller, until the caption fits. The control is then as wide as it needs,
// never wider than `room`.
void FitCaption(QWidget* w, const QString& text, int room) {
  const int extra = qobject_cast<QLabel*>(w) ? 0 : IndicatorRoom(w);
  QFont f = w->font();
  auto fits = [&] { return QFontMetrics(f).horizontalAdvance(text) + extra <= room; };
  for (int stretch : {QFont::SemiCondensed, QFont::Condensed}) {
    if (fits()) break;
    f.setStretch(stretch);
  }
  while (!fits() && f.pixelSize() > 8) f.setPixelSize(f.pixelSize() - 1);
  if (f != w->font()) w->setFont(f);
  w->adjustSize();
  // Rows are 21 pixels apart; a caption row is 17 high.
  w->resize(std::min(w->width(), room), std::min(w->height(), 17));
}

}  // namespace

// Shows the logic's changes in this form and passes everything else on to
// the setup dialog's hooks.
class TPrefer::Bridge : public PreferHooks {
 public:
  Bridge(TPrefer& form, PreferHooks* outer) : form_(form), outer_(outer ? outer : &none_) {}
  void StateChanged(std::string_view control) override { form_.ShowState(control); }
  void LevelsChanged() override { outer_->LevelsChanged(); }
  void NtscBlacksChanged() override { outer_->NtscBlacksChanged(); }
  bool PreviewBoxTicked() override { return outer_->PreviewBoxTicked(); }
  void SetPreviewBox(bool ticked) override { outer_->SetPreviewBox(ticked); }
  void HintsChanged(bool show) override {
    form_.ApplyHints();
    outer_->HintsChanged(show);
  }
  void TerminologyChanged(int32_t us) override { outer_->TerminologyChanged(us); }
  void RefreshPreview() override { outer_->RefreshPreview(); }
  void Notice(std::string_view text) override { outer_->Notice(text); }

 private:
  TPrefer& form_;
  PreferHooks* outer_;
  PreferHooks none_;
};

TPrefer::TPrefer(const PreferContext& context, PreferHooks* hooks, std::string helpFile, QWidget* parent)
    : QDialog(parent,
              Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                  Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      bridge_(std::make_unique<Bridge>(*this, hooks)),
      logic_(std::make_unique<PreferLogic>(context, bridge_.get())),
      helpFile_(std::move(helpFile)) {
  Build();
  logic_->Create();
  ApplyHints();
}

TPrefer::~TPrefer() = default;

void TPrefer::Register(QWidget* w, std::string_view name) {
  w->setObjectName(Q(name));
  widgets_.emplace(std::string(name), w);
}

void TPrefer::Build() {
  setObjectName("TPrefer");
  setWindowTitle(kPreferCaption);
  // The desktop's face at the size the layout is measured for.
  QFont font = QApplication::font();
  font.setPixelSize(11);
  setFont(font);
  setFixedSize(kClientWidth, kClientHeight);

  // `room`: pixels up to the next control on the row or the group's edge.
  // Captions are fitted once the style is set, which decides their size.
  std::vector<std::pair<QWidget*, QRect>> captions;  // widget, (left, top, room)
  auto label = [&](QWidget* parent, const char* text, int left, int top, int room, const char* name) {
    auto* l = new QLabel(text, parent);
    l->setObjectName(name);
    captions.emplace_back(l, QRect(left, top, room, 0));
    return l;
  };
  auto edit = [&](QWidget* parent, std::string_view name, QRect r, const char* hint) {
    auto* e = new QLineEdit(parent);
    Register(e, name);
    e->setGeometry(r);
    e->setTextMargins(0, 0, 0, 0);
    hints_[e] = hint;
    e->installEventFilter(this);
    const std::string key(name);
    connect(e, &QLineEdit::textEdited, this, [this, key](const QString& t) { logic_->UserEditedText(key, t.toStdString()); });
    return e;
  };
  auto check = [&](QAbstractButton* b, std::string_view name, int left, int top, int room, const char* hint) {
    Register(b, name);
    captions.emplace_back(b, QRect(left, top, room, 0));
    if (hint) hints_[b] = hint;
    const std::string key(name);
    connect(b, &QAbstractButton::clicked, this, [this, key] { logic_->UserClicked(key); });
  };

  auto* levels = new QGroupBox(" Levels ", this);
  levels->setObjectName("LevelsGroupBox");
  levels->setGeometry(8, 6, 281, 150);
  label(levels, "Blanking level (or 0 IRE) is at", 12, 20, 216, "VblankLabel");
  edit(levels, "VblankEdit", QRect(232, 17, 36, 18), "Set pixel luminance value for blanking level");
  label(levels, "Peak White level (or 100 IRE) is at", 12, 41, 216, "VwhiteLabel");
  edit(levels, "VwhiteEdit", QRect(232, 38, 36, 18), "Set pixel luminance value for peak white level");
  label(levels, "Black level is:", 12, 62, 70, "VblackLabel");
  const char* blackHint = "Set pixel luminance value for black level";
  check(new QRadioButton("at blanking level", levels), "BlackBlankButton", 84, 61, 193, blackHint);
  check(new QRadioButton("at NTSC black level (7.5 IRE)", levels), "BlackNTSCButton", 84, 82, 193, blackHint);
  check(new QRadioButton("at this level:", levels), "BlackCustomButton", 84, 103, 144, blackHint);
  edit(levels, "VblackEdit", QRect(232, 102, 36, 18), blackHint);
  check(new QCheckBox("Show black level at 7.5 IRE on waveform monitor", levels), "NTSCBlacksBox", 12, 125, 265,
        "Adds 7.5 IRE datum and scales waveform display for NTSC video");

  auto* options = new QGroupBox(" Options ", this);
  options->setObjectName("OptionsGroupBox");
  options->setGeometry(8, 160, 281, 171);
  check(new QCheckBox("Recall preview state when launching Tarvo", options), "PrevPersistentBox", 12, 20, 265,
        "Remember whether preview is displayed or not");
  label(options, "Preview width", 12, 41, 80, "PrevWidthLabel");
  edit(options, "PrevWidthEdit", QRect(94, 38, 36, 18), "Set width of preview image");
  label(options, "Preview height", 151, 41, 79, "PrevHeightLabel");
  edit(options, "PrevHeightEdit", QRect(232, 38, 36, 18), "Set height of preview image");
  check(new QCheckBox("Show hints for Tarvo controls", options), "ShowHintsBox", 12, 62, 265,
        "Display hints (like this one you are looking at!)");
  check(new QCheckBox("Automate use of scene masters/individual mode", options), "UseMastersBox", 12, 83, 265,
        "Enable automatic control of master scene status");
  label(options, "Scene file", 12, 104, 54, "SceneFileLabel");
  edit(options, "SceneFileEdit", QRect(68, 101, 200, 18), "Name of file used for storing scene presets");
  label(options, "Default page ", 12, 125, 154, "PageLabel");
  auto* page = new QComboBox(options);
  Register(page, "PageBox");
  page->setGeometry(168, 122, 101, 19);
  for (const std::string& item : kPreferPageItems) page->addItem(QString::fromStdString(item));
  hints_[page] = "Choose default page to show when Tarvo is first applied to a clip";
  connect(page, &QComboBox::activated, this, [this](int index) { logic_->UserSelected("PageBox", index); });
  check(new QCheckBox("Rename 'Lift' controls 'Pedestal'", options), "PedBox", 12, 146, 265,
        "Renames 'Lift' controls 'Pedestal' (US terminology)");

  auto* ok = new QPushButton("OK", this);
  Register(ok, "OKBtn");
  ok->setGeometry(208, 342, 75, 25);
  connect(ok, &QPushButton::clicked, this, &TPrefer::OKBtnClick);
  auto* help = new QPushButton("Help", this);
  help->setObjectName("HelpBtn");
  help->setGeometry(120, 342, 75, 25);
  help->setAutoDefault(false);
  connect(help, &QPushButton::clicked, this, &TPrefer::HelpBtnClick);
  auto* f1 = new QShortcut(QKeySequence::HelpContents, this);
  connect(f1, &QShortcut::activated, this, &TPrefer::HelpBtnClick);

  ApplyClassicStyle(this);
  for (const auto& [w, place] : captions) {
    const auto* b = qobject_cast<QAbstractButton*>(w);
    FitCaption(w, b ? b->text() : static_cast<QLabel*>(w)->text(), place.width());
    w->move(place.topLeft());
  }

  for (const auto& [name, w] : widgets_) ShowState(name);
}

void TPrefer::ShowState(std::string_view name) {
  auto it = widgets_.find(name);
  if (it == widgets_.end()) return;
  const PreferControlState& st = logic_->State(name);
  QWidget* w = it->second;
  const QSignalBlocker block(w);
  w->setEnabled(st.enabled);
  if (auto* e = qobject_cast<QLineEdit*>(w)) {
    const QString text = QString::fromStdString(st.text);
    if (e->text() != text) e->setText(text);
  } else if (auto* b = qobject_cast<QAbstractButton*>(w); b && b->isCheckable()) {
    b->setChecked(st.checked);
  } else if (auto* c = qobject_cast<QComboBox*>(w)) {
    c->setCurrentIndex(st.itemIndex);
  }
}

void TPrefer::ApplyHints() {
  const bool show = logic_->ShowHints();
  for (const auto& [w, hint] : hints_) w->setToolTip(show ? hint : QString());
}

bool TPrefer::eventFilter(QObject* watched, QEvent* event) {
  auto* edit = qobject_cast<QLineEdit*>(watched);
  if (edit) {
    const std::string name = edit->objectName().toStdString();
    if (event->type() == QEvent::KeyPress) {
      auto* k = static_cast<QKeyEvent*>(event);
      if ((k->key() == Qt::Key_Return || k->key() == Qt::Key_Enter) && logic_->EditKeyPress(name, '\r')) return true;
    } else if (event->type() == QEvent::FocusOut) {
      // Leaving the box for another control applies it; the dialog losing
      // the active window (a message box, the preview window) does not.
      const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
      if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason) logic_->EditExit(name);
    }
  }
  return QDialog::eventFilter(watched, event);
}

void TPrefer::showEvent(QShowEvent* event) {
  if (!centred_) {
    centred_ = true;
    QScreen* screen = parentWidget() ? parentWidget()->screen() : QGuiApplication::primaryScreen();
    if (screen) {
      QRect frame = frameGeometry();
      frame.moveCenter(screen->geometry().center());
      move(frame.topLeft());
    }
  }
  QDialog::showEvent(event);
}

void TPrefer::OKBtnClick() {
  // A box still holding typed text (OK reached from the keyboard) is applied
  // first, so that nothing typed is lost.
  if (auto* e = qobject_cast<QLineEdit*>(focusWidget())) logic_->EditExit(e->objectName().toStdString());
  logic_->Ok();
  accept();
}

void TPrefer::HelpBtnClick() { ShowHelp(this, helpFile_, kPreferHelpContext); }

bool RunPreferences(QWidget* parent, const PreferContext& context, PreferHooks* hooks, const std::string& helpFile) {
  TPrefer dialog(context, hooks, helpFile, parent);
  dialog.exec();
  return dialog.Logic().OptionsChanged();
}

}  // namespace tarvo::ui
