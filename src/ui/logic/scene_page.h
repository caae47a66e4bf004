// The Scenes page's handlers without widgets: choosing a scene, saving the
// clip's settings as a scene, deleting one, the default scene, the master and
// independent radio buttons, and writing the scene file when the dialog
// closes.
//
// The page works on the SetupLogic's controls and context (the live record,
// the scene list, the scene index, the scenes-dirty flag, the options); it
// asks its questions through a Confirmer and gets a scene name through
// AskName, so tests drive it without a window.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "scenes/scene_list.h"
#include "types/specs.h"
#include "ui/confirmer.h"
#include "ui/logic/setup_logic.h"

namespace tarvo::ui {

inline constexpr char kCannotDeleteNone[] = "Cannot delete scene \"<none>\"";
inline constexpr char kCannotMasterNone[] = "Cannot make scene \"<none>\" master - choose a scene first";
inline constexpr char kMasterSceneMissing[] = "The master scene referenced by this clip cannot be found.";

// The confirmation texts, with the scene's name (UTF-8).
std::string DeleteSceneQuestion(const std::string& name);
std::string ReplaceWithSceneQuestion(const std::string& name);

// Copies a scene over the clip's record, keeping the clip's frame position.
// A scene of an older record format is brought up to date in the clip, and
// the upgraded record goes back into the scene (`dirty` is then set).
void LoadSceneIntoClip(TSpecs& clip, TScene& scene, bool* dirty);

class ScenePage {
 public:
  // Shows the save-scene dialog pre-filled with `prefill` (UTF-8); the typed
  // name, or nothing for Cancel.
  using AskName = std::function<std::optional<std::string>(const std::string& prefill)>;

  // `hooks` shows the page's messages; the logic's own hooks may be passed.
  ScenePage(SetupLogic& logic, SetupHooks& hooks, Confirmer& confirm, AskName askName);

  // The user chose item `index` of SceneBox.
  void SceneBoxChange(int32_t index);
  // "Save As", "Delete", "Set Default".
  void SaveAs();
  void Delete();
  void SetDefault();
  // The radio buttons' click handling; each acts only while its button is
  // the focused control, so checking it from code does nothing.
  void UseMasterClick();
  void UseIndividualClick();

  // The dialog closes: writes the scene file when scenes are dirty. A write
  // that fails is reported with its reason; the scenes stay in memory and
  // dirty, so the next close tries again, and the old file is left as it was.
  // False exactly when a write was needed and failed.
  bool SaveAtClose();

 private:
  TSpecs& Live() const { return *logic_.Context().live; }
  TSceneList* Scenes() const { return logic_.Context().scenes; }
  void SetSceneIndex(int32_t index);
  void SetDirty();
  void RefillSceneBox();
  int32_t UseMastersOption() const;

  SetupLogic& logic_;
  SetupHooks& hooks_;
  Confirmer& confirm_;
  AskName askName_;
};

}  // namespace tarvo::ui
