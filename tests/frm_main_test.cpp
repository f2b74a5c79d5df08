#include <gtest/gtest.h>

#include <QAction>
#include <QCoreApplication>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QTest>
#include <QToolBar>
#include <QToolButton>

#include "gui_support.h"
#include "shell/frm_main.h"

namespace quorvane::gui {
namespace {

using testing::ServiceRecorder;

QStringList ActionNames(const QList<QAction*>& actions) {
  QStringList names;
  for (const QAction* a : actions) names << (a->isSeparator() ? "-" : a->objectName());
  return names;
}

class FrmMainTest : public ::testing::Test {
 protected:
  QAction* Tool(const char* name) { return main.findChild<QAction*>(name); }

  ServiceRecorder services_;
  frmMain main;
};

TEST_F(FrmMainTest, MenusAndToolbarCarryTheToolNames) {
  EXPECT_EQ(main.windowTitle(), QString::fromUtf8("Quorvane文件批处理系统"));
  EXPECT_EQ(main.menuBar()->objectName(), "mnuMain");
  const auto menus = main.menuBar()->actions();
  ASSERT_EQ(menus.size(), 3);
  EXPECT_EQ(menus[0]->text(), QString::fromUtf8("文件(&F)"));
  EXPECT_EQ(menus[1]->text(), QString::fromUtf8("目录(&O)"));
  EXPECT_EQ(menus[2]->text(), QString::fromUtf8("帮助(&H)"));
  EXPECT_EQ(ActionNames(main.findChild<QMenu*>("mnuFile")->actions()),
            (QStringList{"miFileBuild", "miFileRename", "miFileMerge", "miExit"}));
  EXPECT_EQ(ActionNames(main.findChild<QMenu*>("mnuFolder")->actions()),
            (QStringList{"miFolderBuild", "miFolderRename", "miFolderMerge"}));
  EXPECT_EQ(ActionNames(main.findChild<QMenu*>("mnuHelp")->actions()),
            (QStringList{"miHelp", "miAbout"}));
  auto* toolbar = main.findChild<QToolBar*>("barTool");
  ASSERT_TRUE(toolbar);
  EXPECT_EQ(toolbar->windowTitle(), "Band5");
  EXPECT_EQ(ActionNames(toolbar->actions()),
            (QStringList{"miFileBuild", "miFileRename", "miFileMerge", "-", "miFolderBuild",
                         "miFolderRename", "miFolderMerge", "-", "miHelp", "-", "miExit"}));
  EXPECT_EQ(Tool("miFileMerge")->text(), QString::fromUtf8("批合并文件(&M)"));
  EXPECT_EQ(Tool("miFileMerge")->iconText(), QString::fromUtf8("批合并文件"));
  EXPECT_EQ(Tool("miAbout")->text(), QString::fromUtf8("关于(&A)..."));
  // Tasks whose windows do not exist yet stand disabled rather than pretend.
  for (const char* name : {"miFileBuild", "miFileRename", "miFolderBuild", "miFolderRename",
                           "miFolderMerge"})
    EXPECT_FALSE(Tool(name)->isEnabled()) << name;
  for (const char* name : {"miFileMerge", "miExit", "miHelp", "miAbout"})
    EXPECT_TRUE(Tool(name)->isEnabled()) << name;
}

TEST_F(FrmMainTest, OneWindowPerTaskWithItsFieldsKept) {
  main.Dispatch("miFileMerge");
  QMdiSubWindow* first = main.TaskWindow("miFileMerge");
  ASSERT_TRUE(first);
  EXPECT_EQ(first->widget()->objectName(), "frmFileMerge");
  first->widget()->findChild<QLineEdit*>("txtSourcePath")->setText("/typed");

  // The toolbar button is the same command as the menu entry.
  auto* toolbar = main.findChild<QToolBar*>("barTool");
  QTest::mouseClick(toolbar->widgetForAction(Tool("miFileMerge")), Qt::LeftButton);
  EXPECT_EQ(main.mdi()->subWindowList().size(), 1);
  EXPECT_EQ(main.TaskWindow("miFileMerge"), first);
  EXPECT_EQ(first->widget()->findChild<QLineEdit*>("txtSourcePath")->text(), "/typed");
  EXPECT_FALSE(first->windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_FALSE(first->windowFlags() & Qt::WindowMinimizeButtonHint);

  first->close();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_FALSE(main.TaskWindow("miFileMerge"));
  main.Dispatch("miFileMerge");
  ASSERT_TRUE(main.TaskWindow("miFileMerge"));
  EXPECT_TRUE(main.TaskWindow("miFileMerge")
                  ->widget()
                  ->findChild<QLineEdit*>("txtSourcePath")
                  ->text()
                  .isEmpty());
}

TEST_F(FrmMainTest, DispatchesEveryToolName) {
  main.show();
  for (const char* name : {"miFileBuild", "miFileRename", "miFolderBuild", "miFolderRename",
                           "miFolderMerge", "mnuFile", "mnuFolder", "mnuHelp", "MIFILEMERGE"})
    main.Dispatch(name);
  EXPECT_TRUE(main.mdi()->subWindowList().isEmpty());
  EXPECT_TRUE(services_.messages.empty());

  Tool("miHelp")->trigger();
  ASSERT_EQ(services_.opened_pages.size(), 1u);
  EXPECT_EQ(services_.opened_pages[0], QCoreApplication::applicationDirPath() + "/help.htm");

  main.Dispatch("miAbout");
  EXPECT_EQ(services_.about_shown, 1);

  main.Dispatch("miFileMerge");
  services_.answer = Answer::No;
  Tool("miExit")->trigger();
  ASSERT_EQ(services_.messages.size(), 1u);
  EXPECT_EQ(services_.messages[0].text, QString::fromUtf8("您是否确定退出本系统？"));
  EXPECT_EQ(services_.messages[0].icon, Icon::Question);
  EXPECT_EQ(services_.messages[0].buttons, Buttons::YesNo);
  EXPECT_EQ(services_.messages[0].title, "Quorvane");
  EXPECT_TRUE(main.isVisible());
  EXPECT_TRUE(main.TaskWindow("miFileMerge"));
}

}  // namespace
}  // namespace quorvane::gui
