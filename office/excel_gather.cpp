#include "office/excel_gather.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <set>
#include <unordered_map>
#include <utility>
#include <vector>

#include "common/path.h"
#include "office/cell_scanner.h"
#include "office/formula_rewrite.h"
#include "office/part_importer.h"
#include "office/utf8_fold.h"
#include "office/vml_shapes.h"
#include "office/xml.h"

namespace quorvane::office {

namespace {

namespace ct {
constexpr const char* kWorkbook =
    "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml";
constexpr const char* kWorksheet =
    "application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml";
constexpr const char* kChartsheet =
    "application/vnd.openxmlformats-officedocument.spreadsheetml.chartsheet+xml";
constexpr const char* kStyles =
    "application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml";
constexpr const char* kStrings =
    "application/vnd.openxmlformats-officedocument.spreadsheetml.sharedStrings+xml";
constexpr const char* kTheme = "application/vnd.openxmlformats-officedocument.theme+xml";
constexpr const char* kTable =
    "application/vnd.openxmlformats-officedocument.spreadsheetml.table+xml";
constexpr const char* kChart = "application/vnd.openxmlformats-officedocument.drawingml.chart+xml";
}  // namespace ct

std::string Rel(const char* last) { return std::string(reltype::kRoot) + last; }

constexpr const char* kWorkbookPart = "/xl/workbook.xml";
constexpr const char* kStylesPart = "/xl/styles.xml";
constexpr const char* kThemePart = "/xl/theme/theme1.xml";
constexpr const char* kStringsPart = "/xl/sharedStrings.xml";
constexpr int kBlankSheetsBefore = 2;  // Sheet1 and Sheet2; Sheet3 stays last
constexpr size_t kMaxSheetName = 31;

constexpr const char* kTheme1 =
    R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)"
    "\n"
    R"(<a:theme xmlns:a="http://schemas.openxmlformats.org/drawingml/2006/main" name="Office Theme">)"
    R"(<a:themeElements><a:clrScheme name="Office">)"
    R"(<a:dk1><a:sysClr val="windowText" lastClr="000000"/></a:dk1>)"
    R"(<a:lt1><a:sysClr val="window" lastClr="FFFFFF"/></a:lt1>)"
    R"(<a:dk2><a:srgbClr val="44546A"/></a:dk2><a:lt2><a:srgbClr val="E7E6E6"/></a:lt2>)"
    R"(<a:accent1><a:srgbClr val="4472C4"/></a:accent1><a:accent2><a:srgbClr val="ED7D31"/></a:accent2>)"
    R"(<a:accent3><a:srgbClr val="A5A5A5"/></a:accent3><a:accent4><a:srgbClr val="FFC000"/></a:accent4>)"
    R"(<a:accent5><a:srgbClr val="5B9BD5"/></a:accent5><a:accent6><a:srgbClr val="70AD47"/></a:accent6>)"
    R"(<a:hlink><a:srgbClr val="0563C1"/></a:hlink><a:folHlink><a:srgbClr val="954F72"/></a:folHlink>)"
    R"(</a:clrScheme><a:fontScheme name="Office">)"
    R"(<a:majorFont><a:latin typeface="Calibri Light"/><a:ea typeface=""/><a:cs typeface=""/></a:majorFont>)"
    R"(<a:minorFont><a:latin typeface="Calibri"/><a:ea typeface=""/><a:cs typeface=""/></a:minorFont>)"
    R"(</a:fontScheme><a:fmtScheme name="Office"><a:fillStyleLst>)"
    R"(<a:solidFill><a:schemeClr val="phClr"/></a:solidFill>)"
    R"(<a:solidFill><a:schemeClr val="phClr"><a:tint val="50000"/></a:schemeClr></a:solidFill>)"
    R"(<a:solidFill><a:schemeClr val="phClr"><a:shade val="80000"/></a:schemeClr></a:solidFill>)"
    R"(</a:fillStyleLst><a:lnStyleLst>)"
    R"(<a:ln w="6350"><a:solidFill><a:schemeClr val="phClr"/></a:solidFill></a:ln>)"
    R"(<a:ln w="12700"><a:solidFill><a:schemeClr val="phClr"/></a:solidFill></a:ln>)"
    R"(<a:ln w="19050"><a:solidFill><a:schemeClr val="phClr"/></a:solidFill></a:ln>)"
    R"(</a:lnStyleLst><a:effectStyleLst>)"
    R"(<a:effectStyle><a:effectLst/></a:effectStyle><a:effectStyle><a:effectLst/></a:effectStyle>)"
    R"(<a:effectStyle><a:effectLst/></a:effectStyle></a:effectStyleLst><a:bgFillStyleLst>)"
    R"(<a:solidFill><a:schemeClr val="phClr"/></a:solidFill>)"
    R"(<a:solidFill><a:schemeClr val="phClr"><a:tint val="95000"/></a:schemeClr></a:solidFill>)"
    R"(<a:solidFill><a:schemeClr val="phClr"><a:shade val="90000"/></a:schemeClr></a:solidFill>)"
    R"(</a:bgFillStyleLst></a:fmtScheme></a:themeElements><a:objectDefaults/><a:extraSpcLst/></a:theme>)";

std::string BlankSheet(bool selected) {
  std::string xml =
      R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)"
      "\n"
      R"(<worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" )"
      R"(xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships">)"
      R"(<dimension ref="A1"/><sheetViews><sheetView )";
  if (selected) xml += R"(tabSelected="1" )";
  xml +=
      R"(workbookViewId="0"/></sheetViews><sheetFormatPr defaultRowHeight="15"/><sheetData/>)"
      R"(<pageMargins left="0.7" right="0.7" top="0.75" bottom="0.75" header="0.3" footer="0.3"/>)"
      R"(</worksheet>)";
  return xml;
}

std::string Print(pugi::xml_node node) {
  std::string out;
  StringWriter writer(&out);
  node.print(writer, "", pugi::format_raw);
  return out;
}

