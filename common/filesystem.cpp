#include "common/filesystem.h"

#include <fnmatch.h>

#include <climits>
#include <cerrno>
#include <cstring>
#include <memory>

#include "common/path.h"
#include "common/run_frame.h"
#include "common/write_path.h"

namespace quorvane {

bool WritableFile::AppendFrom(ReadableFile& source, std::string* err) {
  // One block per thread for every append: a fresh megabyte per source would cost more than
  // copying a small file.
  constexpr size_t kBlock = 1 << 20;
  thread_local std::unique_ptr<char[]> block(new char[kBlock]);
  for (;;) {
    if (StopAskedOnThisThread()) {
      *err = kStoppedText;
      return false;
    }
    const long long got = source.Read(block.get(), kBlock, err);
    if (got < 0) return false;
    if (got == 0) return true;
    if (!Write(block.get(), static_cast<size_t>(got), err)) return false;
  }
}

namespace {

const char* Reason(int error_number) {
  switch (error_number) {
    case ENOENT: return "没有那个文件或目录";
    case EACCES: case EPERM: return "权限不够";
    case ENOSPC: return "磁盘空间不足";
    case EDQUOT: return "超出磁盘配额";
    case EROFS: return "只读文件系统";
    case EISDIR: return "是一个目录";
    case ENOTDIR: return "路径中有一部分不是目录";
    case EEXIST: return "已经存在";
    case ENAMETOOLONG: return "名称太长";
    case EIO: return "输入/输出错误";
    case EMFILE: case ENFILE: return "打开的文件太多";
    case ELOOP: return "符号链接层次太多";
    case EFBIG: return "文件太大";
    case EBUSY: return "设备或资源忙";
    default: return nullptr;
  }
}

}  // namespace

std::string DescribeFailure(const std::string& action, const std::string& path, int error_number) {
  const char* reason = Reason(error_number);
  return DescribeFailure(action, path, reason ? reason : std::strerror(error_number));
}

std::string DescribeFailure(const std::string& action, const std::string& path,
                            std::string_view reason) {
  std::string text = action + "“" + path + "”：";
  text += reason;
  return text;
}

bool FileSystem::CopyFile(const std::string& source, const std::string& target,
                          std::string* err) {
  auto in = OpenRead(source, err);
  return in && CopyFileFrom(*in, target, err);
}

bool FileSystem::CopyFileFrom(ReadableFile& source, const std::string& target,
                              std::string* err) {
  auto out = FileWrite::Begin(*this, target, err);
  if (!out) return false;
  if (out->old() && source.Identity() == out->old()->identity) {
    *err = DescribeFailure("无法复制到", target, "与源文件是同一个文件");
    return false;
  }
  if (!out->file().AppendFrom(source, err)) return false;
  out->TakeAttributes(source.Attributes());
  return out->Commit(err);
}

namespace {

// One folder copy: the destination's identity is kept once its top folder exists, so that a
// destination inside the source is never walked into. The source is read relative to open
// folders, one held per level of the walk.
class TreeCopy {
 public:
  TreeCopy(FileSystem& fs, std::string* err) : fs_(fs), err_(err) {}

  /// The copy is made under `written` and will bear `shown`: a path that would be too long
  /// under its final name is refused as the system would refuse it there.
  void WriteUnder(const std::string& written, const std::string& shown) {
    written_ = written;
    shown_ = shown;
  }

  bool Folder(FolderHandle& source, const PathEntry& from, const std::string& target) {
    PathEntry to;
    if (!fs_.Examine(target, &to, err_)) return false;
    const bool made = to.kind == EntryKind::Missing;
    if (made) {
      if (!fs_.CreateFolder(target, err_) || !fs_.Examine(target, &to, err_)) return false;
    } else if (to.kind != EntryKind::Folder) {
      *err_ = DescribeFailure("无法创建目录", target, EEXIST);
      return false;
    } else if (to.identity == from.identity) {
      *err_ = DescribeFailure("无法复制到", target, "与源目录是同一个目录");
      return false;
    }
    if (!destination_) destination_ = to.identity;
    std::vector<std::string> names;
    if (!fs_.ListEntriesIn(source, &names, err_)) return false;
    const std::string target_folder = path::WithSeparator(target);
    for (const auto& name : names)
      if (!Entry(source, name, target_folder + name)) return false;
    // A new folder takes the source's permissions last, so a read-only source still fills.
    return !made || fs_.SetPermissions(target, from.attributes.permissions, err_);
  }

 private:
  // True when the final path of `target` is one the system takes; otherwise the failure of
  // `action` on it, as the system gives it.
  bool Fits(const std::string& target, const char* action) {
    if (written_.empty() || shown_.size() + target.size() - written_.size() < PATH_MAX)
      return true;
    *err_ = DescribeFailure(action, shown_ + target.substr(written_.size()), ENAMETOOLONG);
    return false;
  }

