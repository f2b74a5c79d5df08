// Damaged, crafted and mislabelled sources: each is refused by name before anything is
// written, or read so that nothing of it leads outside its package.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "common/names.h"
#include "office/office_merge.h"
#include "office/package.h"
#include "office/package_writer.h"
#include "office/xml.h"
#include "support/cfb_sample.h"
#include "support/docx_samples.h"
#include "support/fake_converter.h"
#include "support/raw_zip.h"
#include "support/temp_dir.h"
#include "support/xlsx_samples.h"

namespace quorvane::office {
namespace {

using namespace quorvane::testing;
using Entries = std::vector<RawEntry>;

constexpr const char* kImageRel =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships/image";

// `text` with its first `from` replaced by `to`.
std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  const auto at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

class OfficeDamageTest : public ::testing::Test {
 protected:
  OfficeDamageTest() {
    dir.MakeFolder("samples");
    std::string err;
    EXPECT_TRUE(WriteDocx({.paragraphs = {"one"}, .image = true}, dir / "samples/one.docx", &err));
    EXPECT_TRUE(WriteDocx({.paragraphs = {"two"}, .image = true}, dir / "samples/two.docx", &err));
    const XlsxBook book{.sheets = {{.name = "Data", .cells = {{"A1", 'n', "1"}}}}};
    EXPECT_TRUE(WriteXlsx(SystemFileSystem(), dir / "samples/one.xlsx", book, &err)) << err;
    converter.docx = dir / "samples/two.docx";
    converter.available = false;
  }

  Entries Docx() { return ZipEntries(dir / "samples/two.docx"); }
  Entries Xlsx() { return ZipEntries(dir / "samples/one.xlsx"); }

  // Merges a sound first source and `second` into out/all (which holds "older"); gives the
  // message, empty on success, having checked that a refusal leaves everything as it was.
  std::string Merge(const std::string& second, DocumentKind kind = DocumentKind::Word,
                    const std::string& first = "") {
    const std::string extension = kind == DocumentKind::Word ? ".docx" : ".xlsx";
    std::filesystem::remove_all(dir / "src");
    std::filesystem::remove_all(dir / "out");
    dir.Write("src/1" + extension,
              first.empty() ? ReadAll(dir / ("samples/one" + extension)) : first);
    dir.Write("src/2" + extension, second);
    dir.Write("out/all" + extension, "older");
    std::string err;
    const bool merged = MergeDocuments(SystemFileSystem(), converter, kind, dir / "src/",
                                       Names{"1" + extension, "2" + extension},
                                       dir / ("out/all" + extension), {}, &err);
    if (merged) return {};
    EXPECT_EQ(Tree(dir / "out"), std::vector<std::string>{"all" + extension + "=older"}) << err;
    EXPECT_EQ(Tree(dir / "tmp"), std::vector<std::string>{}) << err;
    return err;
  }
  // In a child: merges `second` with no more than `megabytes` of address space beyond what
  // the process holds, and exits 0 when the merge is refused with `expected`.
  [[noreturn]] void MergeWithin(unsigned megabytes, const std::string& second,
                                const std::string& expected) {
    std::ifstream statm("/proc/self/statm");
    unsigned long pages = 0;
    statm >> pages;
    const rlim_t cap = pages * 4096 + (rlim_t{megabytes} << 20);
    const rlimit limit{cap, cap};
    ::setrlimit(RLIMIT_AS, &limit);
    std::exit(Merge(second) == expected ? 0 : 1);
  }
  std::string Second(const std::string& extension = ".docx") { return dir / ("src/2" + extension); }
  std::string Result() { return dir / "out/all.docx"; }

