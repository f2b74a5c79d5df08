#include "common/functions.h"

#include <algorithm>
#include <cerrno>

#include "common/natural_order.h"
#include "common/path.h"

namespace quorvane {
namespace {

void ReportFailure(TaskUi& ui, const std::string& description) {
  ui.Message("系统错误：" + description, Icon::Error, Buttons::Ok, kAppTitle);
}

void SortNaturally(std::vector<std::string>& names) {
  std::sort(names.begin(), names.end(),
            [](const std::string& a, const std::string& b) { return NaturalLess(a, b); });
}

}  // namespace

std::string AddZero(long long value, int width) {
  std::string text = std::to_string(value);
  if (width > 0 && text.size() < static_cast<size_t>(width))
    text.insert(0, static_cast<size_t>(width) - text.size(), '0');
  return text;
}

std::string GetTempFolder(FileSystem& fs, TaskUi& ui) {
  std::string folder, err;
  if (!fs.TempFolder(&folder, &err)) {
    ReportFailure(ui, err);
    return {};
  }
  return path::WithSeparator(std::move(folder));
}

NameList GetFileList(FileSystem& fs, TaskUi& ui, const std::string& pattern) {
  std::string folder = path::FolderPart(pattern);
  const std::string name_pattern = path::NamePart(pattern);
  Names names;
  // A pattern may name a subfolder (scans/*.txt); a subfolder that is not there holds no
  // matching file, which is an empty match and not a failure.
  if (!folder.empty() && !fs.FolderExists(folder)) return names;
  std::string err;
  if (!fs.MatchFiles(folder, name_pattern, &names, &err)) {
    ReportFailure(ui, err);
    return std::nullopt;
  }
  names.SortNaturally();
  return names;
}

NameList GetFolderList(FileSystem& fs, TaskUi& ui, const std::string& folder, bool all_levels) {
  std::string err;
  if (!fs.FolderExists(folder)) {
    ui.Message(DescribeFailure("找不到目录", folder, ENOENT), Icon::Error, Buttons::Ok, "系统错误");
    return std::nullopt;
  }
  Names list{path::WithSeparator(folder)};
  // The list is walked while it grows: each folder's subfolders join the end, so the
  // result comes out level by level.
  for (size_t i = 0; i < list.size(); ++i) {
    std::vector<std::string> names;
    // A folder left out in silence would leave its files out of the task with no word.
    if (!fs.SubFolders(std::string(list[i]), &names, &err)) {
      ui.Message(err, Icon::Error, Buttons::Ok, "系统错误");
      return std::nullopt;
    }
    SortNaturally(names);
    for (const auto& name : names) {
      std::string child(list[i]);
      list.push_back(child.append(name) += path::kSeparator);
    }
    if (!all_levels) break;
  }
  return list;
}

void CreatePath(FileSystem& fs, TaskUi& ui, std::string& path) {
  path = path::WithSeparator(std::move(path));
  for (size_t end = 0; end < path.size(); ++end) {
    if (!path::IsSeparator(path[end])) continue;
    const std::string prefix = path.substr(0, end + 1);
    if (fs.FolderExists(prefix)) continue;
    std::string err;
    if (!fs.CreateFolder(prefix, &err)) {
      ReportFailure(ui, err);
      return;
    }
  }
}

}  // namespace quorvane
