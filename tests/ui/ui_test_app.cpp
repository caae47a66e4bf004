#include "ui_test_app.h"
#include "lsan_suppressions.h"

#include <QApplication>

#include <cstdlib>

namespace tarvo::test {

QApplication& TestApp() {
  static QApplication* app = [] {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static int argc = 1;
    static char name[] = "test_ui";
    static char* argv[] = {name, nullptr};
    return new QApplication(argc, argv);
  }();
  return *app;
}

}  // namespace tarvo::test
