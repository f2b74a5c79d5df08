#pragma once

#include <string>
#include <string_view>
#include <vector>

/// UTF-8 text as Excel compares and measures sheet and table names.
namespace quorvane::office::utf8 {

/// The code points of `s`; a sequence cut short takes what is there.
std::vector<char32_t> Decode(std::string_view s);

/// The key under which names that differ only in letter case are the same name.
std::string FoldCase(std::string_view name);

/// Length as Excel counts it: UTF-16 code units.
size_t NameLength(const std::vector<char32_t>& cps);

/// The leading code points of `cps` that fit in `units` UTF-16 code units, as UTF-8.
std::string Truncated(const std::vector<char32_t>& cps, size_t units);

}  // namespace quorvane::office::utf8