// --- Names -------------------------------------------------------------------------------

using utf8::Decode;
using utf8::FoldCase;
using utf8::NameLength;
using utf8::Truncated;

/// A usable sheet name from whatever a source holds: no []:*?/\, not empty, at most 31.
std::string ValidSheetName(const std::string& name) {
  std::vector<char32_t> cps;
  for (char32_t c : Decode(name)) {
    if (c == '[' || c == ']' || c == ':' || c == '*' || c == '?' || c == '/' || c == '\\' ||
        c < 0x20) {
      c = '_';
    }
    cps.push_back(c);
  }
  while (!cps.empty() && cps.front() == '\'') cps.erase(cps.begin());
  while (!cps.empty() && cps.back() == '\'') cps.pop_back();
  if (cps.empty()) return "Sheet";
  return Truncated(cps, kMaxSheetName);
}

// --- Styles ------------------------------------------------------------------------------

/// Whether a number-format code shows a date (days, months as names, years), not a time
/// or a plain number.
bool IsDateCode(std::string_view code) {
  bool in_quotes = false;
  int brackets = 0;
  for (size_t i = 0; i < code.size(); ++i) {
    const char c = code[i];
    if (in_quotes) {
      if (c == '"') in_quotes = false;
      continue;
    }
    if (c == '"') {
      in_quotes = true;
      continue;
    }
    if (c == '\\' || c == '_' || c == '*') {
      ++i;
      continue;
    }
    if (c == '[') {
      ++brackets;
      continue;
    }
    if (c == ']') {
      --brackets;
      continue;
    }
    if (brackets > 0) continue;
    const char l = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (l == 'g' && code.size() - i >= 7 && FoldCase(code.substr(i, 7)) == "general") {
      i += 6;
      continue;
    }
    if (l == 'e' && i + 1 < code.size() && (code[i + 1] == '+' || code[i + 1] == '-')) continue;
    if (l == 'd' || l == 'y' || l == 'e') return true;
    if (l == 'm' && code.substr(i, 3) == "mmm") return true;
  }
  return false;
}

bool IsBuiltinDateFormat(int id) {
  return (id >= 14 && id <= 17) || id == 22 || (id >= 27 && id <= 31) || (id >= 34 && id <= 36) ||
         (id >= 50 && id <= 58);
}

/// Removes what a style entry carries in namespaces the gathered styles part does not declare.
void StripForeign(pugi::xml_node node) {
  for (pugi::xml_attribute a = node.first_attribute(); a;) {
    pugi::xml_attribute next = a.next_attribute();
    if (std::strchr(a.name(), ':')) node.remove_attribute(a);
    a = next;
  }
  for (pugi::xml_node child = node.first_child(); child;) {
    pugi::xml_node next = child.next_sibling();
    if (child.type() == pugi::node_element &&
        (std::strchr(child.name(), ':') || !std::strcmp(child.name(), "extLst"))) {
      node.remove_child(child);
    } else {
      StripForeign(child);
    }
    child = next;
  }
}

/// Entries kept once each, by their XML.
struct UniqueList {
  std::vector<std::string> items;
  std::unordered_map<std::string, int> index;
  int Add(std::string xml) {
    auto [it, fresh] = index.emplace(xml, static_cast<int>(items.size()));
    if (fresh) items.push_back(std::move(xml));
    return it->second;
  }
};

int IntAttribute(pugi::xml_node node, const char* name) { return node.attribute(name).as_int(0); }

/// Whether the cell format `xf`, its indices already the gathered workbook's, looks like the
/// gathered workbook's base format: the same number format, font, fill, border and cell
/// style, no alignment or protection of its own.
bool IsGatheredBase(pugi::xml_node xf) {
  for (const char* name : {"numFmtId", "fontId", "fillId", "borderId", "xfId"})
    if (IntAttribute(xf, name) != 0) return false;
  return !xf.find_child([](pugi::xml_node n) { return n.type() == pugi::node_element; });
}

// --- Sources -----------------------------------------------------------------------------

std::string NotAWorkbook(const std::string& path, const std::string& why) {
  return "无法读取文件“" + path + "”：不是有效的 Excel 工作簿（" + why + "）";
}

bool ParsePart(const Package& source, const std::string& part, pugi::xml_document* doc,
               std::string* err) {
  std::string bytes;
  return source.Read(part, &bytes, err) && ParseXml(bytes, part, doc, err);
}

const Relationship* RelationshipById(const Package& source, const std::string& owner,
                                     std::string_view id) {
  for (const Relationship& r : source.Relationships(owner)) {
    if (r.id == id) return &r;
  }
  return nullptr;
}

struct DefinedName {
  std::string name;
  int position = -1;  // the sheet's final position for a sheet-scoped name; -1 for the workbook
  std::vector<std::pair<std::string, std::string>> attributes;
  std::string text;
};

/// The absolute part a relationship of the target package's part `owner` names.
std::string ResolveTarget(const std::string& owner, const std::string& target) {
  if (!target.empty() && target[0] == '/') return target;
  return path::Folded(owner.substr(0, owner.rfind('/') + 1) + target);
}

}  // namespace

struct ExcelGather::State {
  explicit State(FileSystem& f) : fs(f) {}

  struct Source {
    std::string path;
    size_t size = 0;
    size_t digest = 0;
    std::string strings_part;  // empty when the source has no shared strings
    size_t string_offset = 0;
    std::vector<int> xf_map;
    int base_xf = 0;  // what its unstyled cells take: its own base format, as gathered
    std::vector<int> dxf_map;
    bool date1904 = false;
    std::vector<bool> xf_is_date;
    Renames renames;
  };
  struct Sheet {
    std::string name;
    std::string state;  // "hidden", "veryHidden" or empty
    std::string target_part;
    bool chart = false;
    size_t source = 0;
    std::string source_part;
    std::map<std::string, std::string> rel_ids;
    std::map<long, long> shape_blocks;  // the blocks of its VML drawings, old -> new
  };

