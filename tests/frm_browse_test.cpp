#include "shell/frm_browse.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QListWidget>
#include <QPushButton>
#include <QStorageInfo>
#include <QTest>
#include <QTimer>
#include <memory>

#include "shell/services.h"
#include "support/temp_dir.h"

// Failures show the text, not its UTF-16 code units.
static void PrintTo(const QString& text, std::ostream* out) { *out << text.toStdString(); }

namespace quorvane::gui {
namespace {

using quorvane::testing::TempDir;

class frmBrowseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dialog_ = std::make_unique<frmBrowse>(nullptr);
    dialog_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog_.get()));
  }
  void TearDown() override {
    dialog_.reset();
    ResetServices();
  }

  QListWidget* Dir() const { return dialog_->findChild<QListWidget*>("Dir"); }
  QComboBox* Drives() const { return dialog_->findChild<QComboBox*>("drv"); }
  QPushButton* Button(const char* name) const {
    return dialog_->findChild<QPushButton*>(name);
  }

  QStringList Entries() const {
    QStringList texts;
    for (int i = 0; i < Dir()->count(); ++i) texts << Dir()->item(i)->text();
    return texts;
  }

  QListWidgetItem* Entry(const QString& text) const {
    const auto found = Dir()->findItems(text, Qt::MatchExactly);
    return found.isEmpty() ? nullptr : found.first();
  }

  QPoint CentreOf(QListWidgetItem* item) const {
    Dir()->scrollToItem(item);
    return Dir()->visualItemRect(item).center();
  }

  void DoubleClick(const QString& text) {
    QListWidgetItem* item = Entry(text);
    ASSERT_NE(item, nullptr) << text.toStdString();
    // A real double click: the first click presses on the entry, the second is the double one.
    const QPoint at = CentreOf(item);
    QTest::mouseClick(Dir()->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(Dir()->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseRelease(Dir()->viewport(), Qt::LeftButton, {}, at);
  }

  void Click(const char* button) { QTest::mouseClick(Button(button), Qt::LeftButton); }

  std::unique_ptr<frmBrowse> dialog_;
};

TEST_F(frmBrowseTest, OkAtOnceReturnsTheProgramFolder) {
  EXPECT_EQ(dialog_->CurrentFolder(), QCoreApplication::applicationDirPath());
  Click("cmdOK");
  EXPECT_EQ(dialog_->sPath, QCoreApplication::applicationDirPath());
  EXPECT_EQ(dialog_->result(), QDialog::Accepted);
}

TEST_F(frmBrowseTest, CancelAndRejectReturnNothing) {
  dialog_->sPath = "/stale";
  Click("cmdCancel");
  EXPECT_EQ(dialog_->sPath, "");
  EXPECT_EQ(dialog_->result(), QDialog::Rejected);
  EXPECT_FALSE(dialog_->isVisible());

  dialog_->show();
  dialog_->sPath = "/stale";
  dialog_->close();
  EXPECT_EQ(dialog_->sPath, "");
}

TEST_F(frmBrowseTest, ButtonsIgnoreEnterAndTheDialogIsFixed) {
  for (const char* name : {"cmdOK", "cmdCancel"}) {
    EXPECT_FALSE(Button(name)->autoDefault()) << name;
    EXPECT_FALSE(Button(name)->isDefault()) << name;
  }
  EXPECT_EQ(dialog_->windowTitle(), QString::fromUtf8("选择路径"));
  EXPECT_EQ(dialog_->minimumSize(), dialog_->maximumSize());
  EXPECT_EQ(dialog_->size(), QSize(246, 281));
}

TEST_F(frmBrowseTest, DoubleClickOpensAFolderAndOkReturnsItWithoutFinalSeparator) {
  TempDir temp;
  temp.MakeFolder("picked");
  dialog_->OpenFolder(QString::fromStdString(temp.path()));
  DoubleClick("picked");
  EXPECT_EQ(dialog_->CurrentFolder(), QString::fromStdString(temp / "picked"));
  Click("cmdOK");
  EXPECT_EQ(dialog_->sPath, QString::fromStdString(temp / "picked"));
}

TEST_F(frmBrowseTest, ListShowsTheChainThenSubfoldersInNaturalOrder) {
  TempDir temp;
  for (const char* name : {"a10", "a2", ".hidden", "B1"}) temp.MakeFolder(name);
  temp.Write("file.txt", "not a folder");
  dialog_->OpenFolder(QString::fromStdString(temp.path()));

  const QStringList entries = Entries();
  ASSERT_GE(entries.size(), 5);
  EXPECT_EQ(entries.first(), "/");
  const QStringList subfolders = entries.mid(entries.size() - 4);
  EXPECT_EQ(subfolders, (QStringList{".hidden", "a2", "a10", "B1"}));
  EXPECT_EQ(entries.at(entries.size() - 5),
            QString::fromStdString(temp.path()).section('/', -1));
}

TEST_F(frmBrowseTest, DoubleClickOnTheRootReturnsTheRootWithItsSeparator) {
  DoubleClick("/");
  EXPECT_EQ(dialog_->CurrentFolder(), "/");
  Click("cmdOK");
  EXPECT_EQ(dialog_->sPath, "/");
}

TEST_F(frmBrowseTest, DoubleClickOnAnAncestorOpensIt) {
  TempDir temp;
  temp.MakeFolder("outer/inner");
  dialog_->OpenFolder(QString::fromStdString(temp / "outer/inner"));
  DoubleClick("outer");
  EXPECT_EQ(dialog_->CurrentFolder(), QString::fromStdString(temp / "outer"));
  EXPECT_NE(Entry("inner"), nullptr);
}

TEST_F(frmBrowseTest, HighlightedFolderIsNotReturned) {
  TempDir temp;
  temp.MakeFolder("only-highlighted");
  dialog_->OpenFolder(QString::fromStdString(temp.path()));
  QListWidgetItem* item = Entry("only-highlighted");
  ASSERT_NE(item, nullptr);
  QTest::mouseClick(Dir()->viewport(), Qt::LeftButton, {}, CentreOf(item));
  EXPECT_EQ(Dir()->currentItem(), item);
  Click("cmdOK");
  EXPECT_EQ(dialog_->sPath, QString::fromStdString(temp.path()));
}

TEST_F(frmBrowseTest, EnterOpensTheHighlightedFolderWithoutClosing) {
  TempDir temp;
  temp.MakeFolder("by-key");
  dialog_->OpenFolder(QString::fromStdString(temp.path()));
  Dir()->setFocus();
  Dir()->setCurrentItem(Entry("by-key"));
  QTest::keyClick(Dir(), Qt::Key_Return);
  EXPECT_EQ(dialog_->CurrentFolder(), QString::fromStdString(temp / "by-key"));
  EXPECT_TRUE(dialog_->isVisible());
  EXPECT_EQ(dialog_->sPath, "");
}

TEST_F(frmBrowseTest, ChoosingADriveOpensItsRoot) {
  TempDir temp;
  temp.MakeFolder("deep");
  dialog_->OpenFolder(QString::fromStdString(temp / "deep"));
  const int root = Drives()->findText("/");
  ASSERT_GE(root, 0);
  // Chosen through the popup, as a user does, even when "/" is already the shown volume.
  Drives()->showPopup();
  QAbstractItemView* view = Drives()->view();
  const QModelIndex index = view->model()->index(root, 0);
  view->scrollTo(index);
  QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(index).center());
  EXPECT_EQ(dialog_->CurrentFolder(), "/");
  Click("cmdOK");
  EXPECT_EQ(dialog_->sPath, "/");
}

