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

const char* const kLaidOut[] = {"lstFolderList", "cmdDelete", "cmdAdd", "cmdClear", "Drv", "Dir",
                                "labDestinationPath", "txtDestinationPath", "cmdBrowse", "cmdOK",
                                "cmdCancel"};

class FolderMergeWindowTest : public testing::MainWindowTest {
 protected:
  // Left, top, width and height of every laid-out control, in twips.
  std::map<std::string, QRect> Layout() {
    std::map<std::string, QRect> twips;
    for (const char* name : kLaidOut) {
      const QRect g = Find(name)->geometry();
      twips[name] = {g.x() * 15, g.y() * 15, g.width() * 15, g.height() * 15};
    }
    return twips;
  }
  // Resizes the window by `dx`, `dy` pixels; returns how far each control moved and grew.
  std::map<std::string, QRect> Change(int dx, int dy) {
    const auto before = Layout();
    main.TaskWindow("miFolderMerge")->resize(main.TaskWindow("miFolderMerge")->size() + QSize(dx, dy));
    auto after = Layout();
    for (auto& [name, r] : after)
      r = {r.x() - before.at(name).x(), r.y() - before.at(name).y(),
           r.width() - before.at(name).width(), r.height() - before.at(name).height()};
    return after;
  }
  static void ExpectNear(const QRect& actual, const QRect& expected, const char* name) {
    for (auto [a, e] : {std::pair{actual.x(), expected.x()}, {actual.y(), expected.y()},
                        {actual.width(), expected.width()}, {actual.height(), expected.height()}})
      EXPECT_LE(std::abs(a - e), 15) << name << " is " << a << ", not " << e;  // a pixel
  }
};

