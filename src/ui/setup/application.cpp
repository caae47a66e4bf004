#include "ui/setup/application.h"

#include <dlfcn.h>

#include <QApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QStringList>

#include <clocale>
#include <cstdlib>

namespace tarvo::ui {
namespace {

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

// Connects to the X server the way the xcb platform does, through libxcb
// loaded for the moment (it is loaded by Qt's xcb platform anyway).
bool XServerAnswers(const std::string& display) {
  void* xcb = ::dlopen("libxcb.so.1", RTLD_NOW | RTLD_LOCAL);
  if (!xcb) return false;
  using ConnectFn = void* (*)(const char*, int*);
  using HasErrorFn = int (*)(void*);
  using DisconnectFn = void (*)(void*);
  auto connect = reinterpret_cast<ConnectFn>(::dlsym(xcb, "xcb_connect"));
  auto hasError = reinterpret_cast<HasErrorFn>(::dlsym(xcb, "xcb_connection_has_error"));
  auto disconnect = reinterpret_cast<DisconnectFn>(::dlsym(xcb, "xcb_disconnect"));
  bool ok = false;
  if (connect && hasError && disconnect) {
    int screen = 0;
    void* c = connect(display.c_str(), &screen);
    if (c) {
      ok = hasError(c) == 0;
      disconnect(c);  // also frees a connection in error
    }
  }
  ::dlclose(xcb);
  return ok;
}

bool HasWaylandPlugin() {
  const QDir platforms(QLibraryInfo::path(QLibraryInfo::PluginsPath) + "/platforms");
  return !platforms.entryList({"libqwayland*.so"}, QDir::Files).isEmpty();
}

}  // namespace

std::string DisplayProblem() {
  QStringList names;
  const std::string forced = Env("QT_QPA_PLATFORM");
  if (!forced.empty()) {
    names = QString::fromStdString(forced).split(';', Qt::SkipEmptyParts);
  } else {
    if (Env("XDG_SESSION_TYPE") == "wayland") names << "wayland";
    names << "xcb";
  }
  std::string problem;
  for (QString name : names) {
    name = name.section(':', 0, 0).trimmed();
    if (name == "xcb") {
      const std::string display = Env("DISPLAY");
      if (display.empty()) {
        problem = "no display: DISPLAY is not set";
      } else if (!XServerAnswers(display)) {
        problem = "the X display '" + display + "' does not accept a connection";
      } else {
        return "";
      }
    } else if (name.startsWith("wayland")) {
      if (Env("WAYLAND_DISPLAY").empty()) problem = "no display: WAYLAND_DISPLAY is not set";
      else if (!HasWaylandPlugin()) problem = "Qt's Wayland platform is not installed";
      else return "";
    } else {
      return "";  // offscreen, minimal, vnc, eglfs, linuxfb...: no display server needed
    }
  }
  return problem.empty() ? "no display" : problem;
}

QApplication* EnsureApplication(std::string* why) {
  if (QCoreApplication* existing = QCoreApplication::instance()) {
    if (auto* app = qobject_cast<QApplication*>(existing)) return app;
    *why = "the host's Qt application has no widget support";
    return nullptr;
  }
  if (std::string problem = DisplayProblem(); !problem.empty()) {
    *why = problem;
    return nullptr;
  }
  // Qt sets the C locale from the environment when the application is made;
  // the host's own number formatting must not change under it.
  const char* current = std::setlocale(LC_ALL, nullptr);
  const std::string savedLocale = current ? current : "C";
  static int argc = 1;
  static char name[] = "tarvo";
  static char* argv[] = {name, nullptr};
  // Kept for the life of the process, never deleted (see the header).
  static QApplication* app = new QApplication(argc, argv);
  std::setlocale(LC_ALL, savedLocale.c_str());
  return app;
}

}  // namespace tarvo::ui
