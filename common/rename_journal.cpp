#include "common/rename_journal.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "common/path.h"

namespace quorvane {
namespace {

constexpr const char* kVersionLine = "quorvane-rename-journal 1\n";
constexpr std::size_t kKeptBatches = 10;
constexpr std::string_view kOpen = ".journal", kDone = ".done", kUndone = ".undone";
constexpr std::string_view kTemporaryPrefix = ".quorvane-";

using Kind = RenameStep::Kind;

// ---- the record's text ----------------------------------------------------------------
// One line a field; every name is written as its length in bytes, ":" and the bytes, so a
// name holding a newline, a space or any byte but NUL reads back as it was.

void PutBytes(std::string* out, std::string_view bytes) {
  out->append(std::to_string(bytes.size())).push_back(':');
  out->append(bytes);
}

void PutIdentity(std::string* out, const FileIdentity& id) {
  out->append(std::to_string(id.device)).push_back(' ');
  out->append(std::to_string(id.inode));
}

// Reads the record's text from the front; `ok` turns false at the first thing out of place.
class Reader {
 public:
  explicit Reader(std::string_view text) : text_(text) {}

  bool ok() const { return ok_; }
  bool AtEnd() const { return pos_ >= text_.size(); }

  void Literal(std::string_view literal) {
    if (ok_ && text_.substr(pos_, literal.size()) == literal)
      pos_ += literal.size();
    else
      ok_ = false;
  }
  unsigned long long Number() {
    unsigned long long value = 0;
    const std::size_t start = pos_;
    while (ok_ && pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '9') {
      if (value > (~0ULL - 9) / 10) ok_ = false;
      value = value * 10 + static_cast<unsigned>(text_[pos_++] - '0');
    }
    if (pos_ == start || pos_ - start > 20) ok_ = false;
    return value;
  }
  std::string Bytes() {
    const auto size = Number();
    Literal(":");
    if (!ok_ || size > text_.size() - pos_) {
      ok_ = false;
      return {};
    }
    std::string bytes(text_.substr(pos_, size));
    pos_ += size;
    return bytes;
  }
  FileIdentity Identity() {
    FileIdentity id;
    id.device = Number();
    Literal(" ");
    id.inode = Number();
    return id;
  }
  // The text up to the next blank or newline, which stays unread.
  std::string_view Word() {
    const std::size_t end = text_.find_first_of(" \n", pos_);
    if (!ok_ || end == std::string_view::npos) {
      ok_ = false;
      return {};
    }
    const std::string_view word = text_.substr(pos_, end - pos_);
    pos_ = end;
    return word;
  }

