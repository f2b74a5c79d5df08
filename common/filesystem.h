#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/names.h"

namespace quorvane {

/// What makes a file itself on disk, whatever the path texts that reach it.
struct FileIdentity {
  unsigned long long device = 0;
  unsigned long long inode = 0;
  bool operator==(const FileIdentity&) const = default;
};

/// What a path names, links followed.
enum class PathKind { Missing, File, Folder, Other };

/// A file opened for reading, from its first byte. Closed when destroyed.
class ReadableFile {
 public:
  virtual ~ReadableFile() = default;
  /// Reads up to `size` bytes (fewer near the end); 0 at the end, or -1 with `err`.
  virtual long long Read(char* buffer, size_t size, std::string* err) = 0;
  /// The file that was opened; std::nullopt when the system cannot tell.
  virtual std::optional<FileIdentity> Identity() = 0;
};

/// A file opened for writing from its first byte. Closed, without a report, when destroyed.
class WritableFile {
 public:
  virtual ~WritableFile() = default;
  /// Writes all of `data` or fails.
  virtual bool Write(const char* data, size_t size, std::string* err) = 0;
  /// Appends everything from `source`'s current position to its end, in large blocks.
  virtual bool AppendFrom(ReadableFile& source, std::string* err);
  /// Flushes and closes; a failure here means bytes may not have reached the disk.
  virtual bool Close(std::string* err) = 0;
};

/// Everything the tasks do to the disk goes through this interface, so that tests can
/// replace it and make any chosen operation fail (a full disk, a refused open, a file that
/// vanished) to prove that a failure is reported and loses nothing.
class FileSystem {
 public:
  virtual ~FileSystem() = default;

  /// True when `path` names a folder (a link to one counts).
  virtual bool FolderExists(const std::string& path) = 0;
  /// True when `path` names a file that is not a folder.
  virtual bool FileExists(const std::string& path) = 0;
  /// What `path` names: nothing, a regular file, a folder, or something else (a pipe, a
  /// socket, a device).
  virtual PathKind Kind(const std::string& path) = 0;
  /// Creates the one folder `path`; its parent exists.
  virtual bool CreateFolder(const std::string& path, std::string* err) = 0;
  /// Creates an empty file at `path`, emptying one that is there.
  virtual bool CreateTextFile(const std::string& path, std::string* err) = 0;
  /// The names of the normal files in `folder` that match the wildcard `pattern`, in the
  /// directory's own order. Normal: a regular file or a link to one whose name does not
  /// begin with "."; folders, sockets, pipes, devices and broken links never appear.
  virtual bool MatchFiles(const std::string& folder, const std::string& pattern,
                          Names* names, std::string* err) = 0;
  /// The names of the real subfolders of `folder`, hidden ones included; a link to a folder
  /// is not a subfolder, so a walk over them can never loop.
  virtual bool SubFolders(const std::string& folder, std::vector<std::string>* names,
                          std::string* err) = 0;
  /// The file that `path` reaches (through links); std::nullopt when none does.
  virtual std::optional<FileIdentity> Identify(const std::string& path) = 0;
  /// Opens the regular file `path` for reading. Anything else at that path (a pipe, a
  /// device, a socket, also one swapped in after the file was listed) is refused at once:
  /// an open never waits for a writer and never reads without end.
  virtual std::unique_ptr<ReadableFile> OpenRead(const std::string& path, std::string* err) = 0;
  /// Opens `path` for writing, creating it or cutting it to nothing; anything there that is
  /// not a regular file is refused without waiting.
  virtual std::unique_ptr<WritableFile> OpenWrite(const std::string& path, std::string* err) = 0;
  /// The system's temporary-files folder, as the system gives it.
  virtual bool TempFolder(std::string* path, std::string* err) = 0;
};

/// The file system of the machine the program runs on.
FileSystem& SystemFileSystem();

/// A description in the user's language of failing `action` on `path`: the action, the path
/// and the system's reason, for example 无法打开文件“/srv/a.txt”：没有那个文件或目录.
std::string DescribeFailure(const std::string& action, const std::string& path, int error_number);

/// The description for `action` on `path` when the path names no regular file.
std::string DescribeNotRegular(const std::string& action, const std::string& path);

/// True when the file name `name` matches the wildcard `pattern`: "*" any run of characters,
/// "?" one character, "[abc]" as in the shell. A pattern ending in ".*" also matches names
/// without that dot part, so "*.*" is every name and "photo.*" matches "photo".
bool WildcardMatch(const std::string& pattern, const char* name);

}  // namespace quorvane
