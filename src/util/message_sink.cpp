#include "util/message_sink.h"

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
