#include "support/faulty_filesystem.h"

#include <algorithm>

#include "common/path.h"

namespace quorvane::testing {
namespace {

using Op = FaultyFileSystem::Op;
using Rule = FaultyFileSystem::Rule;

// What a failure of `rule` on `path` reads as, in the words of the real file system.
std::string Failure(const Rule& rule, const std::string& path) {
  static const char* const kActions[] = {"无法创建目录", "无法创建文件", "无法读取目录",
                                         "无法读取目录", "无法打开文件", "无法打开文件",
                                         "无法读取文件", "无法写入文件", "无法写入文件",
                                         "无法复制到",   "无法复制到",   "无法改名为",
                                         "无法写入文件", "无法写入目录",
                                         "无法读取目录"};
  return DescribeFailure(kActions[static_cast<int>(rule.op)], path, rule.error_number);
}

// A real file, open for reading or for writing, whose reads, writes and close meet the
// rules set for its path. With a fault set on either side, appends go through Read and
// Write (the base class's block copy), so the fault is met exactly where a real copy would
// meet it; without one, the real files copy by themselves, so a test runs the production
// copy.
struct FaultyFile final : ReadableFile, WritableFile {
  FaultyFile(FaultyFileSystem& owner, std::string path, std::unique_ptr<ReadableFile> reader,
             std::unique_ptr<WritableFile> writer)
      : owner(owner), path(std::move(path)), reader(std::move(reader)), writer(std::move(writer)) {
    ++owner.open_files;
  }
  ~FaultyFile() override { --owner.open_files; }

  // How many of `size` bytes the rule for `op` lets through (all without one); `rule` is
  // set when it stops them short.
  size_t Allowed(Op op, size_t size, const Rule** rule) {
    *rule = owner.Find(op, path);
    if (!*rule) return size;
    const long long room = std::max(0LL, (*rule)->after_bytes - passed);
    if (static_cast<long long>(size) <= room) *rule = nullptr;
    return std::min(size, static_cast<size_t>(room));
  }

  long long Read(char* buffer, size_t size, std::string* err) override {
    const Rule* rule;
    size = Allowed(Op::Read, size, &rule);
    if (rule && size == 0) {
      *err = Failure(*rule, path);
      return -1;
    }
    const long long got = reader->Read(buffer, size, err);
    passed += std::max(0LL, got);
    return got;
  }
  std::optional<FileIdentity> Identity() override { return reader->Identity(); }
  FileAttributes Attributes() override { return reader->Attributes(); }

  bool Write(const char* data, size_t size, std::string* err) override {
    if (owner.on_call) owner.on_call(Op::Write, path);
    const Rule* rule;
    const size_t allowed = Allowed(Op::Write, size, &rule);
    passed += static_cast<long long>(allowed);
    if (allowed > 0 && !writer->Write(data, allowed, err)) return false;
    if (rule) *err = Failure(*rule, path);
    return !rule;
  }
  bool Seek(long long offset, std::string* err) override { return writer->Seek(offset, err); }
  bool AppendFrom(ReadableFile& source, std::string* err) override {
    auto* faulty = dynamic_cast<FaultyFile*>(&source);
    if (!faulty || owner.Find(Op::Read, faulty->path) || owner.Find(Op::Write, path))
      return WritableFile::AppendFrom(source, err);
    ++owner.kernel_appends;
    return writer->AppendFrom(*faulty->reader, err);
  }
  bool SetAttributes(const FileAttributes& attributes, std::string* err) override {
    return writer->SetAttributes(attributes, err);
  }
  bool Close(std::string* err) override {
    const bool closed = writer->Close(err);
    const auto* rule = owner.Find(Op::Close, path);
    if (rule) *err = Failure(*rule, path);
    return closed && !rule;
  }

  FaultyFileSystem& owner;
  std::string path;
  std::unique_ptr<ReadableFile> reader;
  std::unique_ptr<WritableFile> writer;
  long long passed = 0;  // bytes read or written
};

// A real folder handle, counted while it is open.
struct FaultyFolder final : FolderHandle {
  FaultyFolder(FaultyFileSystem& owner, std::unique_ptr<FolderHandle> real)
      : FolderHandle(real->path(), real->identity()), owner(owner), real(std::move(real)) {
    owner.most_open_folders = std::max(owner.most_open_folders, ++owner.open_folders);
  }
  ~FaultyFolder() override { --owner.open_folders; }

  FaultyFileSystem& owner;
  std::unique_ptr<FolderHandle> real;
};

FolderHandle& Real(FolderHandle& folder) { return *static_cast<FaultyFolder&>(folder).real; }

}  // namespace

const FaultyFileSystem::Rule* FaultyFileSystem::Find(Op op, const std::string& path) const {
  for (const auto& rule : rules_)
    if (rule.op == op && rule.nth == 0 && path.find(rule.path_part) != std::string::npos)
      return &rule;
  return nullptr;
}

bool FaultyFileSystem::Refuse(Op op, const std::string& path, std::string* err) {
  if (on_call) on_call(op, path);
  const int call = ++calls_[op];
  const Rule* rule = Find(op, path);
  for (const auto& r : rules_)
    if (r.op == op && r.nth == call) rule = &r;
  if (rule) *err = Failure(*rule, path);
  return rule != nullptr;
}

// A pending file of the real file system, whose writes meet the rules set for the file it
// is written for, whose flush meets the Sync rules and whose naming the Rename rules.
struct FaultyPending final : PendingFile {
  FaultyPending(FaultyFileSystem& owner, std::string shown, std::unique_ptr<PendingFile> real)
      : owner(owner), file(owner, std::move(shown), nullptr, nullptr), real(std::move(real)) {
    file.writer.reset(this->real.get());  // borrowed: released before the file goes
  }
  ~FaultyPending() override { file.writer.release(); }

