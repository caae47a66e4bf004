#include "ui/setup/tsetup.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFocusEvent>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QShortcut>
#include <QStackedWidget>
#include <QStatusBar>
#include <QStyleFactory>
#include <QStyleOptionTabWidgetFrame>
#include <QStylePainter>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <tuple>
#include <vector>

#include "ui/setup/panel_canvas.h"
#include "ui/setup/preview_cycle.h"
#include "ui/setup/tpreview.h"
#include "ui/controls/button_images.h"
#include "ui/controls/dialog_keys.h"
#include "ui/controls/help_contexts.h"
#include "ui/controls/help_window.h"
#include "ui/controls/kiv_bar.h"
#include "ui/controls/kiv_button.h"
#include "ui/logic/balance_click.h"
#include "ui/logic/prefer_setup.h"
#include "ui/prefer/tprefer.h"
#include "ui/logic/revert_reset.h"
#include "ui/logic/scene_page.h"

namespace tarvo::ui {
namespace {

// Geometry of the form (left, top, width, height in client pixels).
constexpr QRect kAMon{11, 10, 136, 124};
constexpr QRect kBMon{149, 10, 136, 124};
constexpr QRect kMMon{11, 139, 274, 240};
constexpr QRect kPanel4{11, 385, 274, 32};
constexpr QRect kPageControl{290, 8, 314, 371};
constexpr QPoint kPreviewBox{292, 392};
constexpr int kDialogButtonTop = 389;
constexpr int kHelpLeft = 361, kCancelLeft = 444, kOkLeft = 526;
constexpr QSize kDialogButton{70, 25};
constexpr QRect kStatusBar{0, 424, 437, 19};
constexpr int kStatusPanel0 = 128;
constexpr QRect kPanel10{439, 426, 175, 17};

constexpr QSize kBarSize{220, 22};
constexpr int kReadoutWidth = 34;
// The tabs stand in two rows of four above the pages.
constexpr QSize kTabSize{77, 20};
constexpr int kTabsPerRow = 4;
constexpr int kTabRowsHeight = 2 * kTabSize.height() + 2;

// Layout inside the pages.
constexpr int kPageMargin = 2;
constexpr int kGroupMargin = 3;
constexpr int kSpacing = 2;
// Width a row caption may take left of a slider and its readout; a longer
// caption stands on its own line above the slider.
constexpr int kRowWidth = kPageControl.width() - 4 - 2 * kPageMargin - 2 * kGroupMargin - 4;
constexpr int kCaptionRoom = kRowWidth - kBarSize.width() - kReadoutWidth - 2 * kSpacing;

// The operating-mode buttons, OpMode 0..2.
constexpr std::string_view kModeButtons[] = {"BypassModeButton", "DraftModeButton", "FinalModeButton"};

QString Q(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<int>(s.size())); }
std::string S(const QString& s) { return s.toStdString(); }

// The page control: a QTabWidget whose pages are chosen by two rows of tab
// buttons above them, so that every tab shows its whole caption in the
// narrow page area. The tab widget's own tab bar stays hidden.
class PageControl : public QTabWidget {
 public:
  explicit PageControl(QWidget* parent) : QTabWidget(parent) { tabBar()->hide(); }

 protected:
  bool event(QEvent* e) override {
    const bool handled = QTabWidget::event(e);
    if (e->type() == QEvent::LayoutRequest) PlaceStack();
    return handled;
  }
  void resizeEvent(QResizeEvent* e) override {
    QTabWidget::resizeEvent(e);
    PlaceStack();
  }
  void showEvent(QShowEvent* e) override {
    QTabWidget::showEvent(e);
    PlaceStack();
  }
  void tabInserted(int index) override {
    QTabWidget::tabInserted(index);
    PlaceStack();
  }
  void paintEvent(QPaintEvent*) override {
    QStylePainter p(this);
    QStyleOptionTabWidgetFrame opt;
    initStyleOption(&opt);
    opt.rect = FrameRect();
    p.drawPrimitive(QStyle::PE_FrameTabWidget, opt);
  }

