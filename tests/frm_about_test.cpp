#include "app/frm_about.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QLabel>
#include <QPushButton>
#include <QTest>

#include "gui_support.h"
#include "app/sysinfo.h"
#include "support/temp_dir.h"

namespace quorvane {
namespace {

using testing::ServiceRecorder;
using testing::TempDir;

std::string MakeExecutable(const TempDir& dir, const std::string& name) {
  const std::string path = dir.Write(name, "#!/bin/sh\n");
  ::chmod(path.c_str(), 0755);
  return path;
}

TEST(GetKeyValueTest, DecodesValuesAsTheAboutBoxReadsThem) {
  struct Row {
    uint32_t type;
    std::vector<uint8_t> data;
    std::string before, after;
    bool found;
  };
  const std::vector<Row> rows = {
      {kRegString, {'C', ':', 0}, "old", "C:", true},          // terminator dropped
      {kRegString, {'a', 'b', 'c'}, "", "abc", true},          // no terminator: taken whole
      {kRegString, {'a', 0, 0}, "", std::string("a\0", 2), true},
      {kRegString, std::vector<uint8_t>(kRegBufferSize + 1, 'x'), "old", "", false},
      {kRegNumber, {0x2A, 0, 0, 0}, "", "42", true},
      {kRegNumber, {0xFF, 0xFF, 0xFF, 0xFF}, "", "-1", true},
      {kRegNumber, {0x2A}, "zz", "&hzz2A", true},               // not a number: kept as text
      {3, {'x'}, "old", "old", true},                           // other types change nothing
  };
  for (const Row& row : rows) {
    const RegistryValue value{row.type, row.data};
    std::string text = row.before;
    EXPECT_EQ(GetKeyValue(&value, text), row.found) << row.after;
    EXPECT_EQ(text, row.after);
  }
  std::string text = "old";
  EXPECT_FALSE(GetKeyValue(nullptr, text));
  EXPECT_EQ(text, "");
}

}  // namespace

namespace gui {
namespace {

class frmAboutTest : public ::testing::Test {
 protected:
  void SetUp() override { saved_path_ = qgetenv("PATH"); }
  void TearDown() override { qputenv("PATH", saved_path_); }
  void Click(const char* name) {
    QTest::mouseClick(about_.findChild<QPushButton*>(name), Qt::LeftButton);
  }
  bool InSight(const char* name) {
    return about_.rect().contains(about_.findChild<QWidget*>(name)->geometry());
  }

  testing::ServiceRecorder services_;
  QByteArray saved_path_;
  frmAbout about_{nullptr};
};

TEST_F(frmAboutTest, ContactButtonTogglesTheContactText) {
  EXPECT_EQ(about_.windowTitle(), QString::fromUtf8("关于Quorvane"));
  EXPECT_EQ(about_.findChild<QLabel*>("Label2")->text(), QString::fromUtf8("版本：1.0.0"));
  EXPECT_EQ(about_.size(), QSize(299, 143));
  EXPECT_FALSE(InSight("Text1"));
  Click("cmdContact");
  EXPECT_EQ(about_.size(), QSize(299, 246));
  EXPECT_TRUE(InSight("Text1"));
  Click("cmdContact");
  EXPECT_EQ(about_.size(), QSize(299, 143));
  EXPECT_FALSE(InSight("Text1"));
}

TEST_F(frmAboutTest, SysInfoStartsAProgramOrSaysItIsUnavailable) {
  std::vector<QString> started;
  services().startDetached = [&](const QString& program) {
    started.push_back(program);
    return true;
  };
  TempDir empty, bin;
  qputenv("PATH", QByteArray::fromStdString(empty.path()));
  Click("cmdSysInfo");
  EXPECT_TRUE(started.empty());
  ASSERT_EQ(services_.messages.size(), 1u);
  EXPECT_EQ(services_.messages[0].text, "System Information Is Unavailable At This Time");
  EXPECT_EQ(services_.messages[0].icon, Icon::Error);

  const std::string program = MakeExecutable(bin, "kinfocenter");
  qputenv("PATH", QByteArray::fromStdString(empty.path() + ":" + bin.path()));
  Click("cmdSysInfo");
  EXPECT_EQ(started, std::vector<QString>{QString::fromStdString(program)});
  EXPECT_EQ(services_.messages.size(), 1u);
}

}  // namespace
}  // namespace gui
}  // namespace quorvane
