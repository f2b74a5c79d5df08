#include "common/rename_plan.h"

#include <bit>
#include <limits>
#include <string_view>

#include "common/path.h"

namespace quorvane {
namespace {

constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();
using Kind = RenameStep::Kind;

// The items of a batch filed by one of their names, old or new: open addressing over one
// array, so that a hundred thousand names take no node and no allocation each.
class NameIndex {
 public:
  NameIndex(const std::vector<RenameItem>& items, std::string RenameItem::*name)
      : items_(items),
        name_(name),
        mask_(std::bit_ceil(items.size() * 2 + 2) - 1),
        slots_(mask_ + 1, kNone) {}

  /// The item filed under `name`, or kNone.
  std::uint32_t Find(std::string_view name) const { return slots_[Slot(name)]; }
  /// Files item `i` under its name, unless an item is filed there already; returns the item
  /// filed there now.
  std::uint32_t Insert(std::uint32_t i) {
    std::uint32_t& slot = slots_[Slot(items_[i].*name_)];
    if (slot == kNone) slot = i;
    return slot;
  }

 private:
  std::size_t Slot(std::string_view name) const {
    std::size_t s = std::hash<std::string_view>{}(name) & mask_;
    while (slots_[s] != kNone && items_[slots_[s]].*name_ != name) s = (s + 1) & mask_;
    return s;
  }

  const std::vector<RenameItem>& items_;
  std::string RenameItem::*name_;
  std::size_t mask_;
  std::vector<std::uint32_t> slots_;
};

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
  NameIndex by_old_name(all, &RenameItem::old_name), by_new_name(all, &RenameItem::new_name);
  for (std::uint32_t i = 0; i < count; ++i) by_old_name.Insert(i);

  std::vector<std::uint32_t> target(count, kNone), taker(count, kNone);
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::string& name = all[i].new_name;
    if (!path::IsSingleName(name)) return RenameRefusal{RenameRefusal::Kind::InvalidName, name};
    if (by_new_name.Insert(i) != i) return RenameRefusal{RenameRefusal::Kind::SameNewName, name};
    const std::uint32_t owner = by_old_name.Find(name);
    if (owner == kNone) {
      if (taken(name)) return RenameRefusal{RenameRefusal::Kind::NameTaken, name};
      continue;
    }
    target[i] = owner;
    if (owner != i) taker[owner] = i;
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
  std::string old_path, new_path;  // kept across steps, so their room is made once
  for (std::size_t s = 0; s < plan.steps.size(); ++s) {
    const RenameStep step = plan.steps[s];
    const RenameItem& item = plan.items[step.item];
    old_path.assign(folder).append(item.old_name);
    new_path.assign(folder).append(item.new_name);
    bool renamed = false;
    switch (step.kind) {
      case Kind::Direct:
        before_item(done++);
        renamed = fs.RenameNoReplace(old_path, new_path, err);
        break;
      case Kind::ToTemporary:
        before_item(done++);
        cycle_start = s;
        renamed = in_cycle = MoveAside(fs, folder, old_path, &temporary, err);
        break;
      case Kind::FromTemporary:
        renamed = fs.RenameNoReplace(temporary, new_path, err);
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
