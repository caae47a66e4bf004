// The help window: the help file (HTML) in a text browser of our own, opened
// at a context's anchor, so help works without a web browser.
#pragma once

#include <QString>
#include <QWidget>

#include <string>

class QTextBrowser;

namespace tarvo::ui {

// The help file to open: `configured` (the HelpFile option) when it names an
// existing file; otherwise the file of that name (FL-TARVO.HTML when
// `configured` is empty) beside this library, which is installed beside the
// plug-in. "" when none exists.
QString ResolveHelpFile(const std::string& configured);

class HelpWindow : public QWidget {
  Q_OBJECT

 public:
  explicit HelpWindow(QWidget* parent = nullptr);

  // Loads `file` (when it is not already shown) and scrolls to the context's
  // anchor, then shows and raises the window. False, showing nothing, when
  // the file cannot be read.
  bool ShowContext(const QString& file, int context);

  QTextBrowser* Browser() const { return browser_; }

 private:
  QTextBrowser* browser_;
  QString file_;
};

// Opens the help at `context` in one help window per `owner` (made on first
// use, a child window of `owner`; one shared window when `owner` is null);
// says so in a message box when the help file cannot be found or read.
HelpWindow* ShowHelp(QWidget* owner, const std::string& configuredHelpFile, int context);

}  // namespace tarvo::ui
