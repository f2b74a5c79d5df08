// The dialogs: the folder picker and where it opens, the help page's place, and the About box
// with its system information.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QComboBox>
#include <QStorageInfo>

#include "app/frm_about.h"
#include "app/sysinfo.h"
#include "gui_support.h"
#include "shell/install_layout.h"
#include "shell/frm_browse.h"
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
  void Click(const char* button) { testing::Click(&dialog_, button); }
  void DoubleClick(const QString& text) {
    const auto found = Dir()->findItems(text, Qt::MatchExactly);
    ASSERT_FALSE(found.isEmpty()) << text.toStdString();
    testing::DoubleClick(Dir(), found.first());
  }

  testing::ServiceRecorder services_;
  frmBrowse dialog_{nullptr};
};

TEST_F(frmBrowseTest, OpensAtTheProgramFolderAndCancelReturnsNothing) {
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
  const std::string gbk = "\xd5\xd5\xc6\xac";  // 照片 in GBK: not UTF-8
  for (const char* name : {"a10", "a2", ".hidden", "B1/inner"}) temp.MakeFolder(name);
  temp.MakeFolder(gbk);
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

// The desktop's page opener is believed only when it succeeds: without a browser xdg-open
// fails at once, and the help page is then shown by the program itself.
TEST(ServicesTest, APageOpenerThatFailsIsNotTakenForShown) {
  TempDir dir;
  const QByteArray path = qgetenv("PATH");
  qputenv("PATH", QByteArray::fromStdString(dir.path()));
  ResetServices();
  for (const auto& [exit_code, shown] : {std::pair{"3", false}, std::pair{"0", true}}) {
    const std::string opener = dir.Write("xdg-open", std::string("#!/bin/sh\nexit ") + exit_code);
    ::chmod(opener.c_str(), 0755);
    EXPECT_EQ(services().openPage(QString::fromStdString(dir / "help.htm")), shown) << exit_code;
  }
  qputenv("PATH", path);
}

TEST(GetKeyValueTest, DecodesValuesAsTheAboutBoxReadsThem) {
  const struct { uint32_t type; std::vector<uint8_t> data; std::string before, after; bool found; }
      rows[] = {
      {kRegString, {'C', ':', 0}, "old", "C:", true},          // terminator dropped
      {kRegString, {'a', 'b', 'c'}, "", "abc", true},          // no terminator: taken whole
      {kRegString, {'a', 0, 0}, "", std::string("a\0", 2), true},
      {kRegString, std::vector<uint8_t>(kRegBufferSize + 1, 'x'), "old", "", false},
      {kRegNumber, {0x2A, 0, 0, 0}, "", "42", true},
      {kRegNumber, {0xFF, 0xFF, 0xFF, 0xFF}, "", "-1", true},
      {kRegNumber, {0x2A}, "zz", "&hzz2A", true},               // not a number: kept as text
      {3, {'x'}, "old", "old", true},                           // other types change nothing
  };
  for (const auto& row : rows) {
    const RegistryValue value{row.type, row.data};
    std::string text = row.before;
    EXPECT_EQ(GetKeyValue(&value, text), row.found) << row.after;
    EXPECT_EQ(text, row.after);
  }
  std::string text = "old";
  EXPECT_FALSE(GetKeyValue(nullptr, text));
  EXPECT_EQ(text, "");
}

// Where the program finds its help page and where its folder picker opens, for a program in
// its build folder, installed under a prefix, or copied alone. The page is sought beside the
// program, then under its prefix, then in the data folders in their order.
TEST(InstallLayoutTest, FindsTheHelpPageAndChoosesThePickersFolderForEachLayout) {
  struct Row {
    const char* layout;
    std::vector<std::string> files;  // a name ending in "/" is a folder
    std::string program;
    std::vector<std::string> data;
    std::string help;  // empty: none found
    bool opens_program_folder;
  };
  const Row rows[] = {
      {"build folder", {"build/help.htm"}, "build", {"usr/share"}, "build/help.htm", true},
      {"installed", {"usr/share/quorvane/help.htm"}, "usr/bin", {}, "usr/share/quorvane/help.htm",
       false},
      {"installed, an older page in the user's data folder",
       {"usr/share/quorvane/help.htm", "home/.local/share/quorvane/help.htm"},
       "usr/bin", {"home/.local/share"}, "usr/share/quorvane/help.htm", false},
      {"unpacked with its share folder", {"opt/q/bin/help.htm", "opt/q/share/quorvane/help.htm"},
       "opt/q/bin", {}, "opt/q/bin/help.htm", true},
      {"program copied alone", {"local/quorvane/help.htm", "system/quorvane/help.htm"},
       "usr/local/bin", {"gone", "local", "system"}, "local/quorvane/help.htm", false},
      {"no page anywhere", {"usr/bin/"}, "usr/bin", {"usr/share"}, "", false},
      {"a folder named like the page", {"build/help.htm/"}, "build", {}, "", false},
  };
  for (const Row& row : rows) {
    TempDir temp;
    for (const std::string& file : row.files) {
      if (file.back() == '/') temp.MakeFolder(file);
      else temp.Write(file, "<html></html>");
    }
    const auto at = [&](const std::string& relative) {
      return QString::fromStdString(temp / relative);
    };
    const auto relative = [&](const QString& path) {
      const std::string text = path.toStdString();
      const std::string root = temp.path() + "/";
      return text.starts_with(root) ? text.substr(root.size()) : text;
    };
    QStringList data;
    for (const std::string& dir : row.data) data << at(dir);
    EXPECT_EQ(relative(FindHelpPage(at(row.program), data)), row.help) << row.layout;
    EXPECT_EQ(relative(BrowseStartFolder(at(row.program), at("home"))),
              row.opens_program_folder ? row.program : "home")
        << row.layout;
  }
}

class frmAboutTest : public ::testing::Test {
 protected:
  ~frmAboutTest() override { qputenv("PATH", saved_path_); }

  testing::ServiceRecorder services_;
  const QByteArray saved_path_ = qgetenv("PATH");
  frmAbout about_{nullptr};
};

TEST_F(frmAboutTest, ContactButtonTogglesTheContactText) {
  for (const bool shown : {false, true, false}) {  // each press shows or hides it
    EXPECT_EQ(about_.rect().contains(about_.findChild<QWidget*>("Text1")->geometry()), shown);
    testing::Click(&about_, "cmdContact");
  }
}

TEST_F(frmAboutTest, SysInfoStartsAProgramOrSaysItIsUnavailable) {
  std::vector<QString> started;
  services().startDetached = [&](const QString& program) {
    started.push_back(program);
    return true;
  };
  TempDir empty, bin;
  qputenv("PATH", QByteArray::fromStdString(empty.path()));
  testing::Click(&about_, "cmdSysInfo");
  EXPECT_TRUE(started.empty());
  const testing::Events unavailable = {
      testing::Msg("System Information Is Unavailable At This Time", Icon::Error)};
  EXPECT_EQ(services_.messages, unavailable);
  const std::string program = bin.Write("kinfocenter", "#!/bin/sh\n");
  ::chmod(program.c_str(), 0755);
  qputenv("PATH", QByteArray::fromStdString(empty.path() + ":" + bin.path()));
  testing::Click(&about_, "cmdSysInfo");
  EXPECT_EQ(started, std::vector{QString::fromStdString(program)});
  EXPECT_EQ(services_.messages, unavailable);
}

}  // namespace
}  // namespace quorvane::gui
