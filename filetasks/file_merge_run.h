#pragma once

#include "common/filesystem.h"
#include "common/run_frame.h"
#include "common/task_ui.h"
#include "office/converter.h"

namespace quorvane {

/// The entries of the merge window's mode list, by index.
enum class MergeMode { Text = 0, Binary = 1, Word = 2, Excel = 3 };

/// The name pattern that choosing `mode` writes into the pattern box; nullptr for an index
/// outside the list.
const char* MergeModePattern(int mode);

/// Merges the files of one folder that match a pattern into one destination file, reading
/// its input from the fields txtSourcePath, txtSourceName, cboType and txtDestinationPath.
/// Legacy office formats go through the system's converter.
RunOutcome RunFileMerge(FileSystem& fs, TaskUi& ui);
/// The same with `converter` for the legacy office formats.
RunOutcome RunFileMerge(FileSystem& fs, TaskUi& ui, office::Converter& converter);

}  // namespace quorvane
