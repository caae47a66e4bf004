#include "ui/scenes/tsave_scene.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>

#include "scenes/scene_list.h"
#include "types/specs.h"
#include "ui/controls/classic_style.h"
#include "ui/controls/help_window.h"
#include "ui/logic/scene_name.h"

namespace tarvo::ui {

namespace {

constexpr int kClientWidth = 275;
constexpr int kClientHeight = 94;

void ShowPlainMessage(QWidget* parent, const QString& text) {
  QMessageBox box(QMessageBox::NoIcon, "Tarvo", text, QMessageBox::Ok, parent);
  box.exec();
}

}  // namespace

SceneNameEdit::SceneNameEdit(QWidget* parent) : QLineEdit(parent) {}

void SceneNameEdit::keyPressEvent(QKeyEvent* event) {
  const QString typed = event->text();
  const Qt::KeyboardModifiers commands = Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier;
  const QList<uint> chars = typed.toUcs4();
  // Only a typed character is filtered; editing keys and shortcuts pass.
  if (chars.size() != 1 || chars[0] < 32 || chars[0] == 127 || (event->modifiers() & commands)) {
    QLineEdit::keyPressEvent(event);
    return;
  }
  const int caretUnits = hasSelectedText() ? selectionStart() : cursorPosition();
  const QList<uint> before = text().left(caretUnits).toUcs4();
  std::u32string current;
  for (uint c : text().toUcs4()) current.push_back(static_cast<char32_t>(c));
  const std::optional<char32_t> ch =
      FilterSceneNameKey(current, static_cast<size_t>(before.size()), static_cast<char32_t>(chars[0]));
  event->accept();
  if (!ch) return;
  if (*ch == static_cast<char32_t>(chars[0])) {
    QLineEdit::keyPressEvent(event);
    return;
  }
  const char32_t c = *ch;
  insert(QString::fromUcs4(&c, 1));
}

TSaveScene::TSaveScene(const std::string& name, std::string helpFile, SceneNameCheck check, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      helpFile_(std::move(helpFile)),
      check_(std::move(check)) {
  setObjectName("TSaveScene");
  setWindowTitle(kSaveSceneCaption);
  QFont font = QApplication::font();
  font.setPixelSize(11);
  setFont(font);
  setFixedSize(kClientWidth, kClientHeight);

  auto* label = new QLabel("Scene Name", this);
  label->setObjectName("SceneLabel");
  label->adjustSize();
  label->move(20, 4);
  sceneEdit_ = new SceneNameEdit(this);
  sceneEdit_->setObjectName("SceneEdit");
  sceneEdit_->setGeometry(20, 20, 235, 21);
  sceneEdit_->setMaxLength(static_cast<int>(kSceneNameMax));
  sceneEdit_->setText(QString::fromStdString(name));
  sceneEdit_->selectAll();

  auto* ok = new QPushButton("OK", this);
  ok->setObjectName("OKButton");
  ok->setGeometry(185, 56, 70, 25);
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &TSaveScene::OKButtonClick);
  auto* cancel = new QPushButton("Cancel", this);
  cancel->setObjectName("CancelButton");
  cancel->setGeometry(104, 56, 70, 25);
  cancel->setAutoDefault(false);
  connect(cancel, &QPushButton::clicked, this, &TSaveScene::CancelButtonClick);
  auto* f1 = new QShortcut(QKeySequence::HelpContents, this);
  connect(f1, &QShortcut::activated, this, [this] { ShowHelp(this, helpFile_, kSaveSceneHelpContext); });

  ApplyClassicStyle(this);
  label->adjustSize();

  if (QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen()) {
    QRect r(QPoint(0, 0), size());
    r.moveCenter(screen->geometry().center());
    move(r.topLeft());
  }
}

std::string TSaveScene::SceneName() const { return SceneNameToSave(sceneEdit_->text().toStdString()); }

void TSaveScene::OKButtonClick() {
  std::string why = RefuseSceneName(sceneEdit_->text().toStdString());
  if (why.empty() && check_) why = check_(SceneName());
  if (!why.empty()) {
    ShowPlainMessage(this, QString::fromStdString(why));
    sceneEdit_->setFocus();
    return;
  }
  accept();
}

void TSaveScene::CancelButtonClick() { reject(); }

std::optional<std::string> RunSaveScene(QWidget* parent, const std::string& name, const std::string& helpFile,
                                        const TSceneList* scenes) {
  SceneNameCheck check;
  if (scenes) {
    check = [scenes](const std::string& n) {
      std::string error;
      return scenes->CheckName(n, nullptr, &error) ? std::string() : error;
    };
  }
  TSaveScene dialog(name, helpFile, check, parent);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.SceneName();
}

}  // namespace tarvo::ui
