// The Qt application the dialogs run in. A host that has its own QApplication
// keeps it; otherwise the first setup call makes one and keeps it for the
// rest of the process, because a QApplication cannot be made again safely
// once one has been destroyed.
#pragma once

#include <string>

class QApplication;

namespace tarvo::ui {

// The application to run dialogs in, or nullptr with the reason in *why
// (no usable display, or the host's Qt application has no widgets).
QApplication* EnsureApplication(std::string* why);

// Why Qt could not open a window here, or "" when it can: the platforms Qt
// would try (QT_QPA_PLATFORM, else the session's default) are checked the way
// Qt itself would need them (an X server that accepts a connection for xcb,
// a Wayland socket and the platform plug-in for wayland). Qt ends the whole
// process when no platform can start, so this is asked before making the
// application.
std::string DisplayProblem();

}  // namespace tarvo::ui
