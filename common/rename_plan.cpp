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

// Gives back the renames of the cycle whose first step is `first`, from the one before
// `failed` down, and then the item waiting under `temporary` its old name. What cannot be
// given back is added to `err`; false then.
bool UndoCycle(FileSystem& fs, const std::string& folder, const RenamePlan& plan,
               std::size_t first, std::size_t failed, const std::string& temporary,
               std::string* err) {
  std::string undo_err;
  for (std::size_t s = failed; s-- > first + 1;) {
    const RenameItem& item = plan.items[plan.steps[s].item];
    if (!fs.RenameNoReplace(folder + item.new_name, folder + item.old_name, &undo_err)) {
      *err += "；“" + folder + item.new_name + "”" + undo_err;
      return false;
    }
  }
  const RenameItem& held = plan.items[plan.steps[first].item];
  if (fs.RenameNoReplace(temporary, folder + held.old_name, &undo_err)) return true;
  *err += "；“" + folder + held.old_name + "”现在的名称是“" + temporary + "”";
  return false;
}

}  // namespace

std::optional<RenameRefusal> PlanRename(std::vector<RenameItem> items,
                                        const std::function<bool(const std::string&)>& taken,
                                        RenamePlan* plan, const std::string& temporary_stem) {
  plan->items = std::move(items);
  plan->steps.clear();
  plan->temporaries.clear();
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
  for (const RenameStep& step : plan->steps)
    if (step.kind == Kind::ToTemporary)
      plan->temporaries.push_back(temporary_stem + std::to_string(plan->temporaries.size()));
  return std::nullopt;
}

bool ApplyRename(FileSystem& fs, const std::string& folder, const RenamePlan& plan,
                 const std::function<void(std::size_t done)>& before_item,
                 const std::function<bool()>& stop_asked, RenameProgress* progress,
                 std::string* err) {
  *progress = RenameProgress{};
  std::size_t& done = progress->items;
  std::size_t next = 0;  // the item that before_item announces next
  for (const auto& item : plan.items)
    if (item.old_name == item.new_name) {
      before_item(next++);
      ++done;
    }
  std::size_t cycle = 0, cycle_start = 0;
  bool in_cycle = false;
  std::string old_path, new_path;  // kept across steps, so their room is made once
  for (std::size_t s = 0; s < plan.steps.size(); ++s) {
    const RenameStep step = plan.steps[s];
    const RenameItem& item = plan.items[step.item];
    if (!in_cycle && stop_asked && stop_asked()) {
      progress->stopped = true;
      return true;
    }
    old_path.assign(folder).append(item.old_name);
    new_path.assign(folder).append(item.new_name);
    bool renamed = false;
    switch (step.kind) {
      case Kind::Direct:
        before_item(next++);
        renamed = fs.RenameNoReplace(old_path, new_path, err);
        break;
      case Kind::ToTemporary:
        before_item(next++);
        cycle_start = s;
        renamed = in_cycle = fs.RenameNoReplace(old_path, folder + plan.temporaries[cycle], err);
        break;
      case Kind::FromTemporary:
        renamed = fs.RenameNoReplace(folder + plan.temporaries[cycle], new_path, err);
        break;
    }
    if (renamed) {
      if (step.kind != Kind::ToTemporary) ++done;
      if (step.kind == Kind::FromTemporary) {
        in_cycle = false;
        ++cycle;
      }
      // Within a cycle the steps count once the cycle is whole.
      if (!in_cycle) progress->steps = s + 1;
      continue;
    }
    *err = "“" + old_path + "”" + *err;
    if (in_cycle) {
      progress->settled =
          UndoCycle(fs, folder, plan, cycle_start, s, folder + plan.temporaries[cycle], err);
      done -= s - cycle_start - 1;
    }
    return false;
  }
  return true;
}

}  // namespace quorvane
