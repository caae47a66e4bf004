// The kinds of message the filter reports, shared by the engine, its parts
// and the hosts that receive them.
#pragma once

#include <functional>
#include <string>

namespace tarvo {

// The kinds of message. The numbers are part of the plug-in library's
// message export and never change.
enum class Notice {
  ProcessingError = 0,    // "Processing Error": a frame or record handle is missing or unusable
  ModeWarning = 1,        // the operating mode is not Final
  OutOfMemory = 2,        // a plane could not be allocated; the frame was skipped
  BadFrame = 3,           // a frame descriptor that cannot be processed safely
  SetupUnavailable = 4,   // the setup selector was called but the dialog cannot be shown (the text says why)
  Failure = 5,            // an unexpected error stopped the call; the frame or record was left as it was
  Message = 6,            // anything else worth telling: scene file, options file, environment
  NewerRecordFormat = 7,  // a record of a newer format is used as understood and not written
};
constexpr int kNoticeKinds = 8;

// True for the kinds that mean a frame was not rendered.
constexpr bool IsFrameFailure(Notice n) {
  return n == Notice::ProcessingError || n == Notice::OutOfMemory || n == Notice::BadFrame || n == Notice::Failure;
}

// The sink: receives the kind and the text (UTF-8; the mode warning's two
// lines are separated by a carriage return). Register an empty function to go
// back to the process-wide sink. A sink must not throw.
using NoticeHandler = std::function<void(Notice, const std::string&)>;

}  // namespace tarvo
