#include "support/xlsx_samples.h"

#include <zlib.h>

#include <algorithm>
#include <map>

#include "office/package.h"

namespace quorvane::testing {

namespace {

using office::PackageWriter;

constexpr const char* kMain = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
constexpr const char* kRels = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
constexpr const char* kXdr = "http://schemas.openxmlformats.org/drawingml/2006/spreadsheetDrawing";
constexpr const char* kA = "http://schemas.openxmlformats.org/drawingml/2006/main";
constexpr const char* kC = "http://schemas.openxmlformats.org/drawingml/2006/chart";
constexpr const char* kDecl = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";
const std::string kCt = "application/vnd.openxmlformats-officedocument.";

std::string Rel(const std::string& last) { return std::string(office::reltype::kRoot) + last; }

std::string Esc(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '&')
      out += "&amp;";
    else if (c == '<')
      out += "&lt;";
    else if (c == '>')
      out += "&gt;";
    else if (c == '"')
      out += "&quot;";
    else
      out += c;
  }
  return out;
}

std::string Quoted(const std::string& sheet) {
  std::string out = "'";
  for (char c : sheet) out += c == '\'' ? std::string("''") : std::string(1, c);
  return out + "'";
}

int RowOf(const std::string& ref) {
  size_t i = ref.find_first_of("0123456789");
  return std::stoi(ref.substr(i));
}

std::string Styles(const XlsxBook& book) {
  std::string xml = std::string(kDecl) + "<styleSheet xmlns=\"" + kMain + "\">";
  if (!book.formats.empty()) {
    xml += "<numFmts count=\"" + std::to_string(book.formats.size()) + "\">";
    for (size_t k = 0; k < book.formats.size(); ++k) {
      xml += "<numFmt numFmtId=\"" + std::to_string(164 + k) + "\" formatCode=\"" +
             Esc(book.formats[k]) + "\"/>";
    }
    xml += "</numFmts>";
  }
  const std::string plain =
      "<font><sz val=\"11\"/><name val=\"Calibri\"/><family val=\"2\"/></font>";
  const std::string bold =
      "<font><b/><sz val=\"11\"/><name val=\"Calibri\"/><family val=\"2\"/></font>";
  const int plain_id = book.fonts_reversed ? 1 : 0;
  const int bold_id = 1 - plain_id;
  xml += "<fonts count=\"2\">" + (book.fonts_reversed ? bold + plain : plain + bold) + "</fonts>";
  xml +=
      "<fills count=\"3\"><fill><patternFill patternType=\"none\"/></fill>"
      "<fill><patternFill patternType=\"gray125\"/></fill>"
      "<fill><patternFill patternType=\"solid\"><fgColor rgb=\"FFFFFF00\"/><bgColor "
      "indexed=\"64\"/>"
      "</patternFill></fill></fills>";
  xml +=
      "<borders count=\"2\"><border><left/><right/><top/><bottom/><diagonal/></border>"
      "<border><left style=\"thin\"><color auto=\"1\"/></left><right style=\"thin\"><color "
      "auto=\"1\"/>"
      "</right><top style=\"thin\"><color auto=\"1\"/></top><bottom style=\"thin\"><color "
      "auto=\"1\"/>"
      "</bottom><diagonal/></border></borders>";
  xml += "<cellStyleXfs count=\"1\"><xf numFmtId=\"0\" fontId=\"" + std::to_string(plain_id) +
         "\" fillId=\"0\" borderId=\"0\"/></cellStyleXfs>";
  auto xf = [&](int format, int font, int fill, int border) {
    return "<xf numFmtId=\"" + std::to_string(format) + "\" fontId=\"" + std::to_string(font) +
           "\" fillId=\"" + std::to_string(fill) + "\" borderId=\"" + std::to_string(border) +
           "\" xfId=\"0\" applyNumberFormat=\"1\" applyFont=\"1\" applyFill=\"1\" "
           "applyBorder=\"1\"/>";
  };
  xml += "<cellXfs count=\"" + std::to_string(5 + book.formats.size()) + "\">" +
         xf(0, plain_id, 0, 0) + xf(0, bold_id, 0, 0) + xf(0, plain_id, 2, 0) +
         xf(0, plain_id, 0, 1) + xf(14, plain_id, 0, 0);
  for (size_t k = 0; k < book.formats.size(); ++k)
    xml += xf(164 + static_cast<int>(k), plain_id, 0, 0);
  const std::string red =
      "<dxf><fill><patternFill><bgColor rgb=\"FFFF0000\"/></patternFill></fill></dxf>";
  const std::string green =
      "<dxf><fill><patternFill><bgColor rgb=\"FF00FF00\"/></patternFill></fill></dxf>";
  xml +=
      "</cellXfs><cellStyles count=\"1\"><cellStyle name=\"Normal\" xfId=\"0\" builtinId=\"0\"/>"
      "</cellStyles><dxfs count=\"2\">" +
      (book.fonts_reversed ? green + red : red + green) + "</dxfs></styleSheet>";
  return xml;
}

