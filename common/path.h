#pragma once

#include <string>
#include <string_view>

/// Path texts as the user typed them. File names are byte strings: nothing here decodes them.
namespace quorvane::path {

#ifdef _WIN32
inline constexpr char kSeparator = '\\';
#else
inline constexpr char kSeparator = '/';
#endif

/// True when `c` separates folders (on Windows "/" is accepted as well as "\").
bool IsSeparator(char c);

/// True when the last character of `path` is a separator.
bool EndsWithSeparator(std::string_view path);

/// `path` with one separator appended when its last character is not one.
std::string WithSeparator(std::string path);

/// The text up to and including the last separator; empty when `path` holds none.
std::string FolderPart(std::string_view path);

/// The text after the last separator.
std::string NamePart(std::string_view path);

/// True when `name` is one entry name that the system can make inside a folder: not empty,
/// not "." or "..", no separator or NUL byte, and at most 255 bytes.
bool IsSingleName(std::string_view name);

/// Trims blanks at both ends; used only to test whether a box is empty.
std::string_view Trimmed(std::string_view text);

/// The "/"-separated `path` as an absolute path with ".", ".." and doubled separators folded
/// away, worked out on the text alone: "/a/./b/../c" -> "/a/c"; "/" when nothing is left.
std::string Folded(std::string_view path);

/// `text` with the ASCII letters in lower case, as names that ignore ASCII letter case
/// (the part names of a document package) are compared.
std::string AsciiLower(std::string_view text);

}  // namespace quorvane::path
