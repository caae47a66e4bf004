#include "ui/logic/preview_options.h"

#include "options/options.h"

namespace tarvo::ui {

namespace {

struct Field {
  const char* name;
  int32_t PreviewOptions::*member;
};
// The order in which the values are written.
constexpr Field kFields[] = {
    {"Persistent", &PreviewOptions::Persistent}, {"Visible", &PreviewOptions::Visible},
    {"Width", &PreviewOptions::Width},           {"Height", &PreviewOptions::Height},
    {"Top", &PreviewOptions::Top},               {"Left", &PreviewOptions::Left},
};

}  // namespace

PreviewOptions ReadPreviewOptions(OptionStore& store, bool* defaulted) {
  PreviewOptions p;
  for (const Field& f : kFields) {
    int32_t v = 0;
    if (store.ReadInteger(kKeyPreview, f.name, v) == ValueStatus::Present) {
      p.*f.member = v;
    } else if (defaulted) {
      *defaulted = true;
    }
  }
  return p;
}

bool WritePreviewOptions(OptionStore& store, const PreviewOptions& p) {
  bool ok = true;
  store.BeginUpdate();
  try {
    store.CreateKey(kKeyPreview);
    for (const Field& f : kFields) ok = store.WriteInteger(kKeyPreview, f.name, p.*f.member) && ok;
  } catch (...) {
    store.EndUpdate();
    throw;
  }
  return store.EndUpdate() && ok;
}

}  // namespace tarvo::ui
