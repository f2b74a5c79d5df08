#include "common/filesystem.h"

#include <cerrno>
#include <cstring>

namespace quorvane {

bool WritableFile::AppendFrom(ReadableFile& source, std::string* err) {
  std::vector<char> block(1 << 20);
  for (;;) {
    const long long got = source.Read(block.data(), block.size(), err);
    if (got < 0) return false;
    if (got == 0) return true;
    if (!Write(block.data(), static_cast<size_t>(got), err)) return false;
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