 private:
  QRect FrameRect() const { return QRect(0, kTabRowsHeight, width(), height() - kTabRowsHeight); }
  void PlaceStack() {
    if (auto* stack = findChild<QStackedWidget*>(QString(), Qt::FindDirectChildrenOnly))
      stack->setGeometry(FrameRect().adjusted(2, 2, -2, -2));
  }
};

// A sunken black panel (the monitors' screens).
QFrame* BlackPanel(QWidget* parent, const QRect& geometry) {
  auto* f = new QFrame(parent);
  f->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  f->setLineWidth(2);
  f->setAutoFillBackground(true);
  QPalette pal = f->palette();
  pal.setColor(QPalette::Window, Qt::black);
  f->setPalette(pal);
  f->setGeometry(geometry);
  return f;
}

QWidget* BlackImage(QWidget* parent, const QRect& geometry) {
  auto* w = new PanelCanvas(parent);
  w->setGeometry(geometry);
  return w;
}

int TextWidth(const QWidget* w, const QString& text) { return w->fontMetrics().horizontalAdvance(text); }

// One classic style for every dialog of the process, owned by the
// application, so that it outlives every widget that uses it.
QStyle* ClassicStyle() {
  static QPointer<QStyle> style;
  if (!style) {
    style = QStyleFactory::create("Windows");
    if (style) style->setParent(QCoreApplication::instance());
  }
  return style;
}

}  // namespace

QPoint DialogPlacement(const int32_t* top, const int32_t* left, QSize dialog, const QRect& screen) {
  if (!top || !left) {
    return QPoint(screen.left() + (screen.width() - dialog.width()) / 2,
                  screen.top() + (screen.height() - dialog.height()) / 2);
  }
  auto clamp = [](int32_t v, int screenSize, int size) {
    if (v < 0) return 0;
    if (int64_t{v} + size > screenSize) return std::max(screenSize - size, 0);
    return static_cast<int>(v);
  };
  return QPoint(screen.left() + clamp(*left, screen.width(), dialog.width()),
                screen.top() + clamp(*top, screen.height(), dialog.height()));
}

TSetup::TSetup(SetupCall& call, QWidget* parent) : QDialog(parent), call_(call) {
  setObjectName("TSetup");
  setWindowTitle("Tarvo");
  // A dialog border without the title bar's extra buttons.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
  // The form's font: the desktop's face at 11 pixels, the size the layout is
  // made for, whatever point size the desktop uses.
  QFont font = QApplication::font();
  font.setPixelSize(11);
  setFont(font);
  setFixedSize(kClientWidth, kClientHeight);

  SetupContext ctx;
  ctx.live = call.specs;
  ctx.previous = call.previous;
  ctx.defaults = call.defaults;
  ctx.changed = call.changed;
  ctx.options = call.options;
  ctx.store = call.store;
  ctx.scenes = call.scenes;
  ctx.sceneIndex = call.sceneIndex;
  ctx.scenesDirty = call.scenesDirty;
  ctx.decimalSeparator = S(QLocale().decimalPoint());
  // The floating preview's stored options decide whether it reopens.
  preview_ = std::make_unique<PreviewCycle>(*this, call);
  ctx.previewPersistent = preview_->Preview()->Options().Persistent;
  ctx.previewVisible = preview_->Preview()->Options().Visible;
  logic_ = std::make_unique<SetupLogic>(ctx, static_cast<SetupHooks*>(this));

  BuildForm();
  BuildPages();
  // The classic style puts group captions on the frame line and keeps
  // sliders and check boxes compact, which the dense pages need. A style set
  // on a widget does not pass to its children, so every widget gets it.
  if (QStyle* classic = ClassicStyle()) {
    setStyle(classic);
    for (QWidget* w : findChildren<QWidget*>()) w->setStyle(classic);
  }
  built_ = true;
  preview_->Wire();
  for (const ControlEntry& c : ControlEntries()) Sync(c.name);
  SyncTabs();
  ApplyHints();

  // The frame choice covers the clip: 0..Total, a tenth of it per page.
  if (call.call) {
    logic_->SetFrameRange(call.call->Total);
    if (call.specs) logic_->SetPosition("FrameBar", call.specs->FramePos);
  }

  // F1 opens the help at the focused control's context.
  auto* f1 = new QShortcut(QKeySequence(Qt::Key_F1), this);
  f1->setContext(Qt::WindowShortcut);
  connect(f1, &QShortcut::activated, this, [this] { OpenHelp(FocusedHelpContext()); });
  focusWatch_ =
      connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) { FocusMoved(now); });
  BuildCommands();
}

TSetup::~TSetup() {
  disconnect(focusWatch_);
  // The preview goes first: it unregisters its drawing target and stores the
  // floating window's state while the panels still exist.
  preview_.reset();
}

void TSetup::AttachBuffers(PreviewBuffers* buffers) { preview_->AttachBuffers(buffers); }

