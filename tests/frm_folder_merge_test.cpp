// The merge-folders window, opened and driven through the main window.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QListWidget>
#include <map>

#include "gui_support.h"
#include "support/temp_dir.h"

namespace quorvane::gui {
namespace {

using testing::ReadAll;
using testing::TempDir;
using Layout = std::map<std::string, QRect>;

class FolderMergeWindowTest : public testing::MainWindowTest {
 protected:
  // Left, top, width and height of the controls that the rules move, in twips.
  Layout Twips() {
    Layout twips;
    for (const char* name : {"lstFolderList", "cmdDelete", "cmdAdd", "cmdClear", "Drv", "Dir", "labDestinationPath",
                             "txtDestinationPath", "cmdBrowse", "cmdOK", "cmdCancel"})
      twips[name] = QRect(Find(name)->geometry().topLeft() * 15, Find(name)->size() * 15);
    return twips;
  }
  // How far each control moved and grew when the window grew by `dx`, `dy` pixels.
  Layout Grow(int dx, int dy) {
    Layout before = Twips(), after = (main.TaskWindow("miFolderMerge")->resize(main.TaskWindow("miFolderMerge")->size() + QSize(dx, dy)), Twips());
    for (auto& [name, r] : after)
      r = QRect(r.topLeft() - before[name].topLeft(), r.size() - before[name].size());
    return after;
  }
  static void ExpectNear(Layout actual, const Layout& expected) {  // within a pixel
    for (const auto& [name, e] : expected)
      for (auto [a, b] : {std::pair{actual[name].x(), e.x()}, {actual[name].y(), e.y()},
                          {actual[name].width(), e.width()}, {actual[name].height(), e.height()}})
        EXPECT_LE(std::abs(a - b), 15) << name << ": " << a << " for " << b;
  }
};

TEST_F(FolderMergeWindowTest, ResizesByItsRulesAndSkipsTheRefusedOnes) {
  QWidget* form = Open("miFolderMerge");
  QMdiSubWindow* frame = main.TaskWindow("miFolderMerge");
  EXPECT_EQ(form->size(), QSize(465, 320));  // 6975 x 4800 twips
  EXPECT_EQ(QApplication::focusWidget(), Find("lstFolderList"));
  EXPECT_TRUE(frame->windowFlags().testFlags(Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
  EXPECT_EQ(TabOrder("lstFolderList", 11),
            (QStringList{"lstFolderList", "cmdAdd", "Drv", "Dir", "cmdBrowse", "txtDestinationPath",
                         "cmdOK", "cmdCancel", "cmdDelete", "cmdClear", "chkTotal"}));
  // The worked figures. The directory list settles on whole rows (270 twips here) short of
  // 2840, and the source list's bottom and the rows under it follow.
  const int dir = Twips()["Dir"].height(), row = 270, label = 720 + dir + 360 + 200;
  EXPECT_TRUE(dir <= 2840 && dir > 2840 - row) << dir;
  ExpectNear(Twips(), {{"lstFolderList", {120, 720, 3650, dir + 360}}, {"cmdDelete", {3870, 2160, 1000, 300}},
                       {"cmdAdd", {3870, 1660, 1000, 300}}, {"cmdClear", {3870, 2660, 1000, 300}},
                       {"Drv", {4970, 720, 1905, 300}}, {"Dir", {4970, 1080, 1905, dir}},
                       {"labDestinationPath", {120, label, 735, 255}}, {"txtDestinationPath", {960, label - 45, 4775, 300}},
                       {"cmdBrowse", {5835, label - 45, 1000, 300}}, {"cmdOK", {2288, label + 400, 1000, 300}},
                       {"cmdCancel", {3488, label + 400, 1000, 300}}});
  // 300 twips wider, then 300 taller.
  const QRect moved(200, 0, 0, 0), lists(200, 0, 100, 0), half(150, 0, 0, 0), down(0, 150, 0, 0);
  ExpectNear(Grow(20, 0), {{"lstFolderList", {0, 0, 200, 0}}, {"cmdDelete", moved}, {"cmdAdd", moved},
                            {"cmdClear", moved}, {"Drv", lists}, {"Dir", lists}, {"labDestinationPath", {}},
                            {"txtDestinationPath", {0, 0, 300, 0}}, {"cmdBrowse", {300, 0, 0, 0}},
                            {"cmdOK", half}, {"cmdCancel", half}});
  Layout taller = Grow(0, 20);
  const int grown = taller["Dir"].height();
  EXPECT_TRUE(grown > 300 - row && grown < 300 + row) << grown;
  const QRect on(0, grown, 0, 0);
  ExpectNear(taller, {{"lstFolderList", {0, 0, 0, grown}}, {"cmdDelete", down}, {"cmdAdd", down}, {"cmdClear", down},
                      {"labDestinationPath", on}, {"txtDestinationPath", on}, {"cmdBrowse", on}, {"cmdOK", on}, {"cmdCancel", on}});
  // Too small for any size: those rules are skipped, the positions still follow.
  const Layout before = Twips();
  frame->resize(1, 1);
  EXPECT_EQ(form->size(), QSize(0, 0));
  for (const char* name : {"lstFolderList", "Drv", "Dir", "txtDestinationPath"})
    EXPECT_EQ(Twips()[name].size(), before.at(name).size()) << name;
  EXPECT_EQ(Twips()["cmdOK"].left(), -1200);
  frame->resize(frame->sizeHint());
  frame->showMinimized();
  frame->showNormal();
  EXPECT_EQ(form->size(), QSize(465, 320));
}

TEST_F(FolderMergeWindowTest, BuildsItsSourceListFromTheDirectoryListAndCopiesFromIt) {
  TempDir dir;
  const std::string gbk = "\xd5\xd5\xc6\xac";  // 照片 in GBK: not UTF-8, the last folder listed
  dir.Write("a/1.txt", "a");
  dir.Write(gbk + "/2.txt", "gbk");
  char here[4096];
  ASSERT_TRUE(::getcwd(here, sizeof here) && ::chdir(dir.path().c_str()) == 0);
  QWidget* form = Open("miFolderMerge");  // its lists open at the working folder
  ASSERT_EQ(::chdir(here), 0);
  auto* folders = Find<QListWidget>("Dir");
  auto* list = Find<QListWidget>("lstFolderList");
  for (int row : {2, 1, 2, 1, 2}) {  // counted from the end: a, the GBK folder, a, ...
    folders->setCurrentRow(folders->count() - row);
    Click("cmdAdd");
  }
  list->item(0)->setSelected(true);
  list->item(2)->setSelected(true);
  Click("cmdDelete");
  ASSERT_EQ(list->count(), 3);
  EXPECT_EQ(list->item(0)->text(), QString::fromUtf8(dir / gbk));  // shown with replacement characters
  const QPoint entry = list->visualItemRect(list->item(0)).center();
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, entry);  // a real double click
  QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, entry);
  EXPECT_EQ(list->count(), 2);  // the GBK folder, then a

  Box("txtDestinationPath")->setText(QString::fromStdString(dir / "out"));
  services_.answer = Answer::Yes;
  RunAndWait(form);
  EXPECT_EQ(Texts(), (QStringList{QString::fromUtf8("指定的目标目录不存在，是否创建？"), QString::fromUtf8("操作完成！")}));
  EXPECT_EQ(ReadAll(dir / "out/1.txt") + ReadAll(dir / "out/2.txt"), "agbk");  // the real bytes reached the run
  EXPECT_EQ(form->windowTitle(), QString::fromUtf8("批合并目录"));
  Click("cmdClear");
  EXPECT_EQ(list->count(), 0);
}

}  // namespace
}  // namespace quorvane::gui
