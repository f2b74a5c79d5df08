#pragma once

#include "common/filesystem.h"
#include "common/run_frame.h"
#include "common/task_ui.h"

namespace quorvane {

/// Creates a numbered series of files in one folder, each empty or a copy of a template
/// file, reading its input from the fields txtPath, chkMod, txtModPath, the numbering fields
/// txtFrom, txtTo, txtStep and chkAddZero, and chkPre, txtPre, chkSuf, txtSuf. Every name
/// is composed and checked, and files that are there are counted (and replacing them
/// confirmed), before the first file is made.
RunOutcome RunFileBuild(FileSystem& fs, TaskUi& ui);

}  // namespace quorvane
