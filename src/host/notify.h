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

namespace tarvo {

// The kinds of message. The numbers are part of the plug-in library's
// message export and never change.
enum class Notice {
  ProcessingError = 0,   // "Processing Error": a frame or record handle is missing or unusable
  ModeWarning = 1,       // the operating mode is not Final
  OutOfMemory = 2,       // a plane could not be allocated; the frame was skipped
  BadFrame = 3,          // a frame descriptor that cannot be processed safely
  SetupUnavailable = 4,  // the setup selector was called but this build has no setup dialog
  Failure = 5,           // an unexpected error stopped the call; the frame or record was left as it was
  Message = 6,           // anything else worth telling: scene file, options file, environment
};
constexpr int kNoticeKinds = 7;

// True for the kinds that mean a frame was not rendered.
constexpr bool IsFrameFailure(Notice n) {
  return n == Notice::ProcessingError || n == Notice::OutOfMemory || n == Notice::BadFrame || n == Notice::Failure;
}

// The sink: receives the kind and the text (UTF-8; the mode warning's two
// lines are separated by a carriage return). Register an empty function to go
// back to the process-wide sink. A sink must not throw.
using NoticeHandler = std::function<void(Notice, const std::string&)>;

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

// The process-wide sink (of this copy of the filter code): used by every
// notifier without a handler of its own and by parts that report outside any
// engine. Empty: standard error. Safe to call from any thread.
void SetProcessNoticeHandler(NoticeHandler h);
// Delivers one message to the process-wide sink.
void ReportToProcess(Notice n, const std::string& text);

extern const char kProcessingErrorText[];
extern const char kModeWarningText[];
extern const char kSetupUnavailableText[];

}  // namespace tarvo
