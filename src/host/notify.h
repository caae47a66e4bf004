// How the filter tells the user about a problem: every message the engine and
// its parts report (processing errors, the mode warning, the scene file and
// the options file) goes through one sink. A host or user interface sets the
// sink of an engine's notifier, or the process-wide sink that serves every
// notifier without one; with neither, a message is one line on standard
// error. Conditions that repeat with every frame are reported once, not once
// per frame, until they are cleared.
#pragma once

#include <atomic>
#include <functional>
#include <string>

#include "types/notice.h"
#include "util/message_sink.h"

namespace tarvo {

class Notifier {
 public:
  void SetHandler(NoticeHandler h) { handler_ = std::move(h); }
  // Reports the notice unless it is already showing.
  void Show(Notice n, const std::string& text);
  // Allows the notice to be reported again.
  void Clear(Notice n);
  // Allows every notice to be reported again (a new listener has seen none).
  void ClearAll() { showing_.store(0); }
  bool IsShowing(Notice n) const { return (showing_.load() >> static_cast<int>(n)) & 1u; }
  // Reports a message of kind Message; the caller decides how often.
  void Report(const std::string& text) { Deliver(Notice::Message, text); }

 private:
  void Deliver(Notice n, const std::string& text);

  NoticeHandler handler_;
  std::atomic<unsigned> showing_{0};
};

extern const char kProcessingErrorText[];
extern const char kModeWarningText[];
extern const char kSetupUnavailableText[];
// The text of NewerRecordFormat for a record of format `version`.
std::string NewerRecordFormatText(int version);

}  // namespace tarvo