  FileSystem& fs;
  PackageWriter writer;
  std::vector<Source> sources;
  std::vector<Sheet> sheets;  // the gathered ones, in order
  std::set<std::string> taken_names{"sheet1", "sheet2", "sheet3"};
  size_t string_count = 0;
  std::vector<DefinedName> names;
  std::vector<std::string> external_links;  // parts, in the order formulas number them
  std::set<std::string> workbook_names;     // folded names of workbook scope
  std::set<std::string> table_names;        // folded display names
  std::set<std::string> table_plain_names;  // folded, the name each table holds beside it
  int table_id = 0;
  long next_shape_block = 1;
  std::map<std::string, std::map<long, long>> vml_blocks;  // by VML part

  UniqueList fonts, fills, borders, style_xfs, cell_xfs, dxfs;
  std::map<std::string, int> format_ids;  // custom code -> id
  int next_format_id = 164;

  // The source open while the result is written: one at a time.
  size_t open_index = static_cast<size_t>(-1);
  std::unique_ptr<Package> open;

  void Start();
  std::string FreeSheetName(const std::string& wanted);
  int FormatId(const std::string& code);
  int AddEntry(UniqueList& list, pugi::xml_node node);
  bool MergeStyles(const Package& source, Source* src, std::string* err);
  void MergeDxfs(pugi::xml_node dxfs_node, std::vector<int>* dxf_map);
  bool CopySheets(const Package& source, std::vector<Sheet>* added, std::string* err);
  bool CopyParts(const Package& source, const std::string& path, pugi::xml_node workbook,
                 std::vector<Sheet>* added, std::vector<std::string>* links,
                 std::vector<std::string>* fresh, std::string* err);
  void FixCopiedParts(const std::vector<std::string>& fresh, Source* src,
                      const std::vector<int>& dxf_map);
  void AddNames(pugi::xml_node workbook, const std::vector<int>& positions,
                const std::vector<int>& worksheet_positions, const Renames& renames);
  bool OpenSource(size_t index, std::string* err);
  bool ProduceSheet(const Sheet& sheet, std::string* piece, std::string* err);
  std::string StylesXml() const;
  std::string WorkbookXml(const std::vector<std::string>& rel_ids) const;
};

void ExcelGather::State::Start() {
  for (const char* xml :
       {"<font><sz val=\"11\"/><color theme=\"1\"/><name val=\"Calibri\"/><family val=\"2\"/>"
        "<scheme val=\"minor\"/></font>"}) {
    pugi::xml_document doc;
    doc.load_string(xml);
    fonts.Add(Print(doc.first_child()));
  }
  for (const char* xml : {"<fill><patternFill patternType=\"none\"/></fill>",
                          "<fill><patternFill patternType=\"gray125\"/></fill>"}) {
    pugi::xml_document doc;
    doc.load_string(xml);
    fills.Add(Print(doc.first_child()));
  }
  pugi::xml_document doc;
  doc.load_string("<border><left/><right/><top/><bottom/><diagonal/></border>");
  borders.Add(Print(doc.first_child()));
  doc.load_string("<xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\"/>");
  style_xfs.Add(Print(doc.first_child()));
  doc.load_string("<xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\"/>");
  cell_xfs.Add(Print(doc.first_child()));

  writer.SetPart(kThemePart, kTheme1, ct::kTheme);
  for (int i = 1; i <= 3; ++i) {
    writer.SetPart("/xl/worksheets/sheet" + std::to_string(i) + ".xml", BlankSheet(i == 1),
                   ct::kWorksheet);
  }
}

ExcelGather::ExcelGather(FileSystem& fs) : state_(std::make_unique<State>(fs)) { state_->Start(); }
ExcelGather::~ExcelGather() = default;

std::string ExcelGather::State::FreeSheetName(const std::string& wanted) {
  const std::string name = ValidSheetName(wanted);
  if (!taken_names.count(FoldCase(name))) return name;
  const std::vector<char32_t> cps = Decode(name);
  for (int k = 2;; ++k) {
    const std::string suffix = " (" + std::to_string(k) + ")";
    const size_t room = kMaxSheetName - suffix.size();
    std::string candidate = (NameLength(cps) > room ? Truncated(cps, room) : name) + suffix;
    if (!taken_names.count(FoldCase(candidate))) return candidate;
  }
}

int ExcelGather::State::FormatId(const std::string& code) {
  auto [it, fresh] = format_ids.emplace(code, next_format_id);
  if (fresh) ++next_format_id;
  return it->second;
}

int ExcelGather::State::AddEntry(UniqueList& list, pugi::xml_node node) {
  StripForeign(node);
  return list.Add(Print(node));
}

void ExcelGather::State::MergeDxfs(pugi::xml_node dxfs_node, std::vector<int>* dxf_map) {
  for (pugi::xml_node dxf : dxfs_node.children("dxf")) {
    if (pugi::xml_node format = dxf.child("numFmt")) {
      format.attribute("numFmtId").set_value(FormatId(format.attribute("formatCode").value()));
    }
    dxf_map->push_back(AddEntry(dxfs, dxf));
  }
}

