#include "shell/frm_about.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <filesystem>
#include <memory>

#include "shell/services.h"
#include "shell/sysinfo.h"
#include "support/temp_dir.h"

// Failures show the text, not its UTF-16 code units.
static void PrintTo(const QString& text, std::ostream* out) { *out << text.toStdString(); }

namespace quorvane {
namespace {

using quorvane::testing::TempDir;

std::string MakeExecutable(const TempDir& dir, const std::string& relative) {
  const std::string path = dir.Write(relative, "#!/bin/sh\n");
  ::chmod(path.c_str(), 0755);
  return path;
}

// ---- Registry value decoding ----

RegistryValue Value(uint32_t type, std::vector<uint8_t> data) { return {type, std::move(data)}; }

TEST(GetKeyValueTest, StringDropsItsTerminator) {
  const RegistryValue value = Value(kRegString, {'C', ':', '\\', 0});
  std::string text = "old";
  EXPECT_TRUE(GetKeyValue(&value, text));
  EXPECT_EQ(text, "C:\\");
}

TEST(GetKeyValueTest, StringWithoutTerminatorIsTakenWhole) {
  const RegistryValue value = Value(kRegString, {'a', 'b', 'c'});
  std::string text;
  EXPECT_TRUE(GetKeyValue(&value, text));
  EXPECT_EQ(text, "abc");
}

TEST(GetKeyValueTest, OnlyTheLastZeroByteIsDropped) {
  const RegistryValue value = Value(kRegString, {'a', 0, 0});
  std::string text;
  EXPECT_TRUE(GetKeyValue(&value, text));
  EXPECT_EQ(text, std::string("a\0", 2));
}

TEST(GetKeyValueTest, ValueLongerThanTheBufferCountsAsMissing) {
  const RegistryValue too_long = Value(kRegString, std::vector<uint8_t>(kRegBufferSize + 1, 'x'));
  std::string text = "old";
  EXPECT_FALSE(GetKeyValue(&too_long, text));
  EXPECT_EQ(text, "");

  const RegistryValue full = Value(kRegString, std::vector<uint8_t>(kRegBufferSize, 'x'));
  EXPECT_TRUE(GetKeyValue(&full, text));
  EXPECT_EQ(text.size(), kRegBufferSize);
}

TEST(GetKeyValueTest, MissingValueEmptiesTheText) {
  std::string text = "old";
  EXPECT_FALSE(GetKeyValue(nullptr, text));
  EXPECT_EQ(text, "");
}

TEST(GetKeyValueTest, NumbersReadLittleEndianAsSigned32Bit) {
  struct Row {
    std::vector<uint8_t> bytes;
    const char* expected;
  };
  for (const Row& row : {Row{{0x2A, 0, 0, 0}, "42"},
                         Row{{0xFF, 0xFF, 0xFF, 0xFF}, "-1"},
                         Row{{0x00, 0x01, 0x00, 0x00}, "256"},
                         Row{{0xFF, 0xFF, 0xFF, 0x7F}, "2147483647"},
                         Row{{0x00, 0x00, 0x00, 0x80}, "-2147483648"}}) {
    const RegistryValue value = Value(kRegNumber, row.bytes);
    std::string text;
    EXPECT_TRUE(GetKeyValue(&value, text));
    EXPECT_EQ(text, row.expected);
  }
}

TEST(GetKeyValueTest, NumberDigitsFollowTheTextAlreadyThere) {
  const RegistryValue value = Value(kRegNumber, {0x34, 0x12});
  std::string text = "1";
  EXPECT_TRUE(GetKeyValue(&value, text));
  EXPECT_EQ(text, std::to_string(0x11234));
}

TEST(GetKeyValueTest, NumberThatIsNotHexIsKeptAsText) {
  const RegistryValue value = Value(kRegNumber, {0x2A});
  std::string text = "zz";
  EXPECT_TRUE(GetKeyValue(&value, text));
  EXPECT_EQ(text, "&hzz2A");

  const RegistryValue wide = Value(kRegNumber, {1, 2, 3, 4, 5});
  text.clear();
  EXPECT_TRUE(GetKeyValue(&wide, text));
  EXPECT_EQ(text, "&h0504030201");
}

TEST(GetKeyValueTest, UnknownTypeKeepsTheOldText) {
  const RegistryValue value = Value(3, {'x', 'y'});
  std::string text = "old";
  EXPECT_TRUE(GetKeyValue(&value, text));
  EXPECT_EQ(text, "old");
}

// ---- Finding a system-information program ----

TEST(FindSysInfoProgramTest, NameOrderComesBeforeFolderOrder) {
  TempDir first, second;
  MakeExecutable(first, "gnome-system-monitor");
  const std::string kinfo = MakeExecutable(second, "kinfocenter");
  EXPECT_EQ(FindSysInfoProgram(first.path() + ":" + second.path()), kinfo);

  const std::string hardinfo = MakeExecutable(second, "hardinfo");
  MakeExecutable(first, "kinfocenter");
  EXPECT_EQ(FindSysInfoProgram(first.path() + ":" + second.path()), hardinfo);
}

TEST(FindSysInfoProgramTest, EarlierFolderWinsForTheSameName) {
  TempDir first, second;
  const std::string early = MakeExecutable(first, "kinfocenter");
  MakeExecutable(second, "kinfocenter");
  EXPECT_EQ(FindSysInfoProgram(first.path() + ":" + second.path()), early);
}

TEST(FindSysInfoProgramTest, SkipsWhatCannotBeRun) {
  TempDir dir, later;
  dir.Write("hardinfo", "not executable");
  dir.MakeFolder("kinfocenter");
  ::chmod((dir / "kinfocenter").c_str(), 0755);
  EXPECT_EQ(FindSysInfoProgram(dir.path()), std::nullopt);

  const std::string monitor = MakeExecutable(later, "gnome-system-monitor");
  EXPECT_EQ(FindSysInfoProgram(dir.path() + "::" + later.path()), monitor);
}

TEST(FindSysInfoProgramTest, EmptyEntryMeansTheWorkingFolder) {
  TempDir dir;
  MakeExecutable(dir, "hardinfo");
  const std::string previous = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  EXPECT_EQ(FindSysInfoProgram("/nonexistent-quorvane:"), "./hardinfo");
  std::filesystem::current_path(previous);
}

}  // namespace

// ---- The About box ----

namespace gui {
namespace {

using quorvane::testing::TempDir;

class frmAboutTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_path_ = qgetenv("PATH");
    services().message = [this](QWidget*, const QString& text, Icon icon, Buttons,
                                const QString& title) {
      messages_.push_back({text, icon, title});
      return Answer::Ok;
    };
    services().startDetached = [this](const QString& program) {
      started_.push_back(program);
      return start_result_;
    };
    about_ = std::make_unique<frmAbout>(nullptr);
    about_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(about_.get()));
  }
  void TearDown() override {
    about_.reset();
    qputenv("PATH", saved_path_);
    ResetServices();
  }