 private:
  std::string_view text_;
  std::size_t pos_ = 0;
  bool ok_ = true;
};

const char* KindWord(BatchKind kind) { return kind == BatchKind::Files ? "files" : "folders"; }

// The head of a record: everything up to the items. False when `text` holds less, or is no
// record.
bool ReadHead(Reader& in, BatchRecord* batch) {
  in.Literal(kVersionLine);
  in.Literal("batch ");
  batch->id = in.Word();
  in.Literal("\nkind ");
  const std::string_view kind = in.Word();
  batch->kind = kind == "folders" ? BatchKind::Folders : BatchKind::Files;
  if (kind != "files" && kind != "folders") return false;
  in.Literal("\nundo-of ");
  batch->undo_of = in.Bytes();
  in.Literal("\nfolder ");
  batch->folder_identity = in.Identity();
  in.Literal(" ");
  batch->folder = in.Bytes();
  in.Literal("\nitems ");
  batch->item_count = in.Number();
  in.Literal("\n");
  return in.ok();
}

// The items, the end mark and the records after it.
bool ReadBody(Reader& in, BatchRecord* batch) {
  batch->items.clear();
  batch->identities.clear();
  batch->temporaries.clear();
  for (std::size_t i = 0; i < batch->item_count && in.ok(); ++i) {
    batch->identities.push_back(in.Identity());
    in.Literal(" ");
    RenameItem item;
    item.old_name = in.Bytes();
    in.Literal(" ");
    item.new_name = in.Bytes();
    in.Literal(" ");
    batch->temporaries.push_back(in.Bytes());
    in.Literal("\n");
    batch->items.push_back(std::move(item));
  }
  in.Literal("end\n");
  batch->state = BatchState::Open;
  while (in.ok() && !in.AtEnd()) {
    const std::string_view word = in.Word();
    if (word == "complete") {
      in.Literal(" ");
      batch->steps_done = in.Number();
      batch->state = BatchState::Complete;
    } else if (word == "undone") {
      batch->state = BatchState::Undone;
    } else {
      return false;
    }
    in.Literal("\n");
  }
  return in.ok();
}

// Reads the journal `batch->journal`: only as far as the head without `whole`. False with
// an empty `err` when the file is no record.
bool ReadRecord(FileSystem& fs, bool whole, BatchRecord* batch, std::string* err) {
  auto file = fs.OpenRead(batch->journal, err);
  if (!file) return false;
  std::string text;
  for (;;) {
    const std::size_t had = text.size();
    text.resize(had + (1 << 16));
    const long long got = file->Read(text.data() + had, 1 << 16, err);
    if (got < 0) return false;
    text.resize(had + static_cast<std::size_t>(got));
    if (got == 0) break;
    if (!whole) {
      Reader head(text);
      if (ReadHead(head, batch)) return true;
    }
  }
  err->clear();
  Reader in(text);
  return ReadHead(in, batch) && (!whole || ReadBody(in, batch));
}

// ---- the disk ---------------------------------------------------------------------------

// A lock on the journal `path` that no other holder has: the open descriptor that holds it,
// or -1 (errno EWOULDBLOCK when someone holds it).
int TryLock(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return fd;
  const int error = errno;
  ::close(fd);
  errno = error;
  return -1;
}

void Unlock(int* fd) {
  if (*fd >= 0) ::close(*fd);
  *fd = -1;
}

// Appends `line` to the journal `path` and flushes it.
bool Append(const std::string& path, const std::string& line, std::string* err) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  bool ok = fd >= 0 && ::write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size()) &&
            ::fsync(fd) == 0;
  if (!ok) *err = DescribeFailure("无法写入文件", path, errno);
  if (fd >= 0) ok = ::close(fd) == 0 && ok;
  return ok;
}

bool EndsWith(std::string_view text, std::string_view end) {
  return text.size() > end.size() && text.substr(text.size() - end.size()) == end;
}

// Appends the record `line` to `journal` and flushes it, then gives the journal the name of
// its state (`<id>.done`, `<id>.undone`). The record decides: a new name lost to a power
// cut is given again by the next reader, so the folder is not flushed for it.
bool Mark(FileSystem& fs, const std::string& journal, const std::string& line,
          std::string_view ending, std::string* err) {
  if (!Append(journal, line, err)) return false;
  const std::string marked = journal.substr(0, journal.rfind('.')) + std::string(ending);
  return marked == journal || fs.Rename(journal, marked, err);
}

// Removes the records of completed batches older than the last kKeptBatches, and files left
// by a journal write that was cut short. Nothing here fails the batch.
void Prune(FileSystem& fs, const std::string& folder) {
  std::vector<std::string> names;
  std::string err;
  if (!fs.ListEntries(folder, &names, &err)) return;
  std::vector<std::string> ids;
  for (const std::string& name : names) {
    if (EndsWith(name, kOpen) || EndsWith(name, kDone) || EndsWith(name, kUndone))
      ids.push_back(name.substr(0, name.rfind('.')));
    else if (name.starts_with(kTemporaryPrefix)) {
      int lock = TryLock(folder + name);
      if (lock >= 0) fs.DeleteFile(folder + name, &err);
      Unlock(&lock);
    }
  }
  std::sort(ids.begin(), ids.end());
  ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
  if (ids.size() <= kKeptBatches) return;
  ids.resize(ids.size() - kKeptBatches);
  for (const std::string& name : names) {
    if (!EndsWith(name, kDone) && !EndsWith(name, kUndone)) continue;
    if (std::binary_search(ids.begin(), ids.end(), name.substr(0, name.rfind('.'))))
      fs.DeleteFile(folder + name, &err);
  }
}

