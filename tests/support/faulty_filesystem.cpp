#include "support/faulty_filesystem.h"

namespace quorvane::testing {
namespace {

using Op = FaultyFileSystem::Op;

// What a fault rule lets through: `size` bytes, fewer when the rule's byte budget ends first
// (then `failed` is set once nothing is left).
size_t Allowed(const FaultyFileSystem::Rule* rule, long long passed, size_t size, bool* failed) {
  *failed = false;
  if (!rule) return size;
  const long long room = std::max(0LL, rule->after_bytes - passed);
  *failed = static_cast<long long>(size) > room;
  return *failed ? static_cast<size_t>(room) : size;
}

class FaultyReadable final : public ReadableFile {
 public:
  FaultyReadable(FaultyFileSystem& owner, std::unique_ptr<ReadableFile> real, std::string path)
      : owner_(owner), real_(std::move(real)), path_(std::move(path)) {
    owner_.Opened();
  }
  ~FaultyReadable() override { owner_.Closed(); }

  long long Read(char* buffer, size_t size, std::string* err) override {
    const auto* rule = owner_.Find(Op::Read, path_);
    bool failed;
    size = Allowed(rule, passed_, size, &failed);
    if (failed && size == 0) {
      *err = DescribeFailure("无法读取文件", path_, rule->error_number);
      return -1;
    }
    const long long got = real_->Read(buffer, size, err);
    if (got > 0) passed_ += got;
    return got;
  }

  std::optional<FileIdentity> Identity() override { return real_->Identity(); }
  ReadableFile& real() { return *real_; }
  const std::string& path() const { return path_; }
  FileAttributes Attributes() override { return real_->Attributes(); }

 private:
  FaultyFileSystem& owner_;
  std::unique_ptr<ReadableFile> real_;
  std::string path_;
  long long passed_ = 0;
};

// With a fault set on either side, appends go through Read and Write (the base class's
// block copy), so the fault is met exactly where a real copy would meet it. Without one,
// the real files copy by themselves, so the production copy is what a test runs.
class FaultyWritable final : public WritableFile {
 public:
  FaultyWritable(FaultyFileSystem& owner, std::unique_ptr<WritableFile> real, std::string path)
      : owner_(owner), real_(std::move(real)), path_(std::move(path)) {
    owner_.Opened();
  }
  ~FaultyWritable() override { owner_.Closed(); }

  bool Write(const char* data, size_t size, std::string* err) override {
    const auto* rule = owner_.Find(Op::Write, path_);
    bool failed;
    const size_t allowed = Allowed(rule, passed_, size, &failed);
    passed_ += static_cast<long long>(allowed);
    if (allowed > 0 && !real_->Write(data, allowed, err)) return false;
    if (failed) *err = DescribeFailure("无法写入文件", path_, rule->error_number);
    return !failed;
  }

  bool AppendFrom(ReadableFile& source, std::string* err) override {
    auto* faulty = dynamic_cast<FaultyReadable*>(&source);
    if (faulty && !owner_.Find(Op::Read, faulty->path()) && !owner_.Find(Op::Write, path_)) {
      owner_.KernelAppend();
      return real_->AppendFrom(faulty->real(), err);
    }
    return WritableFile::AppendFrom(source, err);
  }

  bool SetAttributes(const FileAttributes& attributes, std::string* err) override {
    return real_->SetAttributes(attributes, err);
  }

  bool Close(std::string* err) override {
    const bool closed = real_->Close(err);
    if (const auto* rule = owner_.Find(Op::Close, path_)) {
      *err = DescribeFailure("无法写入文件", path_, rule->error_number);
      return false;
    }
    return closed;
  }