bool ExcelGather::State::MergeStyles(const Package& source, Source* src, std::string* err) {
  const Relationship* rel = source.FindRelationship(source.MainPart(), Rel("styles").c_str());
  if (!rel) return true;
  pugi::xml_document doc;
  if (!ParsePart(source, source.Resolve(source.MainPart(), *rel), &doc, err)) return false;
  pugi::xml_node root = doc.child("styleSheet");

  std::map<int, int> format_map;
  std::map<int, bool> format_is_date;
  for (pugi::xml_node f : root.child("numFmts").children("numFmt")) {
    const std::string code = f.attribute("formatCode").value();
    format_map[IntAttribute(f, "numFmtId")] = FormatId(code);
    format_is_date[IntAttribute(f, "numFmtId")] = IsDateCode(code);
  }
  auto map_list = [&](pugi::xml_node list, const char* child, UniqueList& target) {
    std::vector<int> map;
    for (pugi::xml_node n : list.children(child)) map.push_back(AddEntry(target, n));
    return map;
  };
  const std::vector<int> font_map = map_list(root.child("fonts"), "font", fonts);
  const std::vector<int> fill_map = map_list(root.child("fills"), "fill", fills);
  const std::vector<int> border_map = map_list(root.child("borders"), "border", borders);
  auto remap_xf = [&](pugi::xml_node xf) {
    pugi::xml_attribute format = xf.attribute("numFmtId");
    if (format) {
      auto it = format_map.find(format.as_int());
      if (it != format_map.end()) {
        format.set_value(it->second);
      } else if (format.as_int() >= 164) {
        format.set_value(0);  // a custom format the source never defined
      }
    }
    for (auto [name, map] : {std::pair{"fontId", &font_map}, std::pair{"fillId", &fill_map},
                             std::pair{"borderId", &border_map}}) {
      if (pugi::xml_attribute a = xf.attribute(name)) a.set_value(Mapped(*map, a.as_int()));
    }
  };
  std::vector<int> style_xf_map;
  for (pugi::xml_node xf : root.child("cellStyleXfs").children("xf")) {
    remap_xf(xf);
    style_xf_map.push_back(AddEntry(style_xfs, xf));
  }
  for (pugi::xml_node xf : root.child("cellXfs").children("xf")) {
    const int id = IntAttribute(xf, "numFmtId");
    auto custom = format_is_date.find(id);
    src->xf_is_date.push_back(custom != format_is_date.end() ? custom->second
                                                             : IsBuiltinDateFormat(id));
    remap_xf(xf);
    if (pugi::xml_attribute a = xf.attribute("xfId")) a.set_value(Mapped(style_xf_map, a.as_int()));
    src->xf_map.push_back(AddEntry(cell_xfs, xf));
    if (src->xf_map.size() == 1 && !IsGatheredBase(xf)) src->base_xf = src->xf_map[0];
  }
  MergeDxfs(root.child("dxfs"), &src->dxf_map);
  return true;
}

namespace {

/// Drops what refers to a relationship that was not carried (printer settings, pivot tables,
/// slicers): the attribute on pageSetup, else the element (and an extension left empty).
/// `kept` maps the source's ids that were carried; it runs before they are renumbered.
void DropDanglingReferences(pugi::xml_node root, const std::map<std::string, std::string>& kept) {
  std::vector<pugi::xml_node> doomed;
  std::function<void(pugi::xml_node)> walk = [&](pugi::xml_node node) {
    for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
      if (child.type() != pugi::node_element || !std::strcmp(child.name(), "sheetData")) continue;
      for (pugi::xml_attribute a = child.first_attribute(); a;) {
        pugi::xml_attribute next = a.next_attribute();
        if (!std::strncmp(a.name(), "r:", 2) && !kept.count(a.value())) {
          if (!std::strcmp(child.name(), "pageSetup")) {
            child.remove_attribute(a);
          } else {
            doomed.push_back(child);
            break;
          }
        }
        a = next;
      }
      walk(child);
    }
  };
  walk(root);
  for (pugi::xml_node node : doomed) {
    pugi::xml_node target = node;
    for (pugi::xml_node up = node.parent(); up && up != root; up = up.parent()) {
      if (!std::strcmp(up.name(), "ext") && !std::strcmp(up.parent().name(), "extLst")) {
        target = up;
        break;
      }
    }
    pugi::xml_node parent = target.parent();
    if (!parent) continue;
    parent.remove_child(target);
    if (!std::strcmp(parent.name(), "extLst") && !parent.first_child())
      parent.parent().remove_child(parent);
  }
}

/// One view only, bound to the gathered workbook's one window, and not selected.
void FixViews(pugi::xml_node root) {
  pugi::xml_node views = root.child("sheetViews");
  if (!views) return;
  pugi::xml_node first = views.child("sheetView");
  while (pugi::xml_node extra = first.next_sibling("sheetView")) views.remove_child(extra);
  if (!first) return;
  first.remove_attribute("tabSelected");
  if (pugi::xml_attribute id = first.attribute("workbookViewId")) id.set_value("0");
}

void RemapOutsideSheetData(pugi::xml_node root, const std::map<std::string, std::string>& ids) {
  for (pugi::xml_node child = root.first_child(); child; child = child.next_sibling()) {
    if (child.type() == pugi::node_element && std::strcmp(child.name(), "sheetData")) {
      RemapRelationshipIds(child, ids);
    }
  }
}

}  // namespace

bool ExcelGather::State::CopySheets(const Package& source, std::vector<Sheet>* added,
                                    std::string* err) {
  PartImporter importer(source, writer);
  importer.skipped_types = {
      Rel("printerSettings"),
      Rel("pivotTable"),
      Rel("calcChain"),
      "http://schemas.microsoft.com/office/2017/10/relationships/threadedComment",
      "http://schemas.microsoft.com/office/2007/relationships/slicer",
      "http://schemas.microsoft.com/office/2011/relationships/timeline"};
  for (Sheet& sheet : *added) {
    if (!sheet.chart) {
      sheet.target_part = writer.FreePartName(
          "/xl/worksheets/sheet" + std::to_string(4 + sheets.size() + (&sheet - added->data())) +
          ".xml");
      writer.SetPart(sheet.target_part, std::string(), ct::kWorksheet);
      if (!importer.ImportRelationships(sheet.source_part, sheet.target_part, nullptr,
                                        &sheet.rel_ids, err)) {
        return false;
      }
      continue;
    }
    pugi::xml_document doc;
    if (!ParsePart(source, sheet.source_part, &doc, err)) return false;
    sheet.target_part = writer.FreePartName("/xl/chartsheets/sheet1.xml");
    writer.SetPart(sheet.target_part, std::string(), ct::kChartsheet);
    if (!importer.ImportRelationships(sheet.source_part, sheet.target_part, nullptr, &sheet.rel_ids,
                                      err)) {
      return false;
    }
    pugi::xml_node root = doc.child("chartsheet");
    FixViews(root);
    DropDanglingReferences(root, sheet.rel_ids);
    RemapRelationshipIds(root, sheet.rel_ids);
    writer.SetPart(sheet.target_part, SaveXml(doc), ct::kChartsheet);
  }
  return true;
}

