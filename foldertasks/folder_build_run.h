#pragma once

#include "common/filesystem.h"
#include "common/run_frame.h"
#include "common/task_ui.h"

namespace quorvane {

/// Creates a numbered series of folders inside one folder, each empty or a copy of a
/// template folder with everything in it, reading its input from the fields txtPath,
/// chkMod, txtModPath, the numbering fields txtFrom, txtTo, txtStep and chkAddZero, and
/// chkPre, txtPre, chkSuf, txtSuf. Every name is composed and checked before the first
/// folder is made.
RunOutcome RunFolderBuild(FileSystem& fs, TaskUi& ui);

}  // namespace quorvane