  void Click(const char* name) {
    auto* button = about_->findChild<QPushButton*>(name);
    ASSERT_NE(button, nullptr) << name;
    QTest::mouseClick(button, Qt::LeftButton);
  }
  QString Text(const char* label) const {
    auto* control = about_->findChild<QLabel*>(label);
    return control ? control->text() : QString("<missing %1>").arg(label);
  }
  // Whether `name` lies wholly inside the box's client area.
  bool InSight(const char* name) const {
    return about_->rect().contains(about_->findChild<QWidget*>(name)->geometry());
  }

  struct Message {
    QString text;
    Icon icon;
    QString title;
  };
  std::unique_ptr<frmAbout> about_;
  std::vector<Message> messages_;
  std::vector<QString> started_;
  bool start_result_ = true;
  QByteArray saved_path_;
};

TEST_F(frmAboutTest, OpensShortWithTheContactTextOutOfSight) {
  EXPECT_EQ(about_->windowTitle(), QString::fromUtf8("关于Quorvane"));
  EXPECT_EQ(about_->size(), QSize(299, 143));
  EXPECT_EQ(about_->minimumSize(), about_->maximumSize());
  EXPECT_FALSE(InSight("Text1"));
  EXPECT_TRUE(InSight("cmdContact"));
  EXPECT_TRUE(InSight("Frame1"));
}