bool ExcelGather::State::CopyParts(const Package& source, const std::string& path,
                                   pugi::xml_node workbook, std::vector<Sheet>* added,
                                   std::vector<std::string>* links, std::vector<std::string>* fresh,
                                   std::string* err) {
  const std::vector<std::string> before = writer.Parts();
  const std::set<std::string> old(before.begin(), before.end());
  auto copy = [&] {
    if (!CopySheets(source, added, err)) return false;
    // Links to other workbooks, numbered [1], [2], ... in formulas.
    PartImporter importer(source, writer);
    for (pugi::xml_node reference :
         workbook.child("externalReferences").children("externalReference")) {
      const Relationship* rel =
          RelationshipById(source, source.MainPart(), reference.attribute("r:id").value());
      if (!rel || rel->external) {
        *err = NotAWorkbook(path, "外部引用无效");
        return false;
      }
      links->push_back(importer.CopyPart(source.Resolve(source.MainPart(), *rel), err));
      if (links->back().empty()) return false;
    }
    return true;
  };
  const bool copied = copy();
  for (const std::string& part : writer.Parts()) {
    if (old.count(part)) continue;
    // Nothing of a refused source stays in the result.
    if (copied) {
      fresh->push_back(part);
    } else {
      writer.RemovePart(part);
    }
  }
  return copied;
}

void ExcelGather::State::FixCopiedParts(const std::vector<std::string>& fresh, Source* src,
                                        const std::vector<int>& dxf_map) {
  // Tables first: their new names are what the charts' and cells' formulas follow.
  std::vector<std::pair<std::string, pugi::xml_document*>> tables;
  std::vector<std::unique_ptr<pugi::xml_document>> docs;
  for (const std::string& part : fresh) {
    if (writer.ContentType(part) != ct::kTable) continue;
    const std::string* bytes = writer.Bytes(part);
    auto doc = std::make_unique<pugi::xml_document>();
    std::string ignored;
    if (!bytes || !ParseXml(*bytes, part, doc.get(), &ignored)) continue;
    pugi::xml_node table = doc->child("table");
    table.attribute("id").set_value(++table_id);
    // Formulas know a table by its display name, which Excel keeps unique across the workbook
    // and apart from the defined names; it changes only when another table or a name took it.
    pugi::xml_attribute display = table.attribute("displayName");
    if (!display) display = table.append_attribute("displayName");
    if (!*display.value()) display.set_value(table.attribute("name").value());
    const std::string old = display.value();
    std::string name = old;
    for (int k = 2; table_names.count(FoldCase(name)) || workbook_names.count(FoldCase(name));
         ++k) {
      name = old + "_" + std::to_string(k);
    }
    table_names.insert(FoldCase(name));
    if (name != old) {
      src->renames.tables[FoldCase(old)] = name;
      display.set_value(name.c_str());
    }
    pugi::xml_attribute plain = table.attribute("name");
    if (!plain) plain = table.append_attribute("name");
    if (!*plain.value() || !table_plain_names.insert(FoldCase(plain.value())).second) {
      std::string fresh = name;
      for (int k = 2; table_plain_names.count(FoldCase(fresh)); ++k)
        fresh = name + "_" + std::to_string(k);
      table_plain_names.insert(FoldCase(fresh));
      plain.set_value(fresh.c_str());
    }
    std::function<void(pugi::xml_node)> remap_dxfs = [&](pugi::xml_node node) {
      for (pugi::xml_attribute a : node.attributes()) {
        const std::string_view n = a.name();
        if (n.size() >= 5 && n.substr(n.size() - 5) == "DxfId")
          a.set_value(Mapped(dxf_map, a.as_int()));
      }
      for (pugi::xml_node child : node.children()) remap_dxfs(child);
    };
    remap_dxfs(table);
    tables.emplace_back(part, doc.get());
    docs.push_back(std::move(doc));
  }
  for (auto& [part, doc] : tables) {
    if (!src->renames.empty()) RewriteFormulas(doc->child("table"), src->renames);
    writer.SetPart(part, SaveXml(*doc), ct::kTable);
  }
  for (const std::string& part : fresh) {
    if (writer.ContentType(part) != "application/vnd.openxmlformats-officedocument.vmlDrawing")
      continue;
    if (const std::string* bytes = writer.Bytes(part)) {
      writer.SetPart(part, RenumberVmlShapes(*bytes, &next_shape_block, &vml_blocks[part]),
                     writer.ContentType(part));
    }
  }
  if (src->renames.empty()) return;
  for (const std::string& part : fresh) {
    if (writer.ContentType(part) != ct::kChart) continue;
    const std::string* bytes = writer.Bytes(part);
    pugi::xml_document doc;
    std::string ignored;
    if (!bytes || !ParseXml(*bytes, part, &doc, &ignored)) continue;
    RewriteChartFormulas(doc, src->renames);
    writer.SetPart(part, SaveXml(doc), ct::kChart);
  }
}

