#include "foldertasks/folder_rename_run.h"

#include "common/functions.h"
#include "common/numbering.h"
#include "common/path.h"

namespace quorvane {
namespace {

constexpr RenameWording kWording = {"目录", "正在重命名目录...", kFolderNameSeparator,
                                  BatchKind::Folders};

RunOutcome FolderRename(FileSystem& fs, RunFrame& frame, const RenamePreview* preview) {
  TaskUi& ui = frame.ui();
  const std::string typed = ui.Text("txtPath");
  if (path::Trimmed(typed).empty()) return frame.Refuse("请输入源目录路径！", "txtPath");
  if (!fs.FolderExists(typed))
    if (auto ended = OfferMissingFolder(fs, frame, typed, preview != nullptr)) return *ended;
  NumberingSettings numbering;
  if (auto ended = CheckNumbering(frame, NumberingTask::Rename, &numbering)) return *ended;

  frame.Begin();
  const NameList listed = GetFolderList(fs, ui, path::WithSeparator(typed), false);
  if (!listed) return RunOutcome::Failed;  // GetFolderList has shown its report
  // Entry 0 is the folder itself; the others are its subfolders' paths, which end in a
  // separator.
  const std::string_view folder = listed->front();
  Names subfolders;
  for (std::size_t i = 1; i < listed->size(); ++i)
    subfolders.push_back((*listed)[i].substr(folder.size(), (*listed)[i].size() - folder.size() - 1));
  // The list held the folder itself as well, so the caption stops one item short of 100%.
  const auto progress_total = static_cast<long long>(subfolders.size());
  return RenameBatch(fs, frame, kWording, std::string(folder), subfolders, numbering,
                     progress_total, preview);
}

}  // namespace

RunOutcome RunFolderRename(FileSystem& fs, TaskUi& ui) {
  RunFrame frame(ui);
  return frame.Guard([&] { return FolderRename(fs, frame, nullptr); });
}

RunOutcome PreviewFolderRename(FileSystem& fs, TaskUi& ui, const RenamePreview& preview) {
  RunFrame frame(ui);
  return frame.Guard([&] { return FolderRename(fs, frame, &preview); });
}

}  // namespace quorvane