QWidget* TSetup::Control(std::string_view name) const {
  const auto it = widgets_.find(name);
  return it == widgets_.end() ? nullptr : it->second;
}

HelpWindow* TSetup::Help() const { return help_; }

void TSetup::Register(QWidget* w, std::string_view name) {
  const ControlEntry* ctrl = FindControlEntry(name);
  // The key is the table's own string, which lives as long as the program.
  const std::string_view key = ctrl ? ctrl->name : name;
  w->setObjectName(Q(key));
  widgets_[key] = w;
}

// ---- Building ----

void TSetup::BuildForm() {
  Register(this, "TSetup");

  // Small monitors A and B.
  for (auto [mon, rect, graph, screen] : {std::tuple{"AMon", kAMon, "AGraph", "AScreen"},
                                         std::tuple{"BMon", kBMon, "BGraph", "BScreen"}}) {
    auto* panel = new QFrame(this);
    panel->setGeometry(rect);
    Register(panel, mon);
    QFrame* black = BlackPanel(panel, QRect((rect.width() - 124) / 2, (rect.height() - 94) / 2, 124, 94));
    Register(BlackImage(black, QRect(2, 2, 120, 90)), graph);
    QWidget* scr = BlackImage(black, QRect(2, 2, 120, 90));
    scr->hide();
    Register(scr, screen);
  }

  // Main monitor with its keys and readouts.
  auto* mmon = new QFrame(this);
  mmon->setGeometry(kMMon);
  Register(mmon, "MMon");
  QFrame* mblack = BlackPanel(mmon, QRect(15, 16, 244, 184));
  QWidget* mgraph = BlackImage(mblack, QRect(2, 2, 240, 180));
  mgraph->hide();
  Register(mgraph, "MGraph");
  Register(BlackImage(mblack, QRect(2, 2, 240, 180)), "MScreen");

  // The image keys, each with its images and behaviour; the form forwards a
  // press after the key changed its own state.
  auto key = [&](QWidget* parent, std::string_view name, QPoint at) {
    TKivButton* b = MakeDialogKey(Q(name), parent);
    b->move(at);
    Register(b, name);
    connect(b, &TKivButton::Click, this, [this, b, name](QObject*) { logic_->UserPressedKey(name, b->Down()); });
    return b;
  };
  key(mmon, "YOnlyButton", {14, 202});
  key(mmon, "COnlyButton", {39, 202});
  key(mmon, "BypassButton", {64, 202});
  key(mmon, "WFButton", {171, 202});
  key(mmon, "VSButton", {196, 202});
  key(mmon, "PixButton", {221, 202});
  // The three readouts stand in rows beside the keys, in a smaller face.
  QFont small = font();
  small.setPixelSize(9);
  const char* rows[][2] = {{"TopLabel", "TopVal"}, {"MidLabel", "MidVal"}, {"BotLabel", "BotVal"}};
  for (int i = 0; i < 3; ++i) {
    auto* cap = new QLabel(mmon);
    cap->setFont(small);
    cap->setGeometry(124, 199 + 10 * i, 14, 10);
    Register(cap, rows[i][0]);
    auto* val = new QLabel(mmon);
    val->setFont(small);
    val->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    val->setGeometry(138, 199 + 10 * i, 30, 10);
    Register(val, rows[i][1]);
  }

  // Frame choice.
  auto* panel4 = new QFrame(this);
  panel4->setGeometry(kPanel4);
  Register(panel4, "Panel4");
  // The arrow keys are momentary: their click moves the frame bar.
  auto arrow = [&](std::string_view name, QPoint at) {
    TKivButton* b = MakeDialogKey(Q(name), panel4);
    b->move(at);
    Register(b, name);
    connect(b, &TKivButton::Click, this, [this, name](QObject*) { Click(name, By(name)); });
  };
  arrow("FirstButton", {9, 9});
  auto* frameBar = new TKivBar(panel4);
  frameBar->setGeometry(QRect(QPoint(27, 5), kBarSize));
  frameBar->setFocusPolicy(Qt::ClickFocus);  // no tab stop
  frameBar->setTickPosition(QSlider::TicksBelow);
  Register(frameBar, "FrameBar");
  connect(frameBar, &TKivBar::Change, this,
          [this, frameBar](QObject*) { logic_->UserMovedBar("FrameBar", frameBar->value()); });
  arrow("LastButton", {250, 9});

  // The page control; its pages are made by BuildPages.
  pages_ = new PageControl(this);
  pages_->setGeometry(kPageControl);
  Register(pages_, "PageControl1");
  tabs_ = new QButtonGroup(this);
  tabs_->setExclusive(true);

  auto* preview = new QCheckBox(this);
  preview->move(kPreviewBox);
  preview->setFocusPolicy(Qt::ClickFocus);  // no tab stop
  Register(preview, "PreviewBox");

  for (auto [name, left] : {std::pair{"HelpButton", kHelpLeft}, std::pair{"CancelButton", kCancelLeft},
                            std::pair{"OkButton", kOkLeft}}) {
    auto* b = new QPushButton(this);
    b->setGeometry(QRect(QPoint(left, kDialogButtonTop), kDialogButton));
    b->setAutoDefault(false);
    Register(b, name);
  }
  static_cast<QPushButton*>(Control("OkButton"))->setDefault(true);

  auto* status = new QStatusBar(this);
  status->setGeometry(kStatusBar);
  status->setSizeGripEnabled(false);
  Register(status, "StatusBar1");
  statusFrame_ = new QLabel(status);
  statusFrame_->setObjectName("StatusBar1Panel0");
  statusFrame_->setFixedWidth(kStatusPanel0);
  statusFrame_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  statusText_ = new QLabel(status);
  statusText_->setObjectName("StatusBar1Panel1");
  statusText_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  status->addWidget(statusFrame_);
  status->addWidget(statusText_, 1);
  status->setContentsMargins(0, 0, 0, 0);

  auto* panel10 = new QFrame(this);
  panel10->setGeometry(kPanel10);
  Register(panel10, "Panel10");
  auto* modes = new QHBoxLayout(panel10);
  modes->setContentsMargins(2, 0, 0, 0);
  modes->setSpacing(2);
  for (std::string_view name : kModeButtons) {
    auto* r = new QRadioButton(panel10);
    r->setAutoExclusive(false);  // the logic keeps the buttons exclusive
    Register(r, name);
    modes->addWidget(r);
  }
  modes->addStretch(1);

  timer_ = new QTimer(this);
  timer_->setObjectName("Timer1");
  timer_->setSingleShot(true);
  timer_->setInterval(60);
  connect(timer_, &QTimer::timeout, this, &TSetup::TimerFired);
}

