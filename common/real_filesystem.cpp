// The machine's own file system, over POSIX calls so that names stay byte strings.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>
#include <random>
#include <string_view>

#include "common/filesystem.h"
#include "common/path.h"
#include "common/run_frame.h"

namespace quorvane {
namespace {

const char* OrDot(const std::string& folder) { return folder.empty() ? "." : folder.c_str(); }

FileIdentity IdentityOf(const struct stat& st) {
  return {static_cast<unsigned long long>(st.st_dev), static_cast<unsigned long long>(st.st_ino)};
}

FileAttributes AttributesOf(const struct stat& st) {
  return {static_cast<unsigned>(st.st_mode & 0777), static_cast<long long>(st.st_mtim.tv_sec),
          static_cast<long>(st.st_mtim.tv_nsec)};
}

EntryKind KindOf(mode_t mode) {
  if (S_ISREG(mode)) return EntryKind::File;
  if (S_ISDIR(mode)) return EntryKind::Folder;
  if (S_ISLNK(mode)) return EntryKind::Link;
  return EntryKind::Other;
}

class PosixReadableFile final : public ReadableFile {
 public:
  PosixReadableFile(int fd, std::string path, const struct stat& st)
      : fd_(fd),
        path_(std::move(path)),
        identity_(IdentityOf(st)),
        attributes_(AttributesOf(st)),
        size_(st.st_size) {}
  ~PosixReadableFile() override { ::close(fd_); }

  // A short read from a regular file means its end is near: the bytes go back at once
  // rather than after one more call that finds nothing, which counts over many small files.
  long long Read(char* buffer, size_t size, std::string* err) override {
    for (;;) {
      const ssize_t got = ::read(fd_, buffer, size);
      if (got >= 0) {
        position_ += got;
        return got;
      }
      if (errno == EINTR) continue;
      *err = DescribeFailure("无法读取文件", path_, errno);
      return -1;
    }
  }

  std::optional<FileIdentity> Identity() override { return identity_; }

  FileAttributes Attributes() override { return attributes_; }

  int fd() const { return fd_; }
  /// Bytes left up to the size the file had when it was opened.
  long long left() const { return size_ - position_; }
  void Moved(long long bytes) { position_ += bytes; }

 private:
  int fd_;
  std::string path_;
  FileIdentity identity_;
  FileAttributes attributes_;
  long long size_;
  long long position_ = 0;
};

// Whether an unnamed file can be given a name through /proc (linkat with AT_EMPTY_PATH
// would need a privilege that users lack).
bool ProcFdAvailable() {
  static const bool available = ::access("/proc/self/fd", X_OK) == 0;
  return available;
}

// The renaming system calls of a pending file that bears a name: a new name must be free.
int RenameWithoutReplacing(const std::string& from, const std::string& to);

class PosixPendingFile final : public PendingFile {
 public:
  PosixPendingFile(int fd, std::string shown, std::string name)
      : fd_(fd), shown_(std::move(shown)), name_(std::move(name)) {}
  ~PosixPendingFile() override {
    if (!kept_ && !name_.empty()) {
      // Only this file goes: a name that another file took meanwhile stays.
      struct stat mine, there;
      if (fd_ >= 0 && ::fstat(fd_, &mine) == 0 && ::lstat(name_.c_str(), &there) == 0 &&
          mine.st_dev == there.st_dev && mine.st_ino == there.st_ino)
        ::unlink(name_.c_str());
    }
    if (fd_ >= 0) ::close(fd_);
  }

  bool Write(const char* data, size_t size, std::string* err) override {
    while (size > 0) {
      const ssize_t put = ::write(fd_, data, size);
      if (put < 0) {
        if (errno == EINTR) continue;
        *err = DescribeFailure("无法写入文件", shown_, errno);
        return false;
      }
      data += put;
      size -= static_cast<size_t>(put);
    }
    return true;
  }

