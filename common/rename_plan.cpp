#include "common/rename_plan.h"

#include <limits>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "common/path.h"

namespace quorvane {
namespace {

constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();
using Kind = RenameStep::Kind;

// Orders the renames. Each item points at the item whose old name it takes (none when its
// new name is free); as no two items share a new name, the items form chains and cycles.
// A chain is renamed from its free end backwards, so a name is always vacated before it is
// taken; a cycle is opened by moving one item aside to a temporary name.
std::vector<RenameStep> OrderSteps(const std::vector<std::uint32_t>& target,
                                   const std::vector<std::uint32_t>& taker) {
  const auto count = static_cast<std::uint32_t>(target.size());
  std::vector<RenameStep> steps;
  steps.reserve(count);
  std::vector<bool> placed(count, false);
  for (std::uint32_t end = 0; end < count; ++end) {
    if (target[end] != kNone) continue;
    for (std::uint32_t x = end; x != kNone; x = taker[x]) {
      steps.push_back({x, Kind::Direct});
      placed[x] = true;
    }
  }
  for (std::uint32_t start = 0; start < count; ++start) {
    if (placed[start] || target[start] == start) continue;
    steps.push_back({start, Kind::ToTemporary});
    for (std::uint32_t x = taker[start]; x != start; x = taker[x]) {
      steps.push_back({x, Kind::Direct});
      placed[x] = true;
    }
    steps.push_back({start, Kind::FromTemporary});
  }
  return steps;
}

// A name in `folder` that nothing bears, for an item of a cycle to wait under. A name that
// another program takes in the meantime is passed over, never replaced.
bool MoveAside(FileSystem& fs, const std::string& folder, const std::string& from,
               std::string* temporary, std::string* err) {
  for (unsigned attempt = 0;; ++attempt) {
    *temporary = folder + ".quorvane-rename-" + std::to_string(attempt);
    PathEntry there;
    if (!fs.Examine(*temporary, &there, err)) return false;
    if (there.kind != EntryKind::Missing) continue;
    if (fs.RenameNoReplace(from, *temporary, err)) return true;
    if (!fs.Examine(*temporary, &there, err) || there.kind == EntryKind::Missing) return false;
  }
}

// Gives back the renames of the cycle whose first step is `first`, from the one before
// `failed` down, and then the item waiting under `temporary` its old name. What cannot be
// given back is added to `err`.
void UndoCycle(FileSystem& fs, const std::string& folder, const RenamePlan& plan,
               std::size_t first, std::size_t failed, const std::string& temporary,
               std::string* err) {
  std::string undo_err;
  for (std::size_t s = failed; s-- > first + 1;) {
    const RenameItem& item = plan.items[plan.steps[s].item];
    if (!fs.RenameNoReplace(folder + item.new_name, folder + item.old_name, &undo_err)) {
      *err += "；“" + folder + item.new_name + "”" + undo_err;
      break;
    }
  }
  const RenameItem& held = plan.items[plan.steps[first].item];
  if (!fs.RenameNoReplace(temporary, folder + held.old_name, &undo_err))
    *err += "；“" + folder + held.old_name + "”现在的名称是“" + temporary + "”";
}

}  // namespace

std::optional<RenameRefusal> PlanRename(std::vector<RenameItem> items,
                                        const std::function<bool(const std::string&)>& taken,
                                        RenamePlan* plan) {
  plan->items = std::move(items);
  plan->steps.clear();
  const std::vector<RenameItem>& all = plan->items;
  const auto count = static_cast<std::uint32_t>(all.size());
  std::unordered_map<std::string_view, std::uint32_t> by_old_name(count);
  for (std::uint32_t i = 0; i < count; ++i) by_old_name.emplace(all[i].old_name, i);

  std::unordered_set<std::string_view> new_names(count);
  std::vector<std::uint32_t> target(count, kNone), taker(count, kNone);
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::string& name = all[i].new_name;
    if (!path::IsSingleName(name)) return RenameRefusal{RenameRefusal::Kind::InvalidName, name};
    if (!new_names.insert(name).second)
      return RenameRefusal{RenameRefusal::Kind::SameNewName, name};
    const auto it = by_old_name.find(name);
    if (it == by_old_name.end()) {
      if (taken(name)) return RenameRefusal{RenameRefusal::Kind::NameTaken, name};
      continue;
    }
    target[i] = it->second;
    if (it->second != i) taker[it->second] = i;
  }
  plan->steps = OrderSteps(target, taker);
  return std::nullopt;
}

bool ApplyRename(FileSystem& fs, const std::string& folder, const RenamePlan& plan,
                 const std::function<void(std::size_t done)>& before_item, std::string* err) {
  std::size_t done = 0;
  for (const auto& item : plan.items)
    if (item.old_name == item.new_name) before_item(done++);
  std::string temporary;
  std::size_t cycle_start = 0;
  bool in_cycle = false;
  for (std::size_t s = 0; s < plan.steps.size(); ++s) {
    const RenameStep step = plan.steps[s];
    const RenameItem& item = plan.items[step.item];
    const std::string old_path = folder + item.old_name;
    bool renamed = false;
    switch (step.kind) {
      case Kind::Direct:
        before_item(done++);
        renamed = fs.RenameNoReplace(old_path, folder + item.new_name, err);
        break;
      case Kind::ToTemporary:
        before_item(done++);
        cycle_start = s;
        renamed = in_cycle = MoveAside(fs, folder, old_path, &temporary, err);
        break;
      case Kind::FromTemporary:
        renamed = fs.RenameNoReplace(temporary, folder + item.new_name, err);
        in_cycle = !renamed;
        break;
    }
    if (renamed) continue;
    *err = "“" + old_path + "”" + *err;
    if (in_cycle) UndoCycle(fs, folder, plan, cycle_start, s, temporary, err);
    return false;
  }
  return true;
}

}  // namespace quorvane