void TSetup::BuildPages() {
  // Widgets for the controls of one container (page, group or panel), laid
  // out top to bottom in table order.
  std::function<void(QWidget*, QVBoxLayout*, std::string_view)> fill;
  fill = [&](QWidget* container, QVBoxLayout* lines, std::string_view parentName) {
    std::vector<const ControlEntry*> kids;
    for (const ControlEntry& c : ControlEntries())
      if (c.parent == parentName) kids.push_back(&c);
    // Readout labels are made with their sliders.
    auto isReadout = [&](const ControlEntry& c) {
      for (const ControlEntry* k : kids)
        if (k->kind == ControlKind::Bar && k->readoutLabel == c.name) return true;
      return false;
    };
    // Buttons of one run share a line while they fit.
    QHBoxLayout* run = nullptr;
    int runWidth = 0;
    auto addToRun = [&](QWidget* w) {
      const int width = w->sizeHint().width();
      if (!run || runWidth + kSpacing * 4 + width > kRowWidth) {
        run = new QHBoxLayout;
        run->setSpacing(kSpacing * 4);
        lines->addLayout(run);
        runWidth = 0;
      }
      run->addWidget(w);
      runWidth += width + (runWidth ? kSpacing * 4 : 0);
    };
    auto endRun = [&] {
      if (run) run->addStretch(1);
      run = nullptr;
    };

    for (size_t i = 0; i < kids.size(); ++i) {
      const ControlEntry& c = *kids[i];
      switch (c.kind) {
        case ControlKind::Group: {
          endRun();
          auto* g = new QGroupBox(container);
          Register(g, c.name);
          auto* inner = new QVBoxLayout(g);
          inner->setContentsMargins(kGroupMargin, kGroupMargin, kGroupMargin, kGroupMargin);
          inner->setSpacing(kSpacing);
          fill(g, inner, c.name);
          lines->addWidget(g);
          break;
        }
        case ControlKind::Panel: {
          endRun();
          auto* p = new QFrame(container);
          Register(p, c.name);
          if (!c.caption.empty()) {
            // The note panel: lowered outer and raised inner bevel.
            p->setFrameStyle(QFrame::Panel | QFrame::Sunken);
            p->setLineWidth(1);
            auto* inner = new QFrame(p);
            inner->setFrameStyle(QFrame::Panel | QFrame::Raised);
            auto* text = new QLabel(Q(c.caption), inner);
            text->setObjectName(Q(c.name) + "Text");
            text->setWordWrap(true);
            auto* il = new QVBoxLayout(inner);
            il->setContentsMargins(6, 4, 6, 4);
            il->addWidget(text);
            auto* pl = new QVBoxLayout(p);
            pl->setContentsMargins(1, 1, 1, 1);
            pl->addWidget(inner);
          } else {
            auto* pl = new QHBoxLayout(p);
            pl->setContentsMargins(0, 0, 0, 0);
            pl->setSpacing(4);
            for (const ControlEntry& k : ControlEntries()) {
              if (k.parent != c.name || k.kind != ControlKind::KeyButton) continue;
              const std::string_view n = k.name;
              TKivButton* b = MakeDialogKey(Q(n), p);
              b->setFixedSize(b->size());  // the layout keeps the image's size
              Register(b, n);
              connect(b, &TKivButton::Click, this, [this, b, n](QObject*) { logic_->UserPressedKey(n, b->Down()); });
              pl->addWidget(b);
            }
            pl->addStretch(1);
          }
          lines->addWidget(p);
          break;
        }
        case ControlKind::Bar: {
          endRun();
          const ControlEntry* readout = nullptr;
          for (const ControlEntry* k : kids)
            if (k->name == c.readoutLabel) readout = k;
          auto* bar = new TKivBar(container);
          bar->setFixedSize(kBarSize);
          // Tick marks below, at the two ends only.
          bar->setTickPosition(QSlider::TicksBelow);
          bar->setSingleStep(1);
          Register(bar, c.name);
          const std::string_view name = c.name;
          connect(bar, &TKivBar::Change, this, [this, bar, name](QObject*) { logic_->UserMovedBar(name, bar->value()); });
          auto* value = new QLabel(container);
          value->setFixedWidth(kReadoutWidth);
          value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
          if (readout) Register(value, readout->name);
          auto* row = new QHBoxLayout;
          row->setSpacing(kSpacing);
          if (!c.caption.empty()) {
            auto* cap = new QLabel(Q(c.caption), container);
            std::string capName(c.name);
            if (capName.size() > 3 && capName.ends_with("Bar")) capName.resize(capName.size() - 3);
            cap->setObjectName(QString::fromStdString(capName + "Caption"));
            cap->setBuddy(bar);
            if (TextWidth(cap, cap->text()) <= kCaptionRoom) {
              cap->setFixedWidth(kCaptionRoom);
              row->addWidget(cap);
            } else {
              lines->addWidget(cap);
              row->addSpacing(kCaptionRoom + kSpacing);
            }
          } else {
            row->addSpacing(kCaptionRoom + kSpacing);
          }
          row->addWidget(bar);
          row->addWidget(value);
          row->addStretch(1);
          lines->addLayout(row);
          break;
        }
        case ControlKind::Label: {
          if (isReadout(c)) break;
          endRun();
          auto* label = new QLabel(container);
          Register(label, c.name);
          if (c.name == "DefaultSceneLabel") {
            label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
            label->setMinimumHeight(19);
          }
          // A caption followed by its edit box shares the edit box's line.
          if (i + 1 < kids.size() && kids[i + 1]->kind == ControlKind::Edit) {
            const ControlEntry& e = *kids[++i];
            auto* edit = new QLineEdit(container);
            edit->setFixedWidth(60);
            edit->installEventFilter(this);
            Register(edit, e.name);
            const std::string_view en = e.name;
            connect(edit, &QLineEdit::textEdited, this, [this, en](const QString& t) { logic_->UserEditedText(en, S(t)); });
            label->setBuddy(edit);
            auto* row = new QHBoxLayout;
            row->setSpacing(kSpacing * 4);
            row->addWidget(label);
            row->addWidget(edit);
            row->addStretch(1);
            lines->addLayout(row);
          } else if (c.name == "VersionLabel") {
            label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
            lines->addWidget(label);
          } else {
            lines->addWidget(label);
          }
          break;
        }
        case ControlKind::Image: {
          endRun();
          auto* image = new QLabel(container);
          Register(image, c.name);
          image->setPixmap(DrawProductLogo());
          image->setAlignment(Qt::AlignCenter);
          lines->addWidget(image);
          break;
        }
        case ControlKind::ComboBox: {
          endRun();
          auto* box = new QComboBox(container);
          box->setMaxVisibleItems(12);
          Register(box, c.name);
          lines->addWidget(box);
          break;
        }
        case ControlKind::RadioButton: {
          auto* r = new QRadioButton(container);
          r->setAutoExclusive(false);  // the logic keeps the buttons exclusive
          Register(r, c.name);
          addToRun(r);
          // The seven test patterns stand one below the other.
          if (c.parent == "TestModeGroupBox" || c.parent == "ScenePresetsGroupBox") endRun();
          break;
        }
        case ControlKind::CheckBox: {
          if (c.name == "TestModeBox") endRun();
          auto* b = new QCheckBox(container);
          Register(b, c.name);
          addToRun(b);
          if (c.name == "TestModeBox") endRun();
          break;
        }
        case ControlKind::Button: {
          auto* b = new QPushButton(container);
          b->setAutoDefault(false);
          b->setMinimumWidth(kDialogButton.width());
          Register(b, c.name);
          addToRun(b);
          break;
        }
        default:
          break;
      }
    }
    endRun();
    lines->addStretch(1);
  };

  int index = 0;
  for (std::string_view pageName : PageNames()) {
    const ControlEntry* ctrl = FindControlEntry(pageName);
    auto* page = new QWidget;
    Register(page, pageName);
    auto* lines = new QVBoxLayout(page);
    lines->setContentsMargins(kPageMargin, kPageMargin, kPageMargin, kPageMargin);
    lines->setSpacing(kSpacing);
    fill(page, lines, pageName);
    pages_->addTab(page, Q(ctrl->caption));

    auto* tab = new QToolButton(pages_);
    tab->setObjectName(Q(pageName) + "Tab");
    tab->setText(Q(ctrl->caption));
    tab->setCheckable(true);
    tab->setAutoRaise(false);
    tab->setFocusPolicy(Qt::TabFocus);
    tab->setGeometry((index % kTabsPerRow) * kTabSize.width() + 1, (index / kTabsPerRow) * kTabSize.height(),
                     kTabSize.width(), kTabSize.height());
    tabs_->addButton(tab, index);
    ++index;
  }
  connect(tabs_, &QButtonGroup::idClicked, this, &TSetup::ChoosePage);
  // Ctrl+Tab and other ways the tab widget changes page itself.
  connect(pages_, &QTabWidget::currentChanged, this, [this](int i) {
    logic_->PageChanging();
    if (i >= 0 && i < static_cast<int>(PageNames().size())) logic_->PageChanged(PageNames()[static_cast<size_t>(i)]);
  });

  // Every widget made from the table forwards what the user does.
  for (const ControlEntry& c : ControlEntries()) {
    QWidget* w = Control(c.name);
    if (!w) continue;
    const std::string_view name = c.name;
    if (auto* b = qobject_cast<QAbstractButton*>(w)) {
      if (qobject_cast<QToolButton*>(w)) continue;
      connect(b, &QAbstractButton::clicked, this, [this, name] {
        logic_->UserClicked(name);
        // The widget may have toggled itself (a checked radio button clicked
        // again); the logic's state is what it shows.
        Sync(name);
      });
    }
  }
}

