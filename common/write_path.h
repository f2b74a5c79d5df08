#pragma once

#include <memory>
#include <optional>
#include <string>

#include "common/filesystem.h"

/// The one way every task writes a file: the bytes go into a pending file in the final
/// name's own folder, and the file takes that name only when it is complete. A kill at any
/// moment leaves the final name with its old content or its whole new content.
namespace quorvane {

/// One file being written for `target`.
///
/// A new name is given by a link that fails when the name was taken meanwhile (then the
/// file replaces what appeared, as it would have). An old file is replaced by rename(2): the
/// new file is flushed before and the folder after, as the old content is at stake; the new
/// file keeps the old one's permission bits. A target that is a symbolic link has the file
/// it leads to replaced, in that file's folder, and the link stays.
class FileWrite {
 public:
  /// Begins writing for `target`. Refused when `target` (links followed) is a folder or
  /// anything else that is not a regular file.
  static std::unique_ptr<FileWrite> Begin(FileSystem& fs, const std::string& target,
                                          std::string* err);
  ~FileWrite();
  FileWrite(const FileWrite&) = delete;
  FileWrite& operator=(const FileWrite&) = delete;

  /// Where the bytes go.
  WritableFile& file() { return *file_; }
  /// The file reached through any links, that the result replaces or creates.
  const std::string& final_path() const { return final_; }
  /// The file there to replace when the write began, if any.
  const std::optional<PathEntry>& old() const { return old_; }
  /// The result takes `attributes` (a copy keeps its source's) instead of the old file's
  /// permission bits.
  void TakeAttributes(const FileAttributes& attributes) { attributes_ = attributes; }

  /// Gives the complete file its final name; after a failure nothing of it is left.
  bool Commit(std::string* err);

 private:
  FileWrite(FileSystem& fs, std::string target, std::string final_path,
            std::optional<PathEntry> old, std::unique_ptr<PendingFile> file);
  bool Replace(std::string* err);

  FileSystem& fs_;
  const std::string target_;  // as the user named it, for messages
  const std::string final_;
  std::optional<PathEntry> old_;
  std::optional<FileAttributes> attributes_;
  std::unique_ptr<PendingFile> file_;
};

/// Where `target` leads: the path of the last link's target (relative texts taken from the
/// folder of the link that holds them), or `target` itself when it is no link; `entry` is
/// what is there.
bool FollowLinks(FileSystem& fs, const std::string& target, std::string* final_path,
                 PathEntry* entry, std::string* err);

/// Writes a copy of the regular file `source` over `target` through the write path; the
/// result keeps the old target's permission bits (a merge result put in place).
bool ReplaceWithCopy(FileSystem& fs, const std::string& source, const std::string& target,
                     std::string* err);

}  // namespace quorvane
