#include "filetasks/frm_file_build.h"

#include <QFile>
#include <QLineEdit>
#include <QPushButton>

#include "filetasks/file_build_run.h"
#include "shell/controls.h"
#include "shell/numbering_form.h"
#include "shell/path_text.h"
#include "shell/services.h"

namespace quorvane::gui {

frmFileBuild::frmFileBuild(QWidget* parent, FileSystem& fs)
    : TaskForm(parent, fs, "frmFileBuild", "批建立文件", 5835, 3195, RunFileBuild, "txtPath") {
  PlaceDescription(this, "文件名=文件前缀+文件名变动部分+\".\"+文件后缀，递减请输入负的递增量。");
  PlaceCreateControls(this, "文件", "文件名变动部分", 3240, 615);
  SetTabOrder(this, {"txtPath", "cmdBrowse", "chkMod", "cmdModBrowse", "txtModPath", "cmdOK",
                     "cmdCancel", "txtPre", "chkSuf", "chkPre", "txtSuf", "txtStep",
                     "chkAddZero", "txtTo", "txtFrom"});
  BrowseFolderOn("cmdBrowse", "txtPath");
  connect(findChild<QPushButton*>("cmdModBrowse"), &QPushButton::clicked, this, [this] {
    const QString file = services().pickOpenFile(this);
    if (!file.isEmpty())
      SetPathText(findChild<QLineEdit*>("txtModPath"), QFile::encodeName(file).toStdString());
  });
  ConnectRunButtons();
}

}  // namespace quorvane::gui
