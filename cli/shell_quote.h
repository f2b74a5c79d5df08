#pragma once

#include <string>
#include <string_view>

namespace quorvane::cli {

/// `name` as `ls --quoting-style=shell-escape` prints it: unchanged when the shell takes it
/// as it is, otherwise quoted so that the shell gives back the same bytes, with control
/// characters and bytes that are not valid in the locale's encoding written $'\n' and
/// $'\302', so the result never spans more than one line.
std::string ShellQuoted(std::string_view name);

}  // namespace quorvane::cli