// ---- Logic to widgets ----

// The logic reports changes from its constructor on; the widgets are made
// after it and take the whole state once they exist.
void TSetup::StateChanged(std::string_view control) {
  if (built_) Sync(control);
}

void TSetup::Sync(std::string_view name) {
  QWidget* w = Control(name);
  const ControlEntry* ctrl = FindControlEntry(name);
  if (!ctrl) return;
  const ControlState& st = logic_->State(name);
  if (name == "TSetup") {
    ApplyHints();
    return;
  }
  if (name == "PageControl1") {
    SyncTabs();
    return;
  }
  if (name == "StatusBar1") {
    statusText_->setText(Q(st.text));
    return;
  }
  if (!w) return;
  const QSignalBlocker block(w);
  w->setEnabled(st.enabled);
  if (auto* bar = qobject_cast<TKivBar*>(w)) {
    bar->setRange(st.min, std::max(st.min, st.max));
    if (bar->tickPosition() != QSlider::NoTicks) bar->setTickInterval(std::max(bar->maximum() - bar->minimum(), 1));
    bar->setPageStep(std::max(st.pageSize, 1));
    bar->SetOriginalPosition(st.originalPosition);
    bar->SetDefaultPosition(st.defaultPosition);
    bar->SetPosition(st.position);
  } else if (auto* key = qobject_cast<TKivButton*>(w)) {
    key->SetDown(st.checked);
  } else if (auto* box = qobject_cast<QComboBox*>(w)) {
    bool same = box->count() == static_cast<int>(st.items.size());
    for (int i = 0; same && i < box->count(); ++i) same = box->itemText(i) == QString::fromStdString(st.items[static_cast<size_t>(i)]);
    if (!same) {
      box->clear();
      for (const std::string& item : st.items) box->addItem(QString::fromStdString(item));
    }
    box->setCurrentIndex(st.itemIndex);
  } else if (auto* edit = qobject_cast<QLineEdit*>(w)) {
    const QString text = QString::fromStdString(st.text);
    if (edit->text() != text) edit->setText(text);
  } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
    button->setText(QString::fromStdString(st.text));
    if (button->isCheckable()) button->setChecked(st.checked);
  } else if (auto* group = qobject_cast<QGroupBox*>(w)) {
    group->setTitle(QString::fromStdString(st.text));
  } else if (auto* label = qobject_cast<QLabel*>(w)) {
    if (ctrl->kind == ControlKind::Label) label->setText(QString::fromStdString(st.text));
  }
}

