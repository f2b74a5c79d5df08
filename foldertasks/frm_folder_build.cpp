#include "foldertasks/frm_folder_build.h"

#include "foldertasks/folder_build_run.h"
#include "shell/controls.h"
#include "shell/numbering_form.h"

namespace quorvane::gui {

frmFolderBuild::frmFolderBuild(QWidget* parent, FileSystem& fs)
    : TaskForm(parent, fs, "frmFolderBuild", "批建立目录", 5760, 3165, RunFolderBuild,
               "txtFrom") {
  PlaceDescription(this, "目录名=目录前缀+目录名变动部分+目录后缀，递减请输入负的递增量。");
  PlaceCreateControls(this, "目录", "目录名变动部分", 3120, 735);
  SetTabOrder(this, {"txtFrom", "txtTo", "chkAddZero", "txtStep", "txtSuf", "chkPre", "chkSuf",
                     "txtPre", "cmdCancel", "cmdOK", "txtModPath", "cmdModBrowse", "chkMod",
                     "cmdBrowse", "txtPath"});
  BrowseFolderOn("cmdBrowse", "txtPath");
  BrowseFolderOn("cmdModBrowse", "txtModPath");
  ConnectRunButtons();
}

}  // namespace quorvane::gui
