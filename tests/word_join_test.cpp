#include "office/word_join.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <regex>
#include <set>

#include "office/id_counter.h"
#include "office/package.h"
#include "office/package_writer.h"
#include "office/xml.h"
#include "support/docx_check.h"
#include "support/docx_samples.h"
#include "support/temp_dir.h"

namespace quorvane::office {
namespace {

using namespace testing;

std::string Write(const TempDir& dir, const std::string& name, const DocxSample& sample) {
  std::string err;
  EXPECT_TRUE(testing::WriteDocx(sample, dir / name, &err)) << err;
  return dir / name;
}

/// A package holding nothing but the main part `xml`.
std::string WriteBareDocx(const std::string& path, const std::string& xml) {
  PackageWriter writer;
  writer.AddRelationship("/", reltype::kOfficeDocument, "/word/document.xml");
  writer.SetPart("/word/document.xml", xml,
                 "application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml");
  std::string err;
  EXPECT_TRUE(writer.Save(SystemFileSystem(), path, &err)) << err;
  return path;
}

/// Joins `sources` into dir/joined.docx and opens the result once the checker finds it sound.
std::unique_ptr<Package> JoinChecked(const TempDir& dir, const std::vector<std::string>& sources) {
  std::string err;
  WordJoin join;
  std::vector<std::unique_ptr<Package>> packages;  // open until the save
  for (const std::string& source : sources) {
    packages.push_back(Package::Open(SystemFileSystem(), source, &err));
    EXPECT_TRUE(packages.back() && (packages.size() > 1 ? join.Append(*packages.back(), &err)
                                                        : join.Start(*packages.back(), &err)))
        << err;
  }
  EXPECT_TRUE(join.Save(SystemFileSystem(), dir / "joined.docx", &err)) << err;
  EXPECT_EQ(testing::CheckDocx(dir / "joined.docx"), std::vector<std::string>{});
  return Package::Open(SystemFileSystem(), dir / "joined.docx", &err);
}

/// A base with a bit of everything, holding the highest drawing and bookmark ids there may be,
/// a landscape document whose localised style ids and taken style id must be mapped, and a
/// plain one.
std::vector<std::string> RichSources(const TempDir& dir) {
  return {Write(dir, "a.docx",
                {.paragraphs = {"甲文档第一段", "First document, second paragraph"},
                 .heading = "甲标题", .note_style_name = "Memo", .image = true, .lists = true,
                 .footnote = true, .comment = true, .header_footer = true, .bookmark = true,
                 .drawing_id = "4294967295", .bookmark_id = "2147483647"}),
          Write(dir, "b.docx",
                {.paragraphs = {"乙文档第一段", "Second document text"}, .heading = "乙标题",
                 .heading_style_id = "1", .note_style_name = "Note Box", .image = true,
                 .table = true, .lists = true, .footnote = true, .comment = true,
                 .header_footer = true, .hyperlink = true, .landscape = true, .bookmark = true}),
          Write(dir, "c.docx", {.paragraphs = {"丙文档", "Third document text"}, .image = true,
                                .image_shade = 0x20, .bookmark = true})};
}

/// The parsed part `part` of `package`.
pugi::xml_document ReadPart(const Package& package, const std::string& part) {
  std::string bytes, err;
  pugi::xml_document doc;
  EXPECT_TRUE(package.Read(part, &bytes, &err) && ParseXml(bytes, part, &doc, &err)) << err;
  return doc;
}

TEST(WordJoinTest, RichDocumentsJoinIntoOneSoundDocumentAsReadersSeeIt) {
  TempDir dir;
  const std::vector<std::string> sources = RichSources(dir);
  const auto package = JoinChecked(dir, sources);
  ASSERT_TRUE(package);
  pugi::xml_document doc = ReadPart(*package, "/word/document.xml");
  pugi::xml_node body = doc.document_element().child("w:body");
  // Three sections: the first two end in the last paragraph of their document, and each
  // further document begins on a new page, with no page break of its own.
  std::vector<pugi::xml_node> sections;
  for (pugi::xml_node p : body.children("w:p"))
    if (pugi::xml_node s = p.child("w:pPr").child("w:sectPr")) sections.push_back(s);
  sections.push_back(body.last_child());
  ASSERT_EQ(sections.size(), 3u);
  EXPECT_STREQ(sections[0].parent().parent().next_sibling().child("w:pPr").child("w:pStyle")
                   .attribute("w:val").value(), "Heading1");
  EXPECT_STREQ(sections[1].parent().parent().previous_sibling().name(), "w:tbl");
  EXPECT_STREQ(sections[1].child("w:type").attribute("w:val").value(), "nextPage");
  EXPECT_STREQ(sections[2].child("w:type").attribute("w:val").value(), "nextPage");
  EXPECT_STREQ(sections[1].child("w:pgSz").attribute("w:orient").value(), "landscape");
  EXPECT_TRUE(sections[1].child("w:headerReference"));
  EXPECT_FALSE(sections[2].child("w:headerReference"));  // inherits
  EXPECT_TRUE(doc.select_nodes("//w:br[@w:type='page']").empty());
  EXPECT_EQ(doc.select_nodes("//w:bookmarkStart[@w:name='_GoBack']").size(), 1u);  // the base's
  // The sources' ids are handed out below the base's, where the counter finds them free.
  for (pugi::xpath_node id : doc.select_nodes("//wp:docPr/@id | //pic:cNvPr/@id"))
    EXPECT_LE(std::stoull(id.attribute().value()), 4294967295ull);
  for (pugi::xpath_node id : doc.select_nodes("//w:bookmarkStart/@w:id"))
    EXPECT_LE(std::stoull(id.attribute().value()), 2147483647ull);
  std::vector<std::string> references;  // cross-references follow renamed bookmarks
  for (pugi::xpath_node field : doc.select_nodes("//w:fldSimple/@w:instr | //w:instrText"))
    references.push_back(field.attribute() ? field.attribute().value() : field.node().text().get());
  EXPECT_EQ(references, (std::vector<std::string>{
                            " PAGEREF Intro \\h ", " PAGEREF Intro_2 \\h ", " PAGEREF Intro_3 \\h ",
                            " REF \"Intro\" \\h ", " REF \"Intro_2\" \\h ", " REF \"Intro_3\" \\h "}));

  // Styles matched by name: one "heading 1"; the taken id "Note" gave "Note Box" a new one.
  pugi::xml_document styles = ReadPart(*package, "/word/styles.xml");
  EXPECT_EQ(styles.select_nodes("//w:style[w:name/@w:val='heading 1']").size(), 1u);
  pugi::xml_node note_box = styles.select_node("//w:style[w:name/@w:val='Note Box']").node();
  ASSERT_TRUE(note_box);
  EXPECT_STRNE(note_box.attribute("w:styleId").value(), "Note");

  // Each document's lists have numbering of their own, abstract definitions first.
  pugi::xml_document numbering = ReadPart(*package, "/word/numbering.xml");
  std::set<std::string> nsids;
  for (pugi::xpath_node nsid : numbering.select_nodes("//w:abstractNum/w:nsid/@w:val"))
    nsids.insert(nsid.attribute().value());
  EXPECT_EQ(nsids.size(), 3u);  // the base's two and the second document's bullets
  EXPECT_EQ(numbering.select_nodes("//w:num").size(), 4u);
  EXPECT_TRUE(numbering.select_nodes("//w:num/following-sibling::w:abstractNum").empty());
  std::set<std::string> used;  // the second document's lists do not continue the base's
  for (pugi::xpath_node id : doc.select_nodes("//w:numPr/w:numId/@w:val"))
    used.insert(id.attribute().value());
  EXPECT_EQ(used.size(), 3u);
  // A list numbered by a style both documents have starts again in the second document.
  const pugi::xpath_node_set restarted =
      doc.select_nodes("//w:p[w:pPr/w:pStyle/@w:val='ListNumber']/w:pPr/w:numPr/w:numId/@w:val");
  ASSERT_EQ(restarted.size(), 2u);
  const std::string start = "//w:num[@w:numId='" + std::string(restarted[0].attribute().value()) +
                            "']/w:lvlOverride/w:startOverride/@w:val";
  EXPECT_STREQ(numbering.select_node(start.c_str()).attribute().value(), "1");

  // Identical images are stored once; notes and comments of all three are there.
  const std::vector<std::string> parts = package->Parts();
  EXPECT_EQ(std::count_if(parts.begin(), parts.end(),
                          [](const std::string& p) { return p.starts_with("/word/media/"); }), 2);
  EXPECT_EQ(ReadPart(*package, "/word/comments.xml").select_nodes("//w:comment").size(), 2u);
  EXPECT_EQ(ReadPart(*package, "/word/footnotes.xml").select_nodes("//w:footnote").size(), 4u);

  // python-docx reads the sources' paragraphs in order; LibreOffice lays out as many pages as
  // the sources have together.
  const bool python = Shell("/usr/bin/python3 -c 'import docx; print(1)'") == "1\n";
  if (python) {
    const std::string read = "/usr/bin/python3 " QUORVANE_TEST_DIR "/office/read_docx.py ";
    std::string expected;
    for (const std::string& source : sources) expected += Shell(read + source);
    EXPECT_NE(expected.find("乙标题"), std::string::npos);  // the reader works
    EXPECT_EQ(Shell(read + dir / "joined.docx"), expected);
  }
  const bool office = ConvertWithOffice(dir.path(), "a.docx b.docx c.docx joined.docx", "pdf");
  if (office) {
    auto pages = [&](const std::string& name) {  // 0 when unknown
      return std::atoi(Shell("pdfinfo " + dir.path() + "/pdf/" + name + ".pdf | sed -n "
                             "'s/^Pages: *//p'").c_str());
    };
    EXPECT_EQ(pages("joined"), pages("a") + pages("b") + pages("c"));
    EXPECT_EQ(pages("a"), 1);
    // The hyperlink's text, which python-docx does not count among a paragraph's.
    EXPECT_NE(Shell("pdftotext " + dir.path() + "/pdf/joined.pdf -").find("例子链接"),
              std::string::npos);
  }
  if (!python || !office)
    GTEST_SKIP() << "read back without python3-docx or without soffice and poppler-utils";
}

// A macro-enabled base gives a plain document and gains the parts its sources need; a bare
// base's root declares the namespaces of what is copied into it; a source of several sections
// begins on a new page and keeps its own breaks.
TEST(WordJoinTest, MacroAndBareBasesAndASourceOfSeveralSectionsJoinSoundly) {
  TempDir dir;
  auto package = JoinChecked(
      dir, {Write(dir, "a.docm", {.paragraphs = {"宏文档"}, .macros = true}),
            Write(dir, "b.docx", {.paragraphs = {"来源"}, .lists = true, .footnote = true,
                                  .comment = true})});
  ASSERT_TRUE(package);
  EXPECT_EQ(package->ContentType("/word/document.xml"),
            "application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml");
  EXPECT_FALSE(package->Has("/word/vbaProject.bin"));
  for (std::string part : {"numbering", "comments", "footnotes"})
    EXPECT_TRUE(package->FindRelationship("/word/document.xml", reltype::kRoot + part)) << part;

  package = JoinChecked(
      dir, {WriteBareDocx(dir / "bare.docx", "<x:document xmlns:x=\"" + std::string(ns::kWord) +
                                                 "\"><x:body><x:p><x:r><x:t>一</x:t></x:r></x:p>"
                                                 "</x:body></x:document>"),
            Write(dir, "picture.docx", {.paragraphs = {"二"}, .image = true})});
  ASSERT_TRUE(package);
  const pugi::xml_document doc = ReadPart(*package, "/word/document.xml");
  pugi::xml_node root = doc.document_element();
  for (const char* prefix : {"r", "wp", "a", "pic", "w14"})
    EXPECT_FALSE(NamespaceOf(root, prefix).empty()) << prefix;
  EXPECT_STREQ(root.attribute("mc:Ignorable").value(), "w14");

  const std::string continuous = "<w:sectPr><w:type w:val=\"continuous\"/></w:sectPr>";
  package = JoinChecked(
      dir, {Write(dir, "c.docx", {.paragraphs = {"一"}}),
            WriteBareDocx(dir / "d.docx", "<w:document xmlns:w=\"" + std::string(ns::kWord) +
                                              "\"><w:body><w:p><w:pPr>" + continuous +
                                              "</w:pPr></w:p><w:p/>" + continuous +
                                              "</w:body></w:document>")});
  ASSERT_TRUE(package);
  std::vector<std::string> types;
  const pugi::xml_document sections = ReadPart(*package, "/word/document.xml");
  for (pugi::xpath_node sect_pr : sections.select_nodes("//w:sectPr"))
    types.push_back(sect_pr.node().child("w:type").attribute("w:val").value());
  EXPECT_EQ(types, (std::vector<std::string>{"", "nextPage", "continuous"}));
}

/// The texts of the document's runs, in order.
std::vector<std::string> Texts(const pugi::xml_document& doc) {
  std::vector<std::string> texts;
  for (pugi::xpath_node t : doc.select_nodes("//w:t")) texts.push_back(t.node().text().get());
  return texts;
}

TEST(WordJoinTest, EveryBodyOfADocumentIsCarriedInOrder) {
  TempDir dir;
  const std::vector<std::string> sources = {
      Write(dir, "a.docx", {.paragraphs = {"甲一", "甲二", "甲三"}, .bodies = 3}),
      Write(dir, "b.docx", {.paragraphs = {"乙"}}),
      Write(dir, "c.docx", {.paragraphs = {"丙一", "丙二", "丙三"}, .bodies = 3})};
  const auto package = JoinChecked(dir, sources);
  ASSERT_TRUE(package);
  const pugi::xml_document doc = ReadPart(*package, "/word/document.xml");
  EXPECT_EQ(doc.select_nodes("//w:body").size(), 1u);
  EXPECT_EQ(Texts(doc),
            (std::vector<std::string>{"甲一", "甲二", "甲三", "乙", "丙一", "丙二", "丙三"}));
  // Each body closed a section of its own; the last one's closes the document.
  EXPECT_EQ(doc.select_nodes("//w:p/w:pPr/w:sectPr").size(), 6u);
  EXPECT_STREQ(doc.document_element().child("w:body").last_child().name(), "w:sectPr");

}

// Headings numbered "1", "1.1", "1.1.1" through the levels that name their styles count
// afresh in a further document, each heading at the level its style gives it, whether the
// styles name their level too (as Word writes them) or leave it to the list.
TEST(WordJoinTest, OutlineNumberedHeadingsRestartAtTheirOwnLevels) {
  for (const bool style_levels : {false, true}) {
    SCOPED_TRACE(style_levels ? "levels in the styles" : "levels in the list only");
    TempDir dir;
    std::vector<std::string> sources;
    for (const char* name : {"甲", "乙", "丙"}) {
      sources.push_back(Write(dir, name + std::string(".docx"),
                              {.paragraphs = {name + std::string("正文")},
                               .heading = name + std::string("标题"), .heading_numbering = true,
                               .heading_style_levels = style_levels}));
    }
    const auto package = JoinChecked(dir, sources);
    ASSERT_TRUE(package);
    const pugi::xml_document doc = ReadPart(*package, "/word/document.xml");
    const pugi::xml_document numbering = ReadPart(*package, "/word/numbering.xml");
    EXPECT_EQ(numbering.select_nodes("//w:abstractNum").size(), 1u);  // the base's outline only
    std::set<std::string> restarts;
    for (const std::string name : {"甲", "乙", "丙"}) {
      for (int level = 0; level < 3; ++level) {
        const std::string text = name + "标题" + (level == 1 ? "·二级" : level == 2 ? "·三级" : "");
        const std::string xpath = "//w:p[w:r/w:t='" + text + "']/w:pPr";
        const pugi::xml_node p_pr = doc.select_node(xpath.c_str()).node();
        ASSERT_TRUE(p_pr) << text;
        EXPECT_EQ(p_pr.child("w:pStyle").attribute("w:val").value(),
                  "Heading" + std::to_string(level + 1));
        const pugi::xml_node num_pr = p_pr.child("w:numPr");
        if (name == "甲") {  // the base's own count on through their style
          EXPECT_FALSE(num_pr) << text;
          continue;
        }
        ASSERT_TRUE(num_pr) << text;
        EXPECT_EQ(num_pr.child("w:ilvl").attribute("w:val").as_int(-1), level) << text;
        restarts.insert(num_pr.child("w:numId").attribute("w:val").value());
      }
    }
    // One fresh start for each further document, over the base's outline, every level from 1.
    ASSERT_EQ(restarts.size(), 2u);
    for (const std::string& id : restarts) {
      const pugi::xml_node num =
          numbering.select_node(("//w:num[@w:numId='" + id + "']").c_str()).node();
      ASSERT_TRUE(num) << id;
      EXPECT_STREQ(num.child("w:abstractNumId").attribute("w:val").value(), "2");
      std::vector<std::string> starts;
      for (pugi::xpath_node start : num.select_nodes("w:lvlOverride/w:startOverride/@w:val"))
        starts.push_back(start.attribute().value());
      EXPECT_EQ(starts, (std::vector<std::string>{"1", "1", "1"}));
    }
    // LibreOffice numbers the levels only where the styles name them.
    if (!style_levels || !ConvertWithOffice(dir.path(), "joined.docx", "txt:Text")) continue;
    const std::string laid_out = Shell("cat " + dir.path() + "/txt/joined.txt");
    for (const std::string name : {"甲", "乙", "丙"}) {
      EXPECT_NE(laid_out.find(" 1 " + name + "标题\n"), std::string::npos) << laid_out;
      EXPECT_NE(laid_out.find(" 1.1 " + name + "标题·二级"), std::string::npos) << laid_out;
      EXPECT_NE(laid_out.find(" 1.1.1 " + name + "标题·三级"), std::string::npos) << laid_out;
    }
  }
}

// A document that ends inside a field it never closes keeps the field to itself: the
// documents after it are not taken into the field's instruction.
TEST(WordJoinTest, AFieldLeftOpenEndsWithItsDocument) {
  TempDir dir;
  const std::vector<std::string> sources = {
      Write(dir, "a.docx", {.paragraphs = {"甲"}, .open_field = true}),
      Write(dir, "b.docx", {.paragraphs = {"乙"}, .open_field = true}),
      Write(dir, "c.docx", {.paragraphs = {"丙"}, .bookmark = true})};
  const auto package = JoinChecked(dir, sources);
  ASSERT_TRUE(package);
  const pugi::xml_document doc = ReadPart(*package, "/word/document.xml");
  int depth = 0;
  std::vector<std::string> outside;  // the texts outside every field
  ForEachElement(doc.document_element(), [&](pugi::xml_node node) {
    const std::string_view name = node.name();
    const std::string_view type = node.attribute("w:fldCharType").value();
    if (name == "w:fldChar" && type == "begin") ++depth;
    if (name == "w:fldChar" && type == "end") --depth;
    if (name == "w:t" && depth == 0) outside.push_back(node.text().get());
  });
  EXPECT_EQ(depth, 0);
  EXPECT_EQ(outside, (std::vector<std::string>{"甲", "域前", "乙", "域前", "丙"}));
}

TEST(IdCounterTest, HandsOutFreeIdsWithinItsRangeAndSaysWhenNoneIsLeft) {
  const struct {
    const char* what;
    unsigned long long highest, lowest;
    std::vector<const char*> seen;
    std::vector<std::string> handed;  // until it has none left
  } cases[] = {
      {"above the highest seen", 6, 1, {"2", "4"}, {"5", "6", "1", "3"}},
      {"the top taken", 5, 0, {"5", "1"}, {"0", "2", "3", "4"}},
      {"text outside the range", 3, 1, {"-1", "0", "x", "1x", "4", "18446744073709551616"},
       {"1", "2", "3"}},
      {"every id taken", 2, 1, {"1", "2"}, {}},
  };
  for (const auto& c : cases) {
    IdCounter counter(c.highest, c.lowest);
    for (const char* id : c.seen) counter.See(id);
    std::vector<std::string> handed;
    for (std::string id; counter.Next(&id);) handed.push_back(id);
    EXPECT_EQ(handed, c.handed) << c.what;
  }
}

}  // namespace
}  // namespace quorvane::office