  TempDir dir;
  const ScopedEnv tmpdir{"TMPDIR", dir.MakeFolder("tmp")};
  FakeConverter converter;
};

std::string Broken(const std::string& file, const std::string& detail) {
  return "文件“" + file + "”已损坏（" + detail + "），没有合并任何文件！";
}

TEST_F(OfficeDamageTest, DamagedPartsAndEntriesAreRefusedNamingFileAndPart) {
  const struct {
    std::string what;
    std::function<void(Entries&)> damage;
    std::string detail;
  } rows[] = {
      {"a relationship part cut short",
       [](Entries& e) {
         auto& rels = EntryNamed(e, "word/_rels/document.xml.rels").data;
         rels.resize(rels.size() / 2);
       },
       "word/_rels/document.xml.rels 不是有效的 XML"},
      {"styles cut short",
       [](Entries& e) { EntryNamed(e, "word/styles.xml").data.resize(100); },
       "word/styles.xml 不是有效的 XML"},
      {"NUL bytes inside the styles' end tag, where the reader's parser stops",
       [](Entries& e) {
         auto& styles = EntryNamed(e, "word/styles.xml").data;
         styles.insert(styles.size() - 1, std::string(8, '\0'));
       },
       "word/styles.xml 不是有效的 XML"},
      {"a control character in the document's text",
       [](Entries& e) {
         auto& document = EntryNamed(e, "word/document.xml").data;
         document.insert(document.find("</w:t>"), "\x0b");
       },
       "word/document.xml 不是有效的 XML"},
      {"a failed checksum on the document",
       [](Entries& e) { EntryNamed(e, "word/document.xml").wrong_crc = true; },
       "word/document.xml 的校验和（CRC）不符"},
      {"a failed checksum on a picture, carried unread before",
       [](Entries& e) { EntryNamed(e, "word/media/image1.png").wrong_crc = true; },
       "word/media/image1.png 的校验和（CRC）不符"},
      {"two entries of one name",
       [](Entries& e) { e.push_back({"word/document.xml", "<w:document/>"}); },
       "有两个名为 word/document.xml 的条目"},
      {"two names that differ in case only",
       [](Entries& e) { e.push_back({"Word/Styles.xml", "<x/>"}); },
       "有两个名为 Word/Styles.xml 的条目"},
      {"a reached part of unknown type",
       [](Entries& e) {
         e.push_back({"word/embeddings/blob.qqq", "bytes"});
         auto& rels = EntryNamed(e, "word/_rels/document.xml.rels").data;
         rels = Replaced(rels, "</Relationships>",
                         "<Relationship Id=\"rId90\" Type=\"x\" Target=\"embeddings/blob.qqq\"/>"
                         "</Relationships>");
       },
       "word/embeddings/blob.qqq 没有内容类型"},
  };
  for (const auto& row : rows) {
    Entries entries = Docx();
    row.damage(entries);
    EXPECT_EQ(Merge(ZipBytes(entries)), Broken(Second(), row.detail)) << row.what;
  }
  Entries sheet = Xlsx();
  EntryNamed(sheet, "xl/worksheets/sheet1.xml").data.resize(150);
  EXPECT_EQ(Merge(ZipBytes(sheet), DocumentKind::Excel),
            Broken(Second(".xlsx"), "xl/worksheets/sheet1.xml 不是有效的 XML"));
}

// An internal relationship whose target is not in the package is never written as an
// external one: refused when its owner uses it, left out when nothing does.
TEST_F(OfficeDamageTest, RelationshipsToNoPartAreRefusedWhenUsedAndLeftOutOtherwise) {
  const struct {
    std::string target, type, use, detail;
  } rows[] = {
      {"file:///home/user/secret.png", kImageRel, "<a:blip r:embed=\"rId90\"/>",
       "文档以外的 file:///home/user/secret.png"},
      {"../../../../etc/passwd", kImageRel, "<a:blip r:embed=\"rId90\"/>",
       "文档以外的 ../../../../etc/passwd"},
      {"/etc/passwd",
       "http://schemas.openxmlformats.org/officeDocument/2006/relationships/aFChunk",
       "<w:altChunk r:id=\"rId90\"/>", "不存在的部件 /etc/passwd"},
      {"media/gone.png", kImageRel, "<a:blip r:embed=\"rId90\"/>", "不存在的部件 media/gone.png"},
  };
  for (const auto& row : rows) {
    for (const bool used : {true, false}) {
      for (const bool base : {false, true}) {
        Entries entries = Docx();
        auto& rels = EntryNamed(entries, "word/_rels/document.xml.rels").data;
        rels = Replaced(rels, "</Relationships>",
                        "<Relationship Id=\"rId90\" Type=\"" + row.type + "\" Target=\"" +
                            row.target + "\"/></Relationships>");
        auto& document = EntryNamed(entries, "word/document.xml").data;
        if (used) document = Replaced(document, "</w:body>", "<w:p><w:r>" + row.use + "</w:r></w:p></w:body>");
        const std::string bytes = ZipBytes(entries);
        const std::string err = base ? Merge(ReadAll(dir / "samples/one.docx"), DocumentKind::Word,
                                             bytes)
                                     : Merge(bytes);
        const std::string file = dir / (base ? "src/1.docx" : "src/2.docx");
        if (used) {
          EXPECT_EQ(err, Broken(file, "word/document.xml 的关系 rId90 指向" + row.detail))
              << row.target;
          continue;
        }
        EXPECT_EQ(err, "") << row.target;
        Entries result = ZipEntries(Result());
        const std::string& out_rels = EntryNamed(result, "word/_rels/document.xml.rels").data;
        EXPECT_EQ(out_rels.find(row.target), std::string::npos) << out_rels;
        EXPECT_EQ(out_rels.find("External\"/><Relationship Id=\"rId9"), std::string::npos);
      }
    }
  }
}

TEST_F(OfficeDamageTest, AnEntryWithoutTypeThatNothingReachesIsLeftOut) {
  Entries base = ZipEntries(dir / "samples/one.docx");
  base.push_back({"[trash]/0000.dat", "old bytes"});
  EXPECT_EQ(Merge(ReadAll(dir / "samples/two.docx"), DocumentKind::Word, ZipBytes(base)), "");
  const Entries result = ZipEntries(Result());
  for (const auto& entry : result) EXPECT_NE(entry.name, "[trash]/0000.dat");
  std::string err;
  auto package = Package::Open(SystemFileSystem(), Result(), &err);
  ASSERT_TRUE(package) << err;
  Entries copy = result;
  EXPECT_EQ(EntryNamed(copy, "[Content_Types].xml").data.find("ContentType=\"\""),
            std::string::npos);

  // A reached picture whose extension [Content_Types].xml forgot is typed by its extension.
  Entries untyped = Docx();
  auto& types = EntryNamed(untyped, "[Content_Types].xml").data;
  types = Replaced(types, "Extension=\"png\"", "Extension=\"none\"");
  EXPECT_EQ(Merge(ZipBytes(untyped), DocumentKind::Word, ZipBytes(untyped)), "");
  auto joined = Package::Open(SystemFileSystem(), Result(), &err);
  ASSERT_TRUE(joined) << err;
  EXPECT_EQ(joined->ContentType("/word/media/image1.png"), "image/png");
}

TEST_F(OfficeDamageTest, DeepNestingIsRefusedBeforeAnyWalk) {
  std::string deep;
  for (int i = 0; i < 40000; ++i) deep += "<w:sdt>";
  for (int i = 0; i < 40000; ++i) deep += "</w:sdt>";
  Entries entries = Docx();
  auto& document = EntryNamed(entries, "word/document.xml").data;
  document = Replaced(document, "</w:body>", deep + "</w:body>");
  EXPECT_EQ(Merge(ZipBytes(entries)),
            "文件“" + Second() + "”中的 word/document.xml 元素嵌套超过 1000 层，超出了上限，"
            "没有合并任何文件！");

  std::string cells;
  for (int i = 0; i < 40000; ++i) cells += "<is>";
  for (int i = 0; i < 40000; ++i) cells += "</is>";
  Entries book = Xlsx();
  auto& sheet = EntryNamed(book, "xl/worksheets/sheet1.xml").data;
  sheet = Replaced(sheet, "</sheetData>", "<row r=\"9\"><c r=\"A9\" t=\"inlineStr\">" + cells +
                                              "</c></row></sheetData>");
  EXPECT_EQ(Merge(ZipBytes(book), DocumentKind::Excel),
            "文件“" + Second(".xlsx") + "”中的 xl/worksheets/sheet1.xml 元素嵌套超过 1000 层，"
            "超出了上限，没有合并任何文件！");

  // The parser itself holds the limit, for every part the engine parses.
  std::string at_limit, beyond;
  for (int i = 0; i < 1000; ++i) at_limit += "<a>";
  for (int i = 0; i < 1000; ++i) at_limit += "</a>";
  beyond = "<b>" + at_limit + "</b>";
  pugi::xml_document doc;
  std::string err;
  EXPECT_TRUE(ParseXml(at_limit, "/x.xml", &doc, &err)) << err;
  EXPECT_FALSE(ParseXml(beyond, "/x.xml", &doc, &err));
  EXPECT_EQ(err, "部件“/x.xml”的元素嵌套超过 1000 层");
}

TEST_F(OfficeDamageTest, AZipBombStopsAtTheRatioLimit) {
  Entries entries = Docx();
  entries.push_back({"word/media/image9.png", std::string(64 << 20, '\0')});
  EXPECT_EQ(Merge(ZipBytes(entries)),
            "文件“" + Second() + "”中的 word/media/image9.png 解压后超过压缩大小的 200 倍，"
            "疑似压缩炸弹，没有合并任何文件！");
}

// A header that declares 4 GB is never believed: the merge runs under an address-space
// limit far below that and refuses the entry for what it holds.
TEST_F(OfficeDamageTest, ADeclaredSizeIsNeverAllocated) {
  Entries entries = Docx();
  EntryNamed(entries, "word/document.xml").declared_size = 0xF0000000u;
  EXPECT_EXIT(MergeWithin(512, ZipBytes(entries),
                          Broken(Second(), "word/document.xml 的大小与记录不符")),
              ::testing::ExitedWithCode(0), "");
}

// Memory running out on a source, within every limit, names that source; nothing is left.
TEST_F(OfficeDamageTest, MemoryRunningOutNamesTheSource) {
  std::string cells = "<w:p>";
  for (unsigned i = 0; cells.size() < (48u << 20); ++i)
    cells += "<w:r><w:t>" + std::to_string(i * 2654435761u) + "</w:t></w:r>";
  Entries entries = Docx();
  auto& document = EntryNamed(entries, "word/document.xml").data;
  document = Replaced(document, "</w:body>", cells + "</w:p></w:body>");
  const std::string bytes = ZipBytes(entries);
  std::string().swap(cells);
  std::string().swap(document);
  EXPECT_EXIT(MergeWithin(32, bytes, "内存不足，无法读取文件“" + Second() + "”，没有合并任何文件！"),
              ::testing::ExitedWithCode(0), "");
}

TEST_F(OfficeDamageTest, LegacyAndEncryptedFilesAreJudgedByTheirContent) {
  const std::string doc = CompoundFileBytes({.streams = {"1Table", "WordDocument"}});
  EXPECT_EQ(Merge(doc), "文件“" + Second() + "”是旧格式的 Word 文档，请将扩展名改为 .doc");
  EXPECT_EQ(Merge(CompoundFileBytes({.streams = {"Workbook"}}), DocumentKind::Excel),
            "文件“" + Second(".xlsx") + "”是旧格式的 Excel 工作簿，请将扩展名改为 .xls");
  EXPECT_EQ(Merge(CompoundFileBytes({.streams = {"Workbook"}})),
            "无法合并文件“" + Second() + "”：这是旧格式的 Excel 工作簿，不是 Word 文档");
  EXPECT_EQ(Merge(CompoundFileBytes({.streams = {"EncryptionInfo", "EncryptedPackage"}})),
            "无法合并文件“" + Second() + "”：文档已加密（受密码保护），请先去掉密码再合并");
  // With the converter, a legacy document under a new name is converted like a .doc.
  converter.available = true;
  EXPECT_EQ(Merge(doc), "");
  ASSERT_EQ(converter.calls.size(), 1u);
  EXPECT_TRUE(converter.calls[0].starts_with(Second() + " docx ")) << converter.calls[0];
  EXPECT_EQ(Tree(dir / "tmp"), std::vector<std::string>{});
}

TEST_F(OfficeDamageTest, AnExcel2007BetaWorkbookIsRefusedForWhatItIs) {
  Entries entries = Xlsx();
  auto& workbook = EntryNamed(entries, "xl/workbook.xml").data;
  workbook = Replaced(workbook, "spreadsheetml/2006/main", "spreadsheetml/2006/5/main");
  EXPECT_EQ(Merge(ZipBytes(entries), DocumentKind::Excel),
            "无法合并文件“" + Second(".xlsx") + "”：这是 Office 2007 测试版格式的 Excel 工作簿，"
            "无法合并；请在 Office 中另存为普通的 Excel 工作簿");
}

// The limits on parts and packages, made small so the test need not inflate gigabytes.
TEST(PackageLimitsTest, PartsAndPackagesBeyondTheirLimitsAreRefusedWhileInflating) {
  const std::string noise = [] {
    std::string text;
    for (unsigned i = 0; text.size() < 300000; ++i) text += std::to_string(i * 2654435761u);
    return text;
  }();
  const std::string bytes = ZipBytes({
      {"[Content_Types].xml",
       "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
       "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
       "<Default Extension=\"rels\" ContentType=\"application/"
       "vnd.openxmlformats-package.relationships+xml\"/>"
       "<Default Extension=\"bin\" ContentType=\"application/octet-stream\"/></Types>"},
      {"_rels/.rels",
       "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
       "<Relationship Id=\"rId1\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/"
       "relationships/officeDocument\" Target=\"main.xml\"/></Relationships>"},
      {"main.xml", "<main/>"},
      {"a.bin", noise},
      {"b.bin", noise},
  });
  const struct {
    limits::Limits limits;
    std::string message;
  } rows[] = {
      {{.max_part_bytes = 1 << 18}, "文件“f.docx”中的 a.bin 解压后超过 256 KiB"},
      {{.max_package_bytes = 1 << 19}, "文件“f.docx”解压后超过 512 KiB"},
      {{.max_ratio = 1, .ratio_floor_bytes = 1000}, "文件“f.docx”中的 a.bin 解压后超过压缩大小的 1 倍"},
      {{}, ""},
  };
  for (const auto& row : rows) {
    std::string err;
    auto package = Package::FromBytes(bytes, "f.docx", &err, nullptr, row.limits);
    ASSERT_TRUE(package) << err;
    EXPECT_EQ(package->Verify(&err), row.message.empty()) << row.message << " / " << err;
    if (!row.message.empty()) {
      EXPECT_TRUE(err.starts_with(row.message)) << err;
    }
  }
}

// Anything a part's producer throws fails the save like a reported failure: the old file
// stays, nothing temporary is left, and the message names the file.
TEST(PackageSaveTest, WhatAProducerThrowsFailsTheSaveCleanly) {
  TempDir dir;
  const std::string old = dir.Write("out.docx", "older");
  const std::function<void()> throws[] = {
      [] { throw std::runtime_error("boom"); },
      [] { throw std::bad_alloc(); },
  };
  const std::string said[] = {"boom", "内存不足"};
  for (int i = 0; i < 2; ++i) {
    for (const bool streamed : {false, true}) {
      PackageWriter writer;
      writer.SetPart("/a.xml", "<a/>", "application/xml");
      auto producer = [&, i](std::string* piece, bool* done, std::string*) {
        *piece = "<b/>";
        *done = true;
        throws[i]();
        return true;
      };
      if (streamed)
        writer.SetStreamedPart("/b.xml", [&] { return PartProducer(producer); }, "application/xml");
      else
        writer.SetProducedPart("/b.xml", producer, "application/xml");
      writer.SetProducedPart("/c.xml", producer, "application/xml");  // made ahead, then thrown
      std::string err;
      EXPECT_FALSE(writer.Save(SystemFileSystem(), old, &err));
      EXPECT_EQ(err, "无法保存文档“" + old + "”：" + said[i]);
      EXPECT_EQ(Tree(dir.path()), std::vector<std::string>{"out.docx=older"});
    }
  }
}

TEST(PackageSaveTest, APartWithoutTypeIsDeclaredAsPlainBytes) {
  TempDir dir;
  PackageWriter writer;
  writer.SetPart("/word/document.xml", "<w:document/>", "application/xml");
  writer.SetPart("/extra/blob", "bytes", "");
  writer.SetPart("/extra/blob.dat", "bytes", "");
  std::string err;
  ASSERT_TRUE(writer.Save(SystemFileSystem(), dir / "a.docx", &err)) << err;
  Entries entries = ZipEntries(dir / "a.docx");
  const std::string& types = EntryNamed(entries, "[Content_Types].xml").data;
  EXPECT_EQ(types.find("ContentType=\"\""), std::string::npos) << types;
  EXPECT_NE(types.find("<Override PartName=\"/extra/blob\" ContentType=\"application/octet-stream\"/>"),
            std::string::npos) << types;
}

}  // namespace
}  // namespace quorvane::office
