#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include "filetasks/frm_file_merge.h"
#include "gui_support.h"
#include "support/temp_dir.h"

namespace quorvane::gui {
namespace {

using testing::ReadAll;
using testing::ServiceRecorder;
using testing::TempDir;

class FrmFileMergeTest : public ::testing::Test {
 protected:
  QLineEdit* Box(const char* name) { return form.findChild<QLineEdit*>(name); }
  QPushButton* Button(const char* name) { return form.findChild<QPushButton*>(name); }
  QComboBox* Type() { return form.findChild<QComboBox*>("cboType"); }

  // Presses 确定 and waits for the run to end.
  void RunAndWait() {
    QSignalSpy finished(&form.host(), &RunHost::finished);
    QTest::mouseClick(Button("cmdOK"), Qt::LeftButton);
    ASSERT_TRUE(finished.count() > 0 || finished.wait(20000));
  }

  ServiceRecorder services_;
  frmFileMerge form;
};

TEST_F(FrmFileMergeTest, OpensWithItsDefaults) {
  EXPECT_EQ(form.objectName(), "frmFileMerge");
  EXPECT_EQ(form.windowTitle(), QString::fromUtf8("批合并文件"));
  EXPECT_EQ(form.size(), QSize(388, 170));
  EXPECT_EQ(Box("txtSourceName")->text(), "*.txt");
  EXPECT_TRUE(Box("txtSourcePath")->text().isEmpty());
  EXPECT_TRUE(Box("txtDestinationPath")->text().isEmpty());
  ASSERT_EQ(Type()->count(), 4);
  EXPECT_EQ(Type()->currentIndex(), 0);
  const QStringList entries = {QString::fromUtf8("顺序文件方式"), QString::fromUtf8("二进制文件方式"),
                               QString::fromUtf8("Word文档方式"), QString::fromUtf8("Excel文件方式")};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(Type()->itemText(i), entries[i]);
  EXPECT_EQ(Button("cmdOK")->text(), QString::fromUtf8("确定(&O)"));
  EXPECT_EQ(Button("cmdCancel")->text(), QString::fromUtf8("退出(&Q)"));
  EXPECT_EQ(Box("txtSourceName")->geometry(), QRect(96, 48, 153, 20));
  EXPECT_EQ(form.focusWidget(), Box("txtSourceName"));

  // Keyboard order: pattern, folder, browse, OK, exit, destination, browse, mode.
  QStringList order;
  QWidget* w = Box("txtSourceName");
  for (int i = 0; i < 8; ++i, w = w->nextInFocusChain()) {
    while (!(w->focusPolicy() & Qt::TabFocus)) w = w->nextInFocusChain();
    order << w->objectName();
  }
  EXPECT_EQ(order, (QStringList{"txtSourceName", "txtSourcePath", "cmdBrowseSource", "cmdOK",
                                "cmdCancel", "txtDestinationPath", "cmdBrowseDestination",
                                "cboType"}));
}

TEST_F(FrmFileMergeTest, ChoosingAModeRewritesThePattern) {
  Box("txtSourceName")->setText("*.dat");
  Type()->setCurrentIndex(1);
  emit Type()->activated(1);
  EXPECT_EQ(Box("txtSourceName")->text(), "*.bin");
  Box("txtSourceName")->setText("*.dat");
  emit Type()->activated(1);  // the same entry again still rewrites
  EXPECT_EQ(Box("txtSourceName")->text(), "*.bin");
  emit Type()->activated(3);
  EXPECT_EQ(Box("txtSourceName")->text(), "*.xls");
}

TEST_F(FrmFileMergeTest, BrowseResultsAreTakenOrIgnored) {
  Box("txtSourcePath")->setText("/kept");
  Box("txtDestinationPath")->setText("/kept.txt");
  QTest::mouseClick(Button("cmdBrowseSource"), Qt::LeftButton);
  QTest::mouseClick(Button("cmdBrowseDestination"), Qt::LeftButton);
  EXPECT_EQ(Box("txtSourcePath")->text(), "/kept");  // cancelled pickers change nothing
  EXPECT_EQ(Box("txtDestinationPath")->text(), "/kept.txt");
  services_.folder_pick = QString::fromUtf8("/照片/2003");
  services_.file_pick = "/out/all.txt";
  QTest::mouseClick(Button("cmdBrowseSource"), Qt::LeftButton);
  QTest::mouseClick(Button("cmdBrowseDestination"), Qt::LeftButton);
  EXPECT_EQ(Box("txtSourcePath")->text(), QString::fromUtf8("/照片/2003"));
  EXPECT_EQ(Box("txtDestinationPath")->text(), "/out/all.txt");
}

TEST_F(FrmFileMergeTest, RunsOnAWorkerWhileTheWindowTakesNoInput) {
  TempDir dir;
  for (int i = 1; i <= 3; ++i) dir.Write("src/" + std::to_string(i) + ".txt", std::to_string(i));
  Box("txtSourcePath")->setText(QString::fromStdString(dir / "src"));
  Box("txtDestinationPath")->setText(QString::fromStdString(dir / "out/all.txt"));
  services_.answer = Answer::Yes;
  bool ok_enabled = true, closed = true;
  QString caption;
  services_.during_message = [&] {
    if (services_.messages.back().text != QString::fromUtf8("操作完成！")) return;
    QCoreApplication::processEvents();  // the posted captions arrive
    ok_enabled = Button("cmdOK")->isEnabled();
    caption = form.windowTitle();
    closed = form.close();
  };
  RunAndWait();
  ASSERT_EQ(services_.messages.size(), 2u);
  EXPECT_EQ(services_.messages[0].text, QString::fromUtf8("目标文件不存在！是否创建？"));
  EXPECT_EQ(services_.messages[0].buttons, Buttons::YesNo);
  EXPECT_EQ(services_.messages[1].icon, Icon::Information);
  EXPECT_EQ(services_.messages[1].title, "Quorvane");
  EXPECT_FALSE(ok_enabled);
  EXPECT_FALSE(closed);  // a running merge keeps its window
  EXPECT_EQ(caption, QString::fromUtf8("正在合并文件...100%"));
  EXPECT_EQ(ReadAll(dir / "out/all.txt"), "1\r\n2\r\n3\r\n");
  QCoreApplication::processEvents();
  EXPECT_EQ(form.windowTitle(), QString::fromUtf8("批合并文件"));
  EXPECT_TRUE(Button("cmdOK")->isEnabled());
}

TEST_F(FrmFileMergeTest, ARefusalPutsTheFocusIntoTheField) {
  form.show();
  QApplication::setActiveWindow(&form);
  Box("txtSourcePath")->setText("   ");
  RunAndWait();
  ASSERT_EQ(services_.messages.size(), 1u);
  EXPECT_EQ(services_.messages[0].text, QString::fromUtf8("请输入源文件所在目录！"));
  EXPECT_EQ(services_.messages[0].icon, Icon::Warning);
  EXPECT_EQ(form.focusWidget(), Box("txtSourcePath"));
}

}  // namespace
}  // namespace quorvane::gui
