#include "foldertasks/folder_merge_run.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "common/functions.h"
#include "common/names.h"
#include "common/natural_order.h"
#include "common/path.h"

namespace quorvane {
namespace {

constexpr const char* kProgressText = "正在复制";
constexpr size_t kSource = SIZE_MAX;

// The folders of the plan form a tree: each is a subfolder, of one name, of a folder before
// it, or a source folder as the list gives it. A folder is reached by opening one name after
// another from its source folder, so no path longer than one name reaches the system however
// deep the folder lies, and no folder is held open between its two visits.
struct PlanFolder {
  size_t parent;  // kSource for a folder of the list
  size_t name;    // in the plan's folder names: the subfolder's name, or the listed path
};

// The files of one source folder: a run of names in the plan's one list of names.
struct SourceFolder {
  size_t folder;
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
  // Lists every folder and every file before the first copy, so a folder or listing that
  // cannot be read, at any level, ends the run before anything is copied. The target's own
  // tree is left out of every walk, so files copied into it (or there before) are never
  // taken as sources.
  std::optional<RunOutcome> Plan(const std::vector<std::string>& entries) {
    target_identity_ = fs_.Identify(target_);
    std::string err;
    for (const auto& entry : entries) {
      if (!fs_.FolderExists(entry))
        return frame_.Fail(DescribeFailure(
            "找不到目录", entry, fs_.Kind(entry) == PathKind::Missing ? ENOENT : ENOTDIR));
      if (!List(entry, &err)) return frame_.Fail(err);
    }
    return std::nullopt;
  }

  // Walks one source folder level by level (its direct subfolders only, unless all levels),
  // each folder's subfolders and files in natural order.
  bool List(const std::string& entry, std::string* err) {
    const size_t first = folders_.size();
    folder_names_.push_back(entry);
    folders_.push_back({kSource, folder_names_.size() - 1});
    std::vector<std::string> subfolders;
    Names files;
    for (size_t i = first; i < folders_.size(); ++i) {
      const auto folder = Open(i, err);
      if (!folder) return false;
      if (target_identity_ == folder->identity()) continue;  // and everything below it
      if (i == first || all_levels_) {
        subfolders.clear();
        if (!fs_.SubFoldersIn(*folder, &subfolders, err)) return false;
        std::sort(subfolders.begin(), subfolders.end(),
                  [](const std::string& a, const std::string& b) { return NaturalLess(a, b); });
        for (const auto& name : subfolders) {
          folder_names_.push_back(name);
          folders_.push_back({i, folder_names_.size() - 1});
        }
      }
      files = Names();
      if (!fs_.MatchFilesIn(*folder, "*.*", &files, err)) return false;
      if (files.empty()) continue;
      files.SortNaturally();
      sources_.push_back({i, names_.size(), files.size()});
      for (const std::string_view name : files) names_.push_back(name);
    }
    return true;
  }

  // Folders come in level order, so the subfolders of one folder follow one another: the
  // parent opened last is kept, and each of them costs one open. However large or deep the
  // tree, no more than three folders are open at a time.
  std::unique_ptr<FolderHandle> Open(size_t i, std::string* err) {
    const PlanFolder& folder = folders_[i];
    if (folder.parent == kSource) return fs_.OpenFolder(Name(folder), err);
    if (!parent_ || parent_index_ != folder.parent) {
      parent_.reset();
      parent_ = OpenFromSource(folder.parent, err);
      if (!parent_) return nullptr;
      parent_index_ = folder.parent;
    }
    return fs_.OpenFolderIn(*parent_, Name(folder), err);
  }

  std::unique_ptr<FolderHandle> OpenFromSource(size_t i, std::string* err) {
    std::vector<size_t> chain;  // from `i` up to its source folder
    for (size_t at = i; at != kSource; at = folders_[at].parent) chain.push_back(at);
    auto handle = fs_.OpenFolder(Name(folders_[chain.back()]), err);
    for (auto at = chain.rbegin() + 1; handle && at != chain.rend(); ++at)
      handle = fs_.OpenFolderIn(*handle, Name(folders_[*at]), err);
    return handle;
  }

  std::string Name(const PlanFolder& folder) const {
    return std::string(folder_names_[folder.name]);
  }

  // One file at a time, each copy whole or not at all, the source read from the folder
  // held open.
  RunOutcome Copy() {
    std::string source, target, err;
    const auto total = static_cast<long long>(names_.size());
    for (const auto& folder : sources_) {
      const auto handle = Open(folder.folder, &err);
      if (!handle) return frame_.Fail(err);
      for (size_t i = folder.first; i < folder.first + folder.count; ++i) {
        const auto done = static_cast<long long>(i);
        if (frame_.StopAsked()) return frame_.Stopped(done, total);
        const std::string name(names_[i]);
        source.assign(handle->path()).append(name);
        target.assign(target_).append(name);
        frame_.Progress(kProgressText + source);
        if (!CopyFile(*handle, name, target, &err))
          return frame_.StopAsked() ? frame_.Stopped(done, total) : frame_.Fail(err);
      }
    }
    return frame_.Complete();
  }

  // A file that is already the target file itself (a link or a second name of it) is left
  // as it is.
  bool CopyFile(FolderHandle& folder, const std::string& name, const std::string& target,
                std::string* err) {
    const auto source = fs_.OpenReadIn(folder, name, err);
    if (!source) return false;
    if (fs_.CopyFileFrom(*source, target, err)) return true;
    const auto identity = source->Identity();
    return identity && identity == fs_.Identify(target);
  }

  FileSystem& fs_;
  RunFrame& frame_;
  TaskUi& ui_;
  std::string target_;
  bool all_levels_ = false;
  std::optional<FileIdentity> target_identity_;
  std::vector<PlanFolder> folders_;
  Names folder_names_;
  std::vector<SourceFolder> sources_;
  Names names_;
  std::unique_ptr<FolderHandle> parent_;  // the folder parent_index_ of folders_
  size_t parent_index_ = kSource;
};

}  // namespace

RunOutcome RunFolderMerge(FileSystem& fs, TaskUi& ui) {
  RunFrame frame(ui);
  return frame.Guard([&] { return FolderMerge(fs, frame).Run(); });
}

}  // namespace quorvane
