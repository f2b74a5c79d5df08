#include "common/rename_batch.h"

#include <cstdint>
#include <limits>
#include <vector>

#include "common/functions.h"

namespace quorvane {
namespace {

// The number of item `i`: 从 + i × 递增量, summed in 64 bits and narrowed only when it fits,
// so that 从 2147483647 serves a single item. std::nullopt outside the 32-bit range.
std::optional<std::int32_t> NumberOf(std::size_t i, std::optional<std::int64_t> first,
                                     std::optional<std::int64_t> step) {
  std::int64_t number = 0;
  if (!first || (i > 0 && (!step || __builtin_mul_overflow(static_cast<std::int64_t>(i), *step,
                                                           &number))))
    return std::nullopt;
  if (__builtin_add_overflow(*first, number, &number) ||
      number < std::numeric_limits<std::int32_t>::min() ||
      number > std::numeric_limits<std::int32_t>::max())
    return std::nullopt;
  return static_cast<std::int32_t>(number);
}

// The new name of every listed item, in listed order.
bool NameItems(const Names& listed, const NumberingSettings& numbering,
               const RenameWording& wording, std::vector<RenameItem>* items, std::string* err) {
  const auto first = WideNumberValue(numbering.from_text);
  const auto step = WideNumberValue(numbering.step_text);
  items->reserve(listed.size());
  for (std::size_t i = 0; i < listed.size(); ++i) {
    const auto number = NumberOf(i, first, step);
    if (!number) {
      *err = i == 0 ? OutOfRangeNumber(numbering.from_text)
                    : "第 " + std::to_string(i + 1) + " 个" + wording.noun +
                          "的编号超出范围（-2147483648 到 2147483647）";
      return false;
    }
    items->push_back({std::string(listed[i]), MakeItemName(*number, numbering, wording.separator)});
  }
  return true;
}

std::string RefusalText(const RenameRefusal& refusal, const std::string& noun) {
  const std::string name = "“" + refusal.name + "”";
  const std::string nothing_done = "，没有重命名任何" + noun + "！";
  switch (refusal.kind) {
    case RenameRefusal::Kind::InvalidName:
      return name + "不是合法的名称" + nothing_done;
    case RenameRefusal::Kind::SameNewName:
      return "有两个" + noun + "的新名称都是" + name + nothing_done;
    case RenameRefusal::Kind::NameTaken:
      break;
  }
  return "新名称" + name + "已被占用" + nothing_done;
}

}  // namespace

std::optional<RunOutcome> OfferMissingFolder(FileSystem& fs, RunFrame& frame,
                                             const std::string& typed, bool dry_run) {
  if (dry_run) return frame.Refuse("指定的路径不存在！", "txtPath");
  if (!frame.Ask("指定的路径不存在，是否要创建？")) {
    frame.ui().Focus("txtPath");
    return RunOutcome::Refused;
  }
  std::string created = typed;
  CreatePath(fs, frame.ui(), created);
  // CreatePath has shown its own report; a folder it could not make is not renamed in.
  if (!fs.FolderExists(typed)) return RunOutcome::Failed;
  return std::nullopt;
}

RunOutcome RenameBatch(FileSystem& fs, RunFrame& frame, const RenameWording& wording,
                       const std::string& folder, const Names& listed,
                       const NumberingSettings& numbering, long long progress_total,
                       const RenamePreview* preview) {
  std::string err;
  std::optional<BatchRecord> interrupted;
  if (!InterruptedBatchIn(fs, folder, &interrupted, &err)) return frame.Fail(err);
  if (interrupted)
    return frame.Stop("“" + interrupted->folder + "”中上次的重命名被中断了（共 " +
                      std::to_string(interrupted->items.size()) +
                      " 个项目），请先恢复它（quorvane-batch recover）再重命名！");
  std::vector<RenameItem> items;
  if (!NameItems(listed, numbering, wording, &items, &err)) return frame.Fail(err);
  // Anything at all bears a name that is taken: a file that does not match, a hidden one, a
  // folder among files, a file among folders, a link.
  const auto taken = [&](const std::string& name) {
    PathEntry entry;
    if (!fs.Examine(folder + name, &entry, &err)) return true;  // ends the plan; see below
    return entry.kind != EntryKind::Missing;
  };
  const std::string id = NewBatchId();
  RenamePlan plan;
  const auto refusal = PlanRename(std::move(items), taken, &plan, TemporaryStem(id));
  if (!err.empty()) return frame.Fail(err);
  if (refusal) return frame.Stop(RefusalText(*refusal, wording.noun));
  if (preview) {
    for (const RenameItem& item : plan.items) (*preview)(item);
    return RunOutcome::Completed;
  }
  // A caption is set only when its percentage changes: a hundred thousand items show at
  // most a hundred and one.
  long shown = -1;
  const auto show = [&](std::size_t done) {
    const long percent =
        progress_total > 0 ? ProgressPercent(static_cast<long long>(done), progress_total) : 0;
    if (percent == shown) return;
    frame.Progress(wording.progress_text + std::to_string(percent) + "%");
    shown = percent;
  };
  RenameProgress progress;
  if (!ApplyJournalledRename(fs, id, wording.kind, {}, folder, plan, show,
                             [&frame] { return frame.StopAsked(); }, &progress, &err))
    return frame.Fail(err);
  if (progress.stopped)
    return frame.Stopped(static_cast<long long>(progress.items),
                         static_cast<long long>(plan.items.size()));
  return frame.Complete();
}

}  // namespace quorvane