void TSetup::SyncTabs() {
  const int index = logic_->State("PageControl1").itemIndex;
  {
    const QSignalBlocker block(pages_);
    if (index >= 0 && index < pages_->count()) pages_->setCurrentIndex(index);
  }
  if (QAbstractButton* tab = tabs_->button(index)) tab->setChecked(true);
}

void TSetup::ApplyHints() {
  const bool show = logic_->ShowHints();
  for (const ControlEntry& c : ControlEntries()) {
    if (QWidget* w = Control(c.name)) w->setToolTip(show && !c.hint.empty() ? Q(c.hint) : QString());
  }
}

void TSetup::ChoosePage(int index) {
  if (index < 0 || index >= static_cast<int>(PageNames().size())) return;
  // A click on the tab of the page already shown changes nothing.
  if (index == logic_->State("PageControl1").itemIndex) return;
  logic_->PageChanging();
  logic_->PageChanged(PageNames()[static_cast<size_t>(index)]);
}

// ---- Hooks ----

void TSetup::StartTimer() { timer_->start(); }
void TSetup::StopTimer() { timer_->stop(); }

void TSetup::TimerFired() { preview_->Render(); }

void TSetup::FrameBarChange(Sender sender) { preview_->FrameBarChange(sender); }

void TSetup::MonitorButtonClick(std::string_view button, Sender) { preview_->MonitorButtonClick(button); }

