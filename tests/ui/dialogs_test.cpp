// The Yes/No confirmation box and the help window with our help file.
#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <set>

#include "support/temp_dir.h"
#include "ui/controls/confirm_box.h"
#include "ui/controls/help_contexts.h"
#include "ui/controls/help_window.h"
#include "ui_test_app.h"

namespace tarvo::ui {
namespace {

// Runs `answer` on the message box once it is up and modal.
void WhenBoxShows(std::function<void(QMessageBox&)> answer) {
  QTimer::singleShot(0, [answer] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    answer(*box);
  });
}

TEST(ConfirmBox, AsksWithTheQuestionIconAndExactlyYesAndNo) {
  test::TestApp();
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QString text;
  std::set<QMessageBox::StandardButton> buttons;
  WhenBoxShows([&](QMessageBox& box) {
    icon = box.icon();
    text = box.text();
    for (QAbstractButton* b : box.buttons()) buttons.insert(box.standardButton(b));
    QTest::mouseClick(box.button(QMessageBox::Yes), Qt::LeftButton);
  });
  EXPECT_TRUE(ConfirmYesNo(nullptr, "Delete scene 'Old Film'?"));
  EXPECT_EQ(icon, QMessageBox::Question);
  EXPECT_EQ(text, "Delete scene 'Old Film'?");
  EXPECT_EQ(buttons, (std::set<QMessageBox::StandardButton>{QMessageBox::Yes, QMessageBox::No}));
}

TEST(ConfirmBox, NoAndEscAnswerFalse) {
  test::TestApp();
  WhenBoxShows([](QMessageBox& box) { QTest::mouseClick(box.button(QMessageBox::No), Qt::LeftButton); });
  EXPECT_FALSE(ConfirmYesNo(nullptr, "Set defaults?"));
  WhenBoxShows([](QMessageBox& box) { QTest::keyClick(&box, Qt::Key_Escape); });
  EXPECT_FALSE(ConfirmYesNo(nullptr, "Set defaults?"));
}

TEST(ConfirmBox, TheLogicsConfirmerAsksThroughTheBox) {
  test::TestApp();
  MessageBoxConfirmer confirmer(nullptr);
  Confirmer& asLogic = confirmer;
  QString text;
  WhenBoxShows([&](QMessageBox& box) {
    text = box.text();
    QTest::mouseClick(box.button(QMessageBox::Yes), Qt::LeftButton);
  });
  EXPECT_TRUE(asLogic.Confirm("Use chosen scene as master \xc2\xbb Caf\xc3\xa9?"));
  EXPECT_EQ(text, QString::fromUtf8("Use chosen scene as master \xc2\xbb Caf\xc3\xa9?"));
}

// ---- help ----

QString HelpText() {
  QFile f(TARVO_HELP_FILE);
  EXPECT_TRUE(f.open(QIODevice::ReadOnly));
  return QString::fromUtf8(f.readAll());
}

TEST(HelpFile, HasExactlyOneAnchorForEveryHelpContext) {
  const QString html = HelpText();
  std::multiset<int> anchors;
  QRegularExpression re("name=\"context-(\\d+)\"");
  for (auto it = re.globalMatch(html); it.hasNext();) anchors.insert(it.next().captured(1).toInt());
  std::multiset<int> expected(std::begin(kAllHelpContexts), std::end(kAllHelpContexts));
  EXPECT_EQ(anchors, expected);
  // Every link inside the file leads to one of them.
  QRegularExpression link("href=\"#context-(\\d+)\"");
  for (auto it = link.globalMatch(html); it.hasNext();) {
    const int target = it.next().captured(1).toInt();
    EXPECT_EQ(anchors.count(target), 1u) << target;
  }
}

TEST(HelpWindow, OpensAtTheContextsAnchor) {
  test::TestApp();
  HelpWindow window;
  ASSERT_TRUE(window.ShowContext(TARVO_HELP_FILE, kHelpAboutPage));
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  QScrollBar* scroll = window.Browser()->verticalScrollBar();
  const int atAbout = scroll->value();
  EXPECT_GT(atAbout, 0);
  ASSERT_TRUE(window.ShowContext(TARVO_HELP_FILE, kHelpContents));
  EXPECT_LT(scroll->value(), 20);  // the first heading, at the top of the page
  ASSERT_TRUE(window.ShowContext(TARVO_HELP_FILE, kHelpTemporalPage));
  EXPECT_GT(scroll->value(), 0);
  EXPECT_LT(scroll->value(), atAbout);
  EXPECT_TRUE(window.Browser()->toPlainText().contains("Temporal page"));
}

TEST(HelpWindow, AFileThatCannotBeReadIsRefused) {
  test::TestApp();
  HelpWindow window;
  test::TempDir dir;
  EXPECT_FALSE(window.ShowContext(QString::fromStdString(dir / "missing.html"), kHelpContents));
  EXPECT_FALSE(window.isVisible());
}

TEST(HelpWindow, TheConfiguredFileIsUsedWhenItExists) {
  test::TempDir dir;
  const std::string own = dir / "own-help.html";
  test::WriteText(own, "<html><body><a name=\"context-10000\"></a>Ours</body></html>");
  EXPECT_EQ(ResolveHelpFile(own), QString::fromStdString(own));
  // A missing file named only by its name is looked for beside the library;
  // this test program has none beside it.
  EXPECT_EQ(ResolveHelpFile(dir / "gone/FL-TARVO.HTML"), QString());
}

}  // namespace
}  // namespace tarvo::ui