// The temporary name of each item of `plan`, as the index of its cycle; kNoCycle for an item
// that takes none.
constexpr std::uint32_t kNoCycle = ~std::uint32_t{0};
std::vector<std::uint32_t> CycleOfItems(const RenamePlan& plan) {
  std::vector<std::uint32_t> cycle_of(plan.items.size(), kNoCycle);
  std::uint32_t cycle = 0;
  for (const RenameStep& step : plan.steps)
    if (step.kind == Kind::ToTemporary) cycle_of[step.item] = cycle++;
  return cycle_of;
}

}  // namespace

// ---- the journal folder and ids ---------------------------------------------------------

bool JournalFolder(FileSystem& fs, bool create, std::string* folder, std::string* err) {
  const char* state = std::getenv("XDG_STATE_HOME");
  if (state && state[0] == '/') {
    *folder = path::WithSeparator(state);
  } else {
    const char* home = std::getenv("HOME");
    if (!home || home[0] == '\0') {
      const passwd* user = ::getpwuid(::getuid());
      home = user ? user->pw_dir : nullptr;
    }
    if (!home || home[0] == '\0') {
      *err = "无法确定保存重命名记录的目录（没有设置 HOME）";
      return false;
    }
    *folder = path::WithSeparator(home) + ".local/state/";
  }
  *folder += "quorvane/";
  if (!create) return true;
  // Each missing level in turn, from the first that is missing.
  for (std::size_t end = folder->find('/', 1); end != std::string::npos;
       end = folder->find('/', end + 1)) {
    const std::string level = folder->substr(0, end);
    if (!fs.FolderExists(level) && !fs.CreateFolder(level, err)) return false;
  }
  return true;
}

std::string NewBatchId() {
  static std::atomic<long long> last{0};
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  long long stamp = static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
  // Two batches of one process never share a stamp.
  long long seen = last.load();
  while (!last.compare_exchange_weak(seen, std::max(stamp, seen + 1))) {
  }
  stamp = std::max(stamp, seen + 1);
  const time_t seconds = static_cast<time_t>(stamp / 1000000000LL);
  tm utc{};
  ::gmtime_r(&seconds, &utc);
  char text[64];
  std::snprintf(text, sizeof text, "%04d%02d%02dT%02d%02d%02d.%09lld-%ld", utc.tm_year + 1900,
                utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                stamp % 1000000000LL, static_cast<long>(::getpid()));
  return text;
}

std::string TemporaryStem(const std::string& id) { return kTemporaryStem + id + "-"; }

std::string AbsoluteFolder(const std::string& folder) {
  std::string absolute = folder;
  if (!absolute.starts_with('/')) {
    std::string cwd(4096, '\0');
    while (!::getcwd(cwd.data(), cwd.size())) {
      if (errno != ERANGE) return path::WithSeparator(folder);
      cwd.resize(cwd.size() * 2);
    }
    cwd.resize(cwd.find('\0'));
    absolute = path::WithSeparator(cwd) + (folder == "." || folder == "./" ? "" : folder);
  }
  return path::WithSeparator(absolute);
}

// ---- one batch's journal ----------------------------------------------------------------

RenameJournal::~RenameJournal() = default;

void RenameJournal::Abandon() { held_.reset(); }

