#pragma once

#include <optional>
#include <string>
#include <vector>

#include "common/filesystem.h"
#include "common/names.h"
#include "common/task_ui.h"

/// The routines the task runs share. Each keeps no state between calls, reports its own
/// failure in a message box through `ui`, and then hands back an empty result.
namespace quorvane {

/// A list of names. Empty when nothing matched; std::nullopt after a failure (already
/// reported), which the caller must not take for an empty match.
using NameList = std::optional<Names>;

/// `value` with "0" in front until it is `width` characters long; never cut. AddZero(-5, 4)
/// is "00-5": the zeros go in front of the sign.
std::string AddZero(long long value, int width);

/// The temporary-files folder, ending in a separator; empty after a failure.
std::string GetTempFolder(FileSystem& fs, TaskUi& ui);

/// The names (no folder part) of the normal files that match `pattern`, a folder path ending
/// in a separator followed by a wildcard name, in natural order.
NameList GetFileList(FileSystem& fs, TaskUi& ui, const std::string& pattern);

/// `folder` and its subfolders as paths ending in a separator, the folder itself first: its
/// direct subfolders only, or every level in level order when `all_levels` is set. A folder
/// whose subfolders cannot be read, at any level, is reported and fails the list.
NameList GetFolderList(FileSystem& fs, TaskUi& ui, const std::string& folder, bool all_levels);

/// Creates every missing folder on `path`, appending a separator to the caller's text
/// when it has none. Folders created before a failure remain.
void CreatePath(FileSystem& fs, TaskUi& ui, std::string& path);

}  // namespace quorvane
