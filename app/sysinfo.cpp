#include "app/sysinfo.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string_view>

namespace quorvane {
namespace {

// The number is read as the hexadecimal text "&h" + digits is; anything that is not 1 to 8
// hex digits is not a number and is kept as text.
std::optional<int32_t> ParseHex32(std::string_view digits) {
  if (digits.empty() || digits.size() > 8) return std::nullopt;
  uint32_t value = 0;
  for (char c : digits) {
    int nibble;
    if (c >= '0' && c <= '9') nibble = c - '0';
    else if (c >= 'A' && c <= 'F') nibble = c - 'A' + 10;
    else if (c >= 'a' && c <= 'f') nibble = c - 'a' + 10;
    else return std::nullopt;
    value = (value << 4) | static_cast<uint32_t>(nibble);
  }
  return static_cast<int32_t>(value);
}

bool IsExecutableFile(const std::string& path) {
  struct stat info {};
  return ::access(path.c_str(), X_OK) == 0 && ::stat(path.c_str(), &info) == 0 &&
         S_ISREG(info.st_mode);
}

}  // namespace

bool GetKeyValue(const RegistryValue* value, std::string& key_val) {
  if (value == nullptr || value->data.size() > kRegBufferSize) {
    key_val.clear();
    return false;
  }
  size_t length = value->data.size();
  if (length > 0 && value->data[length - 1] == 0) --length;

  switch (value->type) {
    case kRegString:
      key_val.assign(value->data.begin(), value->data.begin() + static_cast<long>(length));
      break;
    case kRegNumber: {
      // A number is appended to what key_val already holds, so a caller can put a prefix in front.
      std::string digits = key_val;
      for (size_t i = length; i > 0; --i) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02X", value->data[i - 1]);
        digits += pair;
      }
      const auto number = ParseHex32(digits);
      key_val = number ? std::to_string(*number) : "&h" + digits;
      break;
    }
    default:
      break;
  }
  return true;
}

std::optional<std::string> FindSysInfoProgram(const std::string& search_path) {
  std::vector<std::string> folders;
  size_t start = 0;
  while (true) {
    const size_t colon = search_path.find(':', start);
    std::string folder = search_path.substr(start, colon - start);
    folders.push_back(folder.empty() ? "." : folder);
    if (colon == std::string::npos) break;
    start = colon + 1;
  }
  for (const char* name : {"hardinfo", "kinfocenter", "gnome-system-monitor"}) {
    for (const std::string& folder : folders) {
      std::string candidate = folder + "/" + name;
      if (IsExecutableFile(candidate)) return candidate;
    }
  }
  return std::nullopt;
}

}  // namespace quorvane