  bool Entry(FolderHandle& folder, const std::string& name, const std::string& target) {
    PathEntry entry;
    if (!fs_.ExamineIn(folder, name, &entry, err_)) return false;
    switch (entry.kind) {
      case EntryKind::Missing:  // gone since the folder was listed
        return true;
      case EntryKind::File: {
        if (!Fits(target, "无法访问")) return false;
        const auto source = fs_.OpenReadIn(folder, name, err_);
        return source && fs_.CopyFileFrom(*source, target, err_);
      }
      case EntryKind::Folder: {
        if (entry.identity == *destination_) return true;
        if (!Fits(target, "无法访问")) return false;
        const auto source = fs_.OpenFolderIn(folder, name, err_);
        return source && Folder(*source, entry, target);
      }
      case EntryKind::Link: {
        std::string text;
        return fs_.ReadLinkIn(folder, name, &text, err_) && Fits(target, "无法创建链接") &&
               fs_.CreateLink(text, target, err_);
      }
      case EntryKind::Other:
        break;
    }
    *err_ = DescribeFailure("无法复制", folder.path() + name, "不是普通文件、目录或符号链接");
    return false;
  }

  FileSystem& fs_;
  std::string* err_;
  std::optional<FileIdentity> destination_;
  std::string written_, shown_;
};

// Every mention of `from` in `text` reads `to` instead.
void ReplaceAll(std::string* text, const std::string& from, const std::string& to) {
  for (auto at = text->find(from); at != std::string::npos; at = text->find(from, at + to.size()))
    text->replace(at, from.size(), to);
}

}  // namespace

bool ReadWholeFile(FileSystem& fs, const std::string& path, std::string* bytes,
                   std::string* err) {
  auto file = fs.OpenRead(path, err);
  if (!file) return false;
  bytes->clear();
  char block[1 << 16];
  for (;;) {
    const long long got = file->Read(block, sizeof block, err);
    if (got < 0) return false;
    if (got == 0) break;
    bytes->append(block, static_cast<size_t>(got));
  }
  bytes->shrink_to_fit();
  return true;
}

// One open folder is held per level.
bool EmptyFolder(FileSystem& fs, FolderHandle& folder, std::string* err) {
  std::vector<std::string> names;
  if (!fs.ListEntriesIn(folder, &names, err)) return false;
  for (const auto& name : names) {
    PathEntry entry;
    if (!fs.ExamineIn(folder, name, &entry, err)) return false;
    if (entry.kind == EntryKind::Missing) continue;
    if (entry.kind != EntryKind::Folder) {
      if (!fs.DeleteFileIn(folder, name, err)) return false;
      continue;
    }
    const auto inner = fs.OpenFolderIn(folder, name, err);
    if (!inner || !EmptyFolder(fs, *inner, err) || !fs.DeleteFolderIn(folder, name, err))
      return false;
  }
  return true;
}

bool RemoveTree(FileSystem& fs, const std::string& path, std::string* err) {
  PathEntry entry;
  if (!fs.Examine(path, &entry, err)) return false;
  if (entry.kind == EntryKind::Missing) return true;
  if (entry.kind != EntryKind::Folder) return fs.DeleteFile(path, err);
  const auto folder = fs.OpenFolder(path, err);
  return folder && EmptyFolder(fs, *folder, err) && fs.DeleteFolder(path, err);
}

bool FileSystem::CopyFolder(const std::string& source, const std::string& target,
                            std::string* err) {
  PathEntry from;  // a final separator makes the system follow a link to a folder
  if (!Examine(path::WithSeparator(source), &from, err)) return false;
  if (from.kind != EntryKind::Folder) {
    *err = DescribeFailure("无法读取目录", source, ENOENT);
    return false;
  }
  const auto folder = OpenFolder(source, err);
  if (!folder) return false;
  PathEntry there;
  if (!Examine(target, &there, err)) return false;
  if (there.kind != EntryKind::Missing) return TreeCopy(*this, err).Folder(*folder, from, target);

  // A new folder is filled under a temporary name, so that it appears whole or not at all;
  // messages name the folder the user asked for.
  std::string shown = target;
  while (shown.size() > 1 && path::IsSeparator(shown.back())) shown.pop_back();
  const auto pending = OpenPendingFolder(path::FolderPart(shown), shown, err);
  if (!pending) return false;
  TreeCopy copy(*this, err);
  copy.WriteUnder(pending->path(), shown);
  if (!copy.Folder(*folder, from, pending->path()) ||
      !pending->SetPermissions(from.attributes.permissions, err)) {
    ReplaceAll(err, pending->path(), shown);
    return false;
  }
  if (!RenameNoReplace(pending->path(), shown, err)) {
    std::string ignored;
    if (Examine(shown, &there, &ignored) && there.kind != EntryKind::Missing)
      *err = DescribeFailure("无法创建目录", target, EEXIST);
    return false;
  }
  return pending->Keep(err);
}

}  // namespace quorvane

namespace quorvane {

std::string DescribeNotRegular(const std::string& action, const std::string& path) {
  return DescribeFailure(action, path, std::string_view("不是普通文件"));
}

bool WildcardMatch(const std::string& pattern, const char* name) {
  // Every name, as fnmatch says too, without converting each name to wide characters first.
  if (pattern == "*" || pattern == "*.*") return true;
  if (::fnmatch(pattern.c_str(), name, 0) == 0) return true;
  return pattern.ends_with(".*") &&
         ::fnmatch(pattern.substr(0, pattern.size() - 2).c_str(), name, 0) == 0;
}

}  // namespace quorvane
