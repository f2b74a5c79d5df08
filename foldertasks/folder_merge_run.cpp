#include "foldertasks/folder_merge_run.h"

#include <cerrno>
#include <optional>
#include <string_view>
#include <vector>

#include "common/functions.h"
#include "common/names.h"
#include "common/path.h"

namespace quorvane {
namespace {

constexpr const char* kProgressText = "正在复制";

// The files of one source folder: a run of names in the plan's one list of names.
struct SourceFolder {
  std::string path;  // ends in a separator
  size_t first;
  size_t count;
};

class FolderMerge {
 public:
  FolderMerge(FileSystem& fs, RunFrame& frame) : fs_(fs), frame_(frame), ui_(frame.ui()) {}

  RunOutcome Run() {
    const std::string typed = ui_.Text("txtDestinationPath");
    // An empty box would copy into the root of the drive, a folder the user never named.
    if (path::Trimmed(typed).empty())
      return frame_.Refuse("请输入目标目录！", "txtDestinationPath");
    const PathKind kind = fs_.Kind(typed);
    if (kind == PathKind::File || kind == PathKind::Other)
      return frame_.Refuse("“" + typed + "”不是目录，请输入目标目录！", "txtDestinationPath");
    target_ = path::WithSeparator(typed);
    if (!fs_.FolderExists(target_)) {
      if (!frame_.Ask("指定的目标目录不存在，是否创建？")) return RunOutcome::Refused;
      CreatePath(fs_, ui_, target_);
      // The folder routine has said why; the run must not go on to report a completion.
      if (!fs_.FolderExists(target_))
        return frame_.Fail(DescribeFailure("找不到目录", target_, ENOENT));
    }
    all_levels_ = ui_.Checked("chkTotal");

    frame_.Begin();
    if (auto ended = Plan(ui_.Items("lstFolderList"))) return *ended;
    return Copy();
  }

 private:
  // Lists every folder and every file before the first copy. The target's own tree is left
  // out of every walk, so files copied into it (or there before) are never taken as sources.
  std::optional<RunOutcome> Plan(const std::vector<std::string>& entries) {
    const auto target_identity = fs_.Identify(target_);
    for (const auto& entry : entries) {
      if (!fs_.FolderExists(entry))
        return frame_.Fail(DescribeFailure(
            "找不到目录", entry, fs_.Kind(entry) == PathKind::Missing ? ENOENT : ENOTDIR));
      const NameList folders = GetFolderList(fs_, ui_, entry, all_levels_);
      if (!folders) return frame_.Fail("无法取得目录“" + entry + "”的子目录");
      std::vector<std::string_view> left_out;  // the target, each time a walk reaches it
      for (const std::string_view folder : *folders) {
        if (Below(folder, left_out)) continue;
        const std::string path(folder);
        if (target_identity && fs_.Identify(path) == target_identity) {
          left_out.push_back(folder);
          continue;
        }
        const NameList names = GetFileList(fs_, ui_, path + "*.*");
        if (!names) return frame_.Fail("无法取得目录“" + path + "”的文件列表");
        if (names->empty()) continue;
        sources_.push_back({path, names_.size(), names->size()});
        for (const std::string_view name : *names) names_.push_back(name);
      }
    }
    return std::nullopt;
  }

  // Folder paths of one walk are each built on their parent's, so a folder below another
  // begins with its text.
  static bool Below(std::string_view folder, const std::vector<std::string_view>& tops) {
    for (const auto top : tops)
      if (folder.starts_with(top)) return true;
    return false;
  }

  // One file at a time, each copy whole or not at all. A file that is already the target
  // file itself (a link or a second name of it) is left as it is.
  RunOutcome Copy() {
    std::string source, target, err;
    const auto total = static_cast<long long>(names_.size());
    for (const auto& folder : sources_) {
      for (size_t i = folder.first; i < folder.first + folder.count; ++i) {
        const auto done = static_cast<long long>(i);
        if (frame_.StopAsked()) return frame_.Stopped(done, total);
        source.assign(folder.path).append(names_[i]);
        target.assign(target_).append(names_[i]);
        frame_.Progress(kProgressText + source);
        if (!fs_.CopyFile(source, target, &err) && !SameFile(source, target))
          return frame_.StopAsked() ? frame_.Stopped(done, total) : frame_.Fail(err);
      }
    }
    return frame_.Complete();
  }

  bool SameFile(const std::string& a, const std::string& b) {
    const auto identity = fs_.Identify(a);
    return identity && identity == fs_.Identify(b);
  }

  FileSystem& fs_;
  RunFrame& frame_;
  TaskUi& ui_;
  std::string target_;
  bool all_levels_ = false;
  std::vector<SourceFolder> sources_;
  Names names_;
};

}  // namespace

RunOutcome RunFolderMerge(FileSystem& fs, TaskUi& ui) {
  RunFrame frame(ui);
  return frame.Guard([&] { return FolderMerge(fs, frame).Run(); });
}

}  // namespace quorvane
