#include "app/frm_about.h"

#include <QFile>
#include <QFrame>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>
#include <cstdlib>

#include "shell/controls.h"
#include "shell/services.h"
#include "app/sysinfo.h"

namespace quorvane::gui {
namespace {

constexpr int kClientWidth = 4485;
constexpr int kShortHeight = 2145;
// The outer height of the box with the contact text in sight, less its title bar.
constexpr int kTallHeight = 3690;
constexpr int kTallThreshold = 3000;

constexpr const char* kLegalNotice =
    "警告：本软件按“原样”提供，不附带任何明示或暗示的担保。本软件版权归Quorvane开发组所有，"
    "使用本软件的风险由用户自行承担。";

constexpr const char* kContact =
    "欢迎您提出意见和建议，并报告发现的错误。\n"
    "Quorvane 开发组\n"
    "电子邮件：support@quorvane.example\n"
    "通信地址：北京市海淀区中关村大街1号\n"
    "邮政编码：100080";

}  // namespace

frmAbout::frmAbout(QWidget* parent)
    : QDialog(parent, kFixedDialogFlags) {
  setObjectName("frmAbout");
  setWindowTitle(QString::fromUtf8("关于Quorvane"));
  setFixedSize(Px(kClientWidth), Px(kShortHeight));

  auto* ok = PlaceButton(this, "cmdOK", "确定(&O)", 3120, 960, 1245);
  ok->setDefault(true);
  auto* sys_info = PlaceButton(this, "cmdSysInfo", "系统信息(&S)", 3120, 1320, 1245);

  auto* picture = PlaceLabel(this, "Picture1", "", 120, 120, 550, 550);
  picture->setAlignment(Qt::AlignCenter);
  const QIcon app_icon = windowIcon().isNull() ? style()->standardIcon(QStyle::SP_ComputerIcon)
                                               : windowIcon();
  picture->setPixmap(app_icon.pixmap(32, 32));

  PlaceLabel(this, "Label1", "Quorvane文件批处理系统", 840, 120, 2175, 255);
  PlaceLabel(this, "Label2", "版本：1.0.0", 840, 480, 1215, 255);
  PlaceLabel(this, "Label3", "2003年9月", 2160, 480, 975, 255);

  auto* frame = new QFrame(this);
  frame->setObjectName("Frame1");
  frame->setFrameStyle(QFrame::Box | QFrame::Sunken);
  frame->setGeometry(Px(120), Px(720), Px(2895), Px(1335));
  auto* notice = new QLabel(QString::fromUtf8(kLegalNotice), frame);
  notice->setObjectName("Label4");
  notice->setWordWrap(true);
  notice->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  auto* frame_layout = new QVBoxLayout(frame);
  frame_layout->setContentsMargins(Px(90), Px(90), Px(90), Px(60));
  frame_layout->addWidget(notice);

  auto* contact = PlaceButton(this, "cmdContact", "联系信息(&C)", 3120, 1680, 1245);

  auto* text = new QPlainTextEdit(QString::fromUtf8(kContact), this);
  text->setObjectName("Text1");
  text->setGeometry(Px(120), Px(2160), Px(4215), Px(1455));
  text->setReadOnly(true);
  // Read-only text still takes the keyboard so it can be selected and copied.
  text->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);

  setTabOrder(ok, sys_info);
  setTabOrder(sys_info, contact);
  setTabOrder(contact, text);

  connect(ok, &QPushButton::clicked, this, &frmAbout::accept);
  connect(sys_info, &QPushButton::clicked, this, &frmAbout::OnSysInfo);
  connect(contact, &QPushButton::clicked, this, &frmAbout::OnContact);
}

void frmAbout::OnContact() {
  const int twips = height() >= Px(kTallThreshold) ? kShortHeight : kTallHeight;
  setFixedSize(width(), Px(twips));
}

void frmAbout::OnSysInfo() {
  const char* search_path = std::getenv("PATH");
  const auto program = search_path ? FindSysInfoProgram(search_path) : std::nullopt;
  if (!program || !services().startDetached(QFile::decodeName(program->c_str()))) {
    ShowMessage(this, "System Information Is Unavailable At This Time", Icon::Error);
  }
}

}  // namespace quorvane::gui
