#pragma once

#include <string>
#include <vector>

namespace quorvane::testing {

/// What is wrong with the workbook package at `path`, one line per fault; empty when it
/// holds together: [Content_Types].xml first, part names distinct regardless of case, every
/// part covered by a content type and well-formed, every internal relationship reaching a
/// part; sheet names valid and distinct regardless of case, one selected sheet which is the
/// active one, localSheetId in range, shared-string, cell-format and dxf indices in range,
/// table ids and names distinct, no element of the workbook, shared strings, styles or
/// worksheet parts naming an attribute twice.
std::vector<std::string> CheckXlsx(const std::string& path);

}  // namespace quorvane::testing
