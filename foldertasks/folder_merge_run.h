#pragma once

#include "common/filesystem.h"
#include "common/run_frame.h"
#include "common/task_ui.h"

namespace quorvane {

/// Copies every normal file of the folders in the list lstFolderList, and of their
/// subfolders (the direct ones, or every level when chkTotal is ticked), flat into the
/// folder txtDestinationPath: each file under its own name, a later file replacing an
/// earlier one of that name. The target's own tree is never read as a source.
RunOutcome RunFolderMerge(FileSystem& fs, TaskUi& ui);

}  // namespace quorvane
