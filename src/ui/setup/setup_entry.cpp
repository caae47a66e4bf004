// The library's one export: runs the setup dialog for one setup call.
#include <dlfcn.h>

#include <QApplication>
#include <QThread>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <string>

#include "ui/setup/application.h"
#include "ui/setup/preview_buffers.h"
#include "ui/setup/tsetup.h"
#include "ui/setup_api.h"

namespace tarvo::ui {
namespace {

void Report(const SetupCall* call, const std::string& text) {
  if (call && call->notice) {
    call->notice(call->noticeContext, text.c_str());
    return;
  }
  std::fprintf(stderr, "tarvo: %s\n", text.c_str());
}

// Tests drive the modal dialog through a function of their own program:
// TARVO_UI_TEST_DRIVER names it, and it is called with the dialog once the
// dialog's modal loop runs.
using TestDriverFn = void (*)(QDialog* dialog, SetupCall* call);

TestDriverFn TestDriver() {
  const char* name = std::getenv("TARVO_UI_TEST_DRIVER");
  if (!name || !*name) return nullptr;
  return reinterpret_cast<TestDriverFn>(::dlsym(RTLD_DEFAULT, name));
}

int32_t RunSetup(SetupCall& call) {
  std::string why;
  QApplication* app = EnsureApplication(&why);
  if (!app) {
    Report(&call, "Setup cannot be shown: " + why + ".");
    return kSetupCancel;
  }
  // Widgets live on the application's thread only.
  if (QThread::currentThread() != app->thread()) {
    Report(&call, "Setup cannot be shown: it was called on another thread than the one the Qt application runs on.");
    return kSetupCancel;
  }
  // Modal against the host's window when the host runs its own application.
  QWidget* owner = QApplication::activeModalWidget();
  if (!owner) owner = QApplication::activeWindow();
  // The monitors' images live as long as the dialog; the monitors stay black
  // when the host cannot make them.
  PreviewBuffers buffers(*call.host, call.call);
  auto dialog = std::make_unique<TSetup>(call, owner);
  if (buffers.Ok()) dialog->AttachBuffers(&buffers);
  dialog->PlaceFromStore();
  if (TestDriverFn drive = TestDriver()) {
    QDialog* d = dialog.get();
    QTimer::singleShot(0, d, [d, drive, &call] { drive(d, &call); });
  }
  dialog->exec();
  const bool cancelled = dialog->Cancelled();
  dialog.reset();
  // Deletions the dialog left queued run now, not in the host's next loop.
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  return cancelled ? kSetupCancel : kSetupOk;
}

bool Usable(const SetupCall* call, std::string* why) {
  if (!call) {
    *why = "no call";
    return false;
  }
  if (call->version != kSetupCallVersion || call->size != sizeof(SetupCall)) {
    *why = "the plug-in and the dialog library " + std::string(kUiLibraryFile) +
           " come from different builds (call version " + std::to_string(call->version) + ", expected " +
           std::to_string(kSetupCallVersion) + ")";
    return false;
  }
  if (!call->specs || !call->previous || !call->defaults || !call->call || !call->host || !call->store ||
      !call->options || !call->changed || !call->scenes || !call->sceneIndex || !call->scenesDirty) {
    *why = "the setup call is incomplete";
    return false;
  }
  return true;
}

}  // namespace
}  // namespace tarvo::ui

extern "C" __attribute__((visibility("default"))) int32_t tarvo_ui_setup(tarvo::ui::SetupCall* call) {
  using namespace tarvo::ui;
  std::string why;
  // Only the version fields are read before the version is known to match.
  if (!Usable(call, &why)) {
    const bool versionKnown = call && call->version == kSetupCallVersion && call->size == sizeof(SetupCall);
    Report(versionKnown ? call : nullptr, "Setup cannot be shown: " + why + ".");
    return tarvo::kSetupCancel;
  }
  try {
    return RunSetup(*call);
  } catch (const std::exception& e) {
    Report(call, std::string("Setup failed: ") + e.what());
  } catch (...) {
    Report(call, "Setup failed.");
  }
  // A failed dialog leaves the record as a cancelled one does.
  std::memcpy(call->specs, call->previous, sizeof(tarvo::TSpecs));
  return tarvo::kSetupCancel;
}

static_assert(std::is_same_v<decltype(&tarvo_ui_setup), TarvoUiSetupFn>);