  // The kernel moves the bytes itself where it can, with no copy through user space (a
  // file system that shares blocks makes a reflink of them), a block at a time so that a
  // stop is heard between blocks. When it refuses (another file system, an old kernel, or a
  // fault), the block copy goes on from the same positions and names the file that failed.
  // Once the size the file had when opened has moved, one more call only to learn that
  // nothing follows would cost a tenth of a small file's copy; a file that reports no size
  // (as some system files do) is copied until the kernel finds its end.
  bool AppendFrom(ReadableFile& source, std::string* err) override {
    if (auto* posix = dynamic_cast<PosixReadableFile*>(&source)) {
      constexpr size_t kBlock = 64 << 20;
      const bool sized = posix->left() > 0;
      for (;;) {
        if (StopAskedOnThisThread()) {
          *err = kStoppedText;
          return false;
        }
        const ssize_t moved = ::copy_file_range(posix->fd(), nullptr, fd_, nullptr, kBlock, 0);
        if (moved == 0) return true;
        if (moved < 0 && errno != EINTR) break;
        if (moved > 0) posix->Moved(moved);
        if (sized && posix->left() <= 0) return true;
      }
    }
    return WritableFile::AppendFrom(source, err);
  }

  bool Seek(long long offset, std::string* err) override {
    if (::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) >= 0) return true;
    *err = DescribeFailure("无法写入文件", shown_, errno);
    return false;
  }

  bool SetAttributes(const FileAttributes& attributes, std::string* err) override {
    const struct timespec times[2] = {
        {0, UTIME_OMIT},
        {static_cast<time_t>(attributes.modified_seconds), attributes.modified_nanoseconds}};
    // Only the permission bits: a copy made by whoever runs the task must not take on the
    // set-user-ID of another owner's file.
    if (::fchmod(fd_, attributes.permissions & 0777) == 0 && ::futimens(fd_, times) == 0)
      return true;
    *err = DescribeFailure("无法设置文件属性", shown_, errno);
    return false;
  }

  bool SetPermissions(unsigned permissions, std::string* err) override {
    if (::fchmod(fd_, permissions & 0777) == 0) return true;
    *err = DescribeFailure("无法设置文件属性", shown_, errno);
    return false;
  }

  bool Sync(std::string* err) override {
    if (::fsync(fd_) == 0) return true;
    *err = DescribeFailure("无法写入文件", shown_, errno);
    return false;
  }

  bool Name(const std::string& path, std::string* err) override {
    int failure = 0;
    if (name_.empty()) {
      // An unnamed file is no one's to sweep; it is locked before it takes a name that a
      // sweep would look at.
      if (path::NamePart(path).starts_with(kTemporaryPrefix)) Lock();
      const std::string self = "/proc/self/fd/" + std::to_string(fd_);
      if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) != 0)
        failure = errno;
    } else {
      failure = RenameWithoutReplacing(name_, path);
    }
    if (failure != 0) {
      *err = DescribeFailure("无法写入文件", shown_, failure);
      return false;
    }
    name_ = path;
    return true;
  }

  const std::string& name() const override { return name_; }

  void Keep() override { kept_ = true; }

  void Lock() override { ::flock(fd_, LOCK_EX); }

  bool Close(std::string* err) override {
    if (fd_ < 0) return true;
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0 && errno != EINTR) {
      *err = DescribeFailure("无法写入文件", shown_, errno);
      return false;
    }
    return true;
  }

 private:
  int fd_;
  std::string shown_;
  std::string name_;
  bool kept_ = false;
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

// The same two questions about the entry `name` of the open folder `dir`.
bool IsRegularIn(int dir, const char* name, unsigned char type) {
  if (type == DT_REG) return true;
  if (type != DT_LNK && type != DT_UNKNOWN) return false;
  struct stat st;
  return ::fstatat(dir, name, &st, 0) == 0 && S_ISREG(st.st_mode);
}

