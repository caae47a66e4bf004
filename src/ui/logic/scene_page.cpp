#include "ui/logic/scene_page.h"

#include <memory>
#include <utility>
#include <vector>

#include "options/options.h"
#include "scenes/cp1252.h"
#include "ui/logic/scene_name.h"

namespace tarvo::ui {

std::string DeleteSceneQuestion(const std::string& name) {
  return "Are you sure you want to delete scene \r \"" + name + "\" ?";
}

std::string ReplaceWithSceneQuestion(const std::string& name) {
  return "Do you wish to replace the current clip settings with those of the saved scene\r \"" + name + "\" ?";
}

void LoadSceneIntoClip(TSpecs& clip, TScene& scene, bool* dirty) {
  const auto framePos = clip.FramePos;
  clip = scene.Specs;
  clip.FramePos = framePos;
  if (UpgradeSpecs(clip)) {
    scene.Specs = clip;
    if (dirty) *dirty = true;
  }
}

ScenePage::ScenePage(SetupLogic& logic, SetupHooks& hooks, Confirmer& confirm, AskName askName)
    : logic_(logic), hooks_(hooks), confirm_(confirm), askName_(std::move(askName)) {}

void ScenePage::SetSceneIndex(int32_t index) {
  if (logic_.Context().sceneIndex) *logic_.Context().sceneIndex = index;
}

void ScenePage::SetDirty() {
  if (logic_.Context().scenesDirty) *logic_.Context().scenesDirty = true;
}

int32_t ScenePage::UseMastersOption() const {
  const Options* o = logic_.Context().options;
  return o && o->UseMasters == 1 ? 1 : 0;
}

void ScenePage::RefillSceneBox() {
  std::vector<std::string> names;
  if (TSceneList* list = Scenes())
    for (int i = 0; i < list->Count(); ++i) names.push_back(list->Name(i));
  logic_.SetItems("SceneBox", std::move(names));
}

void ScenePage::SceneBoxChange(int32_t index) {
  if (!logic_.Context().live) return;
  logic_.SetFocusedControl("SceneBox");
  logic_.SelectItem("SceneBox", index);
  TSceneList* list = Scenes();
  const bool isScene = list && index >= 1 && index < list->Count() && list->Scene(index);
  SetSceneIndex(isScene ? index : 0);
  if (isScene) {
    LoadSceneIntoClip(Live(), *list->Scene(index), logic_.Context().scenesDirty);
    Live().UseMaster = static_cast<int16_t>(UseMastersOption());
  } else {
    Live().UseMaster = 0;
  }
  logic_.UpdateControls(Live());
  logic_.KickTimer(By("SceneBox"));
}

void ScenePage::SaveAs() {
  TSceneList* list = Scenes();
  if (!list || !logic_.Context().live || !askName_) return;
  const std::optional<std::string> typed = askName_(Cp1252ToUtf8(SceneNameOf(Live())));
  if (!typed) return;
  // Trimmed of blanks and control characters at both ends, cut to the
  // record's 31 characters.
  const std::string name = SceneNameToSave(*typed);
  std::string bytes, why;
  if (!list->CheckName(name, &bytes, &why)) {
    // The save dialog refuses such names; one that still gets here changes
    // nothing.
    hooks_.ShowMessage(why);
    return;
  }
  SetSceneName(Live(), bytes);
  auto scene = std::make_unique<TScene>();
  scene->Specs = Live();
  // A scene opens on the Scenes page, whatever page the clip showed.
  scene->Specs.PageIndex = 0;
  const int position = list->Add(name, std::move(scene), &why);
  if (position < 0) {
    hooks_.ShowMessage(why);
    return;
  }
  RefillSceneBox();
  logic_.SelectItem("SceneBox", position);
  SetSceneIndex(position);
  Live().UseMaster = static_cast<int16_t>(UseMastersOption());
  logic_.UpdateControls(Live());
  logic_.KickTimer(By("SceneSaveButton"));
  SetDirty();
}

void ScenePage::Delete() {
  TSceneList* list = Scenes();
  if (!list || !logic_.Context().live) return;
  const ControlState& box = logic_.State("SceneBox");
  const std::string name = box.itemIndex >= 0 && box.itemIndex < static_cast<int32_t>(box.items.size())
                               ? box.items[static_cast<size_t>(box.itemIndex)]
                               : std::string(kNoSceneName);
  if (name == kNoSceneName) {
    hooks_.ShowMessage(kCannotDeleteNone);
    return;
  }
  if (!confirm_.Confirm(DeleteSceneQuestion(name))) return;
  const int index = list->IndexOf(name);
  if (index >= 1) list->Delete(index);
  RefillSceneBox();
  logic_.SelectItem("SceneBox", 0);
  SetSceneIndex(0);
  Live().UseMaster = 0;
  SetDirty();
  SceneBoxChange(0);
}

void ScenePage::SetDefault() {
  const ControlState& box = logic_.State("SceneBox");
  const std::string name = box.itemIndex >= 0 && box.itemIndex < static_cast<int32_t>(box.items.size())
                               ? box.items[static_cast<size_t>(box.itemIndex)]
                               : std::string(kNoSceneName);
  if (Options* o = logic_.Context().options) o->DefaultScene = name;
  logic_.SetText("DefaultSceneLabel", name);
  OptionStore* store = logic_.Context().store;
  if (store && !store->WriteString(kKeyOptions, "DefaultScene", name))
    hooks_.Notice("The default scene could not be stored; it applies until the filter is unloaded.");
}

void ScenePage::UseMasterClick() {
  if (logic_.FocusedControl() != "UseMasterButton" || !logic_.Context().live) return;
  const std::string name = Cp1252ToUtf8(SceneNameOf(Live()));
  if (Live().UseMaster != 0 || SceneNameOf(Live()) == kNoSceneName) {
    hooks_.ShowMessage(kCannotMasterNone);
    logic_.CheckRadio("UseIndividualButton");
    return;
  }
  TSceneList* list = Scenes();
  const int index = list ? list->IndexOf(name) : -1;
  TScene* scene = index >= 1 ? list->Scene(index) : nullptr;
  if (!scene) {
    // The scene the clip was saved from is gone: nothing to follow. The
    // clip keeps its settings and stays independent.
    hooks_.ShowMessage(kMasterSceneMissing);
    logic_.CheckRadio("UseIndividualButton");
    return;
  }
  if (!SpecsEqual(Live(), scene->Specs) && !confirm_.Confirm(ReplaceWithSceneQuestion(name))) {
    logic_.CheckRadio("UseIndividualButton");
    return;
  }
  SetSceneIndex(index);
  LoadSceneIntoClip(Live(), *scene, logic_.Context().scenesDirty);
  Live().UseMaster = 1;
  logic_.UpdateControls(Live());
  logic_.KickTimer(By("UseMasterButton"));
}

void ScenePage::UseIndividualClick() {
  if (logic_.FocusedControl() != "UseIndividualButton" || !logic_.Context().live) return;
  SetSceneIndex(0);
  Live().UseMaster = 0;
  logic_.SelectItem("SceneBox", 0);
}

bool ScenePage::SaveAtClose() {
  bool* dirty = logic_.Context().scenesDirty;
  TSceneList* list = Scenes();
  if (!dirty || !*dirty || !list || list->FileName().empty()) return true;
  std::string why;
  if (list->SaveToFile(list->FileName(), &why)) {
    *dirty = false;
    return true;
  }
  hooks_.ShowMessage("The scene file " + list->FileName() + " was not written.\n" + why +
                     "\nThe scenes are kept until the filter is unloaded and saved again when this dialog closes.");
  return false;
}

}  // namespace tarvo::ui