  bool Write(const char* data, size_t size, std::string* err) override {
    return file.Write(data, size, err);
  }
  bool Seek(long long offset, std::string* err) override { return real->Seek(offset, err); }
  bool AppendFrom(ReadableFile& source, std::string* err) override {
    if (owner.on_call) owner.on_call(Op::Write, file.path);
    return file.AppendFrom(source, err);
  }
  bool SetAttributes(const FileAttributes& attributes, std::string* err) override {
    return real->SetAttributes(attributes, err);
  }
  bool SetPermissions(unsigned permissions, std::string* err) override {
    return real->SetPermissions(permissions, err);
  }
  bool Close(std::string* err) override { return file.Close(err); }
  bool Sync(std::string* err) override {
    return !owner.Refuse(Op::Sync, file.path, err) && real->Sync(err);
  }
  bool Name(const std::string& path, std::string* err) override {
    // Met and reported as the file it is written for, as the real file system reports it.
    return !owner.Refuse(Op::Rename, file.path, err) && real->Name(path, err);
  }
  const std::string& name() const override { return real->name(); }
  void Keep() override { real->Keep(); }
  void Lock() override { real->Lock(); }

  FaultyFileSystem& owner;
  FaultyFile file;
  std::unique_ptr<PendingFile> real;
};

std::unique_ptr<PendingFile> FaultyFileSystem::OpenPending(const std::string& folder,
                                                           const std::string& shown,
                                                           std::string* err) {
  if (Refuse(Op::OpenWrite, shown, err)) return nullptr;
  auto real = real_.OpenPending(folder, shown, err);
  return real ? std::make_unique<FaultyPending>(*this, shown, std::move(real)) : nullptr;
}

std::unique_ptr<ReadableFile> FaultyFileSystem::WrapRead(std::unique_ptr<ReadableFile> real,
                                                         const std::string& path) {
  return real ? std::make_unique<FaultyFile>(*this, path, std::move(real), nullptr) : nullptr;
}

std::unique_ptr<FolderHandle> FaultyFileSystem::WrapFolder(std::unique_ptr<FolderHandle> real) {
  return real ? std::make_unique<FaultyFolder>(*this, std::move(real)) : nullptr;
}

std::unique_ptr<ReadableFile> FaultyFileSystem::OpenRead(const std::string& path,
                                                         std::string* err) {
  if (Refuse(Op::OpenRead, path, err)) return nullptr;
  if (before_open) before_open(path);
  return WrapRead(real_.OpenRead(path, err), path);
}

std::unique_ptr<FolderHandle> FaultyFileSystem::OpenFolder(const std::string& path,
                                                           std::string* err) {
  if (Refuse(Op::OpenFolder, path::WithSeparator(path), err)) return nullptr;
  return WrapFolder(real_.OpenFolder(path, err));
}

std::unique_ptr<FolderHandle> FaultyFileSystem::OpenFolderIn(FolderHandle& parent,
                                                             const std::string& name,
                                                             std::string* err) {
  if (Refuse(Op::OpenFolder, parent.path() + name + "/", err)) return nullptr;
  return WrapFolder(real_.OpenFolderIn(Real(parent), name, err));
}

bool FaultyFileSystem::SubFoldersIn(FolderHandle& folder, std::vector<std::string>* names,
                                    std::string* err) {
  return !Refuse(Op::SubFolders, folder.path(), err) &&
         real_.SubFoldersIn(Real(folder), names, err);
}

bool FaultyFileSystem::MatchFilesIn(FolderHandle& folder, const std::string& pattern,
                                    Names* names, std::string* err) {
  return !Refuse(Op::MatchFiles, folder.path(), err) &&
         real_.MatchFilesIn(Real(folder), pattern, names, err);
}

std::unique_ptr<ReadableFile> FaultyFileSystem::OpenReadIn(FolderHandle& folder,
                                                           const std::string& name,
                                                           std::string* err) {
  const std::string path = folder.path() + name;
  if (Refuse(Op::OpenRead, path, err)) return nullptr;
  if (before_open) before_open(path);
  return WrapRead(real_.OpenReadIn(Real(folder), name, err), path);
}

bool FaultyFileSystem::ListEntriesIn(FolderHandle& folder, std::vector<std::string>* names,
                                     std::string* err) {
  return real_.ListEntriesIn(Real(folder), names, err);
}

bool FaultyFileSystem::ExamineIn(FolderHandle& folder, const std::string& name,
                                 PathEntry* entry, std::string* err) {
  return real_.ExamineIn(Real(folder), name, entry, err);
}

bool FaultyFileSystem::ReadLinkIn(FolderHandle& folder, const std::string& name,
                                  std::string* text, std::string* err) {
  return real_.ReadLinkIn(Real(folder), name, text, err);
}

bool FaultyFileSystem::DeleteFileIn(FolderHandle& folder, const std::string& name,
                                    std::string* err) {
  return real_.DeleteFileIn(Real(folder), name, err);
}

bool FaultyFileSystem::DeleteFolderIn(FolderHandle& folder, const std::string& name,
                                      std::string* err) {
  return real_.DeleteFolderIn(Real(folder), name, err);
}

}  // namespace quorvane::testing