bool RenameJournal::Begin(FileSystem& fs, const std::string& id, BatchKind kind,
                          const std::string& undo_of, const std::string& folder,
                          const RenamePlan& plan, const std::vector<FileIdentity>& identities,
                          std::string* err) {
  if (!JournalFolder(fs, true, &folder_, err)) return false;
  id_ = id;
  const std::vector<std::uint32_t> cycle_of = CycleOfItems(plan);
  std::size_t changing = 0;
  for (const RenameItem& item : plan.items) changing += item.old_name != item.new_name;
  const FileIdentity folder_id = fs.Identify(folder).value_or(FileIdentity{});

  std::string text = kVersionLine;
  text.append("batch ").append(id).append("\nkind ").append(KindWord(kind));
  text.append("\nundo-of ");
  PutBytes(&text, undo_of);
  text.append("\nfolder ");
  PutIdentity(&text, folder_id);
  text.push_back(' ');
  PutBytes(&text, folder);
  text.append("\nitems ").append(std::to_string(changing)).push_back('\n');
  for (std::size_t i = 0; i < plan.items.size(); ++i) {
    const RenameItem& item = plan.items[i];
    if (item.old_name == item.new_name) continue;
    PutIdentity(&text, identities[i]);
    text.push_back(' ');
    PutBytes(&text, item.old_name);
    text.push_back(' ');
    PutBytes(&text, item.new_name);
    text.push_back(' ');
    PutBytes(&text, cycle_of[i] == kNoCycle ? std::string_view() : plan.temporaries[cycle_of[i]]);
    text.push_back('\n');
  }
  text.append("end\n");

  // The record is whole under a hidden name, locked and on the disk before it takes its
  // journal name, so a journal that nobody holds is always a whole plan.
  // A lock that the file system cannot give (ENOLCK) only leaves the batch unguarded.
  // The pending file keeps its lock once it is named, for as long as the batch runs.
  path_ = folder_ + id + std::string(kOpen);
  auto file = fs.OpenPending(folder_, path_, err);
  if (!file) return false;
  file->Lock();
  if (file->Write(text.data(), text.size(), err) && file->Sync(err) &&
      file->Name(path_, err) && fs.SyncFolder(folder_, err)) {
    file->Keep();
    held_ = std::move(file);
    return true;
  }
  // No journal of a batch that never started may stay behind: it would be finished later.
  // The pending file takes its name away with it.
  return false;
}

bool RenameJournal::Complete(FileSystem& fs, std::size_t steps_done, std::string* err) {
  const bool marked = Mark(fs, path_, "complete " + std::to_string(steps_done) + "\n", kDone, err);
  held_.reset();
  if (marked) Prune(fs, folder_);
  return marked;
}

// ---- reading the journals ---------------------------------------------------------------

bool ListBatches(FileSystem& fs, std::vector<BatchRecord>* batches, std::string* err) {
  batches->clear();
  std::string folder;
  if (!JournalFolder(fs, false, &folder, err)) return false;
  if (!fs.FolderExists(folder)) return true;
  std::vector<std::string> names;
  if (!fs.ListEntries(folder, &names, err)) return false;
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    BatchRecord batch;
    batch.journal = folder + name;
    const bool open = EndsWith(name, kOpen);
    if (!open && !EndsWith(name, kDone) && !EndsWith(name, kUndone)) continue;
    int lock = -1;
    if (open) {
      lock = TryLock(batch.journal);
      if (lock < 0) continue;  // a live batch, or one that is gone already
    }
    const bool read = ReadRecord(fs, open, &batch, err);
    Unlock(&lock);
    if (!read) {
      if (!err->empty()) return false;
      continue;  // no record of ours
    }
    if (!open) {
      batch.state = EndsWith(name, kDone) ? BatchState::Complete : BatchState::Undone;
    } else if (batch.state != BatchState::Open) {
      // Cut short between its last record and its new name: the name follows now.
      const std::string marked = folder + batch.id +
                                 std::string(batch.state == BatchState::Complete ? kDone : kUndone);
      std::string ignored;
      if (fs.Rename(batch.journal, marked, &ignored)) batch.journal = marked;
    }
    batches->push_back(std::move(batch));
  }
  return true;
}