/// Gives every element of a worksheet the prefix x:, as some producers write them.
std::string Prefixed(const std::string& xml) {
  std::string out;
  for (size_t i = 0; i < xml.size(); ++i) {
    out += xml[i];
    if (xml[i] != '<' || xml[i + 1] == '?') continue;
    if (xml[i + 1] == '/') out += xml[++i];
    out += "x:";
  }
  const std::string plain = std::string("xmlns=\"") + kMain,
                    prefixed = std::string("xmlns:x=\"") + kMain;
  return out.replace(out.find(plain), plain.size(), prefixed);
}

std::string Worksheet(const XlsxSheet& sheet, bool selected, std::map<std::string, int>* strings,
                      std::vector<std::string>* string_list, bool image, bool dxf_reversed) {
  std::string xml =
      std::string(kDecl) + "<worksheet xmlns=\"" + kMain + "\" xmlns:r=\"" + kRels + "\">";
  xml += "<sheetViews><sheetView ";
  if (selected) xml += "tabSelected=\"1\" ";
  xml += "workbookViewId=\"0\">";
  if (sheet.freeze) {
    xml += "<pane ySplit=\"1\" topLeftCell=\"A2\" activePane=\"bottomLeft\" state=\"frozen\"/>";
  }
  xml += "</sheetView></sheetViews><sheetFormatPr defaultRowHeight=\"15\"/>";
  if (!sheet.column_widths.empty() || sheet.rows_and_columns) {
    xml += "<cols>";
    for (auto [col, width] : sheet.column_widths) {
      xml += "<col min=\"" + std::to_string(col) + "\" max=\"" + std::to_string(col) +
             "\" width=\"" + std::to_string(width) + "\" customWidth=\"1\"/>";
    }
    if (sheet.rows_and_columns) xml += "<col min=\"3\" max=\"3\" width=\"9\" hidden=\"1\"/>";
    xml += "</cols>";
  }
  xml += "<sheetData>";
  int row = 0;
  for (const XlsxCell& cell : sheet.cells) {
    const int r = RowOf(cell.ref);
    if (r != row) {
      if (row) xml += "</row>";
      row = r;
      xml += "<row r=\"" + std::to_string(r) + "\"";
      if (sheet.rows_and_columns && r == 2) xml += " ht=\"30\" customHeight=\"1\"";
      if (sheet.rows_and_columns && r == 3) xml += " hidden=\"1\"";
      xml += ">";
    }
    xml += "<c r=\"" + cell.ref + "\"";
    if (cell.style) xml += " s=\"" + std::to_string(cell.style) + "\"";
    switch (cell.kind) {
      case 's': {
        auto [it, fresh] = strings->emplace(cell.value, static_cast<int>(string_list->size()));
        if (fresh) string_list->push_back(cell.value);
        xml += " t=\"s\"><v>" + std::to_string(it->second) + "</v></c>";
        break;
      }
      case 'i':
        xml += " t=\"inlineStr\"><is><t>" + Esc(cell.value) + "</t></is></c>";
        break;
      case 'b':
        xml += " t=\"b\"><v>" + cell.value + "</v></c>";
        break;
      case 'f':
        xml += "><f>" + Esc(cell.formula) + "</f><v>" + cell.value + "</v></c>";
        break;
      default:
        xml += "><v>" + cell.value + "</v></c>";
    }
  }
  if (row) xml += "</row>";
  xml += "</sheetData>";
  if (!sheet.merges.empty()) {
    xml += "<mergeCells count=\"" + std::to_string(sheet.merges.size()) + "\">";
    for (const std::string& m : sheet.merges) xml += "<mergeCell ref=\"" + m + "\"/>";
    xml += "</mergeCells>";
  }
  if (sheet.highlight) {
    xml += "<conditionalFormatting sqref=\"B1:B3\"><cfRule type=\"cellIs\" dxfId=\"" +
           std::string(dxf_reversed ? "1" : "0") +
           "\" priority=\"1\" "
           "operator=\"greaterThan\"><formula>15</formula></cfRule></conditionalFormatting>";
  }
  if (!sheet.link.empty())
    xml += "<hyperlinks><hyperlink ref=\"A1\" r:id=\"rIdLink\"/></hyperlinks>";
  xml +=
      "<pageMargins left=\"0.7\" right=\"0.7\" top=\"0.75\" bottom=\"0.75\" header=\"0.3\" "
      "footer=\"0.3\"/>";
  if (sheet.printer_settings) xml += "<pageSetup orientation=\"landscape\" r:id=\"rIdPrinter\"/>";
  if (image) xml += "<drawing r:id=\"rIdImage\"/>";
  if (!sheet.comment.empty()) xml += "<legacyDrawing r:id=\"rIdNotes\"/>";
  if (!sheet.table.empty())
    xml += "<tableParts count=\"1\"><tablePart r:id=\"rIdTable\"/></tableParts>";
  return xml + "</worksheet>";
}

