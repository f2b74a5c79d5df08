#pragma once

#include <string>
#include <vector>

namespace quorvane::testing {

/// The faults found in the Word package at `path`, one readable line each; empty when the
/// package is sound: [Content_Types].xml first, every part covered by a content type and
/// well-formed, no two names differing only by case, every relationship target present,
/// unique bookmark, drawing, comment, note and paragraph ids, and every style, numbering,
/// comment and note reference resolved.
std::vector<std::string> CheckDocx(const std::string& path);

}  // namespace quorvane::testing
