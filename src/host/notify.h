// How the filter tells the user about a problem while rendering: a message box
// when a user interface has registered a handler, otherwise one line on
// standard error. Each condition is reported once, not once per frame, until
// it is cleared.
#pragma once

#include <functional>
#include <string>

namespace tarvo {

enum class Notice {
  ProcessingError,  // "Processing Error": a frame or record handle is missing
  ModeWarning,      // the operating mode is not Final
  OutOfMemory,      // a plane could not be allocated; the frame was skipped
  BadFrame,         // a frame descriptor that cannot be processed safely
  SetupUnavailable, // the setup selector was called but the dialog cannot be shown (the text says why)
  NewerRecordFormat, // a record of a newer format is used as understood and not written
};

// Handler receives the notice and its fixed text. Register an empty function
// to go back to standard error.
using NoticeHandler = std::function<void(Notice, const std::string&)>;

class Notifier {
 public:
  void SetHandler(NoticeHandler h) { handler_ = std::move(h); }
  // Reports the notice unless it is already showing.
  void Show(Notice n, const std::string& text);
  // Allows the notice to be reported again.
  void Clear(Notice n);
  bool IsShowing(Notice n) const { return (showing_ >> static_cast<int>(n)) & 1u; }

 private:
  NoticeHandler handler_;
  unsigned showing_ = 0;
};

extern const char kProcessingErrorText[];
extern const char kModeWarningText[];
extern const char kSetupUnavailableText[];
// The text of NewerRecordFormat for a record of format `version`.
std::string NewerRecordFormatText(int version);

}  // namespace tarvo
