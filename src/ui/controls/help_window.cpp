#include "ui/controls/help_window.h"

#include <dlfcn.h>

#include <QFileInfo>
#include <QMessageBox>
#include <QPointer>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

#include "ui/controls/help_contexts.h"

namespace tarvo::ui {
namespace {

// The folder of the library this code was loaded from, ending in "/".
QString ThisLibraryFolder() {
  static int anchor = 0;
  Dl_info info{};
  if (::dladdr(&anchor, &info) == 0 || !info.dli_fname) return {};
  return QFileInfo(QString::fromLocal8Bit(info.dli_fname)).absolutePath() + "/";
}

}  // namespace

QString ResolveHelpFile(const std::string& configured) {
  const QString path = QString::fromStdString(configured);
  if (!path.isEmpty() && QFileInfo(path).isFile()) return QFileInfo(path).absoluteFilePath();
  const QString name = path.isEmpty() ? QString("FL-TARVO.HTML") : QFileInfo(path).fileName();
  const QString beside = ThisLibraryFolder() + name;
  if (!ThisLibraryFolder().isEmpty() && QFileInfo(beside).isFile()) return beside;
  return {};
}

HelpWindow::HelpWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
  setObjectName("HelpWindow");
  setWindowTitle("Tarvo Help");
  browser_ = new QTextBrowser(this);
  browser_->setObjectName("HelpBrowser");
  browser_->setOpenExternalLinks(true);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(browser_);
  resize(640, 560);
}

bool HelpWindow::ShowContext(const QString& file, int context) {
  const QString absolute = QFileInfo(file).absoluteFilePath();
  if (!QFileInfo(absolute).isReadable()) return false;
  if (absolute != file_) {
    browser_->setSource(QUrl::fromLocalFile(absolute));
    if (browser_->document()->isEmpty()) return false;
    file_ = absolute;
  }
  show();
  raise();
  activateWindow();
  // Scrolled after showing, when the page has its final layout.
  browser_->scrollToAnchor(HelpAnchor(context));
  return true;
}

HelpWindow* ShowHelp(QWidget* owner, const std::string& configuredHelpFile, int context) {
  // One window per owner; without an owner, one for the process.
  static QPointer<HelpWindow> ownerless;
  HelpWindow* window =
      owner ? owner->findChild<HelpWindow*>("HelpWindow", Qt::FindDirectChildrenOnly) : ownerless.data();
  const QString file = ResolveHelpFile(configuredHelpFile);
  if (file.isEmpty()) {
    QMessageBox::warning(owner, "Tarvo",
                         QString("The help file %1 cannot be found.")
                             .arg(QString::fromStdString(configuredHelpFile.empty() ? "FL-TARVO.HTML" : configuredHelpFile)));
    return nullptr;
  }
  if (!window) {
    window = new HelpWindow(owner);
    if (!owner) ownerless = window;
  }
  if (!window->ShowContext(file, context)) {
    QMessageBox::warning(owner, "Tarvo", QString("The help file %1 cannot be read.").arg(file));
    return nullptr;
  }
  return window;
}

}  // namespace tarvo::ui
