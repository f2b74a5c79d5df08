#include "foldertasks/folder_build_run.h"

#include <algorithm>
#include <cerrno>
#include <optional>
#include <vector>

#include "common/functions.h"
#include "common/numbering.h"
#include "common/path.h"

namespace quorvane {
namespace {

constexpr const char* kProgressText = "正在建立目录...";

class FolderBuild {
 public:
  FolderBuild(FileSystem& fs, RunFrame& frame) : fs_(fs), frame_(frame), ui_(frame.ui()) {}

  RunOutcome Run() {
    const std::string parent = ui_.Text("txtPath");
    if (path::Trimmed(parent).empty()) return frame_.Refuse("请输入目录路径！", "txtPath");
    use_template_ = ui_.Checked("chkMod");
    template_ = ui_.Text("txtModPath");
    if (use_template_ && path::Trimmed(template_).empty())
      return frame_.Refuse("请输入模板目录！", "txtModPath");
    if (!fs_.FolderExists(parent)) {
      if (!frame_.Ask("指定的目录不存在，是否要创建？")) {
        ui_.Focus("txtPath");
        return RunOutcome::Refused;
      }
      std::string created = parent;
      CreatePath(fs_, ui_, created);
    }
    parent_ = path::WithSeparator(parent);
    if (use_template_ && !fs_.FolderExists(template_))
      return frame_.Refuse("指定的模板不存在！", "txtModPath");
    if (auto ended = CheckNumbering(frame_, NumberingTask::Create, &numbering_)) return *ended;

    frame_.Begin();
    std::string err;
    if (!ConvertNumbers(numbering_, &err)) return frame_.Fail(err);
    count_ = NumberCount(numbering_);
    if (auto ended = Plan()) return *ended;
    return Make();
  }

 private:
  std::string Name(long long counter) const {
    return MakeItemName(NumberAt(numbering_, counter), numbering_, kFolderNameSeparator);
  }

  // The identities of `folder` and of every folder above it, up to the root.
  std::vector<FileIdentity> FolderAndAncestors(const std::string& folder) {
    std::vector<FileIdentity> chain;
    std::string at = path::WithSeparator(folder);
    while (const auto identity = fs_.Identify(at)) {
      if (!chain.empty() && chain.back() == *identity) break;  // the root is its own parent
      chain.push_back(*identity);
      at += "../";
    }
    return chain;
  }

  static bool Holds(const std::vector<FileIdentity>& chain, const FileIdentity& identity) {
    return std::find(chain.begin(), chain.end(), identity) != chain.end();
  }

  // Every name is checked, and every target that is there looked at, before the first
  // folder is made. A template is never copied into itself, nor into a folder that holds
  // it: the parent must not lie in the template, and no folder to be made may be the
  // template or hold it.
  std::optional<RunOutcome> Plan() {
    for (long long i = 0; i < count_; ++i) {
      const std::string name = Name(i);
      if (!path::IsSingleName(name))
        return frame_.Stop("名称“" + name + "”不合法，没有建立任何目录！");
    }
    std::vector<FileIdentity> template_and_above;
    if (use_template_) {
      template_and_above = FolderAndAncestors(template_);
      if (count_ > 0 && !template_and_above.empty() &&
          Holds(FolderAndAncestors(parent_), template_and_above[0]))
        return Overlap(Name(0));
    }
    std::string err;
    std::vector<long long> taken;
    if (!TakenItems(fs_, parent_, numbering_, kFolderNameSeparator, &taken, &err))
      return frame_.Fail(err);
    for (const long long i : taken) {
      const std::string target = parent_ + Name(i);
      PathEntry entry;
      if (!fs_.Examine(target, &entry, &err)) return frame_.Fail(err);
      const bool merges = use_template_ && entry.kind == EntryKind::Folder;
      if (merges && Holds(template_and_above, entry.identity)) return Overlap(Name(i));
      if (entry.kind != EntryKind::Missing && !merges)
        return frame_.Fail(DescribeFailure("无法创建目录", target, EEXIST));
    }
    return std::nullopt;
  }

  RunOutcome Overlap(const std::string& name) {
    return frame_.Stop("要建立的目录“" + name + "”与模板目录相同或互相包含，没有建立任何目录！",
                       "txtModPath");
  }

  RunOutcome Make() {
    std::string err;
    for (long long i = 0; i < count_; ++i) {
      if (frame_.StopAsked()) return frame_.Stopped(i, count_);
      frame_.Progress(kProgressText + ProgressPercentage(numbering_, i));
      const std::string target = parent_ + Name(i);
      const bool made = use_template_ ? fs_.CopyFolder(template_, target, &err)
                                      : fs_.CreateFolder(target, &err);
      if (!made) return frame_.StopAsked() ? frame_.Stopped(i, count_) : frame_.Fail(err);
    }
    frame_.Progress(std::string(kProgressText) + "100%");
    return frame_.Complete();
  }

  FileSystem& fs_;
  RunFrame& frame_;
  TaskUi& ui_;
  bool use_template_ = false;
  std::string template_;
  std::string parent_;
  NumberingSettings numbering_;
  long long count_ = 0;
};

}  // namespace

RunOutcome RunFolderBuild(FileSystem& fs, TaskUi& ui) {
  RunFrame frame(ui);
  return frame.Guard([&] { return FolderBuild(fs, frame).Run(); });
}

}  // namespace quorvane
