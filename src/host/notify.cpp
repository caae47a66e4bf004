#include "host/notify.h"

#include <cstdio>
#include <mutex>

namespace tarvo {
namespace {

std::mutex& SinkMutex() {
  static std::mutex m;
  return m;
}
NoticeHandler& ProcessSink() {
  static NoticeHandler sink;
  return sink;
}

void WriteToStandardError(const std::string& text) {
  // One line: the carriage return between the warning's two lines becomes a
  // separator.
  std::string line = text;
  for (char& c : line)
    if (c == '\r' || c == '\n') c = ' ';
  std::fprintf(stderr, "tarvo: %s\n", line.c_str());
}

}  // namespace

const char kProcessingErrorText[] = "Processing Error";
const char kModeWarningText[] =
    "Tarvo filter is not operating in 'Final' mode\rPress Esc key if you wish to cancel 'Make Movie'.";

const char kSetupUnavailableText[] = "Setup is not available: this build of the Tarvo filter has no setup dialog.";

void Notifier::Show(Notice n, const std::string& text) {
  const unsigned bit = 1u << static_cast<int>(n);
  if (showing_.fetch_or(bit) & bit) return;
  Deliver(n, text);
}

void Notifier::Clear(Notice n) { showing_.fetch_and(~(1u << static_cast<int>(n))); }

void Notifier::Deliver(Notice n, const std::string& text) {
  if (handler_) {
    handler_(n, text);
    return;
  }
  ReportToProcess(n, text);
}

void SetProcessNoticeHandler(NoticeHandler h) {
  std::lock_guard<std::mutex> lock(SinkMutex());
  ProcessSink() = std::move(h);
}

void ReportToProcess(Notice n, const std::string& text) {
  NoticeHandler sink;
  {
    std::lock_guard<std::mutex> lock(SinkMutex());
    sink = ProcessSink();
  }
  if (sink) {
    sink(n, text);
    return;
  }
  WriteToStandardError(text);
}

}  // namespace tarvo