void ExcelGather::State::AddNames(pugi::xml_node workbook, const std::vector<int>& positions,
                                  const std::vector<int>& worksheet_positions,
                                  const Renames& renames) {
  std::set<std::pair<std::string, int>> present;
  for (const DefinedName& n : names) present.emplace(FoldCase(n.name), n.position);
  auto add = [&](DefinedName n) {
    if (present.emplace(FoldCase(n.name), n.position).second) names.push_back(std::move(n));
  };
  std::vector<DefinedName> clashing;
  for (pugi::xml_node node : workbook.child("definedNames").children("definedName")) {
    DefinedName n;
    n.name = node.attribute("name").value();
    if (n.name.empty()) continue;
    for (pugi::xml_attribute a : node.attributes()) {
      if (std::strcmp(a.name(), "name") && std::strcmp(a.name(), "localSheetId")) {
        n.attributes.emplace_back(a.name(), a.value());
      }
    }
    n.text = renames.empty() ? node.text().get() : RewriteFormula(node.text().get(), renames);
    if (pugi::xml_attribute local = node.attribute("localSheetId")) {
      const int index = local.as_int(-1);
      if (index < 0 || static_cast<size_t>(index) >= positions.size() || positions[index] < 0)
        continue;
      n.position = positions[index];
      add(std::move(n));
    } else if (workbook_names.count(FoldCase(n.name)) || table_names.count(FoldCase(n.name))) {
      clashing.push_back(std::move(n));
    } else {
      workbook_names.insert(FoldCase(n.name));
      add(std::move(n));
    }
  }
  // A workbook-wide name another source already brought stays meaningful to this source's
  // formulas as a name of each of its sheets.
  for (const DefinedName& n : clashing) {
    for (int position : worksheet_positions) {
      DefinedName local = n;
      local.position = position;
      add(std::move(local));
    }
  }
}

bool ExcelGather::Add(const Package& source, const std::string& path, std::string* err) {
  State& s = *state_;
  pugi::xml_document workbook_doc;
  if (!ParsePart(source, source.MainPart(), &workbook_doc, err)) return false;
  if (UsesStrictNamespaces(workbook_doc)) {
    *err = NotAWorkbook(path, "Strict 格式的工作簿不受支持");
    return false;
  }
  pugi::xml_node workbook = workbook_doc.child("workbook");
  if (!workbook) {
    *err = NotAWorkbook(path, "缺少工作簿部件");
    return false;
  }

  State::Source src;
  src.path = path;
  {
    std::string bytes;
    if (!ReadWholeFile(s.fs, path, &bytes, err)) return false;
    src.size = bytes.size();
    src.digest = std::hash<std::string>{}(bytes);
  }
  const std::string wb_pr = workbook.child("workbookPr").attribute("date1904").value();
  src.date1904 = wb_pr == "1" || wb_pr == "true";

  // The sheets, in workbook order; macro and dialog sheets are not carried.
  std::vector<State::Sheet> added;
  std::vector<int> positions;  // source sheet index -> final position, -1 when not carried
  std::vector<int> worksheet_positions;
  const int first_position = kBlankSheetsBefore + static_cast<int>(s.sheets.size());
  std::set<std::string> taken = s.taken_names;
  for (pugi::xml_node node : workbook.child("sheets").children("sheet")) {
    const Relationship* rel =
        RelationshipById(source, source.MainPart(), node.attribute("r:id").value());
    const bool worksheet = rel && rel->type == Rel("worksheet");
    const bool chart = rel && rel->type == Rel("chartsheet");
    if (!worksheet && !chart) {
      positions.push_back(-1);
      continue;
    }
    State::Sheet sheet;
    sheet.chart = chart;
    sheet.source = s.sources.size();
    sheet.source_part = source.Resolve(source.MainPart(), *rel);
    if (!source.Has(sheet.source_part)) {
      *err = NotAWorkbook(path, "缺少工作表部件 " + sheet.source_part);
      return false;
    }
    const std::string old = node.attribute("name").value();
    std::swap(taken, s.taken_names);
    sheet.name = s.FreeSheetName(old);
    std::swap(taken, s.taken_names);
    taken.insert(FoldCase(sheet.name));
    if (sheet.name != old) src.renames.sheets[FoldCase(old)] = sheet.name;
    sheet.state = node.attribute("state").value();
    if (sheet.state == "visible") sheet.state.clear();
    positions.push_back(first_position + static_cast<int>(added.size()));
    if (worksheet) worksheet_positions.push_back(positions.back());
    added.push_back(std::move(sheet));
  }
  if (added.empty()) {
    *err = NotAWorkbook(path, "没有工作表");
    return false;
  }

  src.string_offset = s.string_count;
  size_t string_count = 0;
  if (const Relationship* rel =
          source.FindRelationship(source.MainPart(), Rel("sharedStrings").c_str())) {
    src.strings_part = source.Resolve(source.MainPart(), *rel);
    pugi::xml_document doc;
    if (!ParsePart(source, src.strings_part, &doc, err)) return false;
    for (pugi::xml_node si = doc.child("sst").child("si"); si; si = si.next_sibling("si"))
      ++string_count;
  }

  if (!s.MergeStyles(source, &src, err)) return false;

  std::vector<std::string> links, fresh;
  if (!s.CopyParts(source, path, workbook, &added, &links, &fresh, err)) return false;
  src.renames.external_offset = s.external_links.size();
  s.external_links.insert(s.external_links.end(), links.begin(), links.end());
  s.FixCopiedParts(fresh, &src, src.dxf_map);
  s.AddNames(workbook, positions, worksheet_positions, src.renames);
  for (State::Sheet& sheet : added) {
    for (const Relationship& rel : s.writer.Relationships(sheet.target_part)) {
      auto found = s.vml_blocks.find(ResolveTarget(sheet.target_part, rel.target));
      if (!rel.external && found != s.vml_blocks.end())
        sheet.shape_blocks.insert(found->second.begin(), found->second.end());
    }
  }

  s.taken_names = std::move(taken);
  s.string_count += string_count;
  s.sources.push_back(std::move(src));
  for (State::Sheet& sheet : added) s.sheets.push_back(std::move(sheet));
  return true;
}

