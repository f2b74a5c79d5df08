#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <memory>
#include <string>
#include <vector>

#include "common/filesystem.h"
#include "common/rename_plan.h"
#include "common/run_frame.h"
#include "common/task_ui.h"

/// The journal of rename batches: each batch's plan is written and flushed before its first
/// rename, so a batch cut short by a kill or a power cut can be finished or taken back, and
/// the record of a finished batch lets it be undone.
namespace quorvane {

/// What a batch renamed: files of a folder or its subfolders.
enum class BatchKind { Files, Folders };

/// Where a journalled batch stands.
enum class BatchState {
  Open,      // under way, or cut short when no process holds it
  Complete,  // ended; steps_done says how far it got
  Undone,    // taken back by an undo or a recovery
};

/// One batch as its journal records it. Only items that change their names are recorded.
struct BatchRecord {
  std::string id;
  std::string journal;  // the journal file
  BatchKind kind = BatchKind::Files;
  std::string undo_of;  // the batch that this one undoes; empty for a rename run
  std::string folder;   // absolute, ending in a separator
  FileIdentity folder_identity;
  std::vector<RenameItem> items;  // in listed order; empty when only the head was read
  std::vector<FileIdentity> identities;
  std::vector<std::string> temporaries;  // for each item; empty when it takes none
  std::size_t item_count = 0;
  BatchState state = BatchState::Open;
  std::size_t steps_done = 0;
};

/// The folder of the journals, $XDG_STATE_HOME/quorvane/ (~/.local/state/quorvane/ when
/// that is unset), ending in a separator. With `create`, missing folders are made.
bool JournalFolder(FileSystem& fs, bool create, std::string* folder, std::string* err);

/// A batch id, unique and growing with the time, for the journal and temporary names.
std::string NewBatchId();

/// The stem of the temporary names of batch `id`, ".quorvane-rename-<id>-".
std::string TemporaryStem(const std::string& id);

/// The journal of one batch under way. While it lives, the process holds a lock on its
/// file, so a journal nobody holds is one whose batch was cut short.
class RenameJournal {
 public:
  RenameJournal() = default;
  ~RenameJournal();
  RenameJournal(const RenameJournal&) = delete;
  RenameJournal& operator=(const RenameJournal&) = delete;

  /// Writes the plan of batch `id` in `folder` (absolute, ending in a separator), its
  /// items' `identities` (one per plan item) and temporary names, and flushes it to the
  /// disk. Nothing may be renamed before it returns true.
  bool Begin(FileSystem& fs, const std::string& id, BatchKind kind, const std::string& undo_of,
             const std::string& folder, const RenamePlan& plan,
             const std::vector<FileIdentity>& identities, std::string* err);
  /// Marks the batch complete with `steps_done` of its plan's steps carried out, and
  /// removes the records of completed batches older than the last ten.
  bool Complete(FileSystem& fs, std::size_t steps_done, std::string* err);
  /// Gives up the lock without marking anything: the batch stays open for recovery.
  void Abandon();

 private:
  std::string folder_;
  std::string path_;
  std::string id_;
  std::unique_ptr<PendingFile> held_;  // the journal, open and locked while the batch runs
};

/// Every batch recorded in the journal folder, oldest first: the open ones whole, the others
/// only as far as their heads (no items; ReadBatch reads the rest). Open batches that a live
/// process holds are left out.
bool ListBatches(FileSystem& fs, std::vector<BatchRecord>* batches, std::string* err);

/// Reads the whole record of `batch`, items included.
bool ReadBatch(FileSystem& fs, BatchRecord* batch, std::string* err);

/// The batches cut short, oldest first, items included.
bool InterruptedBatches(FileSystem& fs, std::vector<BatchRecord>* batches, std::string* err);

/// The interrupted batch in the folder `folder`, if any (its head only).
bool InterruptedBatchIn(FileSystem& fs, const std::string& folder,
                        std::optional<BatchRecord>* batch, std::string* err);

/// Brings every item of the interrupted `batch` to its new name, or with `back` to its old
/// one, following the plan's order (backwards for `back`) and never replacing anything.
/// Each item is found by its identity under its old, temporary or new name. Marks the
/// journal complete (or undone) when every item got there.
bool RecoverBatch(FileSystem& fs, const BatchRecord& batch, bool back, std::string* err);

/// The identity of each plan item under its old name in `folder` (ending in a separator);
/// items that keep their names are not looked at.
bool IdentifyItems(FileSystem& fs, const std::string& folder, const RenamePlan& plan,
                   std::vector<FileIdentity>* identities, std::string* err);

/// A batch planned for `folder`, carried out under its journal: the journal is flushed
/// before the first rename and marked complete with what was done when the batch stops,
/// fails with every item settled, or ends. A journal that cannot be written refuses the
/// batch with nothing renamed. An undo (`undo_of` set) that stops part way leaves its
/// journal open instead, for the recovery to finish or take back. `plan`'s temporary names
/// are those of TemporaryStem(id).
bool ApplyJournalledRename(FileSystem& fs, const std::string& id, BatchKind kind,
                           const std::string& undo_of, const std::string& folder,
                           const RenamePlan& plan,
                           const std::function<void(std::size_t done)>& before_item,
                           const std::function<bool()>& stop_asked, RenameProgress* progress,
                           std::string* err);

/// The folder path that a batch records: `folder` made absolute, ending in a separator.
std::string AbsoluteFolder(const std::string& folder);

/// The run of `quorvane-batch recover`, and of the main window's start: every interrupted
/// batch is finished, or with `back` taken back; unset, the user is asked for each (Yes
/// finishes, No takes back). Each is reported; nothing interrupted says nothing unless
/// `say_none`. A stop asked ends the run before the next batch.
RunOutcome RecoverInterrupted(FileSystem& fs, TaskUi& ui, std::optional<bool> back,
                              bool say_none);

/// The run of an undo: the last completed batch of `folder` (any kind; empty for every
/// folder) and, when set, of `kind` is renamed back after the question. An item that was
/// moved or an old name now taken refuses the undo with nothing changed. A stop asked during
/// the renames ends it between items, its batch left cut short for RecoverInterrupted.
RunOutcome UndoLastRename(FileSystem& fs, TaskUi& ui, const std::string& folder,
                          std::optional<BatchKind> kind);

}  // namespace quorvane
