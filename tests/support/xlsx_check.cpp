#include "support/xlsx_check.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <set>

#include "support/package_check.h"

namespace quorvane::testing {

namespace {

size_t Utf16Length(const std::string& s) {
  size_t n = 0;
  for (size_t i = 0; i < s.size(); ++i) {
    const unsigned char c = s[i];
    if ((c & 0xC0) != 0x80) n += c >= 0xF0 ? 2 : 1;
  }
  return n;
}

struct Counts {
  size_t strings = 0, xfs = 0, dxfs = 0;
};

void CheckSheetData(const std::string& part, pugi::xml_node root, const Counts& counts,
                    std::vector<std::string>* problems) {
  auto bad = [&](const std::string& what) { problems->push_back(part + ": " + what); };
  auto check_style = [&](pugi::xml_attribute a) {
    if (a && a.as_uint() >= counts.xfs) bad(std::string("style ") + a.value() + " out of range");
  };
  for (pugi::xml_node col : root.child("cols").children("col")) check_style(col.attribute("style"));
  for (pugi::xml_node row : root.child("sheetData").children("row")) {
    check_style(row.attribute("s"));
    for (pugi::xml_node c : row.children("c")) {
      check_style(c.attribute("s"));
      if (!std::strcmp(c.attribute("t").value(), "s") &&
          c.child("v").text().as_ullong() >= counts.strings) {
        bad(std::string("shared string ") + c.child("v").text().get() + " out of range");
      }
    }
  }
  for (pugi::xml_node format : root.children("conditionalFormatting")) {
    for (pugi::xml_node rule : format.children("cfRule")) {
      if (rule.attribute("dxfId") && rule.attribute("dxfId").as_uint() >= counts.dxfs)
        bad("dxfId out of range");
    }
  }
}

}  // namespace

std::vector<std::string> CheckXlsx(const std::string& path) {
  std::vector<std::string> problems;
  std::set<int> table_ids;
  std::set<std::string> table_names;
  auto package = CheckPackage(path, &problems, [&](const std::string&, pugi::xml_node root) {
    if (std::strcmp(root.name(), "table") != 0) return;
    if (!table_ids.insert(root.attribute("id").as_int()).second)
      problems.push_back("table id twice");
    if (!table_names.insert(Lower(root.attribute("name").value())).second)
      problems.push_back("table name twice");
  });
  if (!package) return problems;
  std::string err;
  // Each part is parsed on its own and let go, so a large workbook is checked in little memory.
  auto load = [&](const std::string& part, pugi::xml_document* doc) {
    std::string bytes;
    if (!package->Read(part, &bytes, &err) || !office::ParseXml(bytes, part, doc, &err)) {
      problems.push_back(err);
      return false;
    }
    return true;
  };

  const std::string main = package->MainPart();
  pugi::xml_document workbook_doc, strings_doc, styles_doc;
  load(main, &workbook_doc);
  pugi::xml_node workbook = workbook_doc.child("workbook");
  auto related = [&](const std::string& type, pugi::xml_document* doc) -> pugi::xml_node {
    const office::Relationship* rel =
        package->FindRelationship(main, (std::string(office::reltype::kRoot) + type).c_str());
    return rel && load(package->Resolve(main, *rel), doc) ? doc->document_element()
                                                          : pugi::xml_node();
  };
  Counts counts;
  for (pugi::xml_node si : related("sharedStrings", &strings_doc).children("si")) {
    (void)si;
    ++counts.strings;
  }
  strings_doc.reset();
  pugi::xml_node styles = related("styles", &styles_doc);
  for (pugi::xml_node xf : styles.child("cellXfs").children("xf")) {
    (void)xf;
    ++counts.xfs;
  }
  for (pugi::xml_node dxf : styles.child("dxfs").children("dxf")) {
    (void)dxf;
    ++counts.dxfs;
  }

  std::set<std::string> sheet_names;
  int sheet_count = 0, selected = -1, selected_count = 0;
  for (pugi::xml_node sheet : workbook.child("sheets").children("sheet")) {
    const std::string name = sheet.attribute("name").value();
    if (name.empty() || Utf16Length(name) > 31 ||
        name.find_first_of("[]:*?/\\") != std::string::npos) {
      problems.push_back("invalid sheet name: " + name);
    }
    if (!sheet_names.insert(Lower(name)).second) problems.push_back("sheet name twice: " + name);
    const office::Relationship* rel = nullptr;
    for (const office::Relationship& r : package->Relationships(main)) {
      if (r.id == sheet.attribute("r:id").value()) rel = &r;
    }
    if (!rel) {
      problems.push_back("sheet without relationship: " + name);
      continue;
    }
    const std::string part = package->Resolve(main, *rel);
    pugi::xml_document doc;
    load(part, &doc);
    pugi::xml_node root = doc.document_element();
    for (pugi::xml_node view : root.child("sheetViews").children("sheetView")) {
      if (view.attribute("tabSelected").as_bool()) {
        ++selected_count;
        selected = sheet_count;
      }
    }
    CheckSheetData(part, root, counts, &problems);
    std::set<std::string> ids;
    for (const office::Relationship& r : package->Relationships(part)) ids.insert(r.id);
    for (const std::string& id : office::RelationshipIdsUsed(root)) {
      if (!ids.count(id)) problems.push_back(part + ": unknown relationship " + id);
    }
    ++sheet_count;
  }
  if (selected_count != 1) problems.push_back(std::to_string(selected_count) + " sheets selected");
  if (workbook.child("bookViews").child("workbookView").attribute("activeTab").as_int() !=
      selected) {
    problems.push_back("the active sheet is not the selected one");
  }
  for (pugi::xml_node name : workbook.child("definedNames").children("definedName")) {
    if (name.attribute("localSheetId") && name.attribute("localSheetId").as_int() >= sheet_count) {
      problems.push_back(std::string("localSheetId out of range: ") +
                         name.attribute("name").value());
    }
  }
  return problems;
}

}  // namespace quorvane::testing
