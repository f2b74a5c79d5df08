#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
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

/// What a copy keeps of its source: the permission bits and the modification time.
struct FileAttributes {
  unsigned permissions = 0;  // read, write and execute for owner, group and others
  long long modified_seconds = 0;
  long modified_nanoseconds = 0;
};

/// What is at a path itself; a symbolic link is not followed.
enum class EntryKind { Missing, File, Folder, Link, Other };

struct PathEntry {
  EntryKind kind = EntryKind::Missing;
  FileIdentity identity;      // when something is there
  FileAttributes attributes;  // when something is there
  long long size = 0;         // bytes, when something is there
};

/// A file opened for reading, from its first byte. Closed when destroyed.
class ReadableFile {
 public:
  virtual ~ReadableFile() = default;
  /// Reads up to `size` bytes (fewer near the end); 0 at the end, or -1 with `err`.
  virtual long long Read(char* buffer, size_t size, std::string* err) = 0;
  /// The file that was opened; std::nullopt when the system cannot tell.
  virtual std::optional<FileIdentity> Identity() = 0;
  /// The attributes the file had when it was opened.
  virtual FileAttributes Attributes() = 0;
};

/// A file opened for writing from its first byte. Closed, without a report, when destroyed.
class WritableFile {
 public:
  virtual ~WritableFile() = default;
  /// Writes all of `data` or fails.
  virtual bool Write(const char* data, size_t size, std::string* err) = 0;
  /// Moves the write position to `offset` bytes from the start; the next write goes there.
  virtual bool Seek(long long offset, std::string* err) = 0;
  /// Appends everything from `source`'s current position to its end, in large blocks.
  virtual bool AppendFrom(ReadableFile& source, std::string* err);
  /// Gives the file `attributes`; the last step before Close, as a write changes the time.
  virtual bool SetAttributes(const FileAttributes& attributes, std::string* err) = 0;
  /// Flushes and closes; a failure here means bytes may not have reached the disk.
  virtual bool Close(std::string* err) = 0;
};

/// A file of the write path, written before it has its final name: unnamed where the file
/// system allows it, otherwise under a hidden name with the program's one reserved prefix,
/// locked while it bears such a name so that no other run takes it for a leftover. Messages name
/// the file it is written for, never the temporary file. Destroyed before it is named, it
/// leaves nothing behind.
class PendingFile : public WritableFile {
 public:
  /// Flushes the file's bytes and attributes to the disk.
  virtual bool Sync(std::string* err) = 0;
  /// Gives the file the name `path` in its own folder, failing with 已经存在 when something
  /// bears that name; the file stays open and locked.
  virtual bool Name(const std::string& path, std::string* err) = 0;
  /// The name the file bears now; empty while it has none.
  virtual const std::string& name() const = 0;
  /// Sets the permission bits alone.
  virtual bool SetPermissions(unsigned permissions, std::string* err) = 0;
  /// Locks the file for as long as it is open, so that others can tell it is in use (a file
  /// about to take a name under kTemporaryPrefix is locked anyway).
  virtual void Lock() = 0;
  /// The file, under its name or the name a rename gave it, is the caller's now: it is not
  /// removed when this object goes.
  virtual void Keep() = 0;
};

/// A folder being filled before it has its final name: made beside that name under a fresh
/// name with kTemporaryPrefix and a mark that tells it from a folder of the user's, and locked
/// while this object lives, so that no other run takes it for a leftover. Destroyed before it
/// is kept, it is removed with everything in it.
class PendingFolder {
 public:
  virtual ~PendingFolder() = default;
  /// The path it bears until the caller renames it, without a final separator.
  virtual const std::string& path() const = 0;
  /// The permission bits it has once it is kept; until then it keeps its mark as well.
  virtual bool SetPermissions(unsigned permissions, std::string* err) = 0;
  /// The folder, renamed by the caller to its final name, is the caller's now: it loses its
  /// mark and is not removed when this object goes.
  virtual bool Keep(std::string* err) = 0;
};

/// What a copy or write that was stopped between its blocks gives as its failure; the run
/// then reports the stop rather than the failure.
inline constexpr const char* kStoppedText = "操作已停止";

/// The prefix of every temporary name the write path gives a file: a name with it that is
/// not locked is a killed run's leftover.
inline constexpr const char* kTemporaryPrefix = ".quorvane-tmp-";