bool ExcelGather::State::OpenSource(size_t index, std::string* err) {
  if (open && open_index == index) return true;
  open.reset();
  open_index = static_cast<size_t>(-1);
  const Source& src = sources[index];
  std::string bytes;
  if (!ReadWholeFile(fs, src.path, &bytes, err)) return false;
  if (bytes.size() != src.size || std::hash<std::string>{}(bytes) != src.digest) {
    *err = DescribeFailure("无法读取文件", src.path, "文件在合并过程中被改动了");
    return false;
  }
  open = Package::FromBytes(std::move(bytes), src.path, err);
  if (!open) return false;
  open_index = index;
  return true;
}

bool ExcelGather::State::ProduceSheet(const Sheet& sheet, std::string* piece, std::string* err) {
  if (!OpenSource(sheet.source, err)) return false;
  const Source& src = sources[sheet.source];
  std::string bytes;
  if (!open->Read(sheet.source_part, &bytes, err)) return false;
  CellRules rules;
  rules.string_offset = src.string_offset;
  rules.xf_map = &src.xf_map;
  rules.base_xf = src.base_xf;
  rules.xf_is_date = src.date1904 ? &src.xf_is_date : nullptr;
  rules.renames = src.renames.empty() ? nullptr : &src.renames;

  // The cells, the bulk of a sheet, go by a pass over the text; the rest by the DOM. A sheet
  // written unusually (prefixed elements, comments among the cells) goes whole by the DOM.
  std::string cells;
  std::set<std::string> prefixes;
  std::string_view rest = bytes;
  const size_t data_at = bytes.find("<sheetData");
  Tag data_tag;
  const size_t data_end =
      data_at == std::string::npos ? data_at : ReadTag(bytes, data_at, &data_tag);
  const size_t close_at = bytes.rfind("</sheetData>");
  std::string outer;
  bool streamed = false;
  if (data_end != std::string::npos && !data_tag.empty && close_at != std::string::npos &&
      close_at >= data_end && bytes.find("<worksheet ") != std::string::npos &&
      StreamCells(std::string_view(bytes).substr(data_end, close_at - data_end), rules, &cells,
                  &prefixes)) {
    outer = bytes.substr(0, data_end) + bytes.substr(close_at);
    rest = outer;
    streamed = true;
  }
  pugi::xml_document doc;
  if (!ParseXml(rest, sheet.source_part, &doc, err)) return false;
  std::string().swap(bytes);
  pugi::xml_node root = doc.child("worksheet");
  if (!root) {
    *err = NotAWorkbook(src.path, "工作表部件 " + sheet.source_part + " 无效");
    return false;
  }
  if (streamed) {
    // The streamed cells keep their attribute prefixes, which must still be declared.
    Tag root_tag;
    const size_t root_at = outer.find("<worksheet ");
    std::map<std::string, std::string, std::less<>> declared;
    if (ReadTag(outer, root_at, &root_tag) != std::string::npos) {
      for (const auto& [name, value] : root_tag.attributes) declared.emplace(name, value);
    }
    bool same = declared.count("xmlns") && declared.at("xmlns") == ns::kSheet;
    for (const std::string& prefix : prefixes) {
      auto it = declared.find("xmlns:" + prefix);
      same = same && it != declared.end() &&
             it->second == root.attribute(("xmlns:" + prefix).c_str()).value();
    }
    if (!same) {
      if (!open->Read(sheet.source_part, &bytes, err) ||
          !ParseXml(bytes, sheet.source_part, &doc, err)) {
        return false;
      }
      root = doc.child("worksheet");
      streamed = false;
    }
  }
  FixViews(root);
  DropDanglingReferences(root, sheet.rel_ids);
  RemapOutsideSheetData(root, sheet.rel_ids);
  for (pugi::xml_node col : root.child("cols").children("col")) {
    if (pugi::xml_attribute a = col.attribute("style"))
      a.set_value(Mapped(src.xf_map, a.as_int()));
    else if (src.base_xf)
      col.append_attribute("style").set_value(src.base_xf);
  }
  for (pugi::xml_node format : root.children("conditionalFormatting")) {
    for (pugi::xml_node rule : format.children("cfRule")) {
      if (pugi::xml_attribute a = rule.attribute("dxfId"))
        a.set_value(Mapped(src.dxf_map, a.as_int()));
    }
  }
  if (!sheet.shape_blocks.empty()) RemapShapeIds(root, sheet.shape_blocks);
  if (!streamed) RewriteCellsInDom(root.child("sheetData"), rules);
  if (rules.renames) RewriteFormulas(root, *rules.renames);
  if (!streamed) {
    *piece = SaveXml(doc);
    return true;
  }
  constexpr std::string_view kMark = "#cells#";
  root.child("sheetData").text().set(kMark.data());
  const std::string saved = SaveXml(doc);
  const size_t mark = saved.find(kMark, saved.find("<sheetData"));
  piece->clear();
  piece->reserve(saved.size() + cells.size());
  piece->append(saved, 0, mark);
  piece->append(cells);
  piece->append(saved, mark + kMark.size());
  return true;
}

std::string ExcelGather::State::StylesXml() const {
  std::string xml =
      R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)"
      "\n"
      R"(<styleSheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main">)";
  if (!format_ids.empty()) {
    std::vector<std::pair<int, const std::string*>> formats;
    for (const auto& [code, id] : format_ids) formats.emplace_back(id, &code);
    std::sort(formats.begin(), formats.end());
    xml += "<numFmts count=\"" + std::to_string(formats.size()) + "\">";
    for (const auto& [id, code] : formats) {
      xml += "<numFmt numFmtId=\"" + std::to_string(id) + "\" formatCode=\"" +
             EscapeXml(*code, true) + "\"/>";
    }
    xml += "</numFmts>";
  }
  auto list = [&](const char* name, const UniqueList& entries) {
    xml += "<" + std::string(name) + " count=\"" + std::to_string(entries.items.size()) + "\">";
    for (const std::string& item : entries.items) xml += item;
    xml += "</" + std::string(name) + ">";
  };
  list("fonts", fonts);
  list("fills", fills);
  list("borders", borders);
  list("cellStyleXfs", style_xfs);
  list("cellXfs", cell_xfs);
  xml += R"(<cellStyles count="1"><cellStyle name="Normal" xfId="0" builtinId="0"/></cellStyles>)";
  list("dxfs", dxfs);
  xml += R"(<tableStyles count="0" defaultTableStyle="TableStyleMedium2" )"
         R"(defaultPivotStyle="PivotStyleLight16"/></styleSheet>)";
  return xml;
}