std::string PictureDrawing() {
  return std::string(kDecl) + "<xdr:wsDr xmlns:xdr=\"" + kXdr + "\" xmlns:a=\"" + kA +
         "\" xmlns:r=\"" + kRels +
         "\"><xdr:twoCellAnchor editAs=\"oneCell\"><xdr:from><xdr:col>3</xdr:col><xdr:colOff>0"
         "</xdr:colOff><xdr:row>1</xdr:row><xdr:rowOff>0</xdr:rowOff></xdr:from><xdr:to><xdr:col>5"
         "</xdr:col><xdr:colOff>0</xdr:colOff><xdr:row>5</xdr:row><xdr:rowOff>0</xdr:rowOff></"
         "xdr:to>"
         "<xdr:pic><xdr:nvPicPr><xdr:cNvPr id=\"2\" name=\"Picture 1\"/><xdr:cNvPicPr><a:picLocks "
         "noChangeAspect=\"1\"/></xdr:cNvPicPr></xdr:nvPicPr><xdr:blipFill><a:blip "
         "r:embed=\"rId1\"/>"
         "<a:stretch><a:fillRect/></a:stretch></xdr:blipFill><xdr:spPr><a:xfrm><a:off x=\"0\" "
         "y=\"0\"/>"
         "<a:ext cx=\"1000000\" cy=\"1000000\"/></a:xfrm><a:prstGeom "
         "prst=\"rect\"><a:avLst/></a:prstGeom>"
         "</xdr:spPr></xdr:pic><xdr:clientData/></xdr:twoCellAnchor></xdr:wsDr>";
}

std::string ChartDrawing() {
  return std::string(kDecl) + "<xdr:wsDr xmlns:xdr=\"" + kXdr + "\" xmlns:a=\"" + kA +
         "\"><xdr:absoluteAnchor><xdr:pos x=\"0\" y=\"0\"/><xdr:ext cx=\"8000000\" cy=\"5000000\"/>"
         "<xdr:graphicFrame macro=\"\"><xdr:nvGraphicFramePr><xdr:cNvPr id=\"2\" name=\"Chart 1\"/>"
         "<xdr:cNvGraphicFramePr/></xdr:nvGraphicFramePr><xdr:xfrm><a:off x=\"0\" y=\"0\"/>"
         "<a:ext cx=\"0\" cy=\"0\"/></xdr:xfrm><a:graphic><a:graphicData uri=\"" +
         kC + "\"><c:chart xmlns:c=\"" + kC + "\" xmlns:r=\"" + kRels +
         "\" r:id=\"rId1\"/></a:graphicData></a:graphic></xdr:graphicFrame><xdr:clientData/>"
         "</xdr:absoluteAnchor></xdr:wsDr>";
}

std::string Chart(const std::string& data_sheet) {
  return std::string(kDecl) + "<c:chartSpace xmlns:c=\"" + kC + "\" xmlns:a=\"" + kA +
         "\" xmlns:r=\"" + kRels +
         "\"><c:chart><c:plotArea><c:layout/><c:barChart><c:barDir val=\"col\"/><c:grouping "
         "val=\"clustered\"/><c:varyColors val=\"0\"/><c:ser><c:idx val=\"0\"/><c:order val=\"0\"/>"
         "<c:val><c:numRef><c:f>" +
         Esc(Quoted(data_sheet)) +
         "!$B$1:$B$3</c:f></c:numRef></c:val>"
         "</c:ser><c:axId val=\"1\"/><c:axId val=\"2\"/></c:barChart><c:catAx><c:axId val=\"1\"/>"
         "<c:scaling><c:orientation val=\"minMax\"/></c:scaling><c:delete val=\"0\"/><c:axPos "
         "val=\"b\"/>"
         "<c:crossAx val=\"2\"/></c:catAx><c:valAx><c:axId val=\"2\"/><c:scaling><c:orientation "
         "val=\"minMax\"/></c:scaling><c:delete val=\"0\"/><c:axPos val=\"l\"/><c:crossAx "
         "val=\"1\"/>"
         "</c:valAx></c:plotArea></c:chart></c:chartSpace>";
}

