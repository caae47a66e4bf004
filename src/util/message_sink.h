// The process-wide message sink of this copy of the filter code: where the
// engine's notifiers deliver when no handler of their own is set, and where
// parts that report outside any engine (the options file, the environment)
// send their messages.
#pragma once

#include <string>

#include "types/notice.h"

namespace tarvo {

// The process-wide sink (of this copy of the filter code): used by every
// notifier without a handler of its own and by parts that report outside any
// engine. Empty: standard error. Safe to call from any thread.
void SetProcessNoticeHandler(NoticeHandler h);
// Delivers one message to the process-wide sink.
void ReportToProcess(Notice n, const std::string& text);

}  // namespace tarvo
