#include "support/xlsx_samples.h"

#include <algorithm>
#include <map>
#include <regex>
#include <type_traits>

#include "office/package.h"
#include "office/package_writer.h"
#include "support/docx_samples.h"

namespace quorvane::testing {
namespace {

const std::string kMain = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
const std::string kR = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
const std::string kDml = "http://schemas.openxmlformats.org/drawingml/2006/";
const std::string kNs = " xmlns='" + kMain + "' xmlns:r='" + kR + "'";
const std::string kDrawingNs = " xmlns:xdr='" + kDml + "spreadsheetDrawing' xmlns:a='" + kDml +
                               "main' xmlns:c='" + kDml + "chart' xmlns:r='" + kR + "'";
const std::string kCt = "application/vnd.openxmlformats-officedocument.";

template <typename T>
std::string Str(const T& value) {
  if constexpr (std::is_arithmetic_v<T>)
    return std::to_string(value);
  else
    return std::string(value);
}

/// `text` with each "{}" replaced by the next of `args`.
template <typename... T>
std::string F(std::string text, const T&... args) {
  for (const std::string& arg : {Str(args)...}) text.replace(text.find("{}"), 2, arg);
  return text;
}

std::string Styles(const XlsxBook& book) {
  const bool rev = book.fonts_reversed;
  const int plain = rev ? 1 : 0;
  std::string formats, xfs, thin;
  for (size_t k = 0; k < book.formats.size(); ++k)
    formats += F("<numFmt numFmtId='{}' formatCode='{}'/>", 164 + k, book.formats[k]);
  auto xf = [&](size_t format, int font, int fill, int border) {
    xfs += F("<xf numFmtId='{}' fontId='{}' fillId='{}' borderId='{}' xfId='0' applyNumberFormat="
             "'1' applyFont='1' applyFill='1' applyBorder='1'/>", format, font, fill, border);
  };
  xf(book.base_format, plain, 0, 0), xf(0, 1 - plain, 0, 0), xf(0, plain, 2, 0), xf(0, plain, 0, 1);
  xf(14, plain, 0, 0);
  for (size_t k = 0; k < book.formats.size(); ++k) xf(164 + k, plain, 0, 0);
  for (const char* side : {"left", "right", "top", "bottom"})
    thin += F("<{} style='thin'><color auto='1'/></{}>", side, side);
  const std::string font = "<font>{}<sz val='11'/><name val='Calibri'/><family val='2'/></font>";
  const std::string plain_font = book.base_font.empty() ? F(font, "") : book.base_font;
  const std::string dxf = "<dxf><fill><patternFill><bgColor rgb='FF{}'/></patternFill></fill></dxf>";
  return F("<styleSheet{}><numFmts count='{}'>{}</numFmts><fonts count='2'>{}{}</fonts>"
           "<fills count='3'><fill><patternFill patternType='none'/></fill><fill><patternFill "
           "patternType='gray125'/></fill><fill><patternFill patternType='solid'><fgColor "
           "rgb='FFFFFF00'/><bgColor indexed='64'/></patternFill></fill></fills><borders count="
           "'2'><border><left/><right/><top/><bottom/><diagonal/></border><border>{}<diagonal/>"
           "</border></borders><cellStyleXfs count='1'><xf numFmtId='0' fontId='{}' fillId='0' "
           "borderId='0'/></cellStyleXfs><cellXfs count='{}'>{}</cellXfs><cellStyles count='1'>"
           "<cellStyle name='Normal' xfId='0' builtinId='0'/></cellStyles><dxfs count='2'>{}{}"
           "</dxfs></styleSheet>",
           kNs, book.formats.size(), formats, rev ? F(font, "<b/>") : plain_font,
           rev ? plain_font : F(font, "<b/>"),
           thin, plain, 5 + book.formats.size(), xfs, F(dxf, rev ? "00FF00" : "FF0000"),
           F(dxf, rev ? "FF0000" : "00FF00"));
}

/// Gives every element of a worksheet a prefix, as some producers write them; those that
/// declare every namespace they know also bind the package ones, two of them as the default.
std::string Prefixed(const std::string& xml, const XlsxBook& book) {
  const std::string p = book.prefix;
  std::string out = std::regex_replace(std::regex_replace(xml, std::regex("<(/?)"), "<$1" + p + ":"),
                                       std::regex(" xmlns="), " xmlns:" + p + "=");
  if (book.every_namespace) {
    const std::string root = "<" + p + ":worksheet";
    out.replace(out.find(root), root.size(),
                root + " xmlns:ns4='http://schemas.openxmlformats.org/package/2006/relationships'"
                       " xmlns:ns5='http://schemas.openxmlformats.org/package/2006/content-types'");
  }
  return out;
}

/// The worksheet; `ids` are the relationship ids of its link, printer settings, picture,
/// notes and table, those it has.
std::string Worksheet(const XlsxSheet& sheet, bool selected, bool dxf_reversed,
                      std::vector<std::string>* strings, std::map<std::string, std::string> ids) {
  std::string cols, rows;
  for (auto [col, width] : sheet.column_widths)
    cols += F("<col min='{}' max='{}' width='{}' customWidth='1'/>", col, col, width);
  if (sheet.rows_and_columns) cols += "<col min='3' max='3' width='9' hidden='1'/>";
  int row = 0;
  for (const XlsxCell& c : sheet.cells) {
    const int r = std::stoi(c.ref.substr(c.ref.find_first_of("0123456789")));
    if (r != row) {
      const char* shape = !sheet.rows_and_columns ? ""
                          : r == 2                ? " ht='30' customHeight='1'"
                          : r == 3                ? " hidden='1'" : "";
      if (sheet.formatted_row && row == 0) shape = " customFormat='1'";
      rows += (row ? "</row>" : "") + F("<row r='{}'{}>", r, shape);
      row = r;
    }
    rows += F("<c r='{}'", c.ref) + (c.style ? F(" s='{}'", c.style) : "");
    if (c.kind == 's') {
      const size_t at = std::find(strings->begin(), strings->end(), c.value) - strings->begin();
      if (at == strings->size()) strings->push_back(c.value);
      rows += F(" t='s'><v>{}</v></c>", at);
    } else if (c.kind == 'i') {
      rows += F(" t='inlineStr'><is><t>{}</t></is></c>", c.value);
    } else {
      rows += std::string(c.kind == 'b' ? " t='b'>" : ">") +
              (c.kind == 'f' ? "<f>" + c.formula + "</f>" : "") + F("<v>{}</v></c>", c.value);
    }
  }
  std::string xml = F("<worksheet{}><sheetViews><sheetView{} workbookViewId='0'>{}</sheetView>"
                      "</sheetViews><sheetFormatPr defaultRowHeight='15'/>",
                      kNs, selected ? " tabSelected='1'" : "",
                      sheet.freeze ? "<pane ySplit='1' topLeftCell='A2' activePane='bottomLeft' "
                                     "state='frozen'/>" : "");
  if (!cols.empty()) xml += "<cols>" + cols + "</cols>";
  xml += "<sheetData>" + rows + (row ? "</row>" : "") + "</sheetData>";
  if (!sheet.merges.empty()) {
    xml += F("<mergeCells count='{}'>", sheet.merges.size());
    for (const std::string& m : sheet.merges) xml += F("<mergeCell ref='{}'/>", m);
    xml += "</mergeCells>";
  }
  if (sheet.highlight) {
    xml += F("<conditionalFormatting sqref='B1:B3'><cfRule type='cellIs' dxfId='{}' priority='1' "
             "operator='greaterThan'><formula>15</formula></cfRule></conditionalFormatting>",
             dxf_reversed ? 1 : 0);
  }
  for (const auto& [key, element] : std::vector<std::pair<std::string, std::string>>{
           {"link", "<hyperlinks><hyperlink ref='A1' r:id='{}'/></hyperlinks>"},
           {"", "<pageMargins left='0.7' right='0.7' top='0.75' bottom='0.75' header='0' footer='0'/>"},
           {"printer", "<pageSetup orientation='landscape' r:id='{}'/>"},
           {"image", "<drawing r:id='{}'/>"}, {"notes", "<legacyDrawing r:id='{}'/>"},
           {"table", "<tableParts count='1'><tablePart r:id='{}'/></tableParts>"}}) {
    if (key.empty() || ids.count(key)) xml += key.empty() ? element : F(element, ids[key]);
  }
  return xml + "</worksheet>";
}

std::string PictureDrawing(const std::string& id) {
  return F("<xdr:wsDr{}><xdr:oneCellAnchor><xdr:from><xdr:col>3</xdr:col><xdr:colOff>0</xdr:colOff>"
           "<xdr:row>1</xdr:row><xdr:rowOff>0</xdr:rowOff></xdr:from><xdr:ext cx='1000000' "
           "cy='1000000'/><xdr:pic><xdr:nvPicPr><xdr:cNvPr id='2' name='Picture 1'/><xdr:cNvPicPr/>"
           "</xdr:nvPicPr><xdr:blipFill><a:blip r:embed='{}'/><a:stretch><a:fillRect/></a:stretch>"
           "</xdr:blipFill><xdr:spPr><a:prstGeom prst='rect'/></xdr:spPr></xdr:pic><xdr:clientData/>"
           "</xdr:oneCellAnchor></xdr:wsDr>",
           kDrawingNs, id);
}

std::string ChartDrawing(const std::string& id) {
  return F("<xdr:wsDr{}><xdr:absoluteAnchor><xdr:pos x='0' y='0'/><xdr:ext cx='8000000' "
           "cy='5000000'/><xdr:graphicFrame macro=''><xdr:nvGraphicFramePr><xdr:cNvPr id='2' "
           "name='Chart 1'/><xdr:cNvGraphicFramePr/></xdr:nvGraphicFramePr><xdr:xfrm><a:off x='0' "
           "y='0'/><a:ext cx='0' cy='0'/></xdr:xfrm><a:graphic><a:graphicData uri='{}chart'>"
           "<c:chart r:id='{}'/></a:graphicData></a:graphic></xdr:graphicFrame><xdr:clientData/>"
           "</xdr:absoluteAnchor></xdr:wsDr>",
           kDrawingNs, kDml, id);
}

std::string Chart(const std::string& data_sheet) {
  return F("<c:chartSpace{}><c:chart><c:plotArea><c:barChart><c:barDir val='col'/><c:grouping "
           "val='clustered'/><c:ser><c:idx val='0'/><c:order val='0'/><c:val><c:numRef><c:f>'{}'!"
           "$B$1:$B$3</c:f></c:numRef></c:val></c:ser><c:axId val='1'/><c:axId val='2'/>"
           "</c:barChart><c:catAx><c:axId val='1'/><c:scaling/><c:axPos val='b'/><c:crossAx val='2'/>"
           "</c:catAx><c:valAx><c:axId val='2'/><c:scaling/><c:axPos val='l'/><c:crossAx val='1'/>"
           "</c:valAx></c:plotArea></c:chart></c:chartSpace>", kDrawingNs, data_sheet);
}

/// Notes as the spreadsheet programs draw them: a shape in the block of ids 1024-2047.
const char* kNotesVml =
    "<xml xmlns:v='urn:schemas-microsoft-com:vml' xmlns:o='urn:schemas-microsoft-com:office:"
    "office' xmlns:x='urn:schemas-microsoft-com:office:excel'><o:shapelayout v:ext='edit'><o:idmap "
    "v:ext='edit' data='1'/></o:shapelayout><v:shape id='_x0000_s1025' type='#_x0000_t202'><x:"
    "ClientData ObjectType='Note'><x:Row>0</x:Row><x:Column>0</x:Column></x:ClientData></v:shape>"
    "</xml>";

}  // namespace

bool WriteXlsx(FileSystem& fs, const std::string& path, const XlsxBook& book, std::string* err) {
  office::PackageWriter w;
  const std::string workbook = "/xl/workbook.xml", rel = office::reltype::kRoot;
  auto part = [&](const std::string& owner, const std::string& name, const std::string& type,
                  const std::string& bytes, const std::string& content_type) {
    w.SetPart(name, bytes, content_type.find('/') != std::string::npos ? content_type
                                                                        : kCt + content_type);
    return w.AddRelationship(owner, rel + type, name);
  };
  std::vector<std::string> strings;
  std::string sheets, names, references;
  for (size_t i = 0; i < book.sheets.size(); ++i) {
    const XlsxSheet& sheet = book.sheets[i];
    const bool selected = static_cast<int>(i) == book.selected;
    const std::string n = std::to_string(i + 1);
    std::string id;
    if (sheet.chart) {
      const std::string chartsheet = "/xl/chartsheets/sheet" + n + ".xml";
      const std::string drawing = "/xl/drawings/chartdrawing" + n + ".xml";
      const std::string chart_id = part(drawing, "/xl/charts/chart" + n + ".xml", "chart",
                                        Chart(book.sheets[0].name), "drawingml.chart+xml");
      id = part(workbook, chartsheet, "chartsheet",
                F("<chartsheet{}><sheetViews><sheetView{} workbookViewId='0'/></sheetViews>"
                  "<drawing r:id='{}'/></chartsheet>",
                  kNs, selected ? " tabSelected='1'" : "",
                  part(chartsheet, drawing, "drawing", ChartDrawing(chart_id), "drawing+xml")),
                "spreadsheetml.chartsheet+xml");
    } else {
      const std::string worksheet = "/xl/worksheets/sheet" + n + ".xml";
      std::map<std::string, std::string> ids;
      if (!sheet.link.empty())
        ids["link"] = w.AddExternalRelationship(worksheet, rel + "hyperlink", sheet.link);
      if (sheet.printer_settings) {
        ids["printer"] = part(worksheet, "/xl/printerSettings/printerSettings" + n + ".bin",
                              "printerSettings", std::string(64, '\1'),
                              "spreadsheetml.printerSettings");
      }
      if (!sheet.comment.empty()) {
        part(worksheet, "/xl/comments" + n + ".xml", "comments",
             F("<comments{}><authors><author>Tester</author></authors><commentList><comment "
               "ref='A1' authorId='0'><text><r><t>{}</t></r></text></comment></commentList>"
               "</comments>", kNs, sheet.comment),
             "spreadsheetml.comments+xml");
        ids["notes"] = part(worksheet, "/xl/drawings/vmlDrawing" + n + ".vml", "vmlDrawing",
                            kNotesVml, "vmlDrawing");
      }
      if (!sheet.table.empty()) {
        ids["table"] = part(
            worksheet, "/xl/tables/table" + n + ".xml", "table",
            F("<table{} id='{}' name='{}' displayName='{}' ref='A1:A3'><autoFilter ref='A1:A3'/>"
              "<tableColumns count='1'><tableColumn id='1' name='{}'/></tableColumns>"
              "<tableStyleInfo name='TableStyleMedium2' showRowStripes='1'/></table>",
              kNs, i + 1, sheet.table_name.empty() ? sheet.table : sheet.table_name, sheet.table,
              sheet.cells[0].value),
            "spreadsheetml.table+xml");
      }
      if (sheet.image) {
        const std::string drawing = "/xl/drawings/drawing" + n + ".xml";
        const std::string image_id =
            part(drawing, "/xl/media/image" + n + ".png", "image", TinyPng(0x80), "image/png");
        ids["image"] = part(worksheet, drawing, "drawing", PictureDrawing(image_id), "drawing+xml");
      }
      const std::string xml = Worksheet(sheet, selected, book.fonts_reversed, &strings, ids);
      id = part(workbook, worksheet, "worksheet", book.prefixed ? Prefixed(xml, book) : xml,
                "spreadsheetml.worksheet+xml");
    }
    sheets += F("<sheet name='{}' sheetId='{}' r:id='{}'/>", sheet.name, i + 1, id);
  }
  for (const XlsxName& name : book.names) {
    names += F("<definedName name='{}'{}>{}</definedName>", name.name,
               name.sheet < 0 ? "" : F(" localSheetId='{}'", name.sheet), name.refers_to);
  }
  if (book.external_link) {
    const std::string link = "/xl/externalLinks/externalLink1.xml";
    references = F("<externalReferences><externalReference r:id='{}'/></externalReferences>",
                   part(workbook, link, "externalLink",
                        F("<externalLink{}><externalBook r:id='{}'><sheetNames><sheetName "
                          "val='Other'/></sheetNames></externalBook></externalLink>",
                          kNs, w.AddExternalRelationship(link, rel + "externalLinkPath",
                                                         "other.xlsx")),
                        "spreadsheetml.externalLink+xml"));
  }
  part(workbook, "/xl/styles.xml", "styles", Styles(book), "spreadsheetml.styles+xml");
  if (!strings.empty()) {
    std::string sst = F("<sst{} count='{}' uniqueCount='{}'>", kNs, strings.size(), strings.size());
    for (const std::string& s : strings) sst += "<si><t xml:space='preserve'>" + s + "</t></si>";
    part(workbook, "/xl/sharedStrings.xml", "sharedStrings", sst + "</sst>",
         "spreadsheetml.sharedStrings+xml");
  }
  w.SetPart(workbook,
            F("<workbook{}><workbookPr{}/><bookViews><workbookView activeTab='{}'/></bookViews>"
              "<sheets>{}</sheets>{}{}<calcPr calcId='191029'/></workbook>",
              kNs, book.date1904 ? " date1904='1'" : "", book.selected, sheets, references,
              names.empty() ? "" : "<definedNames>" + names + "</definedNames>"),
            kCt + "spreadsheetml.sheet.main+xml");
  w.AddRelationship("/", office::reltype::kOfficeDocument, workbook);
  return w.Save(fs, path, err);
}

}  // namespace quorvane::testing
