// How the windows look: every text readable in its place, task windows whole in their frames
// whatever another window's state, and the help page laid out for its window.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QFontInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QMdiArea>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocument>
#include <QToolBar>
#include <algorithm>
#include <map>
#include <string_view>

#include "app/help_viewer.h"
#include "gui_support.h"

namespace quorvane::gui {
namespace {

using namespace testing;

struct TaskWindow {
  const char* tool;
  QSize designed;  // the window's client size in pixels
};

constexpr TaskWindow kTaskWindows[] = {
    {"miFileBuild", {389, 213}},   {"miFileRename", {385, 208}},
    {"miFileMerge", {388, 170}},   {"miFolderBuild", {384, 211}},
    {"miFolderRename", {387, 194}}, {"miFolderMerge", {465, 320}},
};

// The rectangle the label's text takes when drawn as the label draws it.
QRect TextRect(const QLabel* label) {
  int flags = int(label->alignment());
  if (label->wordWrap()) flags |= Qt::TextWordWrap;
  return label->fontMetrics().boundingRect(label->contentsRect(), flags, label->text());
}

TEST_F(MainWindowTest, EveryLabelIsDrawnInItsWindowsFontAndFitsItsPlaceWithoutCoveringAControl) {
  for (const TaskWindow& task : kTaskWindows) {
    SCOPED_TRACE(task.tool);
    QWidget* form = Open(task.tool);
    ASSERT_TRUE(form);
    EXPECT_EQ(form->size(), task.designed);
    const QFontInfo window_font(form->font());
    const auto labels = form->findChildren<QLabel*>();
    ASSERT_FALSE(labels.isEmpty());
    for (const QLabel* label : labels) {
      SCOPED_TRACE(label->objectName().toStdString());
      const QFontInfo font(label->font());
      EXPECT_GE(font.pointSizeF(), window_font.pointSizeF());
      EXPECT_GE(font.pixelSize(), window_font.pixelSize());
      const QRect text = TextRect(label);
      EXPECT_TRUE(label->contentsRect().contains(text))
          << "text " << text.width() << "x" << text.height() << " in "
          << label->contentsRect().width() << "x" << label->contentsRect().height();
      // The tables let a label's box reach a pixel into its field (15 twips); its text
      // stays clear of every other control.
      const QRect drawn = text.translated(label->pos());
      for (const QObject* child : label->parentWidget()->children()) {
        const auto* other = qobject_cast<const QWidget*>(child);
        if (!other || other == label || other->isWindow()) continue;
        EXPECT_FALSE(drawn.intersects(other->geometry()))
            << "text under " << other->objectName().toStdString();
        const QRect shared = label->geometry().intersected(other->geometry());
        EXPECT_TRUE(shared.isEmpty() || std::min(shared.width(), shared.height()) <= 1)
            << "covers " << other->objectName().toStdString();
      }
    }
    CloseTask(task.tool);
  }
}

QSize Designed(const char* tool) {
  for (const TaskWindow& task : kTaskWindows)
    if (std::string_view(task.tool) == tool) return task.designed;
  return {};
}

// The rule of the four numbering windows is wrapped under its "说明：" above the first row of
// fields. A font with taller lines than the windows were laid out in (a larger size, or Noto
// Sans CJK's line height) leaves it no room there: the rows move down and the window grows by
// what the rule lacks, so the whole rule shows and nothing overlaps.
TEST_F(MainWindowTest, TheDescriptionShowsWholeAboveTheRowsInTheDesignedAndATallerFont) {
  const struct {
    const char* tool;
    const char* rule;
  } rows[] = {
      {"miFileBuild", "文件名=文件前缀+文件名变动部分+\".\"+文件后缀，递减请输入负的递增量。"},
      {"miFileRename", "目标文件名=目标文件前缀+目标文件名变动部分+\".\"+目标文件后缀，"
                       "递减请输入负的递增量。"},
      {"miFolderBuild", "目录名=目录前缀+目录名变动部分+目录后缀，递减请输入负的递增量。"},
      {"miFolderRename", "目标目录名=目标目录前缀+目标目录名变动部分+目标目录后缀，"
                         "递减请输入负的递增量。"},
  };
  const QFont designed_font = QApplication::font();
  for (const bool taller : {false, true}) {
    QFont font = designed_font;
    if (taller) font.setPixelSize(QFontInfo(designed_font).pixelSize() * 3 / 2);
    QApplication::setFont(font);
    for (const auto& row : rows) {
      SCOPED_TRACE(std::string(row.tool) + (taller ? " taller" : ""));
      QWidget* form = Open(row.tool);
      auto* label = form->findChild<QLabel*>("labDescription");
      ASSERT_TRUE(label);
      EXPECT_EQ(label->text(), QString::fromUtf8("说明：\n    ") + QString::fromUtf8(row.rule));
      EXPECT_TRUE(label->contentsRect().contains(TextRect(label)));
      EXPECT_TRUE(label->toolTip().isEmpty());  // the whole text shows, so no tip repeats it
      EXPECT_EQ(form->width(), Designed(row.tool).width());
      EXPECT_EQ(form->height() > Designed(row.tool).height(), taller);
      for (const QObject* child : form->children()) {
        const auto* other = qobject_cast<const QWidget*>(child);
        if (!other || other == label || other->isWindow()) continue;
        EXPECT_FALSE(label->geometry().intersects(other->geometry()))
            << other->objectName().toStdString();
        EXPECT_TRUE(form->rect().contains(other->geometry())) << other->objectName().toStdString();
      }
      CloseTask(row.tool);
    }
  }
  QApplication::setFont(designed_font);
}

// A fixed window in its frame: not maximised, a title bar and border around its designed
// size, and wholly inside the area.
void ExpectWhole(frmMain& main, const QMdiSubWindow* frame) {
  ASSERT_TRUE(frame);
  QSize designed;
  for (const TaskWindow& task : kTaskWindows)
    if (main.TaskWindow(task.tool) == frame) designed = task.designed;
  SCOPED_TRACE(frame->widget()->windowTitle().toStdString());
  EXPECT_EQ(frame->windowState() & ~Qt::WindowActive, Qt::WindowNoState);
  EXPECT_EQ(frame->widget()->size(), designed);
  EXPECT_GT(frame->height(), designed.height() + 15);  // a title bar
  EXPECT_GT(frame->width(), designed.width());         // a border
  EXPECT_TRUE(main.mdi()->viewport()->rect().contains(frame->geometry()));
  EXPECT_EQ(frame->minimumSize(), frame->maximumSize());
}

TEST_F(MainWindowTest, FixedWindowsStayWholeWhileTheSizableOneIsMaximised) {
  const auto toolbar = [this](const char* tool) {
    QTest::mouseClick(Find<QToolBar>("barTool")->widgetForAction(Find<QAction>(tool)),
                      Qt::LeftButton);
  };
  toolbar("miFolderMerge");
  QMdiSubWindow* merge = main.TaskWindow("miFolderMerge");
  ASSERT_TRUE(merge);
  const auto maximise = [&] {
    main.mdi()->setActiveSubWindow(merge);
    merge->showMaximized();
  };
  maximise();
  toolbar("miFileBuild");  // opened while the other is maximised
  ExpectWhole(main, main.TaskWindow("miFileBuild"));
  EXPECT_EQ(main.mdi()->activeSubWindow(), main.TaskWindow("miFileBuild"));
  EXPECT_FALSE(merge->isMaximized());

  // Maximised again, and the open window brought back by its button.
  maximise();
  QCoreApplication::processEvents();
  EXPECT_TRUE(merge->isMaximized());  // the window in front is left as the user made it
  toolbar("miFileBuild");
  ExpectWhole(main, main.TaskWindow("miFileBuild"));

  // Closed and opened afresh over the maximised window, then after restoring it.
  CloseTask("miFileBuild");
  maximise();
  toolbar("miFileBuild");
  ExpectWhole(main, main.TaskWindow("miFileBuild"));
  CloseTask("miFileBuild");
  merge->showNormal();
  toolbar("miFileBuild");
  ExpectWhole(main, main.TaskWindow("miFileBuild"));

  // Switching windows in turn, the sizable one maximised whenever it is at the front.
  toolbar("miFileRename");
  for (int i = 0; i < 6; ++i) {
    main.mdi()->activateNextSubWindow();
    QMdiSubWindow* active = main.mdi()->activeSubWindow();
    ASSERT_TRUE(active);
    if (active == merge) {
      merge->showMaximized();
      continue;
    }
    ExpectWhole(main, active);
    EXPECT_FALSE(merge->isMaximized());
    EXPECT_EQ(main.mdi()->activeSubWindow(), active);  // the restored one took nothing from it
  }

  // The same by the keyboard: Ctrl+Tab from the maximised window.
  const QPoint before = main.TaskWindow("miFileRename")->pos();
  maximise();
  QWidget* focus = QApplication::focusWidget();
  ASSERT_TRUE(focus);
  QTest::keyPress(focus, Qt::Key_Control);
  QTest::keyClick(focus, Qt::Key_Tab, Qt::ControlModifier);
  QTest::keyRelease(focus, Qt::Key_Control);
  QMdiSubWindow* active = main.mdi()->activeSubWindow();
  ASSERT_TRUE(active && active != merge);
  ExpectWhole(main, active);
  EXPECT_FALSE(merge->isMaximized());
  EXPECT_TRUE(active->isAncestorOf(QApplication::focusWidget()));
  EXPECT_EQ(main.TaskWindow("miFileRename")->pos(), before);  // where the user left it

  // Nothing maximises a fixed window; asked to, it goes back to its frame.
  main.TaskWindow("miFileRename")->showMaximized();
  QCoreApplication::processEvents();
  ExpectWhole(main, main.TaskWindow("miFileRename"));
}

TEST_F(MainWindowTest, AFixedWindowThatWouldStickOutOfTheAreaIsMovedIn) {
  Open("miFileBuild");
  QMdiSubWindow* frame = main.TaskWindow("miFileBuild");
  const QRect area = main.mdi()->viewport()->rect();
  frame->move(area.right() - 50, area.bottom() - 20);
  Open("miFileMerge");
  Open("miFileBuild");  // brought back to the front
  ExpectWhole(main, frame);
}

// The help window at the size it opens with: headings are blocks of their own and no line
// is wider than the window.
TEST(HelpPageTest, HeadingsAreBlocksAndNothingScrollsSideways) {
  frmHelp help(nullptr, QString::fromUtf8(QUORVANE_HELP_PAGE));
  help.show();
  auto* browser = help.findChild<QTextBrowser*>();
  ASSERT_TRUE(browser);
  QCoreApplication::processEvents();
  EXPECT_EQ(browser->horizontalScrollBar()->maximum(), 0);
  std::map<QString, int> headings;
  for (QTextBlock block = browser->document()->begin(); block.isValid(); block = block.next())
    if (block.blockFormat().headingLevel() > 0)
      headings[block.text()] = block.blockFormat().headingLevel();
  EXPECT_EQ(headings[QString::fromUtf8("Quorvane文件批处理系统 帮助")], 1);
  EXPECT_EQ(headings[QString::fromUtf8("目录")], 2);
  EXPECT_EQ(headings[QString::fromUtf8("1. 主窗口与通用操作")], 2);
  EXPECT_EQ(headings[QString::fromUtf8("合并方式")], 3);
}

}  // namespace
}  // namespace quorvane::gui
