#include "foldertasks/frm_folder_rename.h"

#include <QLineEdit>

#include "foldertasks/folder_rename_run.h"
#include "shell/controls.h"
#include "shell/numbering_form.h"

namespace quorvane::gui {

frmFolderRename::frmFolderRename(QWidget* parent, FileSystem& fs)
    : TaskForm(parent, fs, "frmFolderRename", "批重命名目录", 5805, 2910, RunFolderRename,
               "txtPath") {
  PlaceDescription(this, "目标目录名=目标目录前缀+目标目录名变动部分+目标目录后缀，"
                         "递减请输入负的递增量。");
  PlaceLabel(this, "labPath", "源目录路径", 120, 885, 1335, 255);
  Place<QLineEdit>(this, "txtPath", 1560, 840, 3015, 300);
  PlaceButton(this, "cmdBrowse", "浏览(&B)", 4680, 840);
  PlaceRenameControls(this, "目录", "目标目录名变动部分", 1320);
  SetTabOrder(this, {"txtPath", "cmdBrowse", "chkPre", "txtPre", "chkSuf", "txtSuf", "txtFrom",
                     "txtStep", "chkAddZero", "txtDigits", "cmdOK", "cmdCancel"});
  BrowseFolderOn("cmdBrowse", "txtPath");
  ConnectRunButtons();
}

}  // namespace quorvane::gui