/// A folder held open: what lies in it is reached one name at a time, so a walk goes as deep
/// as the tree does, whatever the length of the path that leads there. Opened and used only
/// through the file system that made it; closed when destroyed.
class FolderHandle {
 public:
  FolderHandle(std::string path, FileIdentity identity)
      : path_(std::move(path)), identity_(identity) {}
  virtual ~FolderHandle() = default;
  FolderHandle(const FolderHandle&) = delete;
  FolderHandle& operator=(const FolderHandle&) = delete;

  /// The folder's path as the user knows it, ending in a separator: the text messages name.
  const std::string& path() const { return path_; }
  /// The folder that was opened.
  const FileIdentity& identity() const { return identity_; }

 private:
  std::string path_;
  FileIdentity identity_;
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
  /// Opens the folder `path` (a link to one counts) as a handle.
  virtual std::unique_ptr<FolderHandle> OpenFolder(const std::string& path, std::string* err) = 0;
  /// Opens the real subfolder `name` of `parent`; a link of that name is refused, never
  /// followed.
  virtual std::unique_ptr<FolderHandle> OpenFolderIn(FolderHandle& parent, const std::string& name,
                                                     std::string* err) = 0;
  /// SubFolders of an open folder.
  virtual bool SubFoldersIn(FolderHandle& folder, std::vector<std::string>* names,
                            std::string* err) = 0;
  /// MatchFiles in an open folder.
  virtual bool MatchFilesIn(FolderHandle& folder, const std::string& pattern, Names* names,
                            std::string* err) = 0;
  /// OpenRead of the file `name` in an open folder, refusing all that OpenRead refuses.
  virtual std::unique_ptr<ReadableFile> OpenReadIn(FolderHandle& folder, const std::string& name,
                                                   std::string* err) = 0;
  /// ListEntries of an open folder.
  virtual bool ListEntriesIn(FolderHandle& folder, std::vector<std::string>* names,
                             std::string* err) = 0;
  /// Examine of the entry `name` of an open folder, a link not followed.
  virtual bool ExamineIn(FolderHandle& folder, const std::string& name, PathEntry* entry,
                         std::string* err) = 0;
  /// ReadLink of the link `name` in an open folder.
  virtual bool ReadLinkIn(FolderHandle& folder, const std::string& name, std::string* text,
                          std::string* err) = 0;
  /// DeleteFile of the file or link `name` in an open folder.
  virtual bool DeleteFileIn(FolderHandle& folder, const std::string& name, std::string* err) = 0;
  /// DeleteFolder of the empty subfolder `name` of an open folder.
  virtual bool DeleteFolderIn(FolderHandle& folder, const std::string& name,
                              std::string* err) = 0;
  /// The system's temporary-files folder, as the system gives it.
  virtual bool TempFolder(std::string* path, std::string* err) = 0;

  /// What is at `path` itself, a link not followed. Nothing there is no failure.
  virtual bool Examine(const std::string& path, PathEntry* entry, std::string* err) = 0;
  /// The names of every entry of `folder`, hidden ones included, in the directory's order.
  virtual bool ListEntries(const std::string& folder, std::vector<std::string>* names,
                           std::string* err) = 0;
  /// Creates a pending file in `folder` (a path ending in a separator, or empty for the
  /// working folder) with the permission bits a new file gets; messages name `shown`. The
  /// first call for a folder removes what killed runs left there under kTemporaryPrefix
  /// (only files no open pending file holds).
  virtual std::unique_ptr<PendingFile> OpenPending(const std::string& folder,
                                                   const std::string& shown,
                                                   std::string* err) = 0;
  /// Creates a pending folder in `folder` (a path ending in a separator, or empty for the
  /// working folder); messages name `shown`. The first call for a folder removes what killed
  /// runs left there, as OpenPending does.
  virtual std::unique_ptr<PendingFolder> OpenPendingFolder(const std::string& folder,
                                                           const std::string& shown,
                                                           std::string* err) = 0;
  /// Flushes the folder's entries (a rename in it) to the disk.
  virtual bool SyncFolder(const std::string& folder, std::string* err) = 0;
  /// Gives the entry `from` the name `to` in one step, replacing a file or link named `to`.
  virtual bool Rename(const std::string& from, const std::string& to, std::string* err) = 0;
  /// Gives the entry `from` (a file, link or folder) the name `to` in the same folder
  /// without moving its data, and never replaces anything: when something bears the name
  /// `to`, even one that appeared a moment ago, it fails with 已经存在 and nothing changes.
  virtual bool RenameNoReplace(const std::string& from, const std::string& to,
                               std::string* err) = 0;
  /// Swaps the entries `a` and `b` of one folder in one step; false, changing nothing,
  /// where the file system cannot.
  virtual bool Exchange(const std::string& a, const std::string& b) = 0;
  /// Removes the file or link `path`.
  virtual bool DeleteFile(const std::string& path, std::string* err) = 0;
  /// Removes the empty folder `path`.
  virtual bool DeleteFolder(const std::string& path, std::string* err) = 0;
  /// The text that the symbolic link `path` holds.
  virtual bool ReadLink(const std::string& path, std::string* text, std::string* err) = 0;
  /// Makes `path` a symbolic link holding `text`, replacing a file or link of that name in
  /// one step.
  virtual bool CreateLink(const std::string& text, const std::string& path, std::string* err) = 0;
  /// Sets the permission bits of `path`.
  virtual bool SetPermissions(const std::string& path, unsigned permissions, std::string* err) = 0;

