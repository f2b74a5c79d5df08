#include "filetasks/file_rename_run.h"

#include "common/functions.h"
#include "common/numbering.h"
#include "common/path.h"

namespace quorvane {
namespace {

constexpr RenameWording kWording = {"文件", "正在重命名文件...", kFileNameSeparator,
                                  BatchKind::Files};

RunOutcome FileRename(FileSystem& fs, RunFrame& frame, const RenamePreview* preview) {
  TaskUi& ui = frame.ui();
  const std::string typed = ui.Text("txtPath");
  if (path::Trimmed(typed).empty()) return frame.Refuse("请输入源文件路径！", "txtPath");
  if (!fs.FolderExists(typed))
    if (auto ended = OfferMissingFolder(fs, frame, typed, preview != nullptr)) return *ended;
  NumberingSettings numbering;
  if (auto ended = CheckNumbering(frame, NumberingTask::Rename, &numbering)) return *ended;

  frame.Begin();
  // A pattern may name a subfolder (scans/*.jpg): the files are renamed where they lie.
  const std::string pattern = path::WithSeparator(typed) + ui.Text("txtSourceName");
  const NameList listed = GetFileList(fs, ui, pattern);
  if (!listed) return RunOutcome::Failed;  // GetFileList has shown its report
  if (listed->empty())
    return frame.Stop("没有符合条件的文件存在，请重新设置源文件名！", "txtSourceName");
  // From the first file at 0% to the last at 100%; a single file shows 0%.
  const auto progress_total = static_cast<long long>(listed->size()) - 1;
  return RenameBatch(fs, frame, kWording, path::FolderPart(pattern), *listed, numbering,
                     progress_total, preview);
}

}  // namespace

RunOutcome RunFileRename(FileSystem& fs, TaskUi& ui) {
  RunFrame frame(ui);
  return frame.Guard([&] { return FileRename(fs, frame, nullptr); });
}

RunOutcome PreviewFileRename(FileSystem& fs, TaskUi& ui, const RenamePreview& preview) {
  RunFrame frame(ui);
  return frame.Guard([&] { return FileRename(fs, frame, &preview); });
}

}  // namespace quorvane
