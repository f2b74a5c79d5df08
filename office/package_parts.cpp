#include "office/package_parts.h"

#include <zlib.h>

#include <functional>

namespace quorvane::office {

std::string FolderOf(const std::string& part) {
  const auto slash = part.rfind('/');
  return slash == std::string::npos ? "/" : part.substr(0, slash + 1);
}

std::string RelativeTarget(const std::string& base, const std::string& target_part) {
  size_t common = 0;
  for (size_t i = 0; i < base.size() && i < target_part.size() && base[i] == target_part[i]; ++i)
    if (base[i] == '/') common = i + 1;
  std::string out;
  for (size_t i = common; i < base.size(); ++i)
    if (base[i] == '/') out += "../";
  return out + target_part.substr(common);
}

bool IsMedia(const std::string& content_type) {
  return content_type.find("xml") == std::string::npos;
}

std::string MediaDigest(const std::string& bytes) {
  const auto crc = crc32_z(0, reinterpret_cast<const Bytef*>(bytes.data()), bytes.size());
  return std::to_string(std::hash<std::string>{}(bytes)) + ":" + std::to_string(crc) + ":" +
         std::to_string(bytes.size());
}

}  // namespace quorvane::office