TEST_F(frmAboutTest, ContactButtonTogglesTheContactText) {
  Click("cmdContact");
  EXPECT_EQ(about_->height(), 246);
  EXPECT_EQ(about_->width(), 299);
  EXPECT_EQ(about_->minimumSize(), about_->maximumSize());
  EXPECT_TRUE(InSight("Text1"));

  Click("cmdContact");
  EXPECT_EQ(about_->size(), QSize(299, 143));
  EXPECT_FALSE(InSight("Text1"));
}

TEST_F(frmAboutTest, ShowsProductVersionDateNoticeAndContact) {
  EXPECT_EQ(Text("Label1"), QString::fromUtf8("Quorvane文件批处理系统"));
  EXPECT_EQ(Text("Label2"), QString::fromUtf8("版本：1.0.0"));
  EXPECT_EQ(Text("Label3"), QString::fromUtf8("2003年9月"));
  EXPECT_TRUE(Text("Label4").contains(QString::fromUtf8("风险")));
  EXPECT_EQ(about_->findChild<QLabel*>("Label4")->parentWidget()->objectName(), "Frame1");
  EXPECT_FALSE(about_->findChild<QLabel*>("Picture1")->pixmap().isNull());

  auto* contact = about_->findChild<QPlainTextEdit*>("Text1");
  EXPECT_TRUE(contact->isReadOnly());
  const QStringList lines = contact->toPlainText().split('\n');
  EXPECT_TRUE(lines.contains(QString::fromUtf8("Quorvane 开发组")));
  EXPECT_TRUE(lines.contains(QString::fromUtf8("电子邮件：support@quorvane.example")));
}

TEST_F(frmAboutTest, TabOrderRunsThroughTheButtonsThenTheContactText) {
  std::vector<QString> order;
  QWidget* widget = about_->findChild<QWidget*>("cmdOK");
  for (int i = 0; i < 4; ++i, widget = widget->nextInFocusChain()) {
    while (widget->focusPolicy() == Qt::NoFocus) widget = widget->nextInFocusChain();
    order.push_back(widget->objectName());
  }
  EXPECT_EQ(order, (std::vector<QString>{"cmdOK", "cmdSysInfo", "cmdContact", "Text1"}));
}

TEST_F(frmAboutTest, OkClosesTheBox) {
  Click("cmdOK");
  EXPECT_FALSE(about_->isVisible());
  EXPECT_EQ(about_->result(), QDialog::Accepted);
}

TEST_F(frmAboutTest, SysInfoWithoutAProgramShowsTheMessage) {
  TempDir empty;
  qputenv("PATH", QByteArray::fromStdString(empty.path()));
  Click("cmdSysInfo");
  EXPECT_TRUE(started_.empty());
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0].text, "System Information Is Unavailable At This Time");
  EXPECT_EQ(messages_[0].icon, Icon::Error);
  EXPECT_EQ(messages_[0].title, "Quorvane");
}

TEST_F(frmAboutTest, SysInfoStartsTheProgramFoundOnThePath) {
  TempDir bin;
  const std::string program = MakeExecutable(bin, "kinfocenter");
  qputenv("PATH", QByteArray::fromStdString("/nonexistent-quorvane:" + bin.path()));
  Click("cmdSysInfo");
  EXPECT_EQ(started_, std::vector<QString>{QString::fromStdString(program)});
  EXPECT_TRUE(messages_.empty());
}

TEST_F(frmAboutTest, SysInfoThatFailsToStartShowsTheMessage) {
  TempDir bin;
  MakeExecutable(bin, "hardinfo");
  qputenv("PATH", QByteArray::fromStdString(bin.path()));
  start_result_ = false;
  Click("cmdSysInfo");
  EXPECT_EQ(started_.size(), 1u);
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0].text, "System Information Is Unavailable At This Time");
}

}  // namespace
}  // namespace gui
}  // namespace quorvane
