#pragma once

#include "common/filesystem.h"
#include "common/rename_batch.h"
#include "common/run_frame.h"
#include "common/task_ui.h"

namespace quorvane {

/// Renames every direct subfolder of the folder txtPath (hidden ones included, links to
/// folders not) to prefix + number + suffix, reading chkPre, txtPre, chkSuf, txtSuf and the
/// numbering fields txtFrom, txtStep, chkAddZero and txtDigits. Every new name is planned
/// and checked before the first rename, and each subfolder is renamed where it lies, with
/// everything in it: no byte is copied.
RunOutcome RunFolderRename(FileSystem& fs, TaskUi& ui);

/// The same run as a dry run: every check and the plan, each subfolder handed to `preview`
/// in listed order; nothing changes and no folder is made.
RunOutcome PreviewFolderRename(FileSystem& fs, TaskUi& ui, const RenamePreview& preview);

}  // namespace quorvane