bool ReadBatch(FileSystem& fs, BatchRecord* batch, std::string* err) {
  const BatchState state = batch->state;
  if (ReadRecord(fs, true, batch, err)) {
    if (state != BatchState::Open) batch->state = state;
    return true;
  }
  if (err->empty()) *err = DescribeFailure("无法读取重命名记录", batch->journal, "格式不对");
  return false;
}

bool InterruptedBatches(FileSystem& fs, std::vector<BatchRecord>* batches, std::string* err) {
  std::vector<BatchRecord> all;
  if (!ListBatches(fs, &all, err)) return false;
  batches->clear();
  for (BatchRecord& batch : all)
    if (batch.state == BatchState::Open) batches->push_back(std::move(batch));
  return true;
}

namespace {

// Whether `batch` was made in the folder whose identity is `identity`, typed as `absolute`:
// the same folder, reached by the path the record holds or by the one typed now. A record of
// a folder since removed, whose identity the system gave to another, does not match.
bool MadeIn(FileSystem& fs, const BatchRecord& batch, const FileIdentity& identity,
            const std::string& absolute) {
  if (batch.folder_identity != identity) return false;
  return batch.folder == absolute || fs.Identify(batch.folder) == identity;
}

}  // namespace

bool InterruptedBatchIn(FileSystem& fs, const std::string& folder,
                        std::optional<BatchRecord>* batch, std::string* err) {
  batch->reset();
  std::vector<BatchRecord> open;
  if (!InterruptedBatches(fs, &open, err)) return false;
  const auto identity = fs.Identify(folder);
  const std::string absolute = AbsoluteFolder(folder);
  for (BatchRecord& b : open) {
    if (identity ? MadeIn(fs, b, *identity, absolute) : b.folder == absolute) {
      *batch = std::move(b);
      return true;
    }
  }
  return true;
}

// ---- recovery ---------------------------------------------------------------------------

namespace {

// Where an item of a batch is now, in the order its renames take it.
enum Place { kOld = 0, kTemporary = 1, kNew = 2, kNowhere = 3 };

class Recovery {
 public:
  Recovery(FileSystem& fs, const BatchRecord& batch) : fs_(fs), batch_(batch) {}

  // Takes item `i` to `to` from wherever it is, unless it is there or further along
  // (`forward`) or back (`!forward`) already.
  bool Bring(std::uint32_t i, Place to, bool forward, std::string* err) {
    Place at = kNowhere;
    if (!Find(i, &at, err)) return false;
    if (at == kNowhere) {
      *err = "找不到“" + PathOf(i, kOld) + "”：它已不在原名称或新名称下";
      return false;
    }
    if (forward ? at >= to : at <= to) return true;
    if (fs_.RenameNoReplace(PathOf(i, at), PathOf(i, to), err)) return true;
    *err = "“" + PathOf(i, kOld) + "”" + *err;
    return false;
  }

 private:
  std::string PathOf(std::uint32_t i, Place place) const {
    const RenameItem& item = batch_.items[i];
    return batch_.folder + (place == kOld   ? item.old_name
                            : place == kNew ? item.new_name
                                            : batch_.temporaries[i]);
  }

  bool Find(std::uint32_t i, Place* at, std::string* err) {
    for (Place place : {kNew, kOld, kTemporary}) {
      if (place == kTemporary && batch_.temporaries[i].empty()) continue;
      PathEntry entry;
      if (!fs_.Examine(PathOf(i, place), &entry, err)) return false;
      if (entry.kind != EntryKind::Missing && entry.identity == batch_.identities[i]) {
        *at = place;
        return true;
      }
    }
    *at = kNowhere;
    return true;
  }

