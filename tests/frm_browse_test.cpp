#include "shell/frm_browse.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QListWidget>
#include <QPushButton>
#include <QStorageInfo>
#include <QTest>

#include "gui_support.h"
#include "support/temp_dir.h"

namespace quorvane::gui {
namespace {

using testing::TempDir;

class frmBrowseTest : public ::testing::Test {
 protected:
  QListWidget* Dir() { return dialog_.findChild<QListWidget*>("Dir"); }
  QStringList Entries() {
    QStringList texts;
    for (int i = 0; i < Dir()->count(); ++i) texts << Dir()->item(i)->text();
    return texts;
  }
  void Click(const char* button) {
    QTest::mouseClick(dialog_.findChild<QPushButton*>(button), Qt::LeftButton);
  }
  // A real double click: a press on the entry first, then the double click.
  void DoubleClick(const QString& text) {
    const auto found = Dir()->findItems(text, Qt::MatchExactly);
    ASSERT_FALSE(found.isEmpty()) << text.toStdString();
    const QPoint at = Dir()->visualItemRect(found.first()).center();
    QTest::mouseClick(Dir()->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(Dir()->viewport(), Qt::LeftButton, {}, at);
  }

  testing::ServiceRecorder services_;
  frmBrowse dialog_{nullptr};
};

TEST_F(frmBrowseTest, OpensAtTheProgramFolderAndCancelReturnsNothing) {
  EXPECT_EQ(dialog_.windowTitle(), QString::fromUtf8("选择路径"));
  EXPECT_EQ(dialog_.size(), QSize(246, 281));
  EXPECT_EQ(dialog_.findChild<QComboBox*>("drv")->currentText(),
            QStorageInfo(QCoreApplication::applicationDirPath()).rootPath());
  Click("cmdOK");
  EXPECT_EQ(dialog_.sPath, QCoreApplication::applicationDirPath().toStdString());
  Click("cmdCancel");
  EXPECT_EQ(dialog_.sPath, "");
  dialog_.sPath = "/stale";
  dialog_.show();
  dialog_.close();  // the close box counts as cancel
  EXPECT_EQ(dialog_.sPath, "");
}

TEST_F(frmBrowseTest, DoubleClicksOpenFoldersAndOkReturnsTheOpenedOneAsBytes) {
  TempDir temp;
  const std::string gbk = "ÕÕÆ¬";  // 照片 in GBK: not UTF-8
  for (const std::string& name : {std::string("a10"), std::string("a2"), std::string(".hidden"),
                                  std::string("B1/inner"), gbk})
    temp.MakeFolder(name);
  temp.Write("file.txt", "not a folder");
  dialog_.show();
  dialog_.OpenFolder(temp.path() + "/./B1/..");
  EXPECT_EQ(dialog_.CurrentFolder(), temp.path());
  EXPECT_EQ(Entries().first(), "/");
  EXPECT_EQ(Entries().mid(Entries().size() - 5),
            (QStringList{".hidden", "a2", "a10", "B1", QString::fromUtf8(gbk.c_str())}));

  DoubleClick("B1");
  EXPECT_EQ(dialog_.CurrentFolder(), temp / "B1");
  Dir()->setCurrentRow(Dir()->count() - 1);  // "inner" highlighted, not opened
  Click("cmdOK");
  EXPECT_EQ(dialog_.sPath, temp / "B1");  // no final separator

  dialog_.OpenFolder(temp.path());
  DoubleClick(QString::fromUtf8(gbk.c_str()));  // shown with replacement characters
  Click("cmdOK");
  EXPECT_EQ(dialog_.sPath, temp / gbk);  // handed back as the real bytes

  DoubleClick("/");
  Click("cmdOK");
  EXPECT_EQ(dialog_.sPath, "/");  // a root keeps its separator
}

TEST_F(frmBrowseTest, OnlyAnotherDriveSwitchesFoldersAndAVanishedFolderKeepsTheDialogUsable) {
  TempDir temp;
  dialog_.OpenFolder(temp / "vanished");
  EXPECT_EQ(Entries().last(), "vanished");
  auto* drives = dialog_.findChild<QComboBox*>("drv");
  ASSERT_GE(drives->currentIndex(), 0);
  emit drives->activated(drives->currentIndex());  // the drive already shown: stay
  EXPECT_EQ(dialog_.CurrentFolder(), temp / "vanished");
  if (drives->count() < 2) GTEST_SKIP() << "one volume only";
  const int other = drives->currentIndex() == 0 ? 1 : 0;
  drives->setCurrentIndex(other);
  EXPECT_EQ(QString::fromStdString(dialog_.CurrentFolder()), drives->itemText(other));
  EXPECT_TRUE(services_.messages.empty());
}

}  // namespace
}  // namespace quorvane::gui