std::string Chartsheet(bool selected) {
  return std::string(kDecl) + "<chartsheet xmlns=\"" + kMain + "\" xmlns:r=\"" + kRels +
         "\"><sheetPr/><sheetViews><sheetView " + (selected ? "tabSelected=\"1\" " : "") +
         "zoomToFit=\"1\" workbookViewId=\"0\"/></sheetViews><pageMargins left=\"0.7\" "
         "right=\"0.7\" "
         "top=\"0.75\" bottom=\"0.75\" header=\"0.3\" footer=\"0.3\"/><drawing "
         "r:id=\"rId1\"/></chartsheet>";
}

std::string Comments(const std::string& text) {
  return std::string(kDecl) + "<comments xmlns=\"" + kMain +
         "\"><authors><author>Tester</author></authors>"
         "<commentList><comment ref=\"A1\" authorId=\"0\"><text><r><t>" +
         Esc(text) + "</t></r></text></comment></commentList></comments>";
}

std::string NotesVml() {
  return "<xml xmlns:v=\"urn:schemas-microsoft-com:vml\" "
         "xmlns:o=\"urn:schemas-microsoft-com:office:office\" "
         "xmlns:x=\"urn:schemas-microsoft-com:office:excel\"><o:shapelayout "
         "v:ext=\"edit\"><o:idmap "
         "v:ext=\"edit\" data=\"1\"/></o:shapelayout><v:shapetype id=\"_x0000_t202\" "
         "coordsize=\"21600,21600\" "
         "o:spt=\"202\" path=\"m,l,21600r21600,l21600,xe\"><v:stroke joinstyle=\"miter\"/><v:path "
         "gradientshapeok=\"t\" o:connecttype=\"rect\"/></v:shapetype><v:shape id=\"_x0000_s1025\" "
         "type=\"#_x0000_t202\" "
         "style=\"position:absolute;margin-left:60pt;margin-top:2pt;width:108pt;"
         "height:60pt;z-index:1;visibility:hidden\" fillcolor=\"#ffffe1\"><v:fill "
         "color2=\"#ffffe1\"/>"
         "<v:textbox/><x:ClientData "
         "ObjectType=\"Note\"><x:MoveWithCells/><x:SizeWithCells/><x:Anchor>1, 15, "
         "0, 2, 3, 15, 3, "
         "16</x:Anchor><x:AutoFill>False</x:AutoFill><x:Row>0</x:Row><x:Column>0</x:Column>"
         "</x:ClientData></v:shape></xml>";
}

std::string Table(const XlsxSheet& sheet, int id) {
  return std::string(kDecl) + "<table xmlns=\"" + kMain + "\" id=\"" + std::to_string(id) +
         "\" name=\"" + sheet.table + "\" displayName=\"" + sheet.table +
         "\" ref=\"A1:A3\"><autoFilter ref=\"A1:A3\"/>"
         "<tableColumns count=\"1\"><tableColumn id=\"1\" name=\"" +
         Esc(sheet.cells[0].value) +
         "\"/></tableColumns><tableStyleInfo name=\"TableStyleMedium2\" showFirstColumn=\"0\" "
         "showLastColumn=\"0\" showRowStripes=\"1\" showColumnStripes=\"0\"/></table>";
}

void Chunk(std::string* png, const char* type, const std::string& data) {
  const uint32_t size = static_cast<uint32_t>(data.size());
  for (int shift : {24, 16, 8, 0}) *png += static_cast<char>((size >> shift) & 0xFF);
  std::string body = std::string(type, 4) + data;
  *png += body;
  const uint32_t crc =
      crc32(0, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size()));
  for (int shift : {24, 16, 8, 0}) *png += static_cast<char>((crc >> shift) & 0xFF);
}

}  // namespace