 private:
  FaultyFileSystem& owner_;
  std::unique_ptr<WritableFile> real_;
  std::string path_;
  long long passed_ = 0;
};

}  // namespace

void FaultyFileSystem::FailWhen(Op op, std::string path_part, int error_number,
                                long long after_bytes) {
  rules_.push_back({op, std::move(path_part), error_number, after_bytes, 0});
}

void FaultyFileSystem::FailAt(Op op, int nth, int error_number) {
  rules_.push_back({op, "", error_number, 0, nth});
}

const FaultyFileSystem::Rule* FaultyFileSystem::Find(Op op, const std::string& path) const {
  for (const auto& rule : rules_)
    if (rule.op == op && rule.nth == 0 && path.find(rule.path_part) != std::string::npos)
      return &rule;
  return nullptr;
}

bool FaultyFileSystem::Refuse(Op op, const std::string& what, const std::string& path,
                              std::string* err) {
  const int call = ++calls_[op];
  for (const auto& rule : rules_) {
    if (rule.op == op && (rule.nth == 0 ? path.find(rule.path_part) != std::string::npos
                                        : rule.nth == call)) {
      *err = DescribeFailure(what, path, rule.error_number);
      return true;
    }
  }
  return false;
}

std::unique_ptr<WritableFile> FaultyFileSystem::Wrap(std::unique_ptr<WritableFile> real,
                                                     const std::string& path) {
  if (!real) return nullptr;
  return std::make_unique<FaultyWritable>(*this, std::move(real), path);
}

bool FaultyFileSystem::CreateFolder(const std::string& path, std::string* err) {
  return !Refuse(Op::CreateFolder, "无法创建目录", path, err) && real_.CreateFolder(path, err);
}

bool FaultyFileSystem::CreateTextFile(const std::string& path, std::string* err) {
  return !Refuse(Op::CreateTextFile, "无法创建文件", path, err) &&
         real_.CreateTextFile(path, err);
}

bool FaultyFileSystem::MatchFiles(const std::string& folder, const std::string& pattern,
                                  Names* names, std::string* err) {
  return !Refuse(Op::MatchFiles, "无法读取目录", folder, err) &&
         real_.MatchFiles(folder, pattern, names, err);
}

bool FaultyFileSystem::SubFolders(const std::string& folder, std::vector<std::string>* names,
                                  std::string* err) {
  return !Refuse(Op::SubFolders, "无法读取目录", folder, err) &&
         real_.SubFolders(folder, names, err);
}

std::unique_ptr<ReadableFile> FaultyFileSystem::OpenRead(const std::string& path,
                                                         std::string* err) {
  opened_for_reading_.push_back(path);
  if (Refuse(Op::OpenRead, "无法打开文件", path, err)) return nullptr;
  if (before_open) before_open(path);
  auto real = real_.OpenRead(path, err);
  return real ? std::make_unique<FaultyReadable>(*this, std::move(real), path) : nullptr;
}

std::unique_ptr<WritableFile> FaultyFileSystem::OpenWrite(const std::string& path,
                                                          std::string* err) {
  if (Refuse(Op::OpenWrite, "无法打开文件", path, err)) return nullptr;
  return Wrap(real_.OpenWrite(path, err), path);
}

std::unique_ptr<WritableFile> FaultyFileSystem::OpenNew(const std::string& path,
                                                        std::string* err) {
  if (Refuse(Op::OpenWrite, "无法打开文件", path, err)) return nullptr;
  return Wrap(real_.OpenNew(path, err), path);
}

std::unique_ptr<WritableFile> FaultyFileSystem::OpenTemporary(const std::string& folder,
                                                              std::string* path,
                                                              std::string* err) {
  if (Refuse(Op::OpenWrite, "无法创建临时文件", folder, err)) return nullptr;
  auto real = real_.OpenTemporary(folder, path, err);
  return Wrap(std::move(real), *path);
}

bool FaultyFileSystem::Rename(const std::string& from, const std::string& to,
                              std::string* err) {
  return !Refuse(Op::Rename, "无法改名为", to, err) && real_.Rename(from, to, err);
}

bool FaultyFileSystem::RenameNoReplace(const std::string& from, const std::string& to,
                                       std::string* err) {
  return !Refuse(Op::Rename, "无法改名为", to, err) && real_.RenameNoReplace(from, to, err);
}

bool FaultyFileSystem::CopyFile(const std::string& source, const std::string& target,
                                std::string* err) {
  return !Refuse(Op::CopyFile, "无法复制到", target, err) &&
         FileSystem::CopyFile(source, target, err);
}

bool FaultyFileSystem::CopyFolder(const std::string& source, const std::string& target,
                                  std::string* err) {
  return !Refuse(Op::CopyFolder, "无法复制到", target, err) &&
         FileSystem::CopyFolder(source, target, err);
}

}  // namespace quorvane::testing
