// The main window and the task windows inside it, driven as a user drives them.
#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QComboBox>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTextBrowser>
#include <QToolBar>

#include "app/frm_main.h"
#include "common/filesystem.h"
#include "gui_support.h"
#include "shell/run_host.h"
#include "support/temp_dir.h"

namespace quorvane::gui {
namespace {

using testing::ReadAll;
using testing::MainWindowTest;
using testing::TempDir;
using testing::Tree;

TEST_F(MainWindowTest, OneWindowPerTaskWhateverTheToolThatOpensIt) {
  QWidget* form = Open("miFileMerge");
  ASSERT_TRUE(form);
  EXPECT_EQ(form->objectName(), "frmFileMerge");
  Box("txtSourcePath")->setText("/typed");
  QTest::mouseClick(Find<QToolBar>("barTool")->widgetForAction(Find<QAction>("miFileMerge")),
                    Qt::LeftButton);
  EXPECT_EQ(main.mdi()->subWindowList().size(), 1);
  EXPECT_EQ(Box("txtSourcePath")->text(), "/typed");

  for (const char* name : {"mnuFile", "mnuFolder", "MIFILEMERGE"})
    main.Dispatch(name);  // no command
  EXPECT_EQ(main.mdi()->subWindowList().size(), 1);
  Find<QAction>("miExit")->trigger();  // answered No: everything stays
  EXPECT_EQ(Texts(), QStringList{QString::fromUtf8("您是否确定退出本系统？")});
  EXPECT_EQ(services_.messages[0].buttons, Buttons::YesNo);
  EXPECT_TRUE(main.isVisible());

  CloseTask("miFileMerge");
  EXPECT_FALSE(main.TaskWindow("miFileMerge"));
  Open("miFileMerge");
  EXPECT_TRUE(Box("txtSourcePath")->text().isEmpty());  // reopened fresh
}

TEST_F(MainWindowTest, ATaskWindowOpensWithItsFocusFieldInAFixedFrame) {
  QWidget* form = Open("miFileMerge");
  EXPECT_EQ(QApplication::focusWidget(), Box("txtSourceName"));
  EXPECT_EQ(form->size(), QSize(388, 170));
  EXPECT_EQ(Box("txtSourceName")->geometry(), QRect(96, 48, 153, 20));
  QMdiSubWindow* frame = main.TaskWindow("miFileMerge");
  EXPECT_EQ(frame->minimumSize(), frame->maximumSize());  // no corner to drag
  EXPECT_FALSE(frame->windowFlags() & (Qt::WindowMaximizeButtonHint | Qt::WindowMinimizeButtonHint));
  EXPECT_EQ(TabOrder("txtSourceName", 8), (QStringList{"txtSourceName", "txtSourcePath", "cmdBrowseSource", "cmdOK",
                                "cmdCancel", "txtDestinationPath", "cmdBrowseDestination",
                                "cboType"}));
}

TEST_F(MainWindowTest, TheActiveTaskWindowsAccessKeysComeBeforeTheMenus) {
  QWidget* form = Open("miFileMerge");
  Box("txtSourcePath")->setText("  ");
  RunAndWait(form, [] { QTest::keyClick(QApplication::focusWidget(), Qt::Key_O, Qt::AltModifier); });
  EXPECT_EQ(Texts(), QStringList{QString::fromUtf8("请输入源文件所在目录！")});
  EXPECT_EQ(QApplication::focusWidget(), Box("txtSourcePath"));
  EXPECT_FALSE(Find<QMenu>("mnuFolder")->isVisible());

  CloseTask("miFileMerge");
  main.setFocus();
  QTest::keyClick(&main, Qt::Key_O, Qt::AltModifier);  // no task window: the menu's key
  EXPECT_TRUE(Find<QMenu>("mnuFolder")->isVisible());
  Find<QMenu>("mnuFolder")->close();
}

TEST_F(MainWindowTest, HelpGoesToTheDesktopOrToAWindowOfOurOwn) {
  Find<QAction>("miHelp")->trigger();
  ASSERT_EQ(services_.opened_pages.size(), 1u);
  EXPECT_EQ(services_.opened_pages[0], QCoreApplication::applicationDirPath() + "/help.htm");
  EXPECT_FALSE(Find<QDialog>("frmHelp"));

  services_.page_opens = false;  // a machine without a program for web pages
  Find<QAction>("miHelp")->trigger();
  auto* help = Find<QDialog>("frmHelp");
  ASSERT_TRUE(help);
  EXPECT_TRUE(help->isVisible());
  EXPECT_TRUE(help->findChild<QTextBrowser*>()->toPlainText().contains(QString::fromUtf8("批合并文件")));
  help->close();
}

TEST_F(MainWindowTest, TheExitNoticeDuringARunNeverOutlivesIt) {
  TempDir dir;
  dir.Write("src/1.txt", "1");
  dir.Write("src/2.txt", "2");
  QWidget* form = Open("miFileMerge");
  Box("txtSourcePath")->setText(QString::fromStdString(dir / "src"));
  Box("txtDestinationPath")->setText(QString::fromStdString(dir / "all.txt"));
  services_.answer = Answer::Yes;
  QPointer<QMessageBox> notice;
  bool notice_shown = false, notice_gone = false;
  services_.during_message = [&] {
    if (services_.messages.size() == 1) {  // the run waits on its question
      Find<QAction>("miExit")->trigger();
      notice = Find<QMessageBox>("msgRunGoesOn");
      notice_shown = notice && notice->isVisible();
    } else {
      notice_gone = !notice || !notice->isVisible();  // under "操作完成！"
    }
  };
  RunAndWait(form);
  EXPECT_EQ(Texts(), (QStringList{QString::fromUtf8("目标文件不存在！是否创建？"),
                                  QString::fromUtf8("操作完成！")}));
  EXPECT_TRUE(notice_shown);
  EXPECT_TRUE(notice_gone);
  EXPECT_EQ(ReadAll(dir / "all.txt"), "1\r\n2\r\n");
}

TEST(MessageBoxTest, IsWideEnoughForItsWholeTitle) {
  const QString title = QString::fromUtf8("Quorvane");
  const auto box = MakeMessageBox(nullptr, "OK", Icon::Information, Buttons::Ok, title);
  EXPECT_GT(box->sizeHint().width(), box->fontMetrics().horizontalAdvance(title) + 100);
}

TEST_F(MainWindowTest, MergeWindowModesAndPickersTakeOrKeep) {
  Open("miFileMerge");
  auto* type = Find<QComboBox>("cboType");
  Box("txtSourceName")->setText("*.dat");
  emit type->activated(1);
  EXPECT_EQ(Box("txtSourceName")->text(), "*.bin");
  Box("txtSourceName")->setText("*.dat");
  emit type->activated(1);  // the same entry again still rewrites
  EXPECT_EQ(Box("txtSourceName")->text(), "*.bin");

  Box("txtSourcePath")->setText("/kept");
  Box("txtDestinationPath")->setText("/kept.txt");
  Click("cmdBrowseSource");
  Click("cmdBrowseDestination");  // cancelled pickers change nothing
  EXPECT_EQ(Box("txtSourcePath")->text() + Box("txtDestinationPath")->text(), "/kept/kept.txt");
  services_.file_pick = QString::fromUtf8("/输出/all.txt");
  Click("cmdBrowseDestination");
  EXPECT_EQ(Box("txtDestinationPath")->text(), QString::fromUtf8("/输出/all.txt"));
}

TEST_F(MainWindowTest, MergeRunsOnAWorkerOverAPickedFolderWhoseNameIsNotUtf8) {
  TempDir dir;
  const std::string gbk = dir / "\xd5\xd5\xc6\xac";  // 照片 in GBK
  for (int i = 1; i <= 3; ++i) dir.Write("\xd5\xd5\xc6\xac/" + std::to_string(i) + ".txt", std::to_string(i));
  QWidget* form = Open("miFileMerge");
  services_.folder_pick = gbk;
  Click("cmdBrowseSource");
  EXPECT_TRUE(Box("txtSourcePath")->text().contains(QChar::ReplacementCharacter));
  Box("txtDestinationPath")->setText(QString::fromStdString(dir / "out/all.txt"));
  services_.answer = Answer::Yes;
  bool ok_enabled = true, closed = true;
  QString caption;
  services_.during_message = [&] {
    if (services_.messages.back().text != QString::fromUtf8("操作完成！")) return;
    QCoreApplication::processEvents();  // the posted captions arrive
    ok_enabled = Find<QPushButton>("cmdOK")->isEnabled();
    caption = form->windowTitle();
    closed = main.TaskWindow("miFileMerge")->close();
  };
  RunAndWait(form);
  EXPECT_EQ(Texts(), (QStringList{QString::fromUtf8("目标文件不存在！是否创建？"),
                                  QString::fromUtf8("操作完成！")}));
  EXPECT_FALSE(ok_enabled);
  EXPECT_FALSE(closed);  // a running merge keeps its window
  EXPECT_EQ(caption, QString::fromUtf8("正在合并文件...100%"));
  EXPECT_EQ(ReadAll(dir / "out/all.txt"), "1\r\n2\r\n3\r\n");
  QCoreApplication::processEvents();
  EXPECT_EQ(form->windowTitle(), QString::fromUtf8("批合并文件"));
  EXPECT_TRUE(Find<QPushButton>("cmdOK")->isEnabled());
}

struct CreateWindow {
  const char* tool;
  const char* name;
  QSize size;
  QStringList tab_order;  // from the field that has the focus on opening
};

TEST_F(MainWindowTest, CreateWindowsOpenHideTheirOptionalFieldsAndRunOnAWorker) {
  const CreateWindow windows[] = {
      {"miFileBuild", "frmFileBuild", QSize(389, 213),
       {"txtPath", "cmdBrowse", "chkMod", "cmdModBrowse", "txtModPath"}},
      {"miFolderBuild", "frmFolderBuild", QSize(384, 211),
       {"txtFrom", "txtTo", "chkAddZero", "txtStep", "txtSuf"}},
  };
  for (const auto& window : windows) {
    TempDir dir;
    services_.folder_pick.clear();
    QWidget* form = Open(window.tool);
    ASSERT_TRUE(form);
    EXPECT_EQ(form->objectName(), window.name);
    EXPECT_EQ(form->size(), window.size);
    EXPECT_EQ(QApplication::focusWidget()->objectName(), window.tab_order[0]);
    EXPECT_EQ(TabOrder(window.tab_order[0].toUtf8(), 5), window.tab_order);
    EXPECT_TRUE(Find<QLabel>("labDescription")->text().startsWith(QString::fromUtf8("说明：\n")));
    for (const char* hidden : {"txtModPath", "txtPre", "txtSuf"}) EXPECT_FALSE(Box(hidden)->isVisible());
    EXPECT_FALSE(Find<QPushButton>("cmdModBrowse")->isEnabled());

    Box("txtPre")->setText("kept");
    Find<QCheckBox>("chkPre")->click();  // shown, and the focus goes into it
    EXPECT_TRUE(Box("txtPre")->isVisible());
    EXPECT_EQ(QApplication::focusWidget(), Box("txtPre"));
    Find<QCheckBox>("chkMod")->click();
    EXPECT_TRUE(Find<QPushButton>("cmdModBrowse")->isEnabled());
    Find<QCheckBox>("chkMod")->click();
    Find<QCheckBox>("chkPre")->click();
    EXPECT_FALSE(Box("txtPre")->isVisible());
    EXPECT_EQ(Box("txtPre")->text(), "kept");

    Box("txtPath")->setText("/kept");
    Click("cmdBrowse");  // cancelled: the box keeps its text
    EXPECT_EQ(Box("txtPath")->text(), "/kept");
    services_.folder_pick = dir / "new \xd6\xd0";  // not UTF-8: the run gets the bytes
    Click("cmdBrowse");
    Box("txtFrom")->setText("1");
    Box("txtTo")->setText("3");
    services_.answer = Answer::Yes;
    RunAndWait(form);
    EXPECT_EQ(services_.messages.back().text, QString::fromUtf8("操作完成！"));
    const bool files = window.tool == std::string("miFileBuild");
    for (const char* made : {"1", "2", "3"})
      EXPECT_EQ(SystemFileSystem().Kind(dir / "new \xd6\xd0/" + made),
                files ? PathKind::File : PathKind::Folder);
    EXPECT_EQ(form->windowTitle(), QString::fromUtf8(files ? "批建立文件" : "批建立目录"));
    CloseTask(window.tool);
  }
}

struct RenameWindow {
  const char* tool;
  const char* name;
  const char* caption;
  QSize size;
  QStringList tab_order;
  std::vector<std::string> renamed;  // the folder's entries after the run
};

TEST_F(MainWindowTest, RenameWindowsShowTheWidthWithZeroFillAndRenameInPlaceOnAWorker) {
  const RenameWindow windows[] = {
      {"miFileRename", "frmFileRename", "批重命名文件", QSize(385, 208),
       {"txtPath", "cmdBrowse", "txtSourceName", "chkPre", "txtPre", "chkSuf", "txtSuf", "txtFrom",
        "txtStep", "chkAddZero", "txtDigits", "cmdOK", "cmdCancel"},
       {"01=a", "02=b", "c/"}},
      {"miFolderRename", "frmFolderRename", "批重命名目录", QSize(387, 194),
       {"txtPath", "cmdBrowse", "chkPre", "txtPre", "chkSuf", "txtSuf", "txtFrom", "txtStep",
        "chkAddZero", "txtDigits", "cmdOK", "cmdCancel"},
       {"01/", "a=a", "b=b"}},
  };
  for (const auto& window : windows) {
    TempDir dir;
    dir.Write("a", "a");
    dir.Write("b", "b");
    dir.MakeFolder("c");
    services_.messages.clear();
    QWidget* form = Open(window.tool);
    ASSERT_TRUE(form);
    EXPECT_EQ(form->objectName(), window.name);
    EXPECT_EQ(form->size(), window.size);
    EXPECT_EQ(QApplication::focusWidget(), Box("txtPath"));
    EXPECT_EQ(TabOrder("txtPath", window.tab_order.size()), window.tab_order);
    for (const char* hidden : {"txtPre", "txtSuf", "labDigits", "txtDigits"})
      EXPECT_FALSE(Find(hidden)->isVisible()) << hidden;
    Find<QCheckBox>("chkAddZero")->click();
    EXPECT_TRUE(Find("labDigits")->isVisible());
    EXPECT_EQ(QApplication::focusWidget(), Box("txtDigits"));
    QTest::keyClicks(Box("txtDigits"), "2");
    services_.folder_pick = dir.path();
    Click("cmdBrowse");
    QTest::keyClicks(Box("txtFrom"), "1");
    RunAndWait(form);
    EXPECT_EQ(Texts(), QStringList{QString::fromUtf8("操作完成！")});
    EXPECT_EQ(Tree(dir.path()), window.renamed);
    QCoreApplication::processEvents();
    EXPECT_EQ(form->windowTitle(), QString::fromUtf8(window.caption));
    CloseTask(window.tool);
  }
}

}  // namespace
}  // namespace quorvane::gui
