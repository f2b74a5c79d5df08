#pragma once

#include <string>
#include <utility>
#include <vector>

#include "common/filesystem.h"

namespace quorvane::testing {

/// One cell of a sample sheet. Kinds: 'n' number, 's' shared string, 'i' inline string,
/// 'b' boolean, 'f' formula (`formula` without "=", `value` its cached number).
struct XlsxCell { std::string ref; char kind = 'n'; std::string value; int style = 0;
                  std::string formula; };

/// One sheet of a sample workbook.
struct XlsxSheet {
  std::string name;
  std::vector<XlsxCell> cells;  // in row order
  std::vector<std::string> merges;
  std::vector<std::pair<int, double>> column_widths;  // 1-based column, width
  bool chart = false;             // a chart sheet plotting B1:B3 of the workbook's first sheet
  bool image = false;             // TinyPng(0x80) anchored at D2
  bool freeze = false;            // the first row frozen
  std::string table;              // a table of this name over A1:A3, its column named by A1
  std::string table_name;         // the name it holds beside its display name, when another
  bool highlight = false;         // B1:B3 over 15 filled red by a conditional format
  std::string link;               // a hyperlink on A1 to this address
  std::string comment;            // a note on A1 with this text
  bool rows_and_columns = false;  // row 2 30 points high, row 3 and column C hidden
  bool printer_settings = false;  // a printer-settings part for its page setup
  bool formatted_row = false;     // its first row marked formatted, with no style of its own
};

/// A defined name: of the workbook, or of the sheet at index `sheet` only.
struct XlsxName { std::string name; int sheet = -1; std::string refers_to; };

/// A sample workbook. Cell styles: 0 plain, 1 bold, 2 yellow fill, 3 thin border, 4 the
/// built-in date format 14, 5 + k the custom number format `formats[k]` (ids from 164).
/// Texts are written as they are, so they hold no XML markup characters.
struct XlsxBook {
  std::vector<XlsxSheet> sheets;
  std::vector<std::string> formats;
  bool fonts_reversed = false;  // the bold font and a green dxf listed before the others
  bool date1904 = false;
  int selected = 0;
  std::vector<XlsxName> names;
  bool prefixed = false;       // worksheets written with the prefix `prefix` for their elements
  std::string prefix = "x";
  bool every_namespace = false;  // their roots also declare the package namespaces, unused
  bool external_link = false;  // a link to another workbook, other.xlsx, known to formulas as [1]
  std::string base_font;       // the plain font's XML, when not the sample's own Calibri 11
  int base_format = 0;         // the built-in number format of cell style 0
};

/// Writes `book` as an .xlsx file at `path`.
bool WriteXlsx(FileSystem& fs, const std::string& path, const XlsxBook& book, std::string* err);

}  // namespace quorvane::testing