  /// Copies the regular file `source` (a link to one counts) to `target` with its permission
  /// bits and modification time, through the write path (write_path.h): `target` bears the
  /// whole copy or what it bore before. A file is never copied onto itself.
  virtual bool CopyFile(const std::string& source, const std::string& target, std::string* err);
  /// CopyFile from a source already open: `source` is read from its current position.
  bool CopyFileFrom(ReadableFile& source, const std::string& target, std::string* err);
  /// Copies the folder `source` (a link to one counts) and everything in it, hidden entries
  /// included, to `target`, merging into a folder that is there: files of the same names are
  /// replaced as CopyFile replaces them, links inside are made again as links and never
  /// followed, and the copy never descends into its own destination. The source is read
  /// through open folders, so its depth has no limit; the copies are made by path. A new
  /// `target` is filled as a pending folder beside it and takes its name only when complete,
  /// never replacing what took the name meanwhile (that fails with 已经存在): a failure or a
  /// stop leaves nothing of it. A copy into a folder that is there stops where it fails.
  virtual bool CopyFolder(const std::string& source, const std::string& target, std::string* err);
};

/// Removes `path` and, when it is a folder, everything in it; links inside are removed, never
/// followed. The folder is emptied through open folders, so its depth has no limit. Nothing at
/// `path` is no failure. A failure stops where it is.
bool RemoveTree(FileSystem& fs, const std::string& path, std::string* err);

/// Removes everything in the open folder `folder`, which stays; links inside are removed,
/// never followed. A failure stops where it is.
bool EmptyFolder(FileSystem& fs, FolderHandle& folder, std::string* err);

/// Reads the whole regular file `path` into `bytes`, which ends up no larger than the file.
bool ReadWholeFile(FileSystem& fs, const std::string& path, std::string* bytes, std::string* err);

/// The file system of the machine the program runs on.
FileSystem& SystemFileSystem();

/// How a file system of the machine made by MakeSystemFileSystem writes.
struct SystemFileSystemOptions {
  /// Whether a pending file starts unnamed (O_TMPFILE). False gives every pending file a
  /// hidden, locked name under kTemporaryPrefix from the start: for file systems whose
  /// O_TMPFILE is missing or unreliable.
  bool unnamed_pending_files = true;
};

/// A file system of the machine of its own with `options`; it keeps its own record of the
/// folders it has swept.
std::unique_ptr<FileSystem> MakeSystemFileSystem(const SystemFileSystemOptions& options);

/// A description in the user's language of failing `action` on `path`: the action, the path
/// and the system's reason, for example 无法打开文件“/srv/a.txt”：没有那个文件或目录.
std::string DescribeFailure(const std::string& action, const std::string& path, int error_number);
/// The same with a reason of the program's own, for example 不是普通文件.
std::string DescribeFailure(const std::string& action, const std::string& path,
                            std::string_view reason);

/// The description for `action` on `path` when the path names no regular file.
std::string DescribeNotRegular(const std::string& action, const std::string& path);

/// True when the file name `name` matches the wildcard `pattern`: "*" any run of characters,
/// "?" one character, "[abc]" as in the shell. A pattern ending in ".*" also matches names
/// without that dot part, so "*.*" is every name and "photo.*" matches "photo".
bool WildcardMatch(const std::string& pattern, const char* name);

}  // namespace quorvane
