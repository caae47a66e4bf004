// How the dialog's logic asks the user a Yes/No question without knowing the
// toolkit: the widgets supply a Confirmer that shows a message box, tests one
// that answers as told.
#pragma once

#include <string>

namespace tarvo::ui {

class Confirmer {
 public:
  virtual ~Confirmer() = default;
  // Shows `question` (UTF-8) with Yes and No; true exactly when Yes was chosen.
  virtual bool Confirm(const std::string& question) = 0;
};

}  // namespace tarvo::ui
