#include "common/filesystem.h"

#include <fnmatch.h>

#include <cerrno>
#include <cstring>
#include <memory>

namespace quorvane {

bool WritableFile::AppendFrom(ReadableFile& source, std::string* err) {
  // One block per thread for every append: a fresh megabyte per source would cost more than
  // copying a small file.
  constexpr size_t kBlock = 1 << 20;
  thread_local std::unique_ptr<char[]> block(new char[kBlock]);
  for (;;) {
    const long long got = source.Read(block.get(), kBlock, err);
    if (got < 0) return false;
    if (got == 0) return true;
    if (!Write(block.get(), static_cast<size_t>(got), err)) return false;
  }
}

namespace {

const char* Reason(int error_number) {
  switch (error_number) {
    case ENOENT: return "没有那个文件或目录";
    case EACCES: case EPERM: return "权限不够";
    case ENOSPC: return "磁盘空间不足";
    case EDQUOT: return "超出磁盘配额";
    case EROFS: return "只读文件系统";
    case EISDIR: return "是一个目录";
    case ENOTDIR: return "路径中有一部分不是目录";
    case EEXIST: return "已经存在";
    case ENAMETOOLONG: return "名称太长";
    case EIO: return "输入/输出错误";
    case EMFILE: case ENFILE: return "打开的文件太多";
    case ELOOP: return "符号链接层次太多";
    case EFBIG: return "文件太大";
    case EBUSY: return "设备或资源忙";
    default: return nullptr;
  }
}

}  // namespace

std::string DescribeFailure(const std::string& action, const std::string& path, int error_number) {
  const char* reason = Reason(error_number);
  return action + "“" + path + "”：" + (reason ? reason : std::strerror(error_number));
}

}  // namespace quorvane

namespace quorvane {

std::string DescribeNotRegular(const std::string& action, const std::string& path) {
  return action + "“" + path + "”：不是普通文件";
}

bool WildcardMatch(const std::string& pattern, const char* name) {
  if (::fnmatch(pattern.c_str(), name, 0) == 0) return true;
  return pattern.ends_with(".*") &&
         ::fnmatch(pattern.substr(0, pattern.size() - 2).c_str(), name, 0) == 0;
}

}  // namespace quorvane
