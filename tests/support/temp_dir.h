#pragma once

#include <string>
#include <vector>

namespace quorvane::testing {

/// A fresh folder under `parent` (the system's temporary folder when empty), removed with
/// everything in it when the test ends.
class TempDir {
 public:
  explicit TempDir(const std::string& parent = "");
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  /// The folder, without a final separator.
  const std::string& path() const { return path_; }
  /// path() + "/" + relative.
  std::string operator/(const std::string& relative) const { return path_ + "/" + relative; }

  /// Writes `bytes` to `relative`, creating its folders; gives its path.
  std::string Write(const std::string& relative, const std::string& bytes) const;
  /// Makes `relative` with the folders it needs; gives its path.
  std::string MakeFolder(const std::string& relative) const;

 private:
  std::string path_;
};

/// Sets the environment variable `name` for the life of the object, and sets back the value
/// it had.
class ScopedEnv {
 public:
  ScopedEnv(std::string name, const std::string& value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_, saved_;
  bool had_;
};

/// The whole content of a file ("<missing>" when it cannot be read).
std::string ReadAll(const std::string& path);

/// Everything below `folder` as sorted relative paths: a folder ends in "/", a link reads
/// "name -> text", a file "name=content".
std::vector<std::string> Tree(const std::string& folder);

/// What the shell command `command` prints, its error output discarded.
std::string Shell(const std::string& command);

/// Converts `files` of `folder` with LibreOffice, when it is installed, into `format` in the
/// subfolder named like the format; false when LibreOffice is not installed.
bool ConvertWithOffice(const std::string& folder, const std::string& files,
                       const std::string& format);

}  // namespace quorvane::testing