std::string SamplePng() {
  std::string png = "\x89PNG\r\n\x1a\n";
  const std::string header("\0\0\0\4\0\0\0\4\x08\x02\0\0\0", 13);
  Chunk(&png, "IHDR", header);
  std::string raw;
  for (int y = 0; y < 4; ++y) {
    raw += '\0';
    for (int x = 0; x < 4; ++x) raw += std::string("\xFF\0\0", 3);
  }
  uLongf size = compressBound(raw.size());
  std::string packed(size, '\0');
  compress(reinterpret_cast<Bytef*>(packed.data()), &size,
           reinterpret_cast<const Bytef*>(raw.data()), raw.size());
  packed.resize(size);
  Chunk(&png, "IDAT", packed);
  Chunk(&png, "IEND", "");
  return png;
}

XlsxSheet LargeSheet(const std::string& name, int rows) {
  XlsxSheet sheet;
  sheet.name = name;
  sheet.cells.reserve(rows * 4);
  for (int r = 1; r <= rows; ++r) {
    const std::string n = std::to_string(r);
    sheet.cells.push_back({"A" + n, 'n', n, 0, ""});
    sheet.cells.push_back({"B" + n, 's', "text " + std::to_string(r % 500), 1, ""});
    sheet.cells.push_back({"C" + n, 'i', name + " row " + n, 0, ""});
    sheet.cells.push_back({"D" + n, 'f', std::to_string(2 * r), 3, "A" + n + "*2"});
  }
  return sheet;
}