  FileSystem& fs_;
  const BatchRecord& batch_;
};

// The plan of a recorded batch, its steps worked out again: the planner orders a batch
// the same way each time.
bool Replan(const BatchRecord& batch, RenamePlan* plan, std::string* err) {
  if (!PlanRename(batch.items, [](const std::string&) { return false; }, plan) &&
      batch.identities.size() == batch.items.size() &&
      batch.temporaries.size() == batch.items.size())
    return true;
  *err = DescribeFailure("无法读取重命名记录", batch.journal, "格式不对");
  return false;
}

// Marks the batch `id` undone, its record found in the journal folder.
bool MarkUndone(FileSystem& fs, const std::string& id, std::string* err) {
  std::string folder;
  if (!JournalFolder(fs, false, &folder, err)) return false;
  const std::string done = folder + id + std::string(kDone);
  if (!fs.FileExists(done)) return true;  // pruned, or marked already
  return Mark(fs, done, "undone\n", kUndone, err);
}

}  // namespace

bool RecoverBatch(FileSystem& fs, const BatchRecord& batch, bool back, std::string* err) {
  int lock = TryLock(batch.journal);
  if (lock < 0) {
    *err = DescribeFailure("无法锁定重命名记录", batch.journal, errno);
    return false;
  }
  BatchRecord whole = batch;
  RenamePlan plan;
  bool ok = (!whole.items.empty() || whole.item_count == 0 || ReadBatch(fs, &whole, err)) &&
            Replan(whole, &plan, err);
  Recovery recovery(fs, whole);
  if (ok && !back) {
    for (const RenameStep& step : plan.steps) {
      const Place to = step.kind == Kind::ToTemporary ? kTemporary : kNew;
      if (!(ok = recovery.Bring(step.item, to, true, err))) break;
    }
    ok = ok && Mark(fs, whole.journal, "complete " + std::to_string(plan.steps.size()) + "\n",
                    kDone, err) &&
         (whole.undo_of.empty() || MarkUndone(fs, whole.undo_of, err));
  } else if (ok) {
    for (auto step = plan.steps.rbegin(); step != plan.steps.rend(); ++step) {
      const Place to = step->kind == Kind::FromTemporary ? kTemporary : kOld;
      if (!(ok = recovery.Bring(step->item, to, false, err))) break;
    }
    ok = ok && Mark(fs, whole.journal, "undone\n", kUndone, err);
  }
  Unlock(&lock);
  return ok;
}

// ---- a journalled batch -----------------------------------------------------------------

