#include "filetasks/frm_file_rename.h"

#include <QLineEdit>

#include "filetasks/file_rename_run.h"
#include "shell/controls.h"
#include "shell/numbering_form.h"

namespace quorvane::gui {

frmFileRename::frmFileRename(QWidget* parent, FileSystem& fs)
    : TaskForm(parent, fs, "frmFileRename", "批重命名文件", 5775, 3120, RunFileRename,
               "txtPath") {
  PlaceDescription(this, "目标文件名=目标文件前缀+目标文件名变动部分+\".\"+目标文件后缀，"
                         "递减请输入负的递增量。");
  PlaceLabel(this, "labPath", "源文件路径", 120, 885, 1335, 255);
  Place<QLineEdit>(this, "txtPath", 1560, 840, 3015, 300);
  PlaceButton(this, "cmdBrowse", "浏览(&B)", 4680, 840);
  PlaceLabel(this, "labSourceName", "源文件名", 120, 1245, 1335, 255);
  Place<QLineEdit>(this, "txtSourceName", 1560, 1200, 1815, 300)->setText("*.*");
  PlaceLabel(this, "labSearchDesc", "可使用通配符(\"*\",\"?\")", 3480, 1245, 2175, 255);
  PlaceRenameControls(this, "文件", "目标文件名变动部分", 1560);
  SetTabOrder(this, {"txtPath", "cmdBrowse", "txtSourceName", "chkPre", "txtPre", "chkSuf",
                     "txtSuf", "txtFrom", "txtStep", "chkAddZero", "txtDigits", "cmdOK",
                     "cmdCancel"});
  BrowseFolderOn("cmdBrowse", "txtPath");
  ConnectRunButtons();
}

}  // namespace quorvane::gui
