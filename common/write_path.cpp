#include "common/write_path.h"

#include <cerrno>
#include <random>

#include "common/path.h"

namespace quorvane {
namespace {

// The kernel gives up after forty links too.
constexpr int kMaxLinks = 40;

// A fresh name under the reserved prefix in `folder`, for a file on its way to a name taken.
std::string TemporaryName(const std::string& folder) {
  static constexpr char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
  thread_local std::mt19937_64 random{std::random_device{}()};
  std::string name = folder + kTemporaryPrefix;
  for (int i = 0; i < 12; ++i) name += kDigits[random() % 36];
  return name;
}

}  // namespace

bool FollowLinks(FileSystem& fs, const std::string& target, std::string* final_path,
                 PathEntry* entry, std::string* err) {
  std::string at = target;
  for (int links = 0; links <= kMaxLinks; ++links) {
    if (!fs.Examine(at, entry, err)) return false;
    if (entry->kind != EntryKind::Link) {
      *final_path = at;
      return true;
    }
    std::string text;
    if (!fs.ReadLink(at, &text, err)) return false;
    at = path::IsSeparator(text.front()) ? text : path::FolderPart(at) + text;
  }
  *err = DescribeFailure("无法写入文件", target, ELOOP);
  return false;
}

std::unique_ptr<FileWrite> FileWrite::Begin(FileSystem& fs, const std::string& target,
                                            std::string* err) {
  std::string final_path;
  PathEntry there;
  if (!FollowLinks(fs, target, &final_path, &there, err)) return nullptr;
  std::optional<PathEntry> old;
  switch (there.kind) {
    case EntryKind::Missing:
      break;
    case EntryKind::File:
      old = there;
      break;
    case EntryKind::Folder:
      *err = DescribeFailure("无法写入文件", target, EISDIR);
      return nullptr;
    case EntryKind::Link:
    case EntryKind::Other:
      *err = DescribeNotRegular("无法写入文件", target);
      return nullptr;
  }
  auto file = fs.OpenPending(path::FolderPart(final_path), target, err);
  if (!file) return nullptr;
  return std::unique_ptr<FileWrite>(
      new FileWrite(fs, target, std::move(final_path), std::move(old), std::move(file)));
}

FileWrite::FileWrite(FileSystem& fs, std::string target, std::string final_path,
                     std::optional<PathEntry> old, std::unique_ptr<PendingFile> file)
    : fs_(fs),
      target_(std::move(target)),
      final_(std::move(final_path)),
      old_(std::move(old)),
      file_(std::move(file)) {}

// The pending file removes itself unless it was kept.
FileWrite::~FileWrite() = default;

bool FileWrite::Commit(std::string* err) {
  if (attributes_) {
    if (!file_->SetAttributes(*attributes_, err)) return false;
  } else if (old_ && !file_->SetPermissions(old_->attributes.permissions, err)) {
    return false;
  }
  if (!old_) {
    // A new name needs no flush: before the link there was nothing to lose.
    if (file_->Name(final_, err)) {
      file_->Keep();
      return file_->Close(err);
    }
    PathEntry now;
    std::string ignored;
    if (!fs_.Examine(final_, &now, &ignored) || now.kind != EntryKind::File) return false;
    old_ = now;  // another program made the file meanwhile: it is replaced like any other
  }
  return Replace(err);
}

// The old content is at stake: the new bytes reach the disk before the rename, and the
// rename before the run goes on. An old file that was empty has nothing at stake.
bool FileWrite::Replace(std::string* err) {
  const bool flush = old_->size > 0;
  if (flush && !file_->Sync(err)) return false;
  for (int attempt = 0; file_->name().empty(); ++attempt) {
    const std::string temporary = TemporaryName(path::FolderPart(final_));
    if (file_->Name(temporary, err)) break;
    PathEntry there;  // a name another file bears is passed over; any other failure ends
    std::string ignored;
    if (attempt >= 100 || !fs_.Examine(temporary, &there, &ignored) ||
        there.kind == EntryKind::Missing)
      return false;
  }
  // An empty old file (the one a merge makes when the user agrees to a new destination) is
  // swapped with the new one in one step and then removed: a rename over it would do as well,
  // but some file systems (ext4) then write the new file out at once, as costly as a flush.
  PathEntry now;
  std::string ignored;
  const bool swapped = !flush && fs_.Examine(final_, &now, &ignored) &&
                       now.kind == EntryKind::File && now.size == 0 &&
                       fs_.Exchange(file_->name(), final_);
  if (!swapped && !fs_.Rename(file_->name(), final_, err)) {
    if (final_ != target_) *err = DescribeFailure("无法写入文件", target_, *err);
    return false;
  }
  file_->Keep();
  if (swapped) fs_.DeleteFile(file_->name(), &ignored);
  if (flush && !fs_.SyncFolder(path::FolderPart(final_), err)) return false;
  return file_->Close(err);
}

bool ReplaceWithCopy(FileSystem& fs, const std::string& source, const std::string& target,
                     std::string* err) {
  auto in = fs.OpenRead(source, err);
  if (!in) return false;
  auto out = FileWrite::Begin(fs, target, err);
  return out && out->file().AppendFrom(*in, err) && out->Commit(err);
}

}  // namespace quorvane
