// TSaveScene: the modal box in which the user names a scene for "Save As".
// The name box filters typed characters (ui/logic/scene_name.h); OK refuses
// "<none>" and names the scene file cannot hold, and keeps the box open.
#pragma once

#include <QDialog>
#include <QLineEdit>

#include <functional>
#include <optional>
#include <string>

namespace tarvo {
class TSceneList;
}

namespace tarvo::ui {

// The name box: applies the key filter to every typed character.
class SceneNameEdit : public QLineEdit {
  Q_OBJECT

 public:
  explicit SceneNameEdit(QWidget* parent = nullptr);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
};

// Why a name (already trimmed and cut) cannot be saved, or "" when it can.
using SceneNameCheck = std::function<std::string(const std::string& name)>;

class TSaveScene : public QDialog {
  Q_OBJECT

 public:
  // `name` (UTF-8) pre-fills the box; `helpFile` is the HelpFile option;
  // `check` (may be empty) adds the scene list's own rules.
  TSaveScene(const std::string& name, std::string helpFile, SceneNameCheck check = {}, QWidget* parent = nullptr);

  SceneNameEdit* SceneEdit() const { return sceneEdit_; }
  // The name the scene is saved under: the box's text trimmed and cut.
  std::string SceneName() const;

 public slots:
  void OKButtonClick();
  void CancelButtonClick();

 private:
  SceneNameEdit* sceneEdit_;
  std::string helpFile_;
  SceneNameCheck check_;
};

// Runs the dialog modally over `parent`, pre-filled with `name` (UTF-8).
// Returns the name to save the scene under (UTF-8: trimmed, at most 31
// characters, storable in the scene file), or nothing for Cancel. With a
// scene list, names the list cannot take are refused in the dialog with the
// reason.
std::optional<std::string> RunSaveScene(QWidget* parent, const std::string& name, const std::string& helpFile,
                                        const TSceneList* scenes = nullptr);

}  // namespace tarvo::ui
