// The machine's own file system, over POSIX calls so that names stay byte strings.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "common/filesystem.h"

namespace quorvane {
namespace {

const char* OrDot(const std::string& folder) { return folder.empty() ? "." : folder.c_str(); }

FileIdentity IdentityOf(const struct stat& st) {
  return {static_cast<unsigned long long>(st.st_dev), static_cast<unsigned long long>(st.st_ino)};
}

class PosixReadableFile final : public ReadableFile {
 public:
  PosixReadableFile(int fd, std::string path, FileIdentity identity)
      : fd_(fd), path_(std::move(path)), identity_(identity) {}
  ~PosixReadableFile() override { ::close(fd_); }

  // A short read from a regular file means its end is near: the bytes go back at once
  // rather than after one more call that finds nothing, which counts over many small files.
  long long Read(char* buffer, size_t size, std::string* err) override {
    for (;;) {
      const ssize_t got = ::read(fd_, buffer, size);
      if (got >= 0) return got;
      if (errno == EINTR) continue;
      *err = DescribeFailure("无法读取文件", path_, errno);
      return -1;
    }
  }

  std::optional<FileIdentity> Identity() override { return identity_; }

  int fd() const { return fd_; }

 private:
  int fd_;
  std::string path_;
  FileIdentity identity_;
};

class PosixWritableFile final : public WritableFile {
 public:
  PosixWritableFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  ~PosixWritableFile() override {
    if (fd_ >= 0) ::close(fd_);
  }

  bool Write(const char* data, size_t size, std::string* err) override {
    while (size > 0) {
      const ssize_t put = ::write(fd_, data, size);
      if (put < 0) {
        if (errno == EINTR) continue;
        *err = DescribeFailure("无法写入文件", path_, errno);
        return false;
      }
      data += put;
      size -= static_cast<size_t>(put);
    }
    return true;
  }

  // The kernel moves the bytes itself where it can, with no copy through user space. When
  // it refuses (another file system, an old kernel, or a fault), the block copy goes on from
  // the same positions and names the file that failed.
  bool AppendFrom(ReadableFile& source, std::string* err) override {
    if (auto* posix = dynamic_cast<PosixReadableFile*>(&source)) {
      for (;;) {
        const ssize_t moved = ::copy_file_range(posix->fd(), nullptr, fd_, nullptr, 1 << 30, 0);
        if (moved == 0) return true;
        if (moved < 0 && errno != EINTR) break;
      }
    }
    return WritableFile::AppendFrom(source, err);
  }

  bool Close(std::string* err) override {
    if (fd_ < 0) return true;
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0 && errno != EINTR) {
      *err = DescribeFailure("无法写入文件", path_, errno);
      return false;
    }
    return true;
  }

