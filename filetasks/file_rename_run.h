#pragma once

#include "common/filesystem.h"
#include "common/rename_batch.h"
#include "common/run_frame.h"
#include "common/task_ui.h"

namespace quorvane {

/// Renames every file of the folder txtPath that matches txtSourceName to prefix + number +
/// "." + suffix, reading chkPre, txtPre, chkSuf, txtSuf and the numbering fields txtFrom,
/// txtStep, chkAddZero and txtDigits. Every new name is planned and checked before the
/// first rename, and each file is renamed where it lies: no byte is copied.
RunOutcome RunFileRename(FileSystem& fs, TaskUi& ui);

/// The same run as a dry run: every check and the plan, each file handed to `preview` in
/// listed order; nothing changes and no folder is made.
RunOutcome PreviewFileRename(FileSystem& fs, TaskUi& ui, const RenamePreview& preview);

}  // namespace quorvane
