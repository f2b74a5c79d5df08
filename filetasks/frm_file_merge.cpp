#include "filetasks/frm_file_merge.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMdiSubWindow>
#include <QPushButton>

#include "filetasks/file_merge_run.h"
#include "shell/controls.h"
#include "shell/path_text.h"
#include "shell/services.h"

namespace quorvane::gui {
frmFileMerge::frmFileMerge(QWidget* parent, FileSystem& fs)
    : QWidget(parent), fs_(fs), host_(new RunHost(this)) {
  setObjectName("frmFileMerge");
  setWindowTitle(QString::fromUtf8("批合并文件"));
  setFixedSize(Px(5820), Px(2550));

  PlaceLabel(this, "labSourcePath", "源文件所在目录", 120, 285, 1335, 255);
  auto* source_path = Place<QLineEdit>(this, "txtSourcePath", 1440, 240, 3135, 300);
  auto* browse_source = PlaceButton(this, "cmdBrowseSource", "浏览(&B)", 4680, 240);
  PlaceLabel(this, "labSourceName", "源文件名", 120, 765, 1215, 255);
  auto* source_name = Place<QLineEdit>(this, "txtSourceName", 1440, 720, 2295, 300);
  source_name->setText("*.txt");
  PlaceLabel(this, "labSearchDesc", "可使用通配符(\"*\",\"?\")", 3840, 765, 1935, 255);
  PlaceLabel(this, "labType", "文件合并方式", 120, 1245, 1335, 255);
  auto* type = Place<QComboBox>(this, "cboType", 1440, 1200, 2295, 300);
  for (const char* entry : {"顺序文件方式", "二进制文件方式", "Word文档方式", "Excel文件方式"})
    type->addItem(QString::fromUtf8(entry), 0);
  PlaceLabel(this, "labDestination", "目标文件路径", 120, 1725, 1215, 255);
  auto* destination = Place<QLineEdit>(this, "txtDestinationPath", 1440, 1680, 3135, 300);
  auto* browse_destination = PlaceButton(this, "cmdBrowseDestination", "浏览(&V)", 4680, 1680);
  auto* ok = PlaceButton(this, "cmdOK", "确定(&O)", 1800, 2160);
  auto* cancel = PlaceButton(this, "cmdCancel", "退出(&Q)", 3000, 2160);

  for (auto [from, to] : {std::pair<QWidget*, QWidget*>{source_name, source_path},
                          {source_path, browse_source},
                          {browse_source, ok},
                          {ok, cancel},
                          {cancel, destination},
                          {destination, browse_destination},
                          {browse_destination, type}})
    setTabOrder(from, to);

  // activated: choosing an entry rewrites the pattern even when it was already selected.
  connect(type, &QComboBox::activated, this, &frmFileMerge::OnTypeClick);
  connect(browse_source, &QPushButton::clicked, this, &frmFileMerge::OnBrowseSource);
  connect(browse_destination, &QPushButton::clicked, this, &frmFileMerge::OnBrowseDestination);
  connect(ok, &QPushButton::clicked, this, &frmFileMerge::OnOK);
  connect(cancel, &QPushButton::clicked, this, &frmFileMerge::OnCancel);

  type->setCurrentIndex(0);
  OnTypeClick(0);
  SetInitialFocus(this, "txtSourceName");
}

void frmFileMerge::OnTypeClick(int index) {
  if (const char* pattern = MergeModePattern(index))
    findChild<QLineEdit*>("txtSourceName")->setText(QString::fromUtf8(pattern));
}

void frmFileMerge::OnBrowseSource() {
  const std::string folder = services().pickFolder(this);
  if (!folder.empty()) SetPathText(findChild<QLineEdit*>("txtSourcePath"), folder);
}

void frmFileMerge::OnBrowseDestination() {
  const QString file = services().pickSaveFile(this);
  if (!file.isEmpty()) findChild<QLineEdit*>("txtDestinationPath")->setText(file);
}

void frmFileMerge::OnOK() {
  host_->Start([&fs = fs_](TaskUi& ui) { return RunFileMerge(fs, ui); });
}

void frmFileMerge::OnCancel() {
  if (auto* frame = qobject_cast<QMdiSubWindow*>(parentWidget()))
    frame->close();
  else
    close();
}

void frmFileMerge::closeEvent(QCloseEvent* event) {
  // A merge cannot be stopped halfway without leaving a half-written destination.
  if (host_->running())
    event->ignore();
  else
    event->accept();
}

}  // namespace quorvane::gui
