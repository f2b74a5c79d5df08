#pragma once

#include <map>
#include <pugixml.hpp>
#include <string>
#include <string_view>

namespace quorvane::office {

/// Renames a source's sheets and tables got in the gathered workbook, by folded old name.
struct Renames {
  std::map<std::string, std::string> sheets;
  std::map<std::string, std::string> tables;
  size_t external_offset = 0;  // added to the [n] of references to other workbooks
  /// True when no formula of the source changes.
  bool empty() const { return sheets.empty() && tables.empty() && external_offset == 0; }
};

/// `formula` with its references to renamed sheets (A!B1, 'a b'!B1, A:C!B1) and renamed tables
/// (T[col]) following the new names. String literals and external references are left alone.
std::string RewriteFormula(std::string_view f, const Renames& renames);

/// Rewrites the formulas below `node` (cells, validations, conditional formats, internal
/// hyperlinks) for `renames`.
void RewriteFormulas(pugi::xml_node node, const Renames& renames);

/// The same for a chart part, which keeps its prefixes: its formula elements end in ":f".
void RewriteChartFormulas(pugi::xml_node node, const Renames& renames);

}  // namespace quorvane::office