bool IdentifyItems(FileSystem& fs, const std::string& folder, const RenamePlan& plan,
                   std::vector<FileIdentity>* identities, std::string* err) {
  identities->assign(plan.items.size(), FileIdentity{});
  // Each name looked up from the folder itself: a hundred thousand lookups cost a third of
  // what whole paths cost. The file-system layer answers where the folder cannot be opened.
  const int dir = ::open(folder.empty() ? "." : folder.c_str(),
                         O_PATH | O_DIRECTORY | O_CLOEXEC);
  std::string path;
  bool ok = true;
  for (std::size_t i = 0; ok && i < plan.items.size(); ++i) {
    const RenameItem& item = plan.items[i];
    if (item.old_name == item.new_name) continue;
    path.assign(folder).append(item.old_name);
    struct stat st;
    if (dir >= 0 && ::fstatat(dir, item.old_name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
      (*identities)[i] = {static_cast<unsigned long long>(st.st_dev),
                          static_cast<unsigned long long>(st.st_ino)};
      continue;
    }
    PathEntry entry;
    if (!(ok = fs.Examine(path, &entry, err))) break;
    if (entry.kind == EntryKind::Missing) {
      *err = DescribeFailure("无法访问", path, ENOENT);
      ok = false;
    }
    (*identities)[i] = entry.identity;
  }
  if (dir >= 0) ::close(dir);
  return ok;
}

bool ApplyJournalledRename(FileSystem& fs, const std::string& id, BatchKind kind,
                           const std::string& undo_of, const std::string& folder,
                           const RenamePlan& plan,
                           const std::function<void(std::size_t done)>& before_item,
                           const std::function<bool()>& stop_asked, RenameProgress* progress,
                           std::string* err) {
  if (plan.steps.empty())
    return ApplyRename(fs, folder, plan, before_item, stop_asked, progress, err);
  std::vector<FileIdentity> identities;
  RenameJournal journal;
  if (!IdentifyItems(fs, folder, plan, &identities, err) ||
      !journal.Begin(fs, id, kind, undo_of, AbsoluteFolder(folder), plan, identities, err)) {
    *progress = RenameProgress{};
    return false;
  }
  const bool applied = ApplyRename(fs, folder, plan, before_item, stop_asked, progress, err);
  if (applied && progress->stopped && !undo_of.empty()) {
    // Half an undo is neither the batch nor its undo: it stays open for the recovery to
    // finish or take back.
    journal.Abandon();
    return true;
  }
  if (!progress->settled) {
    // Items wait under temporary names: the journal stays open for the recovery.
    *err += "；请运行 quorvane-batch recover 恢复";
    journal.Abandon();
    return false;
  }
  std::string mark_err;
  if (journal.Complete(fs, progress->steps, &mark_err)) return applied;
  if (applied) *err = mark_err;
  return false;
}

// ---- the runs ---------------------------------------------------------------------------

RunOutcome RecoverInterrupted(FileSystem& fs, TaskUi& ui, std::optional<bool> back,
                              bool say_none) {
  RunFrame frame(ui);
  return frame.Guard([&] {
    std::string err;
    std::vector<BatchRecord> batches;
    if (!InterruptedBatches(fs, &batches, &err)) return frame.Fail(err);
    if (batches.empty() && say_none)
      ui.Message("没有中断的重命名。", Icon::Information, Buttons::Ok, kAppTitle);
    for (std::size_t done = 0; done < batches.size(); ++done) {
      // A stop between batches leaves the rest cut short, as they were.
      if (frame.StopAsked())
        return frame.Stopped(static_cast<long long>(done),
                             static_cast<long long>(batches.size()));
      const BatchRecord& batch = batches[done];
      const std::string where = "“" + batch.folder + "”";
      const std::string count = "共 " + std::to_string(batch.items.size()) + " 个项目";
      bool undo = back.value_or(false);
      if (!back)
        undo = ui.Message("上次在" + where + "中的重命名被中断了（" + count +
                              "）。是否完成它？选“是”完成重命名，选“否”恢复原来的名称。",
                          Icon::Question, Buttons::YesNo, kAppTitle) != Answer::Yes;
      frame.Begin();
      if (!RecoverBatch(fs, batch, undo, &err)) return frame.Fail(err);
      frame.Report((undo ? "已撤销上次中断的重命名：" : "已完成上次中断的重命名：") + where +
                   "，" + count + "。");
    }
    return RunOutcome::Completed;
  });
}

RunOutcome UndoLastRename(FileSystem& fs, TaskUi& ui, const std::string& folder,
                          std::optional<BatchKind> kind) {
  RunFrame frame(ui);
  return frame.Guard([&] {
    std::string err;
    std::optional<FileIdentity> folder_id;
    if (!folder.empty()) {
      if (!fs.FolderExists(folder)) return frame.Refuse("指定的路径不存在！");
      folder_id = fs.Identify(folder);
      std::optional<BatchRecord> open;
      if (!InterruptedBatchIn(fs, folder, &open, &err)) return frame.Fail(err);
      if (open)
        return frame.Refuse("“" + open->folder +
                            "”中上次的重命名被中断了，请先恢复它（quorvane-batch recover）！");
    }
    const char* noun = kind == BatchKind::Folders ? "目录" : kind ? "文件" : "项目";
    std::vector<BatchRecord> batches;
    if (!ListBatches(fs, &batches, &err)) return frame.Fail(err);
    // The newest completed rename run that matches; an undo is not undone in its turn, and a
    // batch whose undo completed counts as undone even before its own record says so.
    std::vector<std::string> undone;
    for (const BatchRecord& b : batches)
      if (b.state == BatchState::Complete && !b.undo_of.empty()) undone.push_back(b.undo_of);
    BatchRecord* last = nullptr;
    for (auto it = batches.rbegin(); it != batches.rend() && !last; ++it) {
      if (it->state != BatchState::Complete || !it->undo_of.empty() || it->item_count == 0 ||
          std::ranges::count(undone, it->id) > 0)
        continue;
      if ((kind && it->kind != *kind) ||
          (folder_id && !MadeIn(fs, *it, *folder_id, AbsoluteFolder(folder))))
        continue;
      if (!ReadBatch(fs, &*it, &err)) return frame.Fail(err);
      if (it->steps_done > 0) last = &*it;
    }
    if (!last)
      return frame.Refuse(folder.empty() ? std::string("没有可以撤销的") + noun + "重命名！"
                                         : "“" + folder + "”中没有可以撤销的重命名！");
    if (!kind) noun = last->kind == BatchKind::Folders ? "目录" : "文件";
    RenamePlan done_plan;
    if (!Replan(*last, &done_plan, &err)) return frame.Fail(err);

    // The items that the batch renamed, to be renamed back, each still under its new name.
    std::vector<RenameItem> back;
    for (std::size_t s = 0; s < last->steps_done && s < done_plan.steps.size(); ++s) {
      const RenameStep step = done_plan.steps[s];
      if (step.kind == Kind::FromTemporary) continue;
      const RenameItem& item = last->items[step.item];
      PathEntry entry;
      const std::string now = last->folder + item.new_name;
      if (!fs.Examine(now, &entry, &err)) return frame.Fail(err);
      if (entry.kind == EntryKind::Missing || entry.identity != last->identities[step.item])
        return frame.Refuse("“" + now + "”已被移动或改名，没有撤销任何重命名！");
      back.push_back({item.new_name, item.old_name});
    }
    const auto taken = [&](const std::string& name) {
      PathEntry entry;
      if (!fs.Examine(last->folder + name, &entry, &err)) return true;
      return entry.kind != EntryKind::Missing;
    };
    const std::string id = NewBatchId();
    RenamePlan plan;
    const auto refusal = PlanRename(std::move(back), taken, &plan, TemporaryStem(id));
    if (!err.empty()) return frame.Fail(err);
    if (refusal)
      return frame.Refuse("原来的名称“" + last->folder + refusal->name +
                          "”已被占用，没有撤销任何重命名！");
    const std::string count = "共 " + std::to_string(plan.items.size()) + " 个" + noun;
    if (!frame.Ask("是否撤销上次在“" + last->folder + "”中的重命名（" + count + "）？"))
      return RunOutcome::Refused;
    frame.Begin();
    long shown = -1;
    const auto show = [&](std::size_t done) {
      const long percent = ProgressPercent(static_cast<long long>(done),
                                           static_cast<long long>(plan.items.size()));
      if (percent == shown) return;
      frame.Progress("正在撤销重命名..." + std::to_string(percent) + "%");
      shown = percent;
    };
    RenameProgress progress;
    if (!ApplyJournalledRename(fs, id, last->kind, last->id, last->folder, plan, show,
                               [&frame] { return frame.StopAsked(); }, &progress, &err))
      return frame.Fail(err);
    if (progress.stopped)
      return frame.Stopped(static_cast<long long>(progress.items),
                           static_cast<long long>(plan.items.size()));
    if (!MarkUndone(fs, last->id, &err)) return frame.Fail(err);
    frame.Report("已撤销上次在“" + last->folder + "”中的重命名，" + count + "。");
    return RunOutcome::Completed;
  });
}

}  // namespace quorvane