void TSetup::ClipLevelsChanged() { preview_->ClipLevelsChanged(); }

void TSetup::ShowMessage(std::string_view text) { QMessageBox::information(this, "Tarvo", Q(text)); }

void TSetup::Notice(std::string_view text) {
  const std::string t(text);
  if (call_.notice) call_.notice(call_.noticeContext, t.c_str());
  else std::fprintf(stderr, "tarvo: %s\n", t.c_str());
}

void TSetup::Click(std::string_view control, Sender sender) {
  if (CommandClick(control, sender)) return;
  if (control == "OkButton") {
    accept();
  } else if (control == "CancelButton") {
    QDialog::reject();
  } else if (control == "HelpButton") {
    OpenHelp(kHelpContents);
  } else if (control == "PreferButton") {
    OpenPreferences();
  } else if (control == "BypassButton") {
    preview_->BypassClicked();
  } else if (control == "PreviewBox") {
    preview_->PreviewBoxClicked(sender);
  } else if (control == "FirstButton" || control == "LastButton") {
    const ControlState& bar = logic_->State("FrameBar");
    if (QWidget* w = Control("FrameBar")) w->setFocus(Qt::OtherFocusReason);
    logic_->SetFocusedControl("FrameBar");
    logic_->SetPosition("FrameBar", control == "FirstButton" ? bar.min : bar.max);
    FrameBarChange(sender);
  }
}

// The preferences dialog over the options, the built-in defaults and the
// floating preview's options; what it changes reaches this dialog at once
// (levels into the record, graticules and scales, hints, lift captions).
void TSetup::OpenPreferences() {
  if (!call_.options || !call_.defaults) return;
  PreviewOptions* previewOptions = preview_->Preview() ? &preview_->Preview()->Options() : nullptr;
  if (!previewOptions) return;
  PreferContext context{call_.defaults, call_.options, previewOptions, call_.store};
  SetupPreferHooks hooks(*logic_, *this, [this](bool show) {
    logic_->SetShowHints(show);
    ApplyHints();
  });
  RunPreferences(this, context, &hooks, call_.options->HelpFile);
}