bool WriteXlsx(FileSystem& fs, const std::string& path, const XlsxBook& book, std::string* err) {
  PackageWriter w;
  const std::string workbook = "/xl/workbook.xml";
  w.SetPart(workbook, "", kCt + "spreadsheetml.sheet.main+xml");
  w.AddRelationship("/", office::reltype::kOfficeDocument, workbook);
  std::map<std::string, int> strings;
  std::vector<std::string> string_list;
  std::string sheets_xml, names_xml;
  int charts = 0;
  for (size_t i = 0; i < book.sheets.size(); ++i) {
    const XlsxSheet& sheet = book.sheets[i];
    const bool selected = static_cast<int>(i) == book.selected;
    std::string part, id;
    if (sheet.chart) {
      ++charts;
      const std::string n = std::to_string(charts);
      part = "/xl/chartsheets/sheet" + n + ".xml";
      w.SetPart(part, Chartsheet(selected), kCt + "spreadsheetml.chartsheet+xml");
      const std::string drawing = "/xl/drawings/chartdrawing" + n + ".xml";
      w.SetPart(drawing, ChartDrawing(), kCt + "drawing+xml");
      w.AddRelationship(part, Rel("drawing"), drawing);
      const std::string chart = "/xl/charts/chart" + n + ".xml";
      w.SetPart(chart, Chart(book.sheets[0].name), kCt + "drawingml.chart+xml");
      w.AddRelationship(drawing, Rel("chart"), chart);
      id = w.AddRelationship(workbook, Rel("chartsheet"), part);
    } else {
      part = "/xl/worksheets/sheet" + std::to_string(i + 1) + ".xml";
      const std::string xml =
          Worksheet(sheet, selected, &strings, &string_list, sheet.image, book.fonts_reversed);
      w.SetPart(part, book.prefixed ? Prefixed(xml) : xml, kCt + "spreadsheetml.worksheet+xml");
      if (!sheet.link.empty())
        w.Relationships(part).push_back({"rIdLink", Rel("hyperlink"), sheet.link, true});
      if (sheet.printer_settings) {
        const std::string settings =
            "/xl/printerSettings/printerSettings" + std::to_string(i + 1) + ".bin";
        w.SetPart(settings, std::string(64, '\1'), kCt + "spreadsheetml.printerSettings");
        w.Relationships(part).push_back(
            {"rIdPrinter", Rel("printerSettings"),
             "../printerSettings/printerSettings" + std::to_string(i + 1) + ".bin", false});
      }
      if (!sheet.comment.empty()) {
        const std::string n = std::to_string(i + 1);
        w.SetPart("/xl/comments" + n + ".xml", Comments(sheet.comment),
                  kCt + "spreadsheetml.comments+xml");
        w.AddRelationship(part, Rel("comments"), "/xl/comments" + n + ".xml");
        w.SetPart("/xl/drawings/vmlDrawing" + n + ".vml", NotesVml(), kCt + "vmlDrawing");
        w.Relationships(part).push_back(
            {"rIdNotes", Rel("vmlDrawing"), "../drawings/vmlDrawing" + n + ".vml", false});
      }
      if (!sheet.table.empty()) {
        const std::string table = "/xl/tables/table" + std::to_string(i + 1) + ".xml";
        w.SetPart(table, Table(sheet, static_cast<int>(i + 1)), kCt + "spreadsheetml.table+xml");
        w.Relationships(part).push_back(
            {"rIdTable", Rel("table"), "../tables/table" + std::to_string(i + 1) + ".xml", false});
      }
      if (sheet.image) {
        const std::string drawing = "/xl/drawings/drawing" + std::to_string(i + 1) + ".xml";
        w.SetPart(drawing, PictureDrawing(), kCt + "drawing+xml");
        w.Relationships(part).push_back({"rIdImage", Rel("drawing"),
                                         "../drawings/drawing" + std::to_string(i + 1) + ".xml",
                                         false});
        w.SetPart("/xl/media/image" + std::to_string(i + 1) + ".png", SamplePng(), "image/png");
        w.AddRelationship(drawing, Rel("image"),
                          "/xl/media/image" + std::to_string(i + 1) + ".png");
      }
      id = w.AddRelationship(workbook, Rel("worksheet"), part);
    }
    sheets_xml += "<sheet name=\"" + Esc(sheet.name) + "\" sheetId=\"" + std::to_string(i + 1) +
                  "\" r:id=\"" + id + "\"/>";
    const std::string local = "localSheetId=\"" + std::to_string(i) + "\"";
    if (!sheet.local_name.empty()) {
      names_xml += "<definedName name=\"" + Esc(sheet.local_name) + "\" " + local + ">" +
                   Esc(Quoted(sheet.name)) + "!$A$1</definedName>";
    }
    if (!sheet.print_area.empty()) {
      names_xml += "<definedName name=\"_xlnm.Print_Area\" " + local + ">" +
                   Esc(Quoted(sheet.name)) + "!" + sheet.print_area + "</definedName>";
    }
  }
  if (!book.workbook_name.empty()) {
    names_xml += "<definedName name=\"" + Esc(book.workbook_name) + "\">" +
                 Esc(Quoted(book.sheets[0].name)) + "!$A$1</definedName>";
  }
  std::string references;
  if (book.external_link) {
    const std::string link = "/xl/externalLinks/externalLink1.xml";
    w.SetPart(
        link,
        std::string(kDecl) + "<externalLink xmlns=\"" + kMain + "\" xmlns:r=\"" + kRels +
            "\"><externalBook r:id=\"rId1\"><sheetNames><sheetName val=\"Other\"/></sheetNames>"
            "</externalBook></externalLink>",
        kCt + "spreadsheetml.externalLink+xml");
    w.AddExternalRelationship(link, Rel("externalLinkPath"), "other.xlsx");
    references = "<externalReferences><externalReference r:id=\"" +
                 w.AddRelationship(workbook, Rel("externalLink"), link) +
                 "\"/></externalReferences>";
  }
  std::string xml =
      std::string(kDecl) + "<workbook xmlns=\"" + kMain + "\" xmlns:r=\"" + kRels + "\">";
  xml += book.date1904 ? "<workbookPr date1904=\"1\"/>" : "<workbookPr/>";
  xml +=
      "<bookViews><workbookView activeTab=\"" + std::to_string(book.selected) + "\"/></bookViews>";
  xml += "<sheets>" + sheets_xml + "</sheets>" + references;
  if (!names_xml.empty()) xml += "<definedNames>" + names_xml + "</definedNames>";
  xml += "<calcPr calcId=\"191029\"/></workbook>";
  w.SetPart(workbook, xml, kCt + "spreadsheetml.sheet.main+xml");
  w.SetPart("/xl/styles.xml", Styles(book), kCt + "spreadsheetml.styles+xml");
  w.AddRelationship(workbook, Rel("styles"), "/xl/styles.xml");
  if (!string_list.empty()) {
    std::string sst = std::string(kDecl) + "<sst xmlns=\"" + kMain + "\" count=\"" +
                      std::to_string(string_list.size()) + "\" uniqueCount=\"" +
                      std::to_string(string_list.size()) + "\">";
    for (const std::string& s : string_list)
      sst += "<si><t xml:space=\"preserve\">" + Esc(s) + "</t></si>";
    w.SetPart("/xl/sharedStrings.xml", sst + "</sst>", kCt + "spreadsheetml.sharedStrings+xml");
    w.AddRelationship(workbook, Rel("sharedStrings"), "/xl/sharedStrings.xml");
  }
  return w.Save(fs, path, err);
}

}  // namespace quorvane::testing
