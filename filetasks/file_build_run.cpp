#include "filetasks/file_build_run.h"

#include <cerrno>
#include <optional>

#include "common/functions.h"
#include "common/numbering.h"
#include "common/path.h"

namespace quorvane {
namespace {

constexpr const char* kProgressText = "正在建立文件...";

class FileBuild {
 public:
  FileBuild(FileSystem& fs, RunFrame& frame) : fs_(fs), frame_(frame), ui_(frame.ui()) {}

  RunOutcome Run() {
    const std::string folder = ui_.Text("txtPath");
    if (path::Trimmed(folder).empty()) return frame_.Refuse("请输入文件路径！", "txtPath");
    use_template_ = ui_.Checked("chkMod");
    template_ = ui_.Text("txtModPath");
    if (use_template_ && path::Trimmed(template_).empty())
      return frame_.Refuse("请输入模板文件！", "txtModPath");
    if (!fs_.FolderExists(folder)) {
      if (!frame_.Ask("指定的路径不存在，是否要创建？")) {
        ui_.Focus("txtPath");
        return RunOutcome::Refused;
      }
      std::string created = folder;
      CreatePath(fs_, ui_, created);
    }
    folder_ = path::WithSeparator(folder);
    if (use_template_ && !fs_.FileExists(template_))
      return frame_.Refuse("指定的文件不存在！", "txtModPath", Icon::Error);
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
    return MakeItemName(NumberAt(numbering_, counter), numbering_, kFileNameSeparator);
  }

  // Every name is checked, and every target that is there looked at, before the first file
  // is made, so a batch that cannot be made whole is refused with nothing changed. Names
  // are composed again while making, so memory stays the same however long the run.
  std::optional<RunOutcome> Plan() {
    std::string err;
    std::optional<FileIdentity> template_identity;
    if (use_template_) {
      const auto file = fs_.OpenRead(template_, &err);  // readable, and a regular file
      if (!file) return frame_.Fail(err);
      template_identity = file->Identity();
    }
    for (long long i = 0; i < count_; ++i) {
      const std::string name = Name(i);
      if (!path::IsSingleName(name))
        return frame_.Stop("名称“" + name + "”不合法，没有建立任何文件！");
    }
    std::vector<long long> taken;
    if (!TakenItems(fs_, folder_, numbering_, kFileNameSeparator, &taken, &err))
      return frame_.Fail(err);
    long long existing = 0;
    for (const long long i : taken) {
      const std::string name = Name(i);
      const std::string target = folder_ + name;
      PathEntry entry;
      if (!fs_.Examine(target, &entry, &err)) return frame_.Fail(err);
      switch (entry.kind) {
        case EntryKind::Missing:
          break;
        case EntryKind::File:
          if (template_identity == entry.identity)
            return frame_.Stop("要建立的文件“" + name + "”就是模板文件，没有建立任何文件！",
                               "txtModPath");
          ++existing;
          break;
        case EntryKind::Folder:
          return frame_.Fail(DescribeFailure("无法创建文件", target, EISDIR));
        case EntryKind::Link:
        case EntryKind::Other:
          return frame_.Fail(DescribeFailure("无法创建文件", target, "同名的项目不是普通文件"));
      }
    }
    if (existing > 0 &&
        !frame_.Ask("有 " + std::to_string(existing) + " 个同名文件已存在，是否覆盖？")) {
      ui_.Focus("txtPath");
      return RunOutcome::Refused;
    }
    return std::nullopt;
  }

  RunOutcome Make() {
    std::string err;
    for (long long i = 0; i < count_; ++i) {
      if (frame_.StopAsked()) return frame_.Stopped(i, count_);
      frame_.Progress(kProgressText + ProgressPercentage(numbering_, i));
      const std::string target = folder_ + Name(i);
      const bool made = use_template_ ? fs_.CopyFile(template_, target, &err)
                                      : fs_.CreateTextFile(target, &err);
      // A copy cut short by the stop leaves no part of its file behind.
      if (!made) return frame_.StopAsked() ? frame_.Stopped(i, count_) : frame_.Fail(err);
    }
    return frame_.Complete();
  }

  FileSystem& fs_;
  RunFrame& frame_;
  TaskUi& ui_;
  bool use_template_ = false;
  std::string template_;
  std::string folder_;
  NumberingSettings numbering_;
  long long count_ = 0;
};

}  // namespace

RunOutcome RunFileBuild(FileSystem& fs, TaskUi& ui) {
  RunFrame frame(ui);
  return frame.Guard([&] { return FileBuild(fs, frame).Run(); });
}

}  // namespace quorvane
