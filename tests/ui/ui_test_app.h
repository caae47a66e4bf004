// The widget tests' application: made once per test program, on the
// offscreen platform unless QT_QPA_PLATFORM says otherwise.
#pragma once

class QApplication;

namespace tarvo::test {

QApplication& TestApp();

}  // namespace tarvo::test
