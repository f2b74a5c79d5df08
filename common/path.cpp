#include "common/path.h"

#include <algorithm>
#include <vector>

namespace quorvane::path {

bool IsSeparator(char c) {
#ifdef _WIN32
  return c == '\\' || c == '/';
#else
  return c == '/';
#endif
}

bool EndsWithSeparator(std::string_view path) {
  return !path.empty() && IsSeparator(path.back());
}

std::string WithSeparator(std::string path) {
  if (!EndsWithSeparator(path)) path.push_back(kSeparator);
  return path;
}

static std::string_view::size_type LastSeparator(std::string_view path) {
  for (auto i = path.size(); i > 0; --i)
    if (IsSeparator(path[i - 1])) return i - 1;
  return std::string_view::npos;
}

std::string FolderPart(std::string_view path) {
  const auto at = LastSeparator(path);
  return at == std::string_view::npos ? std::string() : std::string(path.substr(0, at + 1));
}

std::string NamePart(std::string_view path) {
  const auto at = LastSeparator(path);
  return std::string(at == std::string_view::npos ? path : path.substr(at + 1));
}

bool IsSingleName(std::string_view name) {
  if (name.empty() || name.size() > 255 || name == "." || name == "..") return false;
  for (char c : name)
    if (c == '\0' || IsSeparator(c)) return false;
  return true;
}

std::string_view Trimmed(std::string_view text) {
  const auto first = text.find_first_not_of(" \t\r\n\f\v");
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(" \t\r\n\f\v");
  return text.substr(first, last - first + 1);
}

std::string Folded(std::string_view path) {
  std::vector<std::string_view> parts;
  for (size_t start = 0; start <= path.size();) {
    const size_t end = std::min(path.find('/', start), path.size());
    const std::string_view part = path.substr(start, end - start);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    start = end + 1;
  }
  std::string folded;
  for (const auto part : parts) folded.append("/").append(part);
  return folded.empty() ? "/" : folded;
}

std::string AsciiLower(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

}  // namespace quorvane::path
