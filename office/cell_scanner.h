#pragma once

#include <pugixml.hpp>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "office/formula_rewrite.h"

namespace quorvane::office {

/// One start or end tag as written, attribute values still escaped.
struct Tag {
  std::string_view name;
  std::vector<std::pair<std::string_view, std::string_view>> attributes;
  bool closing = false;
  bool empty = false;
};

/// Reads the tag that begins at in[i] ('<'); gives the position after it, or npos for
/// anything the streaming pass leaves to the DOM (comments, prefixed elements, bad syntax).
size_t ReadTag(std::string_view in, size_t i, Tag* tag);

/// What changes in a copied sheet's cells.
struct CellRules {
  size_t string_offset = 0;
  const std::vector<int>* xf_map = nullptr;
  int base_xf = 0;  // given to cells without a style, and formatted rows without one
  const std::vector<bool>* xf_is_date = nullptr;  // null when the dates stay as they are
  const Renames* renames = nullptr;               // null when no formula changes
};

/// The style index an `s` attribute holds; -1 for anything but a plain decimal number, which
/// then maps like an index past every list.
int StyleIndex(std::string_view text);

/// The entry `index` of `map`, 0 for an index outside it.
int Mapped(const std::vector<int>& map, int index);

/// Rewrites the cells of a sheet, the text between <sheetData> and </sheetData>, in one pass
/// over the text, into `out`. `prefixes` collects the attribute prefixes it met. False when
/// the text holds something only the DOM handles.
bool StreamCells(std::string_view in, const CellRules& rules, std::string* out,
                 std::set<std::string>* prefixes);

/// The same changes as StreamCells, on a DOM.
void RewriteCellsInDom(pugi::xml_node sheet_data, const CellRules& rules);

}  // namespace quorvane::office