// ---- Help ----

std::string TSetup::HelpFile() const { return call_.options ? call_.options->HelpFile : std::string(); }

int TSetup::FocusedHelpContext() const {
  for (QWidget* w = QApplication::focusWidget(); w; w = w->parentWidget()) {
    if (w == this) break;
    const std::string name = S(w->objectName());
    if (FindControlEntry(name)) return logic_->HelpContextOf(name);
  }
  // A tab button: the page control's context.
  return logic_->HelpContextOf("TSetup");
}

void TSetup::OpenHelp(int context) {
  if (HelpWindow* w = ShowHelp(this, HelpFile(), context)) help_ = w;
}

void TSetup::FocusMoved(QWidget* now) {
  if (!now || now->window() != this) return;
  for (QWidget* w = now; w && w != this; w = w->parentWidget()) {
    const std::string name = S(w->objectName());
    if (FindControlEntry(name)) {
      logic_->SetFocusedControl(name);
      return;
    }
  }
}

// ---- Edit boxes: Enter applies, leaving applies ----

bool TSetup::eventFilter(QObject* watched, QEvent* e) {
  if (CommandEvent(watched, e)) return true;
  auto* edit = qobject_cast<QLineEdit*>(watched);
  if (!edit) return QDialog::eventFilter(watched, e);
  const std::string name = S(edit->objectName());
  const ControlEntry* ctrl = FindControlEntry(name);
  if (!ctrl) return QDialog::eventFilter(watched, e);
  if (e->type() == QEvent::KeyPress) {
    auto* k = static_cast<QKeyEvent*>(e);
    if (k->key() == Qt::Key_Return || k->key() == Qt::Key_Enter) {
      // Consumed here, so Enter applies the level and does not press OK.
      logic_->EditKeyDown(ctrl->name, 13);
      return true;
    }
  } else if (e->type() == QEvent::FocusOut && !closing_ && !logic_->Cancelled()) {
    // Leaving the box applies the level, but not while the dialog closes:
    // after Cancel has put the record back, a level still in the box must
    // not be written into it again.
    logic_->EditExit(ctrl->name);
  }
  return QDialog::eventFilter(watched, e);
}

// ---- Life cycle ----

void TSetup::PlaceFromStore() {
  int32_t top = 0, left = 0;
  const bool haveTop = call_.store && call_.store->ReadInteger(kKeyOptions, "Top", top) == ValueStatus::Present;
  const bool haveLeft = call_.store && call_.store->ReadInteger(kKeyOptions, "Left", left) == ValueStatus::Present;
  QScreen* screen = parentWidget() ? parentWidget()->screen() : QGuiApplication::primaryScreen();
  const QRect area = screen ? screen->geometry() : QRect(0, 0, 1024, 768);
  move(DialogPlacement(haveTop ? &top : nullptr, haveLeft ? &left : nullptr, frameGeometry().size(), area));
  placed_ = true;
}

void TSetup::showEvent(QShowEvent* e) {
  closing_ = false;
  QDialog::showEvent(e);
  placedAt_ = pos();
  if (!shownOnce_) {
    shownOnce_ = true;
    // The first activation loads the controls; it must not wait for the
    // window system to activate the window.
    logic_->Activate();
  }
}

void TSetup::changeEvent(QEvent* e) {
  QDialog::changeEvent(e);
  if (e->type() == QEvent::ActivationChange && isActiveWindow() && shownOnce_) logic_->Activate();
}

void TSetup::hideEvent(QHideEvent* e) {
  QDialog::hideEvent(e);
  // A dialog the user moved opens where it was left next time.
  if (placed_ && call_.store && pos() != placedAt_) {
    const QRect screen = this->screen() ? this->screen()->geometry() : QRect();
    call_.store->WriteInteger(kKeyOptions, "Top", pos().y() - screen.top());
    call_.store->WriteInteger(kKeyOptions, "Left", pos().x() - screen.left());
  }
}

void TSetup::reject() { logic_->UserClicked("CancelButton"); }

void TSetup::done(int result) {
  closing_ = true;
  logic_->Close();
  CloseCommands();
  QDialog::done(result);
}

}  // namespace tarvo::ui
