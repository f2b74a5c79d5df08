#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/filesystem.h"

/// Renaming a batch of items inside one folder: first the plan, worked out whole before
/// anything changes, then the renames, each one rename(2) within the folder.
namespace quorvane {

/// One item of a batch: the name it bears and the name it is to bear, both names inside
/// the batch's folder (byte strings, not necessarily UTF-8).
struct RenameItem {
  std::string old_name;
  std::string new_name;
};

/// Why a batch cannot be renamed whole; the planner says so before anything changes.
struct RenameRefusal {
  enum class Kind {
    InvalidName,  // a new name is no single name the system can make
    SameNewName,  // two items would get the same new name
    NameTaken,    // a new name is borne by something that keeps its own name
  };
  Kind kind;
  std::string name;  // the new name concerned
};

/// One rename of the applier. An item in a cycle (a->b, b->a) goes to a temporary name
/// first and from it last; every other item is renamed once, after the item whose old
/// name it takes.
struct RenameStep {
  enum class Kind : std::uint8_t { Direct, ToTemporary, FromTemporary };
  std::uint32_t item;
  Kind kind;
};

/// The items of a batch in listed order and the renames that carry it out, in the order
/// that never needs to replace anything. An item whose new name is its old name has none.
/// The k-th cycle in step order waits under temporaries[k], a name chosen with the plan so
/// that a journal can record it before anything moves.
struct RenamePlan {
  std::vector<RenameItem> items;
  std::vector<RenameStep> steps;
  std::vector<std::string> temporaries;
};

/// The stem of the temporary names of a plan that names none of its own.
inline constexpr const char* kTemporaryStem = ".quorvane-rename-";

/// How far ApplyRename got.
struct RenameProgress {
  std::size_t steps = 0;  // the plan's steps carried out; a cycle counts only once whole
  std::size_t items = 0;  // the items that bear their new names, those that keep them included
  bool stopped = false;   // ended at a point between items because a stop was asked
  bool settled = true;    // every item bears its old or its new name
};

/// Plans the renames of `items`, whose old names are distinct entries of one folder.
/// Refuses, naming the first new name at fault in listed order, a new name that is no single
/// name, one that two items share, or one for which `taken` says that something in the
/// folder bears it; `taken` is asked only about new names that are no item's old name, since
/// those are vacated before they are taken. The k-th cycle gets the temporary name
/// `temporary_stem` + k.
std::optional<RenameRefusal> PlanRename(std::vector<RenameItem> items,
                                        const std::function<bool(const std::string&)>& taken,
                                        RenamePlan* plan,
                                        const std::string& temporary_stem = kTemporaryStem);

/// Carries out `plan` in `folder` (ending in a separator) through
/// FileSystem::RenameNoReplace, calling `before_item` with 0, 1, 2 ... once for each item
/// before it is renamed (items that keep their names first). Before each item that opens
/// no cycle and lies in none, `stop_asked` (when set) may end the run there: it returns true
/// with `progress->stopped`, and no item waits under a temporary name. On a failure the run
/// stops: an item that bears a temporary name gets its old name back (the renames of its
/// cycle are undone for that), so every item bears its old or its new name; `err` names the
/// item, and false comes back. `progress` says how far it got.
bool ApplyRename(FileSystem& fs, const std::string& folder, const RenamePlan& plan,
                 const std::function<void(std::size_t done)>& before_item,
                 const std::function<bool()>& stop_asked, RenameProgress* progress,
                 std::string* err);

}  // namespace quorvane