TEST_F(FolderMergeWindowTest, ResizesByItsRulesAndSkipsTheRefusedOnes) {
  QWidget* form = Open("miFolderMerge");
  QMdiSubWindow* frame = main.TaskWindow("miFolderMerge");
  EXPECT_EQ(form->size(), QSize(465, 320));  // 6975 x 4800 twips
  EXPECT_EQ(QApplication::focusWidget(), Find("lstFolderList"));
  EXPECT_TRUE(frame->windowFlags().testFlags(Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
  EXPECT_NE(frame->minimumSize(), frame->maximumSize());
  EXPECT_EQ(TabOrder("lstFolderList", 11),
            (QStringList{"lstFolderList", "cmdAdd", "Drv", "Dir", "cmdBrowse", "txtDestinationPath",
                         "cmdOK", "cmdCancel", "cmdDelete", "cmdClear", "chkTotal"}));
  // The worked figures; the directory list settles on whole rows (18 pixels here) at most
  // 2840 high, and the source list and the rows under it follow its bottom.
  auto layout = Layout();
  const int dir = layout["Dir"].height(), row = 270;
  EXPECT_TRUE(dir <= 2840 && dir > 2840 - row) << dir;
  const int label = 720 + dir + 360 + 200;
  const std::pair<const char*, QRect> designed[] = {
      {"lstFolderList", {120, 720, 3650, dir + 360}}, {"cmdDelete", {3870, 2160, 1000, 300}},
      {"cmdAdd", {3870, 1660, 1000, 300}}, {"cmdClear", {3870, 2660, 1000, 300}},
      {"Drv", {4970, 720, 1905, 300}}, {"Dir", {4970, 1080, 1905, dir}},
      {"labDestinationPath", {120, label, 735, 255}}, {"txtDestinationPath", {960, label - 45, 4775, 300}},
      {"cmdBrowse", {5835, label - 45, 1000, 300}}, {"cmdOK", {2288, label + 400, 1000, 300}},
      {"cmdCancel", {3488, label + 400, 1000, 300}}};
  for (const auto& [name, twips] : designed) ExpectNear(layout[name], twips, name);

  // 300 twips wider: the source list +200, the buttons and lists move 200, the lists +100.
  const QRect buttons(200, 0, 0, 0), lists(200, 0, 100, 0), halfway(150, 0, 0, 0);
  for (const auto& [name, twips] : Change(20, 0))
    ExpectNear(twips, std::map<std::string, QRect>{
        {"lstFolderList", {0, 0, 200, 0}}, {"cmdDelete", buttons}, {"cmdAdd", buttons},
        {"cmdClear", buttons}, {"Drv", lists}, {"Dir", lists}, {"labDestinationPath", {}},
        {"txtDestinationPath", {0, 0, 300, 0}}, {"cmdBrowse", {300, 0, 0, 0}},
        {"cmdOK", halfway}, {"cmdCancel", halfway}}.at(name), name.c_str());
  // 300 twips taller: the lists about 300 (whole rows), the buttons half that, the rest follow.
  auto taller = Change(0, 20);
  const int grown = taller["Dir"].height();
  EXPECT_TRUE(grown > 300 - row && grown < 300 + row) << grown;
  for (const char* name : {"cmdDelete", "cmdAdd", "cmdClear"}) ExpectNear(taller[name], {0, 150, 0, 0}, name);
  for (const char* name : {"labDestinationPath", "txtDestinationPath", "cmdBrowse", "cmdOK", "cmdCancel"})
    EXPECT_EQ(taller[name], QRect(0, grown, 0, 0)) << name;
  EXPECT_EQ(taller["lstFolderList"], QRect(0, 0, 0, grown));

  // Too small for any size: those rules are skipped, the positions still follow.
  layout = Layout();
  frame->resize(1, 1);
  EXPECT_EQ(form->size(), QSize(0, 0));
  for (const char* name : {"lstFolderList", "Drv", "Dir", "txtDestinationPath"})
    EXPECT_EQ(Layout()[name].size(), layout[name].size()) << name;
  EXPECT_EQ(Layout()["cmdOK"].left(), -1200);
  frame->resize(frame->sizeHint());
  layout = Layout();
  frame->showMinimized();
  frame->showNormal();
  EXPECT_EQ(Layout(), layout);
}

TEST_F(FolderMergeWindowTest, BuildsItsSourceListFromTheDirectoryListAndCopiesFromIt) {
  TempDir dir;
  const std::string gbk = "\xd5\xd5\xc6\xac";  // 照片 in GBK: not UTF-8
  dir.Write("a/1.txt", "a");
  dir.Write(gbk + "/2.txt", "gbk");
  char here[4096];
  ASSERT_TRUE(::getcwd(here, sizeof here) && ::chdir(dir.path().c_str()) == 0);
  QWidget* form = Open("miFolderMerge");  // its lists open at the working folder
  ASSERT_EQ(::chdir(here), 0);
  auto* folders = Find<QListWidget>("Dir");
  auto* list = Find<QListWidget>("lstFolderList");
  const auto entries = [list] {
    QStringList texts;
    for (int i = 0; i < list->count(); ++i) texts << list->item(i)->text();
    return texts;
  };
  const QString a = QString::fromStdString(dir / "a"), shown_gbk = QString::fromUtf8(dir / gbk);
  for (int row : {-2, -1, -2, -1}) {  // a, the GBK folder (last), a, then the GBK folder again
    folders->setCurrentRow(folders->count() + row);
    Click("cmdAdd");
  }
  EXPECT_EQ(entries(), (QStringList{a, shown_gbk, a, shown_gbk}));
  list->item(0)->setSelected(true);
  list->item(2)->setSelected(true);
  Click("cmdDelete");
  EXPECT_EQ(entries(), (QStringList{shown_gbk, shown_gbk}));
  list->clearSelection();
  const QPoint second = list->visualItemRect(list->item(1)).center();
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, second);
  QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, second);
  EXPECT_EQ(entries(), QStringList{shown_gbk});
  Click("cmdClear");
  EXPECT_TRUE(entries().isEmpty());

  RunAndWait(form);  // no target: refused, and the focus goes to its box
  EXPECT_EQ(Texts(), QStringList{QString::fromUtf8("请输入目标目录！")});
  EXPECT_EQ(QApplication::focusWidget(), Box("txtDestinationPath"));
  folders->setCurrentRow(folders->count() - 1);
  Click("cmdAdd");
  folders->setCurrentRow(folders->count() - 2);
  Click("cmdAdd");
  Box("txtDestinationPath")->setText(QString::fromStdString(dir / "out"));
  services_.answer = Answer::Yes;
  RunAndWait(form);
  EXPECT_EQ(Texts().mid(1), (QStringList{QString::fromUtf8("指定的目标目录不存在，是否创建？"),
                                         QString::fromUtf8("操作完成！")}));
  EXPECT_EQ(ReadAll(dir / "out/1.txt") + ReadAll(dir / "out/2.txt"), "agbk");
  EXPECT_EQ(form->windowTitle(), QString::fromUtf8("批合并目录"));
}

}  // namespace
}  // namespace quorvane::gui
