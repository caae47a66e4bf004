// The setup dialog's logic over one clip record without a window: the
// fixture its logic tests and its command tests share. `Hooks` records what
// the logic asks of the form.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>

#include "options/option_store.h"
#include "options/options.h"
#include "scenes/collator.h"
#include "scenes/scene_list.h"
#include "types/specs.h"
#include "ui/logic/setup_logic.h"

namespace tarvo::ui {

// An options store that refuses every write.
class FailingStore : public MemoryOptionStore {
 public:
  bool WriteInteger(const std::string&, const std::string&, int32_t) override { return false; }
};

template <class Hooks>
class SetupLogicFixture : public ::testing::Test {
 protected:
  SetupContext Context() {
    SetupContext c;
    c.live = &live_;
    c.previous = &previous_;
    c.defaults = &defaults_;
    c.changed = &changed_;
    c.options = &options_;
    c.store = store_;
    c.scenes = scenes_.get();
    c.sceneIndex = &sceneIndex_;
    c.scenesDirty = &scenesDirty_;
    c.decimalSeparator = separator_;
    return c;
  }

  // Opens the dialog on the live record as the setup call does: previous
  // specs taken, frame range set, first activation.
  SetupLogic& Open(int32_t total = 250) {
    previous_ = live_;
    logic_ = std::make_unique<SetupLogic>(Context(), &hooks_);
    logic_->SetFrameRange(total);
    logic_->Activate();
    return *logic_;
  }

  TSpecs live_{}, previous_{}, defaults_{};
  bool changed_ = false;
  Options options_;
  MemoryOptionStore memoryStore_;
  OptionStore* store_ = &memoryStore_;
  SimpleCollator collator_;
  std::unique_ptr<TSceneList> scenes_;
  int32_t sceneIndex_ = 0;
  bool scenesDirty_ = false;
  std::string separator_ = ".";
  Hooks hooks_;
  std::unique_ptr<SetupLogic> logic_;
};

}  // namespace tarvo::ui
