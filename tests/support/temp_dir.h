#pragma once

#include <string>
#include <vector>

namespace quorvane::testing {

/// A fresh folder under the system's temporary folder, removed with everything in it when
/// the test ends.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  /// The folder, without a final separator.
  const std::string& path() const { return path_; }
  /// path() + "/" + relative.
  std::string operator/(const std::string& relative) const { return path_ + "/" + relative; }

  /// Writes `bytes` to `relative`, creating its folders.
  std::string Write(const std::string& relative, const std::string& bytes) const;
  void MakeFolder(const std::string& relative) const;

 private:
  std::string path_;
};

/// The whole content of a file ("<missing>" when it cannot be read).
std::string ReadAll(const std::string& path);

/// Everything below `folder` as sorted relative paths: a folder ends in "/", a link reads
/// "name -> text", a file "name=content".
std::vector<std::string> Tree(const std::string& folder);

/// What the shell command `command` prints, its error output discarded.
std::string Shell(const std::string& command);

}  // namespace quorvane::testing
