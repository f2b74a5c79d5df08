#include "support/docx_samples.h"

#include <cstdint>

#include "common/filesystem.h"
#include "office/package.h"

namespace quorvane::testing {
namespace {

using office::PackageWriter;

constexpr const char* kWordType = "application/vnd.openxmlformats-officedocument.wordprocessingml.";
constexpr const char* kRoot = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";
constexpr const char* kNamespaces =
    " xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\""
    " xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\""
    " xmlns:wp=\"http://schemas.openxmlformats.org/drawingml/2006/wordprocessingDrawing\""
    " xmlns:a=\"http://schemas.openxmlformats.org/drawingml/2006/main\""
    " xmlns:pic=\"http://schemas.openxmlformats.org/drawingml/2006/picture\""
    " xmlns:mc=\"http://schemas.openxmlformats.org/markup-compatibility/2006\""
    " xmlns:w14=\"http://schemas.microsoft.com/office/word/2010/wordml\" mc:Ignorable=\"w14\"";

void Put32(std::string* out, uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out->push_back(static_cast<char>(value >> shift));
}

uint32_t Crc32(const std::string& bytes) {
  uint32_t crc = 0xFFFFFFFFu;
  for (unsigned char byte : bytes) {
    crc ^= byte;
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

void PngChunk(std::string* png, const std::string& type, const std::string& data) {
  Put32(png, static_cast<uint32_t>(data.size()));
  png->append(type + data);
  Put32(png, Crc32(type + data));
}

std::string Paragraph(const std::string& text, const std::string& inner_before = "",
                      const std::string& p_pr = "", int para = 0) {
  std::string id = para ? " w14:paraId=\"0000000" + std::to_string(para) + "\"" : "";
  return "<w:p" + id + ">" + (p_pr.empty() ? "" : "<w:pPr>" + p_pr + "</w:pPr>") + inner_before +
         "<w:r><w:t xml:space=\"preserve\">" + text + "</w:t></w:r></w:p>";
}

std::string Style(const std::string& type, const std::string& id, const std::string& name,
                  const std::string& more = "") {
  return "<w:style w:type=\"" + type + "\" w:styleId=\"" + id + "\"><w:name w:val=\"" + name +
         "\"/>" + more + "</w:style>";
}

std::string Drawing(const std::string& rel_id) {
  return "<w:r><w:drawing><wp:inline><wp:extent cx=\"914400\" cy=\"914400\"/>"
         "<wp:docPr id=\"1\" name=\"Picture 1\"/><a:graphic><a:graphicData uri=\""
         "http://schemas.openxmlformats.org/drawingml/2006/picture\"><pic:pic><pic:nvPicPr>"
         "<pic:cNvPr id=\"0\" name=\"image.png\"/><pic:cNvPicPr/></pic:nvPicPr><pic:blipFill>"
         "<a:blip r:embed=\"" + rel_id + "\"/><a:stretch><a:fillRect/></a:stretch></pic:blipFill>"
         "<pic:spPr><a:xfrm><a:off x=\"0\" y=\"0\"/><a:ext cx=\"914400\" cy=\"914400\"/></a:xfrm>"
         "<a:prstGeom prst=\"rect\"/></pic:spPr></pic:pic></a:graphicData></a:graphic>"
         "</wp:inline></w:drawing></w:r>";
}

std::string Abstract(int id, const std::string& format, const std::string& text) {
  return "<w:abstractNum w:abstractNumId=\"" + std::to_string(id) + "\"><w:nsid w:val=\"1234ABC" +
         std::to_string(id) + "\"/><w:lvl w:ilvl=\"0\"><w:start w:val=\"1\"/><w:numFmt w:val=\"" +
         format + "\"/><w:lvlText w:val=\"" + text + "\"/><w:pPr><w:ind w:left=\"720\" "
         "w:hanging=\"360\"/></w:pPr></w:lvl></w:abstractNum>";
}

std::string NotesPart(const std::string& root, const std::string& body) {
  return kRoot + ("<w:" + root) + kNamespaces + ">" + body + "</w:" + root + ">";
}

}  // namespace

std::string TinyPng(unsigned char shade) {
  std::string png = "\x89PNG\r\n\x1a\n";
  std::string header;
  Put32(&header, 2);
  Put32(&header, 2);
  header += std::string("\x08\x00\x00\x00\x00", 5);  // 8-bit grey
  PngChunk(&png, "IHDR", header);
  std::string rows;
  for (int row = 0; row < 2; ++row) rows += std::string{'\0', char(shade), char(shade)};
  std::string zlib = "\x78\x01";  // stored deflate blocks need no compressor
  zlib += std::string{'\x01', char(rows.size()), '\0', char(~rows.size()), '\xff'} + rows;
  uint32_t a = 1, b = 0;
  for (unsigned char byte : rows) b = (b + (a = (a + byte) % 65521)) % 65521;
  Put32(&zlib, (b << 16) | a);
  PngChunk(&png, "IDAT", zlib);
  PngChunk(&png, "IEND", "");
  return png;
}

bool WriteDocx(const DocxSample& s, const std::string& path, std::string* err) {
  PackageWriter writer;
  const std::string main = "/word/document.xml";
  const std::string rel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";
  writer.AddRelationship("/", rel + "officeDocument", main);
  auto part = [&](const std::string& name, const std::string& type, const std::string& bytes,
                  const std::string& rel_type) {
    writer.SetPart(name, bytes, type);
    return writer.AddRelationship(main, rel + rel_type, name);
  };

  std::string styles = Style("paragraph", "Normal", "Normal") +
                       Style("paragraph", s.heading_style_id, "heading 1",
                             "<w:basedOn w:val=\"Normal\"/><w:rPr><w:b/><w:sz w:val=\"40\"/></w:rPr>");
  styles.insert(styles.find("<w:style ") + 8, " w:default=\"1\"");
  if (!s.note_style_name.empty()) {
    styles += Style("paragraph", "Note", s.note_style_name,
                    "<w:basedOn w:val=\"Normal\"/><w:link w:val=\"NoteChar\"/><w:rPr><w:i/></w:rPr>") +
              Style("character", "NoteChar", s.note_style_name + " Char", "<w:link w:val=\"Note\"/>");
  }
  part("/word/styles.xml", std::string(kWordType) + "styles+xml",
       kRoot + std::string("<w:styles") + kNamespaces + ">" + styles + "</w:styles>", "styles");

  std::string body;
  if (!s.heading.empty())
    body += Paragraph(s.heading, "", "<w:pStyle w:val=\"" + s.heading_style_id + "\"/>");
  for (size_t i = 0; i < s.paragraphs.size(); ++i) {
    std::string before, after;
    if (i == 0 && s.bookmark) {
      before += "<w:bookmarkStart w:id=\"0\" w:name=\"Intro\"/><w:bookmarkStart w:id=\"1\" "
                "w:name=\"_GoBack\"/><w:bookmarkEnd w:id=\"1\"/>";
      after += "<w:bookmarkEnd w:id=\"0\"/>";
    }
    if (i == 0 && s.comment) {
      before += "<w:commentRangeStart w:id=\"0\"/>";
      after += "<w:commentRangeEnd w:id=\"0\"/><w:r><w:commentReference w:id=\"0\"/></w:r>";
    }
    if (i + 1 == s.paragraphs.size() && s.footnote)
      after += "<w:r><w:rPr><w:vertAlign w:val=\"superscript\"/></w:rPr><w:footnoteReference w:id=\"1\"/></w:r>";
    std::string p = Paragraph(s.paragraphs[i], before, "", static_cast<int>(i % 9) + 1);
    body += p.insert(p.size() - 6, after);
  }
  if (!s.note_style_name.empty())
    body += Paragraph(s.note_style_name + " …", "", "<w:pStyle w:val=\"Note\"/>");
  if (s.lists) {
    std::string numbering = kRoot + std::string("<w:numbering") + kNamespaces + ">" +
                            Abstract(0, "decimal", "%1.") + Abstract(1, "bullet", "•") +
                            "<w:num w:numId=\"1\"><w:abstractNumId w:val=\"0\"/></w:num>"
                            "<w:num w:numId=\"2\"><w:abstractNumId w:val=\"1\"/></w:num></w:numbering>";
    part("/word/numbering.xml", std::string(kWordType) + "numbering+xml", numbering, "numbering");
    for (int num : {1, 1, 2, 2}) {
      body += Paragraph("列表项", "",
                        "<w:numPr><w:ilvl w:val=\"0\"/><w:numId w:val=\"" + std::to_string(num) +
                            "\"/></w:numPr>");
    }
  }
  if (s.hyperlink) {
    std::string id = writer.AddExternalRelationship(main, rel + "hyperlink", "https://example.com/");
    body += "<w:p><w:hyperlink r:id=\"" + id + "\"><w:r><w:t>例子链接</w:t></w:r></w:hyperlink></w:p>";
  }
  if (s.image) {
    std::string id = part("/word/media/image1.png", "image/png", TinyPng(s.image_shade), "image");
    body += "<w:p>" + Drawing(id) + "</w:p>";
  }
  if (s.footnote) {
    std::string notes =
        "<w:footnote w:type=\"separator\" w:id=\"-1\"><w:p><w:r><w:separator/></w:r></w:p></w:footnote>"
        "<w:footnote w:type=\"continuationSeparator\" w:id=\"0\"><w:p><w:r><w:continuationSeparator/>"
        "</w:r></w:p></w:footnote><w:footnote w:id=\"1\"><w:p><w:r><w:footnoteRef/></w:r>"
        "<w:r><w:t xml:space=\"preserve\"> 脚注文字</w:t></w:r></w:p></w:footnote>";
    part("/word/footnotes.xml", std::string(kWordType) + "footnotes+xml",
         NotesPart("footnotes", notes), "footnotes");
  }
  if (s.comment) {
    std::string comments = "<w:comment w:id=\"0\" w:author=\"测试\"><w:p><w:r><w:t>批注</w:t></w:r></w:p></w:comment>";
    part("/word/comments.xml", std::string(kWordType) + "comments+xml",
         NotesPart("comments", comments), "comments");
  }
  std::string sect_pr = "<w:sectPr>";
  if (s.header_footer) {
    for (std::string kind : {"header", "footer"}) {
      std::string tag = kind == "header" ? "hdr" : "ftr";
      std::string id = part("/word/" + kind + "1.xml", std::string(kWordType) + kind + "+xml",
                            kRoot + ("<w:" + tag) + kNamespaces + ">" +
                                Paragraph(kind == "header" ? "页眉" : "页脚", "", "", kind == "header" ? 7 : 8) + "</w:" + tag + ">",
                            kind);
      sect_pr += "<w:" + kind + "Reference w:type=\"default\" r:id=\"" + id + "\"/>";
    }
  }
  if (s.table) {
    body += "<w:tbl><w:tblPr><w:tblW w:w=\"0\" w:type=\"auto\"/></w:tblPr><w:tblGrid><w:gridCol "
            "w:w=\"3000\"/><w:gridCol w:w=\"3000\"/></w:tblGrid>";
    for (int row = 0; row < 2; ++row) {
      body += "<w:tr>";
      for (int col = 0; col < 2; ++col)
        body += "<w:tc><w:tcPr><w:tcW w:w=\"3000\" w:type=\"dxa\"/></w:tcPr>" +
                Paragraph("格" + std::to_string(row) + std::to_string(col)) + "</w:tc>";
      body += "</w:tr>";
    }
    body += "</w:tbl>";
  }
  sect_pr += s.landscape ? "<w:pgSz w:w=\"16838\" w:h=\"11906\" w:orient=\"landscape\"/>"
                         : "<w:pgSz w:w=\"11906\" w:h=\"16838\"/>";
  sect_pr += "<w:pgMar w:top=\"1440\" w:right=\"1440\" w:bottom=\"1440\" w:left=\"1440\" "
             "w:header=\"720\" w:footer=\"720\" w:gutter=\"0\"/></w:sectPr>";
  std::string main_type = s.macros ? "application/vnd.ms-word.document.macroEnabled.main+xml"
                                   : std::string(kWordType) + "document.main+xml";
  if (s.macros) {
    writer.SetPart("/word/vbaProject.bin", "not really a VBA project",
                   "application/vnd.ms-office.vbaProject");
    writer.AddRelationship(main, "http://schemas.microsoft.com/office/2006/relationships/vbaProject",
                           "/word/vbaProject.bin");
  }
  writer.SetPart(main, kRoot + std::string("<w:document") + kNamespaces + "><w:body>" + body +
                           sect_pr + "</w:body></w:document>",
                 main_type);
  return writer.Save(SystemFileSystem(), path, err);
}

}  // namespace quorvane::testing
