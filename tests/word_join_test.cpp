#include "office/word_join.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <regex>

#include <gtest/gtest.h>

#include "office/package.h"
#include "office/xml.h"
#include "support/docx_check.h"
#include "support/docx_samples.h"
#include "support/faulty_filesystem.h"
#include "support/temp_dir.h"

namespace quorvane::office {
namespace {

using testing::DocxSample;
using testing::FaultyFileSystem;
using testing::TempDir;

bool Join(FileSystem& fs, const std::vector<std::string>& sources, const std::string& destination,
          std::string* err) {
  std::vector<std::unique_ptr<Package>> packages;
  for (const std::string& path : sources) {
    packages.push_back(Package::Open(fs, path, err));
    if (!packages.back()) return false;
  }
  WordJoin join;
  if (!join.Start(*packages[0], err)) return false;
  for (size_t i = 1; i < packages.size(); ++i) {
    if (!join.Append(*packages[i], err)) return false;
  }
  return join.Save(fs, destination, err);
}

DocxSample Sample(std::vector<std::string> paragraphs, std::string heading = "") {
  DocxSample sample;
  sample.paragraphs = std::move(paragraphs);
  sample.heading = std::move(heading);
  return sample;
}

std::string Write(const TempDir& dir, const std::string& name, const DocxSample& sample) {
  std::string err;
  std::string path = dir / name;
  EXPECT_TRUE(testing::WriteDocx(sample, path, &err)) << err;
  return path;
}

/// A base with a bit of everything, a landscape document whose localised style ids and
/// taken style id must be mapped, and a plain one.
std::vector<std::string> RichSources(const TempDir& dir) {
  DocxSample base = Sample({"甲文档第一段", "First document, second paragraph"}, "甲标题");
  base.note_style_name = "Memo";
  base.image = base.lists = base.footnote = base.comment = base.header_footer = true;
  base.bookmark = true;
  DocxSample second = Sample({"乙文档第一段", "Second document text"}, "乙标题");
  second.heading_style_id = "1";
  second.note_style_name = "Note Box";
  second.image = second.table = second.lists = second.footnote = second.comment = true;
  second.hyperlink = second.landscape = second.header_footer = second.bookmark = true;
  DocxSample third = Sample({"丙文档", "Third document text"});
  third.image = third.bookmark = true;
  third.image_shade = 0x20;
  return {Write(dir, "a.docx", base), Write(dir, "b.docx", second), Write(dir, "c.docx", third)};
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

/// The parsed part `part` of the package at `path`.
pugi::xml_document ReadPart(const Package& package, const std::string& part) {
  std::string bytes, err;
  pugi::xml_document doc;
  EXPECT_TRUE(package.Read(part, &bytes, &err) && ParseXml(bytes, part, &doc, &err)) << err;
  return doc;
}

std::string Shell(const std::string& command) {
  std::string out;
  if (FILE* pipe = popen((command + " 2>/dev/null").c_str(), "r")) {
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
    pclose(pipe);
  }
  return out;
}

TEST(WordJoinTest, RichDocumentsJoinIntoOneSoundDocument) {
  TempDir dir;
  std::string err, joined = dir / "joined.docx";
  ASSERT_TRUE(Join(SystemFileSystem(), RichSources(dir), joined, &err)) << err;
  EXPECT_EQ(testing::CheckDocx(joined), std::vector<std::string>{});

  std::unique_ptr<Package> package = Package::Open(SystemFileSystem(), joined, &err);
  ASSERT_TRUE(package) << err;
  pugi::xml_document doc = ReadPart(*package, "/word/document.xml");
  pugi::xml_node body = doc.document_element().child("w:body");
  // Three sections: the first two end in the last paragraph of their document, and each
  // further document begins on a new page, with no page break of its own.
  std::vector<pugi::xml_node> sections;
  for (pugi::xml_node p : body.children("w:p"))
    if (pugi::xml_node s = p.child("w:pPr").child("w:sectPr")) sections.push_back(s);
  sections.push_back(body.last_child());
  ASSERT_EQ(sections.size(), 3u);
  EXPECT_EQ(sections[0].parent().parent().next_sibling().child("w:pPr").child("w:pStyle")
                .attribute("w:val").value(), std::string("Heading1"));
  EXPECT_STREQ(sections[1].parent().parent().previous_sibling().name(), "w:tbl");
  EXPECT_STREQ(sections[1].child("w:type").attribute("w:val").value(), "nextPage");
  EXPECT_STREQ(sections[2].child("w:type").attribute("w:val").value(), "nextPage");
  EXPECT_STREQ(sections[1].child("w:pgSz").attribute("w:orient").value(), "landscape");
  EXPECT_TRUE(sections[1].child("w:headerReference"));
  EXPECT_FALSE(sections[2].child("w:headerReference"));  // inherits
  EXPECT_TRUE(doc.select_nodes("//w:br[@w:type='page']").empty());
  EXPECT_EQ(doc.select_nodes("//w:bookmarkStart[@w:name='_GoBack']").size(), 1u);  // the base's

  // Styles matched by name: one "heading 1"; the taken id "Note" gave "Note Box" a new one.
  pugi::xml_document styles = ReadPart(*package, "/word/styles.xml");
  EXPECT_EQ(styles.select_nodes("//w:style[w:name/@w:val='heading 1']").size(), 1u);
  pugi::xml_node note_box = styles.select_node("//w:style[w:name/@w:val='Note Box']").node();
  ASSERT_TRUE(note_box);
  EXPECT_STRNE(note_box.attribute("w:styleId").value(), "Note");

  // Each document's lists have numbering of their own, abstract definitions first.
  pugi::xml_document numbering = ReadPart(*package, "/word/numbering.xml");
  std::set<std::string> nsids;
  bool num_seen = false, ordered = true;
  for (pugi::xml_node node : numbering.document_element().children()) {
    num_seen |= std::string(node.name()) == "w:num";
    if (std::string(node.name()) == "w:abstractNum") {
      ordered &= !num_seen;
      nsids.insert(node.child("w:nsid").attribute("w:val").value());
    }
  }
  EXPECT_TRUE(ordered);
  EXPECT_EQ(nsids.size(), 4u);
  EXPECT_EQ(numbering.select_nodes("//w:num").size(), 4u);

  // Identical images are stored once; notes and comments of all three are there.
  int images = 0;
  for (const std::string& part : package->Parts()) images += part.find("/media/") != std::string::npos;
  EXPECT_EQ(images, 2);
  EXPECT_EQ(ReadPart(*package, "/word/comments.xml").select_nodes("//w:comment").size(), 2u);
  EXPECT_EQ(ReadPart(*package, "/word/footnotes.xml").select_nodes("//w:footnote").size(), 4u);
}

TEST(WordJoinTest, MacroEnabledBaseGivesPlainDocumentAndGainsTheSourcesParts) {
  TempDir dir;
  DocxSample base = Sample({"宏文档"});
  base.macros = true;
  DocxSample source = Sample({"来源"});
  source.lists = source.footnote = source.comment = true;
  std::string err, joined = dir / "joined.docx";
  ASSERT_TRUE(Join(SystemFileSystem(), {Write(dir, "a.docm", base), Write(dir, "b.docx", source)},
                   joined, &err)) << err;
  EXPECT_EQ(testing::CheckDocx(joined), std::vector<std::string>{});
  std::unique_ptr<Package> package = Package::Open(SystemFileSystem(), joined, &err);
  ASSERT_TRUE(package) << err;
  EXPECT_EQ(package->ContentType("/word/document.xml"),
            "application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml");
  EXPECT_FALSE(package->Has("/word/vbaProject.bin"));
  for (std::string part : {"numbering", "comments", "footnotes"}) {
    EXPECT_TRUE(package->FindRelationship("/word/document.xml", reltype::kRoot + part)) << part;
  }
}

TEST(WordJoinTest, BaseRootDeclaresTheNamespacesOfTheCopiedContent) {
  TempDir dir;
  std::string base = WriteBareDocx(
      dir / "a.docx", "<x:document xmlns:x=\"" + std::string(ns::kWord) +
                          "\"><x:body><x:p><x:r><x:t>一</x:t></x:r></x:p></x:body></x:document>");
  DocxSample source = Sample({"二"});
  source.image = true;
  std::string err, joined = dir / "joined.docx";
  ASSERT_TRUE(Join(SystemFileSystem(), {base, Write(dir, "b.docx", source)}, joined, &err)) << err;
  EXPECT_EQ(testing::CheckDocx(joined), std::vector<std::string>{});
  std::unique_ptr<Package> package = Package::Open(SystemFileSystem(), joined, &err);
  ASSERT_TRUE(package) << err;
  pugi::xml_node root = ReadPart(*package, "/word/document.xml").document_element();
  for (const char* prefix : {"r", "wp", "a", "pic", "w14"})
    EXPECT_FALSE(NamespaceOf(root, prefix).empty()) << prefix;
  EXPECT_STREQ(root.attribute("mc:Ignorable").value(), "w14");
}

TEST(WordJoinTest, SourceOfSeveralSectionsBeginsOnANewPageAndKeepsItsOwnBreaks) {
  TempDir dir;
  std::string continuous = "<w:sectPr><w:type w:val=\"continuous\"/></w:sectPr>";
  std::string source = WriteBareDocx(
      dir / "b.docx", "<w:document xmlns:w=\"" + std::string(ns::kWord) + "\"><w:body><w:p><w:pPr>" +
                          continuous + "</w:pPr></w:p><w:p/>" + continuous + "</w:body></w:document>");
  std::string err, joined = dir / "joined.docx";
  ASSERT_TRUE(Join(SystemFileSystem(), {Write(dir, "a.docx", Sample({"一"})), source}, joined, &err))
      << err;
  std::unique_ptr<Package> package = Package::Open(SystemFileSystem(), joined, &err);
  ASSERT_TRUE(package) << err;
  pugi::xml_document doc = ReadPart(*package, "/word/document.xml");
  std::vector<std::string> types;
  for (pugi::xpath_node sect_pr : doc.select_nodes("//w:sectPr"))
    types.push_back(sect_pr.node().child("w:type").attribute("w:val").value());
  EXPECT_EQ(types, (std::vector<std::string>{"", "nextPage", "continuous"}));
}

TEST(WordJoinTest, PythonDocxReadsTheSourcesTextsInOrder) {
  std::string script = QUORVANE_TEST_DIR "/office/read_docx.py";
  if (Shell("/usr/bin/python3 -c 'import docx; print(1)'") != "1\n")
    GTEST_SKIP() << "/usr/bin/python3 with python3-docx is not installed";
  TempDir dir;
  std::vector<std::string> sources = RichSources(dir);
  std::string err, joined = dir / "joined.docx";
  ASSERT_TRUE(Join(SystemFileSystem(), sources, joined, &err)) << err;
  auto texts = [&](const std::string& path) {  // the non-empty ones
    return std::regex_replace(Shell("/usr/bin/python3 " + script + " " + path),
                              std::regex("\n+"), "\n");
  };
  std::string expected;
  for (const std::string& source : sources) expected += texts(source);
  EXPECT_NE(expected.find("乙标题"), std::string::npos);
  EXPECT_EQ(texts(joined), expected);
}

TEST(WordJoinTest, LibreOfficeShowsEveryPageAndTheTextInOrder) {
  namespace fs = std::filesystem;
  if (!fs::exists("/usr/bin/soffice") || !fs::exists("/usr/bin/pdfinfo") ||
      !fs::exists("/usr/bin/pdftotext"))
    GTEST_SKIP() << "soffice (libreoffice-writer-nogui) and poppler-utils are not installed";
  TempDir dir;
  std::vector<std::string> sources = RichSources(dir);
  std::string err, joined = dir / "joined.docx";
  ASSERT_TRUE(Join(SystemFileSystem(), sources, joined, &err)) << err;
  std::string files;
  for (const std::string& path : sources) files += " " + path;
  Shell("cd " + dir.path() + " && soffice -env:UserInstallation=file://" + dir.path() +
      "/profile --headless --convert-to pdf --outdir pdf" + files + " " + joined);
  auto pages = [&](const std::string& name) {
    std::string info = Shell("pdfinfo " + dir.path() + "/pdf/" + name + ".pdf");
    std::smatch match;
    return std::regex_search(info, match, std::regex("Pages:\\s+(\\d+)")) ? std::stoi(match[1]) : -1;
  };
  EXPECT_EQ(pages("joined"), pages("a") + pages("b") + pages("c"));
  EXPECT_EQ(pages("a"), 1);
  std::string text = Shell("pdftotext " + dir.path() + "/pdf/joined.pdf -");
  size_t at = 0;
  for (std::string wanted : {"甲标题", "甲文档第一段", "乙文档第一段", "Second document text", "例子链接",
                             "丙文档", "Third document text"}) {
    at = text.find(wanted, at);
    EXPECT_NE(at, std::string::npos) << wanted;
  }
}

TEST(WordJoinTest, FailureLeavesTheDestinationAsItWas) {
  TempDir dir;
  std::string a = Write(dir, "a.docx", Sample({"一"}));
  std::string b = Write(dir, "b.docx", Sample({"二"}));
  std::string err, bad = WriteBareDocx(dir / "bad.docx", "<w:document><w:body>");
  struct Case { const char* name; std::string second; bool fault; FaultyFileSystem::Op op; };
  for (const Case& c : {Case{"damaged source", bad, false, FaultyFileSystem::Op::Write},
                        Case{"disk full", b, true, FaultyFileSystem::Op::Write},
                        Case{"rename refused", b, true, FaultyFileSystem::Op::Rename}}) {
    std::string destination = dir.Write("out/joined.docx", "older");
    FaultyFileSystem fs(SystemFileSystem());
    if (c.fault) fs.FailWhen(c.op, "/out/", ENOSPC);
    err.clear();
    EXPECT_FALSE(Join(fs, {a, c.second}, destination, &err)) << c.name;
    EXPECT_NE(err.find(c.fault ? "/out/" : "/bad.docx"), std::string::npos) << err;
    EXPECT_EQ(testing::Tree(dir / "out"), std::vector<std::string>{"joined.docx=older"}) << c.name;
  }
}

TEST(WordJoinTest, TwoHundredDocumentsWithImagesJoinWellUnderASecond) {
  TempDir dir;
  std::vector<std::string> sources;
  for (int i = 0; i < 200; ++i) {
    DocxSample sample = Sample({"文档 " + std::to_string(i), "第二段", "第三段"});
    sample.image = true;
    sample.image_shade = static_cast<unsigned char>(i);
    sources.push_back(Write(dir, "d" + std::to_string(i) + ".docx", sample));
  }
  std::string err;
  auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(Join(SystemFileSystem(), sources, dir / "joined.docx", &err)) << err;
  std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  std::printf("200 documents joined in %.3f s\n", took.count());
  EXPECT_LT(took.count(), 1.0);
  EXPECT_EQ(testing::CheckDocx(dir / "joined.docx"), std::vector<std::string>{});
}

}  // namespace
}  // namespace quorvane::office
