#include "support/xlsx_check.h"

#include <cstring>
#include <set>

#include "common/path.h"
#include "support/package_check.h"

namespace quorvane::testing {

namespace {

size_t Utf16Length(const std::string& s) {
  size_t n = 0;
  for (const unsigned char c : s)
    if ((c & 0xC0) != 0x80) n += c >= 0xF0 ? 2 : 1;
  return n;
}

size_t Count(pugi::xml_node list) { return std::distance(list.begin(), list.end()); }

/// Cell, row and column styles, shared strings and conditional formats indexing past their lists.
void CheckSheetData(const std::string& part, pugi::xml_node root, size_t strings, size_t xfs,
                    size_t dxfs, std::vector<std::string>* problems) {
  auto check = [&](pugi::xml_attribute a, size_t count, const char* what) {
    if (a && a.as_ullong() >= count) problems->push_back(part + ": " + what + " " + a.value());
  };
  for (pugi::xml_node col : root.child("cols").children("col"))
    check(col.attribute("style"), xfs, "style");
  for (pugi::xml_node row : root.child("sheetData").children("row")) {
    check(row.attribute("s"), xfs, "style");
    for (pugi::xml_node c : row.children("c")) {
      check(c.attribute("s"), xfs, "style");
      if (!std::strcmp(c.attribute("t").value(), "s") && c.child("v").text().as_ullong() >= strings)
        problems->push_back(part + ": shared string " + c.child("v").text().get());
    }
  }
  for (pugi::xml_node format : root.children("conditionalFormatting"))
    for (pugi::xml_node rule : format.children("cfRule")) check(rule.attribute("dxfId"), dxfs, "dxf");
}

/// An element naming one attribute twice (a namespace declared twice, say) as written: the
/// parts are read back normalised, which would hide it.
void CheckAttributesOnce(const std::string& part, const std::string& bytes,
                         std::vector<std::string>* problems) {
  pugi::xml_document raw;
  if (!raw.load_buffer(bytes.data(), bytes.size())) return;
  office::ForEachElement(raw.document_element(), [&](pugi::xml_node element) {
    std::set<std::string> names;
    for (pugi::xml_attribute a : element.attributes())
      if (!names.insert(a.name()).second)
        problems->push_back(part + ": attribute " + a.name() + " twice on " + element.name());
  });
}

}  // namespace

std::vector<std::string> CheckXlsx(const std::string& path) {
  std::vector<std::string> problems;
  std::set<std::string> tables;
  auto package = CheckPackage(path, &problems, [&](const std::string&, pugi::xml_node root) {
    if (std::strcmp(root.name(), "table") != 0) return;
    if (!tables.insert(std::string("id ") + root.attribute("id").value()).second ||
        !tables.insert("name " + path::AsciiLower(root.attribute("name").value())).second)
      problems.push_back("table id or name twice");
  });
  if (!package) return problems;
  // Each part is parsed on its own and let go, so a large workbook is checked in little memory.
  auto load = [&](const std::string& part, pugi::xml_document* doc) {
    std::string bytes, err;
    if (!package->Read(part, &bytes, &err) || !office::ParseXml(bytes, part, doc, &err))
      problems.push_back(err);
    CheckAttributesOnce(part, bytes, &problems);
    return doc->document_element();
  };
  const std::string main = package->MainPart();
  auto related = [&](const std::string& type, pugi::xml_document* doc) {
    const office::Relationship* rel =
        package->FindRelationship(main, (std::string(office::reltype::kRoot) + type).c_str());
    return rel ? load(package->Resolve(main, *rel), doc) : pugi::xml_node();
  };
  pugi::xml_document workbook_doc, strings_doc, styles_doc;
  const pugi::xml_node workbook = load(main, &workbook_doc);
  const size_t strings = Count(related("sharedStrings", &strings_doc));
  strings_doc.reset();
  const pugi::xml_node styles = related("styles", &styles_doc);
  const size_t xfs = Count(styles.child("cellXfs")), dxfs = Count(styles.child("dxfs"));

  std::set<std::string> sheet_names;
  int sheet_count = 0, selected = -1, selected_count = 0;
  for (pugi::xml_node sheet : workbook.child("sheets").children("sheet")) {
    const std::string name = sheet.attribute("name").value();
    if (name.empty() || Utf16Length(name) > 31 || name.find_first_of("[]:*?/\\") != std::string::npos)
      problems.push_back("invalid sheet name: " + name);
    if (!sheet_names.insert(path::AsciiLower(name)).second) problems.push_back("sheet name twice: " + name);
    std::string part;
    for (const office::Relationship& r : package->Relationships(main))
      if (r.id == sheet.attribute("r:id").value()) part = package->Resolve(main, r);
    if (part.empty()) {
      problems.push_back("sheet without relationship: " + name);
      continue;
    }
    pugi::xml_document doc;
    const pugi::xml_node root = load(part, &doc);
    for (pugi::xml_node view : root.child("sheetViews").children("sheetView")) {
      if (view.attribute("tabSelected").as_bool()) ++selected_count, selected = sheet_count;
    }
    CheckSheetData(part, root, strings, xfs, dxfs, &problems);
    std::set<std::string> ids;
    for (const office::Relationship& r : package->Relationships(part)) ids.insert(r.id);
    for (const std::string& id : office::RelationshipIdsUsed(root))
      if (!ids.count(id)) problems.push_back(part + ": unknown relationship " + id);
    ++sheet_count;
  }
  if (selected_count != 1) problems.push_back(std::to_string(selected_count) + " sheets selected");
  if (workbook.child("bookViews").child("workbookView").attribute("activeTab").as_int() != selected)
    problems.push_back("the active sheet is not the selected one");
  for (pugi::xml_node name : workbook.child("definedNames").children("definedName")) {
    if (name.attribute("localSheetId") && name.attribute("localSheetId").as_int() >= sheet_count)
      problems.push_back(std::string("localSheetId out of range: ") + name.attribute("name").value());
  }
  return problems;
}

}  // namespace quorvane::testing