bool IsRealFolderIn(int dir, const char* name, unsigned char type) {
  if (type == DT_DIR) return true;
  if (type != DT_UNKNOWN) return false;
  struct stat st;
  return ::fstatat(dir, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
}

// Reads `dir` to its end and closes it.
template <typename Take>
bool ReadEntries(DIR* dir, const std::string& folder, std::string* err, Take take) {
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

// Calls `take` for every entry of `folder` except "." and "..".
template <typename Take>
bool ForEachEntry(const std::string& folder, std::string* err, Take take) {
  DIR* dir = ::opendir(OrDot(folder));
  if (!dir) {
    *err = DescribeFailure("无法读取目录", folder, errno);
    return false;
  }
  return ReadEntries(dir, folder, err, take);
}

// The same for the open folder `fd`, shown as `folder`. The listing reads through a second
// descriptor of the folder, from its start, so the handle stays open and can be listed again.
template <typename Take>
bool ForEachEntryIn(int fd, const std::string& folder, std::string* err, Take take) {
  const int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
  DIR* dir = copy < 0 ? nullptr : ::fdopendir(copy);
  if (!dir) {
    *err = DescribeFailure("无法读取目录", folder, errno);
    if (copy >= 0) ::close(copy);
    return false;
  }
  ::rewinddir(dir);  // a duplicate shares the position a listing before left behind
  return ReadEntries(dir, folder, err, take);
}

// Opens `name` in the folder `dir`, shown as `path`, without waiting (a pipe with no writer
// would block an open for ever) and then asks the open descriptor itself what it is, so that
// nothing swapped in between a listing and the open is taken for a file. Regular files ignore
// O_NONBLOCK, so it is kept.
int OpenRegularAt(int dir, const char* name, const std::string& path, int flags,
                  std::string* err, struct stat* st) {
  const int fd = ::openat(dir, name, flags | O_NONBLOCK | O_CLOEXEC, 0666);
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

int OpenRegular(const std::string& path, int flags, std::string* err, struct stat* st) {
  return OpenRegularAt(AT_FDCWD, path.c_str(), path, flags, err, st);
}

// A folder handle over a descriptor opened with O_DIRECTORY.
class PosixFolder final : public FolderHandle {
 public:
  PosixFolder(int fd, std::string path, const struct stat& st)
      : FolderHandle(std::move(path), IdentityOf(st)), fd_(fd) {}
  ~PosixFolder() override { ::close(fd_); }
  int fd() const { return fd_; }

 private:
  int fd_;
};

int FolderFd(FolderHandle& folder) { return static_cast<PosixFolder&>(folder).fd(); }

// The handle for `fd` just opened (or -1 after a failure) on the folder shown as `path`.
std::unique_ptr<FolderHandle> OpenedFolder(int fd, std::string path, std::string* err) {
  struct stat st;
  if (fd < 0 || ::fstat(fd, &st) != 0) {
    *err = DescribeFailure("无法读取目录", path, errno);
    if (fd >= 0) ::close(fd);
    return nullptr;
  }
  return std::make_unique<PosixFolder>(fd, std::move(path), st);
}

// Where the kernel cannot refuse to replace in the rename itself: a file or link gets its
// new name as a second link, which fails when the name is taken, before the old name goes;
// a folder (which takes no second link), or a file on a file system without links, is
// renamed after a look that nothing bears the name. Returns 0 or the system error.
int RenameWithoutReplacing(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  // A file system that does not know the flag refuses it as such.
  if (errno != EINVAL && errno != ENOSYS) return errno;
  struct stat st;
  if (::lstat(from.c_str(), &st) != 0) return errno;
  if (!S_ISDIR(st.st_mode)) {
    if (::link(from.c_str(), to.c_str()) == 0) {
      if (::unlink(from.c_str()) == 0) return 0;
      const int failure = errno;
      ::unlink(to.c_str());
      return failure;
    }
    if (errno != EPERM && errno != EOPNOTSUPP && errno != EMLINK) return errno;
  }
  if (::lstat(to.c_str(), &st) == 0) return EEXIST;
  if (errno != ENOENT) return errno;
  return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

// The mark of a pending folder: the sticky bit, which no private folder of the user's needs,
// set by the mkdir that makes the folder so that it is never there without it. It goes when
// the folder is kept.
constexpr mode_t kPendingMark = S_ISVTX;

// Whether `name` has the shape of a pending folder's name: the reserved prefix and six
// letters or digits.
bool PendingFolderName(std::string_view name) {
  const std::string_view prefix = kTemporaryPrefix;
  if (name.size() != prefix.size() + 6 || !name.starts_with(prefix)) return false;
  for (const char c : name.substr(prefix.size()))
    if (!(c >= '0' && c <= '9') && !(c >= 'a' && c <= 'z') && !(c >= 'A' && c <= 'Z'))
      return false;
  return true;
}

// Six random letters and digits, as mkdtemp(3) chooses them.
std::string RandomSix() {
  static constexpr char kDigits[] =
      "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
  thread_local std::mt19937_64 random{std::random_device{}()};
  std::string text;
  for (int i = 0; i < 6; ++i) text += kDigits[random() % 62];
  return text;
}

// A pending folder held open and locked through its own descriptor; removed, when it was not
// kept, through that descriptor, so only this folder goes even if another took its name.
class PosixPendingFolder final : public PendingFolder {
 public:
  PosixPendingFolder(FileSystem& fs, std::unique_ptr<FolderHandle> folder, std::string path,
                     std::string shown)
      : fs_(fs), folder_(std::move(folder)), path_(std::move(path)), shown_(std::move(shown)) {}
  ~PosixPendingFolder() override {
    if (kept_) return;
    struct stat there;
    std::string ignored;
    ::fchmod(FolderFd(*folder_), 0700 | kPendingMark);  // a read-only template's bits
    if (::lstat(path_.c_str(), &there) == 0 && IdentityOf(there) == folder_->identity() &&
        EmptyFolder(fs_, *folder_, &ignored))
      ::rmdir(path_.c_str());
  }

  const std::string& path() const override { return path_; }

  bool SetPermissions(unsigned permissions, std::string* err) override {
    if (::fchmod(FolderFd(*folder_), (permissions & 0777) | kPendingMark) == 0) return true;
    *err = DescribeFailure("无法设置权限", shown_, errno);
    return false;
  }

  bool Keep(std::string* err) override {
    kept_ = true;
    const int fd = FolderFd(*folder_);
    struct stat st;
    if (::fstat(fd, &st) == 0 && ::fchmod(fd, st.st_mode & 0777) == 0) return true;
    *err = DescribeFailure("无法设置权限", shown_, errno);
    return false;
  }

 private:
  FileSystem& fs_;
  std::unique_ptr<FolderHandle> folder_;
  std::string path_, shown_;
  bool kept_ = false;
};

class PosixFileSystem final : public FileSystem {
 public:
  explicit PosixFileSystem(bool unnamed_pending_files)
      : unnamed_pending_files_(unnamed_pending_files) {}

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

  // O_NONBLOCK: a pipe of that name fails at once instead of waiting for a reader.
  bool CreateTextFile(const std::string& path, std::string* err) override {
    const int fd =
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NONBLOCK, 0666);
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
    return std::make_unique<PosixReadableFile>(fd, path, st);
  }

  // An unnamed file where the file system makes one (O_TMPFILE), else a fresh name under the
  // reserved prefix, locked before anything is written; a name that a sweep removed between
  // its creation and the lock is given up for another.
  std::unique_ptr<PendingFile> OpenPending(const std::string& folder, const std::string& shown,
                                           std::string* err) override {
    SweepOnce(folder);
    if (unnamed_pending_files_ && ProcFdAvailable()) {
      const int fd = ::open(OrDot(folder), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
      if (fd >= 0) return std::make_unique<PosixPendingFile>(fd, shown, std::string());
      if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL && errno != ENOENT) {
        *err = DescribeFailure("无法写入文件", shown, errno);
        return nullptr;
      }
    }
    // Made as mkostemp(3) makes a file, but with the mode an unnamed file gets: the kernel
    // takes the umask in force off it, as it does for O_TMPFILE.
    for (int attempt = 0; attempt < 100; ++attempt) {
      std::string name = folder + kTemporaryPrefix + RandomSix();
      const int fd = ::open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (fd < 0) {
        if (errno == EEXIST) continue;
        *err = DescribeFailure("无法写入文件", shown, errno);
        return nullptr;
      }
      struct stat mine, there;
      if (::flock(fd, LOCK_EX) == 0 && ::fstat(fd, &mine) == 0 &&
          ::lstat(name.c_str(), &there) == 0 &&
          mine.st_ino == there.st_ino && mine.st_dev == there.st_dev)
        return std::make_unique<PosixPendingFile>(fd, shown, std::move(name));
      ::close(fd);
    }
    *err = DescribeFailure("无法写入文件", shown, EEXIST);
    return nullptr;
  }

  // A fresh name made as mkdtemp(3) makes one, marked by the mkdir itself and locked before
  // anything goes in; a folder that a sweep removed between its creation and the lock is
  // given up for another.
  std::unique_ptr<PendingFolder> OpenPendingFolder(const std::string& folder,
                                                   const std::string& shown,
                                                   std::string* err) override {
    SweepOnce(folder);
    for (int attempt = 0; attempt < 100; ++attempt) {
      const std::string name = folder + kTemporaryPrefix + RandomSix();
      if (::mkdir(name.c_str(), 0700 | kPendingMark) != 0) {
        if (errno == EEXIST) continue;
        *err = DescribeFailure("无法创建目录", shown, errno);
        return nullptr;
      }
      const int fd = ::open(name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      struct stat mine, there;
      if (fd >= 0 && ::flock(fd, LOCK_EX) == 0 && ::fstat(fd, &mine) == 0 &&
          ::lstat(name.c_str(), &there) == 0 && IdentityOf(mine) == IdentityOf(there))
        return std::make_unique<PosixPendingFolder>(
            *this, std::make_unique<PosixFolder>(fd, name + path::kSeparator, mine), name, shown);
      if (fd >= 0) ::close(fd);
    }
    *err = DescribeFailure("无法创建目录", shown, EEXIST);
    return nullptr;
  }

  bool SyncFolder(const std::string& folder, std::string* err) override {
    const int fd = ::open(OrDot(folder), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const bool synced = fd >= 0 && ::fsync(fd) == 0;
    const int failure = errno;
    if (fd >= 0) ::close(fd);
    if (synced) return true;
    *err = DescribeFailure("无法写入目录", folder.empty() ? "." : folder, failure);
    return false;
  }

  // A path the user named may be a link to a folder; a name inside an open folder reaches
  // only a real subfolder (O_NOFOLLOW), as SubFolders lists them.
  std::unique_ptr<FolderHandle> OpenFolder(const std::string& path, std::string* err) override {
    const int fd = ::open(OrDot(path), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    return OpenedFolder(fd, path.empty() ? path : path::WithSeparator(path), err);
  }

  std::unique_ptr<FolderHandle> OpenFolderIn(FolderHandle& parent, const std::string& name,
                                             std::string* err) override {
    const int fd =
        ::openat(FolderFd(parent), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    return OpenedFolder(fd, parent.path() + name + path::kSeparator, err);
  }

  bool SubFoldersIn(FolderHandle& folder, std::vector<std::string>* names,
                    std::string* err) override {
    const int fd = FolderFd(folder);
    return ForEachEntryIn(fd, folder.path(), err, [&](const char* name, unsigned char type) {
      if (IsRealFolderIn(fd, name, type)) names->emplace_back(name);
    });
  }

  bool MatchFilesIn(FolderHandle& folder, const std::string& pattern, Names* names,
                    std::string* err) override {
    const int fd = FolderFd(folder);
    return ForEachEntryIn(fd, folder.path(), err, [&](const char* name, unsigned char type) {
      if (name[0] != '.' && WildcardMatch(pattern, name) && IsRegularIn(fd, name, type))
        names->push_back(name);
    });
  }

  std::unique_ptr<ReadableFile> OpenReadIn(FolderHandle& folder, const std::string& name,
                                           std::string* err) override {
    const std::string path = folder.path() + name;
    struct stat st;
    const int fd = OpenRegularAt(FolderFd(folder), name.c_str(), path, O_RDONLY, err, &st);
    if (fd < 0) return nullptr;
    if (st.st_size >= (1 << 20)) ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    return std::make_unique<PosixReadableFile>(fd, path, st);
  }

  bool ListEntriesIn(FolderHandle& folder, std::vector<std::string>* names,
                     std::string* err) override {
    return ForEachEntryIn(FolderFd(folder), folder.path(), err,
                          [&](const char* name, unsigned char) { names->emplace_back(name); });
  }

  bool ExamineIn(FolderHandle& folder, const std::string& name, PathEntry* entry,
                 std::string* err) override {
    struct stat st;
    if (::fstatat(FolderFd(folder), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno == ENOENT) {
        *entry = PathEntry{};
        return true;
      }
      *err = DescribeFailure("无法访问", folder.path() + name, errno);
      return false;
    }
    *entry = {KindOf(st.st_mode), IdentityOf(st), AttributesOf(st)};
    return true;
  }

  bool ReadLinkIn(FolderHandle& folder, const std::string& name, std::string* text,
                  std::string* err) override {
    return ReadLinkAt(FolderFd(folder), name.c_str(), folder.path() + name, text, err);
  }

  bool DeleteFileIn(FolderHandle& folder, const std::string& name, std::string* err) override {
    if (::unlinkat(FolderFd(folder), name.c_str(), 0) == 0) return true;
    *err = DescribeFailure("无法删除", folder.path() + name, errno);
    return false;
  }

  bool DeleteFolderIn(FolderHandle& folder, const std::string& name, std::string* err) override {
    if (::unlinkat(FolderFd(folder), name.c_str(), AT_REMOVEDIR) == 0) return true;
    *err = DescribeFailure("无法删除目录", folder.path() + name, errno);
    return false;
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

  bool Examine(const std::string& path, PathEntry* entry, std::string* err) override {
    struct stat st;
    if (::lstat(OrDot(path), &st) != 0) {
      if (errno == ENOENT) {
        *entry = PathEntry{};
        return true;
      }
      *err = DescribeFailure("无法访问", path, errno);
      return false;
    }
    *entry = {KindOf(st.st_mode), IdentityOf(st), AttributesOf(st),
              static_cast<long long>(st.st_size)};
    return true;
  }

  bool ListEntries(const std::string& folder, std::vector<std::string>* names,
                   std::string* err) override {
    return ForEachEntry(folder, err,
                        [&](const char* name, unsigned char) { names->emplace_back(name); });
  }

  bool Rename(const std::string& from, const std::string& to, std::string* err) override {
    if (::rename(from.c_str(), to.c_str()) == 0) return true;
    *err = DescribeFailure("无法改名为", to, errno);
    return false;
  }

  bool RenameNoReplace(const std::string& from, const std::string& to,
                       std::string* err) override {
    const int failure = RenameWithoutReplacing(from, to);
    if (failure == 0) return true;
    *err = DescribeFailure("无法改名为", to, failure);
    return false;
  }

  bool Exchange(const std::string& a, const std::string& b) override {
    return ::renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_EXCHANGE) == 0;
  }

  bool DeleteFile(const std::string& path, std::string* err) override {
    if (::unlink(path.c_str()) == 0) return true;
    *err = DescribeFailure("无法删除", path, errno);
    return false;
  }

  bool DeleteFolder(const std::string& path, std::string* err) override {
    if (::rmdir(path.c_str()) == 0) return true;
    *err = DescribeFailure("无法删除目录", path, errno);
    return false;
  }

  bool ReadLink(const std::string& path, std::string* text, std::string* err) override {
    return ReadLinkAt(AT_FDCWD, path.c_str(), path, text, err);
  }

  // The link `name` of the folder `dir`, shown as `path`.
  static bool ReadLinkAt(int dir, const char* name, const std::string& path, std::string* text,
                         std::string* err) {
    std::string buffer(256, '\0');
    for (;;) {
      const ssize_t size = ::readlinkat(dir, name, buffer.data(), buffer.size());
      if (size < 0) {
        *err = DescribeFailure("无法读取链接", path, errno);
        return false;
      }
      if (static_cast<size_t>(size) < buffer.size()) {
        buffer.resize(static_cast<size_t>(size));
        *text = std::move(buffer);
        return true;
      }
      buffer.resize(buffer.size() * 2);
    }
  }

  // A name that is taken gets the link under a fresh name beside it first, then a rename
  // puts it in place, so the old entry is never gone without its replacement.
  bool CreateLink(const std::string& text, const std::string& path, std::string* err) override {
    if (::symlink(text.c_str(), path.c_str()) == 0) return true;
    if (errno != EEXIST) {
      *err = DescribeFailure("无法创建链接", path, errno);
      return false;
    }
    const std::string stem = path::FolderPart(path) + kTemporaryPrefix + "link-" +
                             std::to_string(::getpid()) + "-";
    for (unsigned attempt = 0;; ++attempt) {
      const std::string temporary = stem + std::to_string(attempt);
      if (::symlink(text.c_str(), temporary.c_str()) == 0) {
        if (::rename(temporary.c_str(), path.c_str()) == 0) return true;
        *err = DescribeFailure("无法创建链接", path, errno);
        ::unlink(temporary.c_str());
        return false;
      }
      if (errno != EEXIST) {
        *err = DescribeFailure("无法创建链接", path, errno);
        return false;
      }
    }
  }

  bool SetPermissions(const std::string& path, unsigned permissions, std::string* err) override {
    if (::chmod(path.c_str(), permissions & 0777) == 0) return true;
    *err = DescribeFailure("无法设置权限", path, errno);
    return false;
  }

 private:
  // What killed runs left in `folder` goes once per folder and run: a file under the
  // reserved prefix that no pending file holds locked. Anything else is never touched.
  void SweepOnce(const std::string& folder) {
    {
      const unsigned long run = RunNumberOnThisThread();
      std::lock_guard<std::mutex> lock(swept_mutex_);
      const auto [at, first] = swept_.try_emplace(folder, run);
      if (!first && at->second == run) return;
      at->second = run;
    }
    const std::string prefix = kTemporaryPrefix;
    const std::string base = folder.empty() ? std::string() : path::WithSeparator(folder);
    std::string ignored;
    ForEachEntry(folder, &ignored, [&](const char* name, unsigned char type) {
      if (std::string_view(name).substr(0, prefix.size()) != prefix) return;
      const std::string full = base + name;
      // A link cannot be locked: it names the process that made it, and goes once that
      // process is gone.
      if (type == DT_LNK) {
        const long pid = std::strtol(name + prefix.size() + 5, nullptr, 10);
        if (std::string_view(name + prefix.size()).starts_with("link-") && pid > 0 &&
            ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH)
          ::unlink(full.c_str());
        return;
      }
      const bool folder_named = PendingFolderName(name);
      if (type != DT_REG && type != DT_UNKNOWN && !(type == DT_DIR && folder_named)) return;
      const int fd = ::open(full.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
      if (fd < 0) return;
      struct stat mine, there;
      if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::fstat(fd, &mine) != 0 ||
          ::lstat(full.c_str(), &there) != 0 || IdentityOf(mine) != IdentityOf(there)) {
        ::close(fd);
        return;
      }
      if (S_ISREG(mine.st_mode)) {
        ::unlink(full.c_str());
        ::close(fd);
        return;
      }
      // A folder goes only with the name and the mark a pending folder is made with, and only
      // the user's own: a folder the user made and merely named alike stays.
      PosixFolder held(fd, full + path::kSeparator, mine);
      if (!S_ISDIR(mine.st_mode) || !folder_named || (mine.st_mode & kPendingMark) == 0 ||
          mine.st_uid != ::geteuid())
        return;
      ::fchmod(fd, 0700 | kPendingMark);  // a read-only template's bits
      if (EmptyFolder(*this, held, &ignored)) ::rmdir(full.c_str());
    });
  }

  const bool unnamed_pending_files_;

  std::mutex swept_mutex_;
  std::map<std::string, unsigned long> swept_;  // folder, and the run that swept it last
};

}  // namespace

FileSystem& SystemFileSystem() {
  static PosixFileSystem instance(true);
  return instance;
}

std::unique_ptr<FileSystem> MakeSystemFileSystem(const SystemFileSystemOptions& options) {
  return std::make_unique<PosixFileSystem>(options.unnamed_pending_files);
}

}  // namespace quorvane
