// The setup form's commands: the Scenes page's buttons, list and radio
// buttons, the pop-up menu of revert and reset commands with the right click
// that chooses its control, Set Defaults, and the picture-click balance keys
// with the click on the main monitor. The rules live in ui/logic; this file
// connects them to the widgets.
#include <QComboBox>
#include <QContextMenuEvent>
#include <QEvent>
#include <QMenu>
#include <QMouseEvent>

#include "ui/controls/balance_cursors.h"
#include "ui/controls/confirm_box.h"
#include "ui/logic/balance_click.h"
#include "ui/logic/revert_reset.h"
#include "ui/logic/scene_page.h"
#include "ui/scenes/tsave_scene.h"
#include "ui/setup/preview_buffers.h"
#include "ui/setup/preview_cycle.h"
#include "ui/setup/tsetup.h"

namespace tarvo::ui {
namespace {

QString Q(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

// The control of the table a widget stands for: the widget itself or its
// nearest named parent below the form.
std::string_view ControlOf(QObject* o, QObject* form) {
  for (; o && o != form; o = o->parent()) {
    const QByteArray name = o->objectName().toUtf8();
    if (const ControlEntry* ctrl = FindControlEntry(std::string_view(name.constData(), static_cast<size_t>(name.size()))))
      return ctrl->name;
  }
  return {};
}

bool Inside(QObject* o, QObject* ancestor) {
  for (; o; o = o->parent())
    if (o == ancestor) return true;
  return false;
}

}  // namespace

void TSetup::BuildCommands() {
  confirmer_ = std::make_unique<MessageBoxConfirmer>(this);
  SetupHooks& hooks = *this;
  scenePage_ = std::make_unique<ScenePage>(*logic_, hooks, *confirmer_, [this](const std::string& prefill) {
    return RunSaveScene(this, prefill, HelpFile(), call_.scenes);
  });
  commands_ = std::make_unique<RevertReset>(*logic_, hooks, *confirmer_, call_.defaults, call_.store);
  balance_ = std::make_unique<BalanceClicks>(*logic_, hooks, [this](int slot) {
    if (QWidget* screen = Control("MScreen")) screen->setCursor(BalanceCursor(slot));
  });

  // Choosing a scene in the list (only the user's choice: the form sets the
  // list's selection with its signals blocked).
  if (auto* box = qobject_cast<QComboBox*>(Control("SceneBox")))
    connect(box, &QComboBox::activated, this, [this](int index) { scenePage_->SceneBoxChange(index); });

  // The pop-up menu, on the page control, its pages and their controls.
  popup_ = new QMenu(this);
  popup_->setObjectName("PopupMenu1");
  popup_->setToolTipsVisible(true);
  for (const PopupItem& item : PopupMenuItems()) {
    QAction* action = item.caption == "-" ? popup_->addSeparator() : popup_->addAction(Q(item.caption));
    action->setObjectName(Q(item.name));
    if (!item.hint.empty()) action->setToolTip(Q(item.hint));
    const std::string_view name = item.name;
    connect(action, &QAction::triggered, this, [this, name] {
      const Sender sender = By(name);
      if (name == "Revert1") commands_->RevertControl(sender);
      else if (name == "Reset1") commands_->ResetControl(sender);
      else if (name == "Revert2") commands_->RevertPage(sender);
      else if (name == "Reset2") commands_->ResetPage(sender);
      else if (name == "Revert3") commands_->RevertAll(sender);
      else if (name == "Reset3") commands_->ResetAll(sender);
    });
  }
  if (QWidget* pages = Control("PageControl1")) {
    pages->installEventFilter(this);
    for (QWidget* w : pages->findChildren<QWidget*>()) w->installEventFilter(this);
  }
  if (QWidget* screen = Control("MScreen")) {
    screen->installEventFilter(this);
    screen->setCursor(BalanceCursor(kNormalCursorSlot));
  }
}

bool TSetup::CommandClick(std::string_view control, Sender /*sender*/) {
  if (!scenePage_) return false;
  if (control == "SceneSaveButton") {
    scenePage_->SaveAs();
  } else if (control == "SceneDeleteButton") {
    scenePage_->Delete();
  } else if (control == "SceneDefaultButton") {
    scenePage_->SetDefault();
  } else if (control == "UseMasterButton") {
    scenePage_->UseMasterClick();
  } else if (control == "UseIndividualButton") {
    scenePage_->UseIndividualClick();
  } else if (control == "SetDefaultsButton") {
    commands_->SetDefaults();
  } else if (BalanceFamilyOf(control) != BalanceMode::None) {
    balance_->FamilyClick(control);
  } else if (control == "BypassButton") {
    // The bypass key ends an armed balance (its own handling follows).
    balance_->Disarm();
    return false;
  } else {
    return false;
  }
  return true;
}

bool TSetup::CommandEvent(QObject* watched, QEvent* e) {
  if (!popup_) return false;
  QWidget* screen = Control("MScreen");
  if (watched == screen && screen) {
    if (e->type() == QEvent::MouseButtonPress) {
      auto* m = static_cast<QMouseEvent*>(e);
      if (m->button() == Qt::LeftButton) MScreenClick(m->position().toPoint());
    }
    return false;
  }
  QWidget* pages = Control("PageControl1");
  if (!pages || !Inside(watched, pages)) return false;
  if (e->type() == QEvent::MouseButtonPress && static_cast<QMouseEvent*>(e)->button() == Qt::RightButton) {
    // A press the clicked widget ignores travels on to its parents; only the
    // widget clicked chooses (a right click on a test pattern does not make
    // its page the target).
    auto* press = static_cast<QMouseEvent*>(e);
    static const QEvent* lastPress = nullptr;
    static quint64 lastTime = 0;
    if (press == lastPress && press->timestamp() == lastTime) return false;
    lastPress = press;
    lastTime = press->timestamp();
    // The right click makes the control the one the menu's single-control
    // commands act on.
    const std::string_view name = ControlOf(watched, this);
    if (RightClickChoosesControl(name)) {
      logic_->SetFocusedControl(name);
      if (QWidget* w = Control(name); w && w->focusPolicy() != Qt::NoFocus) w->setFocus(Qt::MouseFocusReason);
    }
    return false;
  }
  if (e->type() == QEvent::ContextMenu) {
    popup_->popup(static_cast<QContextMenuEvent*>(e)->globalPos());
    return true;
  }
  return false;
}

void TSetup::CloseCommands() {
  if (scenePage_) scenePage_->SaveAtClose();
}

void TSetup::SetBalanceFrames(const TPixBuffer* source, const TPixBuffer* monitor) {
  balanceSource_ = source;
  balanceMonitor_ = monitor;
}

void TSetup::MScreenClick(QPoint position) {
  if (!balance_) return;
  // The source picture of the last render and its processed result: the
  // preview's work and display images unless others were handed over.
  const TPixBuffer* source = balanceSource_;
  const TPixBuffer* monitor = balanceMonitor_;
  if (!source || !monitor) {
    PreviewBuffers* buffers = preview_ ? preview_->Buffers() : nullptr;
    if (!buffers || !buffers->Ok()) return;
    source = buffers->Work();
    monitor = buffers->Display();
  }
  // The monitor pictures are stored bottom row first.
  balance_->ScreenClick(position.x(), 179 - position.y(), source, monitor);
}

int TSetup::BalanceCursorSlot() const { return balance_ ? balance_->CursorSlot() : kNormalCursorSlot; }

}  // namespace tarvo::ui
