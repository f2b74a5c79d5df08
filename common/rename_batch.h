#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "common/filesystem.h"
#include "common/names.h"
#include "common/numbering.h"
#include "common/rename_journal.h"
#include "common/rename_plan.h"
#include "common/run_frame.h"

/// What the rename runs of files and of folders share once their fields are read.
namespace quorvane {

/// What differs between the two rename runs.
struct RenameWording {
  const char* noun;           // 文件 or 目录
  const char* progress_text;  // 正在重命名文件...
  std::string_view separator;
  BatchKind kind;
};

/// Receives the plan of a dry run, one item at a time in listed order.
using RenamePreview = std::function<void(const RenameItem& item)>;

/// The folder `typed` of a rename run is missing: asks "指定的路径不存在，是否要创建？" and
/// on Yes makes it with CreatePath; on No the focus goes to txtPath. A dry run neither asks
/// nor makes anything: it refuses with "指定的路径不存在！". Returns how the run ends, or
/// std::nullopt when the folder is there now.
std::optional<RunOutcome> OfferMissingFolder(FileSystem& fs, RunFrame& frame,
                                             const std::string& typed, bool dry_run);

/// The batch of a rename run whose fields passed their checks, from its `listed` items in
/// `folder` (ending in a separator) to its end. Refuses a folder whose last batch was cut
/// short and is not recovered yet. Numbers the items (从 for the first, one
/// 递增量 further for each next; only numbers an item needs must fit in 32 bits), plans every
/// rename and refuses a batch that cannot be renamed whole, all before the first change.
/// Then journals the plan and renames, with the caption progress_text + done /
/// `progress_total` before each item (0% when the total is 0), and completes. A stop asked
/// during the renames ends the batch at its next point between items (never with an item
/// under a temporary name), the journal marked with what was done. A dry run hands each
/// planned item to `preview` instead and ends without a message.
RunOutcome RenameBatch(FileSystem& fs, RunFrame& frame, const RenameWording& wording,
                       const std::string& folder, const Names& listed,
                       const NumberingSettings& numbering, long long progress_total,
                       const RenamePreview* preview);

}  // namespace quorvane
