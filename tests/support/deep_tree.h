#pragma once

// Folder trees deeper than the longest path the system takes (PATH_MAX, 4,096 bytes): made one
// name at a time relative to open folders, as `mkdir -p` cannot make them.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace quorvane::testing {

/// The folder name of level `level` (from 1) of a deep tree: 200 bytes.
inline std::string DeepName(int level) {
  std::string name = "d" + std::to_string(level) + "-";
  return name.append(200 - name.size(), 'x');
}

/// Makes `levels` nested folders DeepName(1)/DeepName(2)/... in the existing folder `top`, and
/// in the folder of each level of `file_levels` (0 is `top`) a file "f<level>.txt" holding the
/// level's number. The paths of the files as text, in the order of `file_levels` (ascending).
inline std::vector<std::string> MakeDeepTree(const std::string& top, int levels,
                                             const std::vector<int>& file_levels) {
  std::vector<std::string> files;
  std::string path = top + "/";
  int fd = ::open(top.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  for (int level = 0; fd >= 0; ++level) {
    for (const int wanted : file_levels) {
      if (wanted != level) continue;
      const std::string name = "f" + std::to_string(level) + ".txt";
      const std::string text = std::to_string(level);
      const int file = ::openat(fd, name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
      if (file < 0 || ::write(file, text.data(), text.size()) != ssize_t(text.size()))
        throw std::runtime_error("cannot write " + name);
      ::close(file);
      files.push_back(path + name);
    }
    if (level == levels) break;
    const std::string name = DeepName(level + 1);
    const int next = ::mkdirat(fd, name.c_str(), 0755) == 0
                         ? ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)
                         : -1;
    ::close(fd);
    fd = next;
    path += name + "/";
  }
  if (fd < 0) throw std::runtime_error("cannot make the deep tree in " + top);
  ::close(fd);
  return files;
}

/// The path text of the folder of level `level` of a deep tree in `top`, ending in "/".
inline std::string DeepFolder(const std::string& top, int level) {
  std::string path = top + "/";
  for (int i = 1; i <= level; ++i) path += DeepName(i) + "/";
  return path;
}

}  // namespace quorvane::testing
