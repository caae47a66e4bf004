#include "host/notify.h"

#include "types/specs.h"

namespace tarvo {

const char kProcessingErrorText[] = "Processing Error";
const char kModeWarningText[] =
    "Tarvo filter is not operating in 'Final' mode\rPress Esc key if you wish to cancel 'Make Movie'.";

const char kSetupUnavailableText[] = "Setup is not available: this build of the Tarvo filter has no setup dialog.";

std::string NewerRecordFormatText(int version) {
  return "These settings were saved in record format " + std::to_string(version) +
         ", newer than this version of the Tarvo filter knows (" + std::to_string(kSpecsVersion) +
         "): it uses what it understands of them and leaves them unchanged.";
}

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

}  // namespace tarvo
