#pragma once

#include <string_view>

namespace quorvane::office {

/// What a file holds, judged by its bytes whatever its name says.
enum class FileContent {
  Other,            // not an OLE compound file (a zip package, or anything else)
  Encrypted,        // an OOXML package encrypted inside a compound file
  LegacyWord,       // a Word 97-2003 document (its "WordDocument" stream)
  LegacyExcel,      // an Excel 97-2003 or older workbook ("Workbook" or "Book")
  OtherCompound,    // a compound file holding something else, or a damaged one
};

/// Tells what `bytes` hold. A compound file (first bytes D0 CF 11 E0 A1 B1 1A E1) is told by
/// the streams of its root storage, found through its header, sector allocation table and
/// directory; every offset is checked against the bytes, so any input is safe to give.
FileContent SniffContent(std::string_view bytes);

}  // namespace quorvane::office
