#include "support/cut_short_batch.h"

#include "common/rename_journal.h"

namespace quorvane::testing {

std::string CutShortSwap(const std::string& folder) {
  const std::string id = NewBatchId();
  RenamePlan plan;
  if (PlanRename({{"1", "2"}, {"2", "1"}}, [](const std::string&) { return false; }, &plan,
                 TemporaryStem(id)))
    return "refused";
  std::vector<FileIdentity> identities;
  std::string err;
  RenameJournal journal;
  if (!IdentifyItems(SystemFileSystem(), folder, plan, &identities, &err) ||
      !journal.Begin(SystemFileSystem(), id, BatchKind::Files, "", folder, plan, identities,
                     &err) ||
      !SystemFileSystem().RenameNoReplace(folder + "1", folder + plan.temporaries[0], &err))
    return err;
  journal.Abandon();
  return {};
}

}  // namespace quorvane::testing