TEST_F(frmBrowseTest, DriveListStartsAtTheProgramVolumeWithoutDuplicates) {
  QStringList drives;
  for (int i = 0; i < Drives()->count(); ++i) drives << Drives()->itemText(i);
  EXPECT_EQ(drives.removeDuplicates(), 0);
  EXPECT_TRUE(drives.contains("/"));
  EXPECT_EQ(Drives()->currentText(),
            QStorageInfo(QCoreApplication::applicationDirPath()).rootPath());
}

TEST_F(frmBrowseTest, UnreadableFolderLeavesTheDialogUsable) {
  TempDir temp;
  temp.MakeFolder("locked/secret");
  const std::string locked = temp / "locked";
  ::chmod(locked.c_str(), 0);
  bool messaged = false;
  services().message = [&](QWidget*, const QString&, Icon, Buttons, const QString&) {
    messaged = true;
    return Answer::Ok;
  };
  dialog_->OpenFolder(QString::fromStdString(locked));
  EXPECT_EQ(dialog_->CurrentFolder(), QString::fromStdString(locked));
  // The superuser reads any folder, so only others see the list stop at the locked one.
  if (::geteuid() != 0) {
    EXPECT_EQ(Entries().last(), "locked");
  }
  DoubleClick(QString::fromStdString(temp.path()).section('/', -1));
  EXPECT_EQ(dialog_->CurrentFolder(), QString::fromStdString(temp.path()));

  dialog_->OpenFolder(QString::fromStdString(temp / "vanished"));
  EXPECT_EQ(Entries().last(), "vanished");
  EXPECT_FALSE(messaged);
  ::chmod(locked.c_str(), 0700);
}

TEST_F(frmBrowseTest, BrowseForFolderReturnsTheChoiceMadeInTheModalBox) {
  TempDir temp;
  QString seen_caption;
  // Should the box not be found, this still ends the modal loop so the test cannot hang.
  QTimer guard;
  guard.setSingleShot(true);
  QObject::connect(&guard, &QTimer::timeout, [] {
    if (QWidget* modal = QApplication::activeModalWidget()) modal->close();
  });
  guard.start(5000);
  QTimer::singleShot(0, [&] {
    auto* box = qobject_cast<frmBrowse*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    seen_caption = box->windowTitle();
    box->OpenFolder(QString::fromStdString(temp.path()));
    QTest::mouseClick(box->findChild<QPushButton*>("cmdOK"), Qt::LeftButton);
  });
  EXPECT_EQ(BrowseForFolder(nullptr), QString::fromStdString(temp.path()));
  EXPECT_EQ(seen_caption, QString::fromUtf8("选择路径"));
}

}  // namespace
}  // namespace quorvane::gui
