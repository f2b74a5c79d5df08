#include "support/docx_samples.h"

#include <zlib.h>

#include <cstdint>

#include "common/filesystem.h"
#include "office/package.h"
#include "office/package_writer.h"

namespace quorvane::testing {
namespace {

const std::string kWordType = "application/vnd.openxmlformats-officedocument.wordprocessingml.";
const std::string kNamespaces =
    " xmlns:w='http://schemas.openxmlformats.org/wordprocessingml/2006/main'"
    " xmlns:r='http://schemas.openxmlformats.org/officeDocument/2006/relationships'"
    " xmlns:wp='http://schemas.openxmlformats.org/drawingml/2006/wordprocessingDrawing'"
    " xmlns:a='http://schemas.openxmlformats.org/drawingml/2006/main'"
    " xmlns:pic='http://schemas.openxmlformats.org/drawingml/2006/picture'"
    " xmlns:mc='http://schemas.openxmlformats.org/markup-compatibility/2006'"
    " xmlns:w14='http://schemas.microsoft.com/office/word/2010/wordml' mc:Ignorable='w14'";

void Put32(std::string* out, uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out->push_back(static_cast<char>(value >> shift));
}

/// A root element `name` declaring the namespaces, around `inner`.
std::string Root(const std::string& name, const std::string& inner) {
  return "<w:" + name + kNamespaces + ">" + inner + "</w:" + name + ">";
}

std::string Paragraph(const std::string& text, const std::string& p_pr = "", int para = 0,
                      const std::string& before = "", const std::string& after = "") {
  return "<w:p" + (para ? " w14:paraId='0000000" + std::to_string(para) + "'" : "") + ">" +
         (p_pr.empty() ? "" : "<w:pPr>" + p_pr + "</w:pPr>") + before +
         "<w:r><w:t xml:space='preserve'>" + text + "</w:t></w:r>" + after + "</w:p>";
}

std::string Style(const std::string& type, const std::string& id, const std::string& name,
                  const std::string& more) {
  return "<w:style w:type='" + type + "' w:styleId='" + id + "'><w:name w:val='" + name + "'/>" +
         more + "</w:style>";
}

std::string Abstract(int id, const std::string& format, const std::string& text) {
  const std::string n = std::to_string(id);
  return "<w:abstractNum w:abstractNumId='" + n + "'><w:nsid w:val='1234ABC" + n + "'/><w:lvl "
         "w:ilvl='0'><w:start w:val='1'/><w:numFmt w:val='" + format + "'/><w:lvlText w:val='" +
         text + "'/><w:pPr><w:ind w:left='720' w:hanging='360'/></w:pPr></w:lvl></w:abstractNum>";
}

/// Three levels numbered "1", "1.1", "1.1.1", each applied by the style it names, as a
/// document's outline numbering is; the styles themselves name only the list.
std::string OutlineAbstract(int id, const std::string& heading1) {
  const std::string n = std::to_string(id);
  std::string levels;
  for (int level = 0; level < 3; ++level) {
    std::string text;
    for (int i = 1; i <= level + 1; ++i) text += (i > 1 ? "." : "") + ("%" + std::to_string(i));
    levels += "<w:lvl w:ilvl='" + std::to_string(level) + "'><w:start w:val='1'/><w:numFmt "
              "w:val='decimal'/><w:pStyle w:val='" +
              (level ? "Heading" + std::to_string(level + 1) : heading1) + "'/><w:lvlText w:val='" +
              text + "'/></w:lvl>";
  }
  return "<w:abstractNum w:abstractNumId='" + n + "'><w:nsid w:val='5678DEF" + n +
         "'/><w:multiLevelType w:val='multilevel'/>" + levels + "</w:abstractNum>";
}

const char* kDrawing =
    "<w:p><w:r><w:drawing><wp:inline><wp:extent cx='914400' cy='914400'/><wp:docPr id='1' "
    "name='Picture 1'/><a:graphic><a:graphicData uri='http://schemas.openxmlformats.org/drawingml/"
    "2006/picture'><pic:pic><pic:nvPicPr><pic:cNvPr id='0' name='image.png'/><pic:cNvPicPr/>"
    "</pic:nvPicPr><pic:blipFill><a:blip r:embed='ID'/><a:stretch><a:fillRect/></a:stretch>"
    "</pic:blipFill><pic:spPr><a:xfrm><a:off x='0' y='0'/><a:ext cx='914400' cy='914400'/></a:xfrm>"
    "<a:prstGeom prst='rect'/></pic:spPr></pic:pic></a:graphicData></a:graphic></wp:inline>"
    "</w:drawing></w:r></w:p>";

const char* kFootnotes =
    "<w:footnote w:type='separator' w:id='-1'><w:p><w:r><w:separator/></w:r></w:p></w:footnote>"
    "<w:footnote w:type='continuationSeparator' w:id='0'><w:p><w:r><w:continuationSeparator/>"
    "</w:r></w:p></w:footnote><w:footnote w:id='1'><w:p><w:r><w:footnoteRef/></w:r><w:r><w:t "
    "xml:space='preserve'> 脚注文字</w:t></w:r></w:p></w:footnote>";

}  // namespace

std::string TinyPng(unsigned char shade) {
  std::string png = "\x89PNG\r\n\x1a\n", rows;
  auto chunk = [&](const std::string& type_and_data) {
    Put32(&png, static_cast<uint32_t>(type_and_data.size() - 4));
    png += type_and_data;
    Put32(&png, crc32(0, reinterpret_cast<const Bytef*>(type_and_data.data()),
                      static_cast<uInt>(type_and_data.size())));
  };
  chunk("IHDR" + std::string("\0\0\0\2\0\0\0\2\x08\0\0\0\0", 13));  // 2 x 2, 8-bit grey
  for (int row = 0; row < 2; ++row) rows += std::string{'\0', char(shade), char(shade)};
  uLongf size = compressBound(rows.size());
  std::string packed(size, '\0');
  compress(reinterpret_cast<Bytef*>(packed.data()), &size,
           reinterpret_cast<const Bytef*>(rows.data()), rows.size());
  chunk("IDAT" + packed.substr(0, size));
  chunk("IEND");
  return png;
}

bool WriteDocx(const DocxSample& s, const std::string& path, std::string* err) {
  office::PackageWriter writer;
  const std::string main = "/word/document.xml", rel = office::reltype::kRoot;
  writer.AddRelationship("/", office::reltype::kOfficeDocument, main);
  auto part = [&](const std::string& name, const std::string& bytes, const std::string& type) {
    writer.SetPart(name, bytes, name.ends_with(".png") ? "image/png" : kWordType + type + "+xml");
    return writer.AddRelationship(main, rel + type, name);
  };

  const std::string outline_num_pr =
      s.heading_numbering ? "<w:pPr><w:numPr><w:numId w:val='3'/></w:numPr></w:pPr>" : "";
  std::string styles =
      "<w:style w:type='paragraph' w:default='1' w:styleId='Normal'><w:name w:val='Normal'/>"
      "</w:style>" +
      Style("paragraph", s.heading_style_id, "heading 1",
            "<w:basedOn w:val='Normal'/>" + outline_num_pr + "<w:rPr><w:b/><w:sz w:val='40'/></w:rPr>");
  if (s.heading_numbering) {
    for (const char* level : {"2", "3"}) {
      std::string num_pr = outline_num_pr;
      if (s.heading_style_levels)
        num_pr.insert(num_pr.find("<w:numId"), "<w:ilvl w:val='" + std::to_string(*level - '1') + "'/>");
      styles += Style("paragraph", std::string("Heading") + level, std::string("heading ") + level,
                      "<w:basedOn w:val='Normal'/>" + num_pr);
    }
  }
  if (s.lists)  // numbered lists by style, as "List Number" numbers its paragraphs
    styles += Style("paragraph", "ListNumber", "List Number",
                    "<w:pPr><w:numPr><w:numId w:val='1'/></w:numPr></w:pPr>");
  if (!s.note_style_name.empty()) {
    styles += Style("paragraph", "Note", s.note_style_name,
                    "<w:basedOn w:val='Normal'/><w:link w:val='NoteChar'/><w:rPr><w:i/></w:rPr>") +
              Style("character", "NoteChar", s.note_style_name + " Char", "<w:link w:val='Note'/>");
  }
  part("/word/styles.xml", Root("styles", styles), "styles");

  std::string body, sect_pr;
  if (!s.heading.empty())
    body += Paragraph(s.heading, "<w:pStyle w:val='" + s.heading_style_id + "'/>");
  if (s.heading_numbering) {
    body += Paragraph(s.heading + "·二级", "<w:pStyle w:val='Heading2'/>") +
            Paragraph(s.heading + "·三级", "<w:pStyle w:val='Heading3'/>");
  }
  for (size_t i = 0; i < s.paragraphs.size(); ++i) {
    std::string before, after;
    if (i == 0 && s.bookmark) {
      before += "<w:bookmarkStart w:id='" + s.bookmark_id + "' w:name='Intro'/><w:bookmarkStart "
                "w:id='1' w:name='_GoBack'/><w:bookmarkEnd w:id='1'/>";
      after += "<w:bookmarkEnd w:id='" + s.bookmark_id + "'/>";
    }
    if (i == 0 && s.comment) {
      before += "<w:commentRangeStart w:id='0'/>";
      after += "<w:commentRangeEnd w:id='0'/><w:r><w:commentReference w:id='0'/></w:r>";
    }
    if (i + 1 == s.paragraphs.size() && s.footnote)
      after += "<w:r><w:rPr><w:vertAlign w:val='superscript'/></w:rPr><w:footnoteReference "
               "w:id='1'/></w:r>";
    body += Paragraph(s.paragraphs[i], "", static_cast<int>(i % 9) + 1, before, after);
    if (static_cast<int>(i) + 1 < s.bodies) body += "<w:sectPr>SECT</w:sectPr></w:body><w:body>";
  }
  if (!s.note_style_name.empty())
    body += Paragraph(s.note_style_name + " …", "<w:pStyle w:val='Note'/>");
  if (s.bookmark)  // cross-references to the bookmark, as a simple and as a complex field
    body += "<w:p><w:fldSimple w:instr=' PAGEREF Intro \\h '/><w:r><w:fldChar "
            "w:fldCharType='begin'/></w:r><w:r><w:instrText xml:space='preserve'> REF \"Intro\" "
            "\\h </w:instrText></w:r><w:r><w:fldChar w:fldCharType='end'/></w:r></w:p>";
  if (s.lists || s.heading_numbering) {
    std::string abstracts, nums;
    if (s.lists) {
      abstracts += Abstract(0, "decimal", "%1.") + Abstract(1, "bullet", "•");
      nums += "<w:num w:numId='1'><w:abstractNumId w:val='0'/></w:num>"
              "<w:num w:numId='2'><w:abstractNumId w:val='1'/></w:num>";
    }
    if (s.heading_numbering) {
      abstracts += OutlineAbstract(2, s.heading_style_id);
      nums += "<w:num w:numId='3'><w:abstractNumId w:val='2'/></w:num>";
    }
    part("/word/numbering.xml", Root("numbering", abstracts + nums), "numbering");
  }
  if (s.lists) {
    for (int i = 0; i < 2; ++i) body += Paragraph("列表项", "<w:pStyle w:val='ListNumber'/>");
    for (int i = 0; i < 2; ++i)
      body += Paragraph("列表项", "<w:numPr><w:ilvl w:val='0'/><w:numId w:val='2'/></w:numPr>");
  }
  if (s.hyperlink) {
    body += "<w:p><w:hyperlink r:id='" +
            writer.AddExternalRelationship(main, rel + "hyperlink", "https://example.com/") +
            "'><w:r><w:t>例子链接</w:t></w:r></w:hyperlink></w:p>";
  }
  if (s.image) {
    std::string drawing = kDrawing;
    drawing.replace(drawing.find("'ID'") + 1, 2,
                    part("/word/media/image1.png", TinyPng(s.image_shade), "image"));
    body += drawing.replace(drawing.find("docPr id='1'") + 10, 1, s.drawing_id);
  }
  if (s.footnote) part("/word/footnotes.xml", Root("footnotes", kFootnotes), "footnotes");
  if (s.comment) {
    part("/word/comments.xml", Root("comments", "<w:comment w:id='0' w:author='测试'><w:p><w:r>"
                                                "<w:t>批注</w:t></w:r></w:p></w:comment>"),
         "comments");
  }
  for (const std::string kind : {"header", "footer"}) {
    if (!s.header_footer) continue;
    const bool header = kind == "header";
    sect_pr += "<w:" + kind + "Reference w:type='default' r:id='" +
               part("/word/" + kind + "1.xml",
                    Root(header ? "hdr" : "ftr", Paragraph(header ? "页眉" : "页脚", "", header ? 7 : 8)),
                    kind) +
               "'/>";
  }
  if (s.table) {
    std::string row = "<w:tr>";
    for (const char* text : {"格一", "格二"}) row += "<w:tc>" + Paragraph(text) + "</w:tc>";
    body += "<w:tbl><w:tblGrid><w:gridCol w:w='3000'/><w:gridCol w:w='3000'/></w:tblGrid>" + row +
            "</w:tr>" + row + "</w:tr></w:tbl>";
  }
  sect_pr += s.landscape ? "<w:pgSz w:w='16838' w:h='11906' w:orient='landscape'/>"
                         : "<w:pgSz w:w='11906' w:h='16838'/>";
  sect_pr += "<w:pgMar w:top='1440' w:right='1440' w:bottom='1440' w:left='1440' w:header='720' "
             "w:footer='720' w:gutter='0'/>";
  if (s.macros) {
    writer.SetPart("/word/vbaProject.bin", "not really a VBA project",
                   "application/vnd.ms-office.vbaProject");
    writer.AddRelationship(main, "http://schemas.microsoft.com/office/2006/relationships/vbaProject",
                           "/word/vbaProject.bin");
  }
  if (s.open_field)
    body += "<w:p><w:r><w:t>域前</w:t></w:r><w:r><w:fldChar w:fldCharType='begin'/></w:r><w:r>"
            "<w:instrText xml:space='preserve'> PAGE </w:instrText></w:r></w:p>";
  for (size_t at = body.find("SECT"); at != std::string::npos; at = body.find("SECT", at))
    body.replace(at, 4, sect_pr);
  writer.SetPart(main,
                 Root("document", "<w:body>" + body + "<w:sectPr>" + sect_pr + "</w:sectPr></w:body>"),
                 s.macros ? "application/vnd.ms-word.document.macroEnabled.main+xml"
                          : kWordType + "document.main+xml");
  return writer.Save(SystemFileSystem(), path, err);
}

}  // namespace quorvane::testing
