// The directory lists follow the disk while they are open, and folders dragged from a file
// manager fill the folder fields, driven through the main window.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QAbstractItemModel>
#include <QDropEvent>
#include <QMimeData>
#include <QScrollBar>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <functional>
#include <memory>

#include "gui_support.h"
#include "shell/frm_browse.h"
#include "shell/path_text.h"
#include "support/temp_dir.h"

namespace quorvane::gui {
namespace {

using namespace testing;

constexpr int kWaitMs = 10000;

using Texts = std::vector<std::string>;

// The last `count` entries of a directory list.
Texts Last(const QListWidget* list, int count) {
  Texts texts;
  for (int i = std::max(0, list->count() - count); i < list->count(); ++i)
    texts.push_back(list->item(i)->text().toStdString());
  return texts;
}

std::string Highlighted(const QListWidget* list) {
  return list->currentItem() ? list->currentItem()->text().toStdString() : std::string();
}

void Highlight(QListWidget* list, const char* text) {
  const auto found = list->findItems(QString::fromUtf8(text), Qt::MatchExactly);
  ASSERT_FALSE(found.isEmpty()) << text;
  list->setCurrentItem(found.last());
}

// Waits until the directory list ends in `tail`.
bool Ends(const QListWidget* list, const Texts& tail) {
  return QTest::qWaitFor([&] { return Last(list, static_cast<int>(tail.size())) == tail; },
                         kWaitMs);
}

// Drags `data` onto `target` as a file manager does, offering copy, move and link; true when
// the target took the drop, as a copy.
bool Drop(QWidget* target, const QMimeData& data) {
  auto* area = qobject_cast<QAbstractScrollArea*>(target);
  QWidget* receiver = area ? area->viewport() : target;
  const QPoint at = receiver->rect().center();
  const Qt::DropActions offered = Qt::CopyAction | Qt::MoveAction | Qt::LinkAction;
  QDragEnterEvent enter(at, offered, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(receiver, &enter);
  if (!enter.isAccepted()) return false;
  QDragMoveEvent move(at, offered, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(receiver, &move);
  if (!move.isAccepted()) return false;
  QDropEvent drop(QPointF(at), offered, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(receiver, &drop);
  return drop.isAccepted() && drop.dropAction() == Qt::CopyAction;
}

QUrl Local(const std::string& path) { return QUrl::fromLocalFile(QString::fromStdString(path)); }

// A drag's addresses as a file manager lists them.
QByteArray UriList(const QList<QUrl>& urls) {
  QByteArray text;
  for (const QUrl& url : urls) text += url.toEncoded() + "\r\n";
  return text;
}

std::unique_ptr<QMimeData> Addresses(const QByteArray& uri_list) {
  auto data = std::make_unique<QMimeData>();
  data->setData("text/uri-list", uri_list);
  return data;
}

std::unique_ptr<QMimeData> Urls(const QList<QUrl>& urls) { return Addresses(UriList(urls)); }

class FolderWatchTest : public MainWindowTest {
 protected:
  // Presses `button` of the open task window with the real folder picker, and runs `body`
  // in the picker once it is up; the picker is then closed with 确定.
  void InPicker(const char* button, std::function<void(frmBrowse&)> body) {
    services().pickFolder = BrowseForFolder;
    bool ran = false;
    QTimer::singleShot(0, &main, [&] { DrivePicker(body, &ran); });
    Click(button);
    EXPECT_TRUE(ran);
  }

 private:
  void DrivePicker(const std::function<void(frmBrowse&)>& body, bool* ran) {
    auto* picker = qobject_cast<frmBrowse*>(QApplication::activeModalWidget());
    if (!picker) {
      QTimer::singleShot(5, &main, [this, body, ran] { DrivePicker(body, ran); });
      return;
    }
    *ran = true;
    body(*picker);
    testing::Click(picker, "cmdOK");
  }
};

TEST_F(FolderWatchTest, PickerFollowsFoldersMadeAndRemovedKeepingTheHighlightAndTheOpenFolder) {
  TempDir temp;
  for (const char* name : {"a", "b", "c"}) temp.MakeFolder(name);
  Open("miFolderRename");
  InPicker("cmdBrowse", [&](frmBrowse& picker) {
    auto* dir = picker.findChild<QListWidget*>("Dir");
    const std::string here = temp.path().substr(temp.path().rfind('/') + 1);
    picker.OpenFolder(temp.path());
    Highlight(dir, "c");

    temp.MakeFolder("b2");
    EXPECT_TRUE(Ends(dir, {here, "a", "b", "b2", "c"}));
    EXPECT_EQ(Highlighted(dir), "c");

    ASSERT_EQ(::rmdir((temp / "c").c_str()), 0);  // the highlighted folder goes
    EXPECT_TRUE(Ends(dir, {here, "a", "b", "b2"}));
    EXPECT_EQ(Highlighted(dir), here);  // the open folder takes the highlight

    Highlight(dir, "a");
    ASSERT_EQ(::rmdir((temp / "b").c_str()), 0);
    EXPECT_TRUE(Ends(dir, {here, "a", "b2"}));
    EXPECT_EQ(Highlighted(dir), "a");
    EXPECT_EQ(picker.CurrentFolder(), temp.path());

    // The open folder itself goes: the list moves up to the nearest folder left.
    DoubleClick(dir, dir->findItems("b2", Qt::MatchExactly).first());
    temp.MakeFolder("b2/inner");
    EXPECT_TRUE(Ends(dir, {"b2", "inner"}));
    ASSERT_EQ(::rmdir((temp / "b2/inner").c_str()), 0);
    ASSERT_EQ(::rmdir((temp / "b2").c_str()), 0);
    EXPECT_TRUE(QTest::qWaitFor([&] { return picker.CurrentFolder() == temp.path(); }, kWaitMs));
    EXPECT_EQ(Last(dir, 2), (Texts{here, "a"}));
    EXPECT_EQ(Highlighted(dir), here);
  });
  EXPECT_EQ(PathText(Box("txtPath")), temp.path());
  EXPECT_TRUE(services_.messages.empty());
}

// A thousand folders made at once show up in a handful of refreshes, not one each.
TEST_F(FolderWatchTest, PickerGathersABurstOfNewFoldersIntoFewRefreshes) {
  TempDir temp;
  Open("miFileBuild");
  InPicker("cmdBrowse", [&](frmBrowse& picker) {
    auto* dir = picker.findChild<QListWidget*>("Dir");
    picker.OpenFolder(temp.path());
    const int before = dir->count();
    QSignalSpy refills(dir->model(), &QAbstractItemModel::modelReset);
    constexpr int kFolders = 1000;
    for (int i = 0; i < kFolders; ++i)
      ASSERT_EQ(::mkdir((temp / ("n" + std::to_string(i))).c_str(), 0755), 0);
    EXPECT_TRUE(QTest::qWaitFor([&] { return dir->count() == before + kFolders; }, kWaitMs));
    EXPECT_GE(refills.count(), 1);
    EXPECT_LE(refills.count(), 5);
    EXPECT_EQ(dir->item(dir->count() - 1)->text(), "n999");  // in natural order

    // A refresh leaves the list where the user scrolled it, away from the highlight.
    Highlight(dir, "n999");
    dir->scrollToTop();
    temp.MakeFolder("n1000");
    EXPECT_TRUE(Ends(dir, {"n999", "n1000"}));
    EXPECT_EQ(Highlighted(dir), "n999");
    EXPECT_EQ(dir->verticalScrollBar()->value(), 0);
  });
}

// Every box the folder picker fills also takes a folder dragged onto it.
TEST_F(FolderWatchTest, EveryFolderBoxTakesADroppedFolder) {
  TempDir temp;
  temp.MakeFolder("drop");
  const struct {
    const char* tool;
    const char* box;
  } boxes[] = {{"miFileBuild", "txtPath"},       {"miFileRename", "txtPath"},
               {"miFileMerge", "txtSourcePath"}, {"miFolderBuild", "txtPath"},
               {"miFolderBuild", "txtModPath"},  {"miFolderRename", "txtPath"},
               {"miFolderMerge", "txtDestinationPath"}};
  for (const auto& [tool, box] : boxes) {
    QWidget* form = Open(tool);
    auto* field = form->findChild<QLineEdit*>(box);
    ASSERT_TRUE(field) << tool << " " << box;
    EXPECT_TRUE(Drop(field, *Urls({Local(temp / "drop")}))) << tool << " " << box;
    EXPECT_EQ(PathText(field), temp / "drop") << tool << " " << box;
  }
}

TEST_F(FolderWatchTest, ABoxTakesTheFirstFolderADropNamesAndRefusesDropsThatNameNone) {
  TempDir temp;
  const std::string gbk = "\xd5\xd5\xc6\xac";  // 照片 in GBK: not UTF-8
  temp.Write("docs/a.txt", "a");
  temp.MakeFolder("two");
  temp.MakeFolder(gbk);
  QWidget* form = Open("miFileRename");
  auto* box = form->findChild<QLineEdit*>("txtPath");
  const QUrl web("https://example.com/folder");
  const QUrl remote("file://otherhost/srv/share");
  const QByteArray gbk_address =
      QByteArray::fromStdString("file://" + temp.path() + "/%D5%D5%C6%AC\r\n");

  const struct {
    const char* what;
    QByteArray uri_list;
    bool taken;
    std::string text;  // what the box then holds
  } cases[] = {
      {"a folder", UriList({Local(temp / "two")}), true, temp / "two"},
      {"a file gives its folder", UriList({Local(temp / "docs/a.txt")}), true, temp / "docs"},
      {"a folder with a final separator", UriList({Local(temp / "two/")}), true, temp / "two"},
      {"a web address", UriList({web}), false, "/typed"},
      {"a file on another machine", UriList({remote}), false, "/typed"},
      {"a path that is not there", UriList({Local(temp / "gone")}), false, "/typed"},
      {"the first folder after the unusable ones",
       UriList({web, Local(temp / "gone"), Local(temp / "docs"), Local(temp / "two")}), true,
       temp / "docs"},
      {"a name that is not UTF-8 keeps its bytes", gbk_address, true, temp / gbk},
  };
  for (const auto& c : cases) {
    box->setText("/typed");
    EXPECT_EQ(Drop(box, *Addresses(c.uri_list)), c.taken) << c.what;
    EXPECT_EQ(PathText(box), c.text) << c.what;
  }

  // Text dragged from an editor is still typed into the box.
  box->clear();
  QMimeData text;
  text.setText("plain");
  Drop(box, text);
  EXPECT_EQ(box->text(), "plain");
  EXPECT_TRUE(services_.messages.empty());
}

// Dropped folders join the source list as the add button adds them: each in the drop's
// order, a folder already listed once more.
TEST_F(FolderWatchTest, FolderMergeSourceListTakesEachDroppedFolderAsTheAddButtonDoes) {
  TempDir temp;
  temp.MakeFolder("a");
  temp.Write("b/file.txt", "b");
  QWidget* form = Open("miFolderMerge");
  auto* list = form->findChild<QListWidget*>("lstFolderList");
  EXPECT_TRUE(Drop(list, *Urls({Local(temp / "a")})));
  EXPECT_TRUE(Drop(list, *Urls({Local(temp / "a"), Local(temp / "b"), Local(temp / "b/file.txt"),
                                QUrl("https://example.com/c")})));
  EXPECT_FALSE(Drop(list, *Urls({QUrl("https://example.com/c"), Local(temp / "gone")})));
  Texts listed;
  for (int i = 0; i < list->count(); ++i) listed.push_back(ItemPath(list->item(i)));
  EXPECT_EQ(listed, (Texts{temp / "a", temp / "a", temp / "b"}));
}

}  // namespace
}  // namespace quorvane::gui
