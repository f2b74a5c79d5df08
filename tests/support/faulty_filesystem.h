#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "common/filesystem.h"

namespace quorvane::testing {

/// The real file system with failures injected where a test asks: an operation on a path
/// that contains a given text fails with a given system error, at once or after some bytes
/// have gone through, or the k-th call of an operation fails. It counts the files it has
/// open, so a test can prove that a failed run closed everything. A copy between two of its
/// files goes by the real file system's own copy (the kernel's) unless a fault is set on
/// either side.
class FaultyFileSystem : public FileSystem {
 public:
  /// OpenWrite stands for OpenPending; CreateFolder also for OpenPendingFolder, on the path
  /// of the folder it is made for; Rename for RenameNoReplace and for naming a pending file.
  /// The operations on an open folder meet the rules of their path forms (SubFoldersIn those
  /// of SubFolders, and so on) on the path the folder shows; OpenFolder stands for
  /// OpenFolderIn, whose path is the parent's followed by the name and a separator.
  enum class Op { CreateFolder, CreateTextFile, MatchFiles, SubFolders, OpenRead, OpenWrite,
                  Read, Write, Close, CopyFile, CopyFolder, Rename, Sync, SyncFolder, OpenFolder };
  /// A fault: after_bytes counts for Read and Write; nth 0 fails every call on a matching path.
  struct Rule { Op op; std::string path_part; int error_number; long long after_bytes; int nth; };

  explicit FaultyFileSystem(FileSystem& real) : real_(real) {}

  /// `op` on a path containing `path_part` fails with `error_number`; Read and Write fail
  /// once `after_bytes` bytes have passed.
  void FailWhen(Op op, std::string path_part, int error_number, long long after_bytes = 0) {
    rules_.push_back({op, std::move(path_part), error_number, after_bytes, 0});
  }
  /// The `nth` call (from 1) of `op`, whatever its path, fails with `error_number`.
  void FailAt(Op op, int nth, int error) { rules_.push_back({op, "", error, 0, nth}); }
  /// The FailWhen rule for `op` on `path`, or null.
  const Rule* Find(Op op, const std::string& path) const;

  /// Called with the path just before each OpenRead reaches the real file system: the place
  /// to swap a listed file for something else, as a race with another program would.
  std::function<void(const std::string& path)> before_open;
  /// Called before every operation that a rule could make fail, with the operation and its
  /// path: the place for a test to end the process at a chosen point.
  std::function<void(Op op, const std::string& path)> on_call;
  int open_files = 0;
  /// Folder handles open now, and the most that were open at once.
  int open_folders = 0, most_open_folders = 0;
  /// Appends that went by the real file system's own copy.
  int kernel_appends = 0;