 private:
  int fd_;
  std::string path_;
};

bool IsRegular(const std::string& folder, const char* name, unsigned char type) {
  if (type == DT_REG) return true;
  if (type != DT_LNK && type != DT_UNKNOWN) return false;
  struct stat st;
  const std::string full = folder.empty() ? std::string(name) : folder + "/" + name;
  return ::stat(full.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool IsRealFolder(const std::string& folder, const char* name, unsigned char type) {
  if (type == DT_DIR) return true;
  if (type != DT_UNKNOWN) return false;
  struct stat st;
  const std::string full = folder.empty() ? std::string(name) : folder + "/" + name;
  return ::lstat(full.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Calls `take` for every entry of `folder` except "." and "..".
template <typename Take>
bool ForEachEntry(const std::string& folder, std::string* err, Take take) {
  DIR* dir = ::opendir(OrDot(folder));
  if (!dir) {
    *err = DescribeFailure("无法读取目录", folder, errno);
    return false;
  }
  errno = 0;
  while (const dirent* entry = ::readdir(dir)) {
    const char* name = entry->d_name;
    if (!(name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))))
      take(name, entry->d_type);
    errno = 0;
  }
  const int failure = errno;
  ::closedir(dir);
  if (failure != 0) {
    *err = DescribeFailure("无法读取目录", folder, failure);
    return false;
  }
  return true;
}

// Opens `path` without waiting (a pipe with no writer would block an open for ever) and then
// asks the open descriptor itself what it is, so that nothing swapped in between a listing
// and the open is taken for a file. Regular files ignore O_NONBLOCK, so it is kept.
int OpenRegular(const std::string& path, int flags, std::string* err, struct stat* st) {
  const int fd = ::open(path.c_str(), flags | O_NONBLOCK | O_CLOEXEC, 0666);
  if (fd < 0) {
    *err = errno == ENXIO ? DescribeNotRegular("无法打开文件", path)
                          : DescribeFailure("无法打开文件", path, errno);
    return -1;
  }
  if (::fstat(fd, st) != 0 || !S_ISREG(st->st_mode)) {
    *err = DescribeNotRegular("无法打开文件", path);
    ::close(fd);
    return -1;
  }
  return fd;
}

class PosixFileSystem final : public FileSystem {
 public:
  bool FolderExists(const std::string& path) override {
    struct stat st;
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
  }

  bool FileExists(const std::string& path) override {
    struct stat st;
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
  }

  PathKind Kind(const std::string& path) override {
    struct stat st;
    if (path.empty() || ::stat(path.c_str(), &st) != 0) return PathKind::Missing;
    if (S_ISREG(st.st_mode)) return PathKind::File;
    return S_ISDIR(st.st_mode) ? PathKind::Folder : PathKind::Other;
  }

  bool CreateFolder(const std::string& path, std::string* err) override {
    if (::mkdir(path.c_str(), 0777) == 0) return true;
    *err = DescribeFailure("无法创建目录", path, errno);
    return false;
  }

  bool CreateTextFile(const std::string& path, std::string* err) override {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0 || ::close(fd) != 0) {
      *err = DescribeFailure("无法创建文件", path, errno);
      return false;
    }
    return true;
  }

  bool MatchFiles(const std::string& folder, const std::string& pattern,
                  Names* names, std::string* err) override {
    return ForEachEntry(folder, err, [&](const char* name, unsigned char type) {
      if (name[0] != '.' && WildcardMatch(pattern, name) &&
          IsRegular(folder, name, type))
        names->push_back(name);
    });
  }

  bool SubFolders(const std::string& folder, std::vector<std::string>* names,
                  std::string* err) override {
    return ForEachEntry(folder, err, [&](const char* name, unsigned char type) {
      if (IsRealFolder(folder, name, type)) names->emplace_back(name);
    });
  }

  std::optional<FileIdentity> Identify(const std::string& path) override {
    struct stat st;
    if (::stat(OrDot(path), &st) != 0) return std::nullopt;
    return IdentityOf(st);
  }

  std::unique_ptr<ReadableFile> OpenRead(const std::string& path, std::string* err) override {
    struct stat st;
    const int fd = OpenRegular(path, O_RDONLY, err, &st);
    if (fd < 0) return nullptr;
    if (st.st_size >= (1 << 20)) ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    return std::make_unique<PosixReadableFile>(fd, path, IdentityOf(st));
  }

  std::unique_ptr<WritableFile> OpenWrite(const std::string& path, std::string* err) override {
    struct stat st;
    const int fd = OpenRegular(path, O_WRONLY | O_CREAT, err, &st);
    if (fd < 0) return nullptr;
    if (::ftruncate(fd, 0) != 0) {
      *err = DescribeFailure("无法写入文件", path, errno);
      ::close(fd);
      return nullptr;
    }
    return std::make_unique<PosixWritableFile>(fd, path);
  }

  bool TempFolder(std::string* path, std::string* err) override {
    std::error_code ec;
    const auto dir = std::filesystem::temp_directory_path(ec);
    if (ec) {
      *err = DescribeFailure("无法取得临时目录", dir.native(), ec.value());
      return false;
    }
    *path = dir.native();
    return true;
  }
};

}  // namespace

FileSystem& SystemFileSystem() {
  static PosixFileSystem instance;
  return instance;
}

}  // namespace quorvane