std::string ExcelGather::State::WorkbookXml(const std::vector<std::string>& rel_ids) const {
  std::string xml =
      R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)"
      "\n"
      R"(<workbook xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" )"
      R"(xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships">)"
      R"(<workbookPr defaultThemeVersion="166925"/><bookViews><workbookView activeTab="0"/></bookViews>)"
      "<sheets>";
  std::vector<std::pair<std::string, std::string>> all = {{"Sheet1", ""}, {"Sheet2", ""}};
  for (const Sheet& sheet : sheets) all.emplace_back(sheet.name, sheet.state);
  all.emplace_back("Sheet3", "");
  for (size_t i = 0; i < all.size(); ++i) {
    xml += "<sheet name=\"" + EscapeXml(all[i].first, true) + "\" sheetId=\"" +
           std::to_string(i + 1) + "\"";
    if (!all[i].second.empty()) xml += " state=\"" + EscapeXml(all[i].second, true) + "\"";
    xml += " r:id=\"" + rel_ids[i] + "\"/>";
  }
  xml += "</sheets>";
  if (!external_links.empty()) {
    xml += "<externalReferences>";
    for (size_t i = 0; i < external_links.size(); ++i) {
      xml += "<externalReference r:id=\"" + rel_ids[all.size() + i] + "\"/>";
    }
    xml += "</externalReferences>";
  }
  if (!names.empty()) {
    xml += "<definedNames>";
    for (const DefinedName& n : names) {
      xml += "<definedName name=\"" + EscapeXml(n.name, true) + "\"";
      if (n.position >= 0) xml += " localSheetId=\"" + std::to_string(n.position) + "\"";
      for (const auto& [key, value] : n.attributes) {
        xml += " " + key + "=\"" + EscapeXml(value, true) + "\"";
      }
      xml += ">" + EscapeXml(n.text, false) + "</definedName>";
    }
    xml += "</definedNames>";
  }
  xml += R"(<calcPr calcId="191029"/></workbook>)";
  return xml;
}

bool ExcelGather::Save(const std::string& path, std::string* err) {
  State& s = *state_;
  PackageWriter& w = s.writer;
  w.Relationships("/").clear();
  w.Relationships(kWorkbookPart).clear();
  w.SetPart(kWorkbookPart, std::string(), ct::kWorkbook);
  w.AddRelationship("/", reltype::kOfficeDocument, kWorkbookPart);

  std::vector<std::string> rel_ids;
  for (int i = 1; i <= 2; ++i) {
    rel_ids.push_back(w.AddRelationship(kWorkbookPart, Rel("worksheet"),
                                        "/xl/worksheets/sheet" + std::to_string(i) + ".xml"));
  }
  for (const State::Sheet& sheet : s.sheets) {
    rel_ids.push_back(w.AddRelationship(
        kWorkbookPart, Rel(sheet.chart ? "chartsheet" : "worksheet"), sheet.target_part));
  }
  rel_ids.push_back(
      w.AddRelationship(kWorkbookPart, Rel("worksheet"), "/xl/worksheets/sheet3.xml"));
  for (const std::string& link : s.external_links) {
    rel_ids.push_back(w.AddRelationship(kWorkbookPart, Rel("externalLink"), link));
  }
  w.AddRelationship(kWorkbookPart, Rel("theme"), kThemePart);
  w.AddRelationship(kWorkbookPart, Rel("styles"), kStylesPart);
  w.AddRelationship(kWorkbookPart, Rel("sharedStrings"), kStringsPart);
  w.SetPart(kWorkbookPart, s.WorkbookXml(rel_ids), ct::kWorkbook);
  w.SetPart(kStylesPart, s.StylesXml(), ct::kStyles);

  for (const State::Sheet& sheet : s.sheets) {
    if (sheet.chart) continue;
    const State::Sheet* one = &sheet;
    w.SetProducedPart(
        sheet.target_part,
        [&s, one](std::string* piece, bool* done, std::string* e) {
          *done = true;
          return s.ProduceSheet(*one, piece, e);
        },
        ct::kWorksheet);
  }

  // Each source's strings in turn, unchanged, after a header that counts them all.
  auto next = std::make_shared<size_t>(0);
  w.SetProducedPart(
      kStringsPart,
      [&s, next](std::string* piece, bool* done, std::string* e) {
        piece->clear();
        *done = false;
        if (*next == 0) {
          *piece =
              R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)"
              "\n"
              R"(<sst xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" count=")" +
              std::to_string(s.string_count) + "\" uniqueCount=\"" +
              std::to_string(s.string_count) + "\">";
          ++*next;
          return true;
        }
        while (*next <= s.sources.size()) {
          const size_t index = (*next)++ - 1;
          const State::Source& src = s.sources[index];
          if (src.strings_part.empty()) continue;
          if (!s.OpenSource(index, e)) return false;
          pugi::xml_document doc;
          if (!ParsePart(*s.open, src.strings_part, &doc, e)) return false;
          StringWriter out(piece);
          for (pugi::xml_node si = doc.child("sst").child("si"); si; si = si.next_sibling("si")) {
            si.print(out, "", pugi::format_raw);
          }
          return true;
        }
        *piece = "</sst>";
        *done = true;
        *next = 0;
        return true;
      },
      ct::kStrings);

  const bool saved = w.Save(s.fs, path, err);
  s.open.reset();
  s.open_index = static_cast<size_t>(-1);
  return saved;
}

}  // namespace quorvane::office