  bool FolderExists(const std::string& path) override { return real_.FolderExists(path); }
  bool FileExists(const std::string& path) override { return real_.FileExists(path); }
  PathKind Kind(const std::string& path) override { return real_.Kind(path); }
  bool CreateFolder(const std::string& path, std::string* err) override {
    return !Refuse(Op::CreateFolder, path, err) && real_.CreateFolder(path, err);
  }
  bool CreateTextFile(const std::string& path, std::string* err) override {
    return !Refuse(Op::CreateTextFile, path, err) && real_.CreateTextFile(path, err);
  }
  bool MatchFiles(const std::string& folder, const std::string& pattern, Names* names,
                  std::string* err) override {
    return !Refuse(Op::MatchFiles, folder, err) && real_.MatchFiles(folder, pattern, names, err);
  }
  bool SubFolders(const std::string& folder, std::vector<std::string>* names,
                  std::string* err) override {
    return !Refuse(Op::SubFolders, folder, err) && real_.SubFolders(folder, names, err);
  }
  std::optional<FileIdentity> Identify(const std::string& path) override {
    return real_.Identify(path);
  }
  std::unique_ptr<ReadableFile> OpenRead(const std::string& path, std::string* err) override;
  std::unique_ptr<FolderHandle> OpenFolder(const std::string& path, std::string* err) override;
  std::unique_ptr<FolderHandle> OpenFolderIn(FolderHandle& parent, const std::string& name,
                                             std::string* err) override;
  bool SubFoldersIn(FolderHandle& folder, std::vector<std::string>* names,
                    std::string* err) override;
  bool MatchFilesIn(FolderHandle& folder, const std::string& pattern, Names* names,
                    std::string* err) override;
  std::unique_ptr<ReadableFile> OpenReadIn(FolderHandle& folder, const std::string& name,
                                           std::string* err) override;
  bool ListEntriesIn(FolderHandle& folder, std::vector<std::string>* names,
                     std::string* err) override;
  bool ExamineIn(FolderHandle& folder, const std::string& name, PathEntry* entry,
                 std::string* err) override;
  bool ReadLinkIn(FolderHandle& folder, const std::string& name, std::string* text,
                  std::string* err) override;
  bool DeleteFileIn(FolderHandle& folder, const std::string& name, std::string* err) override;
  bool DeleteFolderIn(FolderHandle& folder, const std::string& name, std::string* err) override;
  bool TempFolder(std::string* path, std::string* err) override {
    return real_.TempFolder(path, err);
  }
  bool Examine(const std::string& path, PathEntry* entry, std::string* err) override {
    return real_.Examine(path, entry, err);
  }
  bool ListEntries(const std::string& folder, std::vector<std::string>* names,
                   std::string* err) override { return real_.ListEntries(folder, names, err); }
  std::unique_ptr<PendingFile> OpenPending(const std::string& folder, const std::string& shown,
                                           std::string* err) override;
  std::unique_ptr<PendingFolder> OpenPendingFolder(const std::string& folder,
                                                   const std::string& shown,
                                                   std::string* err) override {
    if (Refuse(Op::CreateFolder, shown, err)) return nullptr;
    return real_.OpenPendingFolder(folder, shown, err);
  }
  bool SyncFolder(const std::string& folder, std::string* err) override {
    return !Refuse(Op::SyncFolder, folder, err) && real_.SyncFolder(folder, err);
  }
  bool Rename(const std::string& from, const std::string& to, std::string* err) override {
    return !Refuse(Op::Rename, to, err) && real_.Rename(from, to, err);
  }
  bool RenameNoReplace(const std::string& from, const std::string& to, std::string* err) override {
    return !Refuse(Op::Rename, to, err) && real_.RenameNoReplace(from, to, err);
  }
  bool Exchange(const std::string& a, const std::string& b) override {
    std::string ignored;
    return !Refuse(Op::Rename, b, &ignored) && real_.Exchange(a, b);
  }
  bool DeleteFile(const std::string& path, std::string* err) override {
    return real_.DeleteFile(path, err);
  }
  bool DeleteFolder(const std::string& path, std::string* err) override {
    return real_.DeleteFolder(path, err);
  }
  bool ReadLink(const std::string& path, std::string* text, std::string* err) override {
    return real_.ReadLink(path, text, err);
  }
  bool CreateLink(const std::string& text, const std::string& path, std::string* err) override {
    return real_.CreateLink(text, path, err);
  }
  bool SetPermissions(const std::string& path, unsigned permissions, std::string* err) override {
    return real_.SetPermissions(path, permissions, err);
  }
  // The copies are the production ones, made through this layer, so every fault above
  // reaches them as a real one would.
  bool CopyFile(const std::string& source, const std::string& target, std::string* err) override {
    return !Refuse(Op::CopyFile, target, err) && FileSystem::CopyFile(source, target, err);
  }
  bool CopyFolder(const std::string& source, const std::string& target,
                  std::string* err) override {
    return !Refuse(Op::CopyFolder, target, err) && FileSystem::CopyFolder(source, target, err);
  }

 private:
  friend struct FaultyPending;
  /// Counts the call; true, with the failure in `err`, when a rule makes it fail.
  bool Refuse(Op op, const std::string& path, std::string* err);
  std::unique_ptr<ReadableFile> WrapRead(std::unique_ptr<ReadableFile> real, const std::string& path);
  std::unique_ptr<FolderHandle> WrapFolder(std::unique_ptr<FolderHandle> real);

  FileSystem& real_;
  std::vector<Rule> rules_;
  std::map<Op, int> calls_;
};

}  // namespace quorvane::testing
