#include <gtest/gtest.h>

#include <cerrno>

#include "office/package.h"
#include "office/part_importer.h"
#include "office/xml.h"
#include "support/faulty_filesystem.h"
#include "support/temp_dir.h"

namespace quorvane::office {
namespace {

using namespace quorvane::testing;

constexpr const char* kDocType =
    "application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml";
constexpr const char* kImage =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships/image";
constexpr const char* kHeader =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships/header";

// A small document: a main part with a header that shows an image, a web link, and the
// same picture bytes again under another name.
void WriteSample(const std::string& path, const std::string& picture = "PNG-bytes") {
  PackageWriter writer;
  writer.SetPart("/word/document.xml", "<w:document xmlns:w=\"x\"/>", kDocType);
  writer.SetPart("/word/header1.xml", "<hdr/>", "application/header+xml");
  writer.SetPart("/word/media/image1.png", picture, "image/png");
  writer.AddRelationship("/", reltype::kOfficeDocument, "/word/document.xml");
  writer.AddRelationship("/word/document.xml", kHeader, "/word/header1.xml");
  writer.AddExternalRelationship("/word/document.xml", "hyperlink", "https://example.org/a b");
  writer.AddRelationship("/word/header1.xml", kImage, "/word/media/image1.png");
  std::string err;
  ASSERT_TRUE(writer.Save(SystemFileSystem(), path, &err)) << err;
}

std::string ReadPart(const Package& package, const std::string& part) {
  std::string bytes, err;
  EXPECT_TRUE(package.Read(part, &bytes, &err)) << err;
  return bytes;
}

TEST(PackageTest, SavedPackageReadsBackWithTypesRelationshipsAndTargets) {
  TempDir dir;
  WriteSample(dir / "a.docx");
  std::string err;
  auto package = Package::Open(SystemFileSystem(), dir / "a.docx", &err);
  ASSERT_TRUE(package) << err;
  EXPECT_EQ(package->MainPart(), "/word/document.xml");
  EXPECT_EQ(package->ContentType("/WORD/document.xml"), kDocType);  // names ignore case
  EXPECT_EQ(package->ContentType("/word/media/image1.png"), "image/png");

  const auto& rels = package->Relationships("/word/document.xml");
  ASSERT_EQ(rels.size(), 2u);
  EXPECT_EQ(package->Resolve("/word/document.xml", rels[0]), "/word/header1.xml");
  EXPECT_TRUE(rels[1].external);
  EXPECT_EQ(rels[1].target, "https://example.org/a b");
  const auto* image = package->FindRelationship("/word/header1.xml", kImage);
  ASSERT_TRUE(image);
  EXPECT_EQ(image->target, "media/image1.png");
  // Targets resolve relative, absolute and percent-encoded.
  const struct { const char *owner, *target, *part; } rows[] = {
      {"/word/document.xml", "media/image1.png", "/word/media/image1.png"},
      {"/word/document.xml", "../customXml/item1.xml", "/customXml/item1.xml"},
      {"/word/document.xml", "/xl/./a%20b.xml", "/xl/a b.xml"},
      {"/", "word/document.xml", "/word/document.xml"},
  };
  for (const auto& r : rows)
    EXPECT_EQ(package->Resolve(r.owner, Relationship{"rId1", "t", r.target, false}), r.part)
        << r.target;
}

// (Bytes that are no zip, or a zip cut short, are refused by the merge run's own test.)
TEST(PackageTest, APackageWithoutAMainPartIsRefusedNamingTheFile) {
  TempDir dir;
  PackageWriter no_main;
  no_main.SetPart("/word/document.xml", "<w:document/>", kDocType);
  std::string err;
  ASSERT_TRUE(no_main.Save(SystemFileSystem(), dir / "nomain.docx", &err)) << err;
  EXPECT_FALSE(Package::Open(SystemFileSystem(), dir / "nomain.docx", &err));
  EXPECT_NE(err.find("找不到文档的主体部分"), std::string::npos) << err;
  EXPECT_NE(err.find(dir / "nomain.docx"), std::string::npos) << err;
}

// Parts made at the save: several made whole (the next one on a second thread while the
// last is compressed) and one streamed, which is made twice, once for its size.
TEST(PackageTest, ProducedPartsArriveWholeAndInOrder) {
  TempDir dir;
  PackageWriter writer;
  writer.SetPart("/xl/workbook.xml", "<workbook/>", "application/wb+xml");
  writer.AddRelationship("/", reltype::kOfficeDocument, "/xl/workbook.xml");
  std::string made;  // the order in which producers ran
  for (char c : std::string("abc"))
    writer.SetProducedPart("/xl/" + std::string(1, c) + ".xml", [&made, c, n = 0](
        std::string* piece, bool* done, std::string*) mutable {
      made += c;
      piece->assign(100000, static_cast<char>(c + n));
      *done = ++n == 2;
      return true;
    }, "application/sheet+xml");
  int streamed_runs = 0;
  writer.SetStreamedPart("/xl/s.xml", [&] {
    ++streamed_runs;
    return [n = 0](std::string* piece, bool* done, std::string*) mutable {
      *piece = std::to_string(n);
      *done = ++n == 1000;
      return true;
    };
  }, "application/s+xml");
  std::string err;
  ASSERT_TRUE(writer.Save(SystemFileSystem(), dir / "b.xlsx", &err)) << err;
  auto package = Package::Open(SystemFileSystem(), dir / "b.xlsx", &err);
  ASSERT_TRUE(package) << err;
  EXPECT_EQ(made, "aabbcc");
  EXPECT_EQ(ReadPart(*package, "/xl/b.xml"), std::string(100000, 'b') + std::string(100000, 'c'));
  std::string counted;
  for (int n = 0; n < 1000; ++n) counted += std::to_string(n);
  EXPECT_EQ(ReadPart(*package, "/xl/s.xml"), counted);
  EXPECT_EQ(streamed_runs, 2);
}

// Pictures read again at the save are the ones joined: one that changed meanwhile fails the
// save, and the same picture from two sources is stored once.
TEST(PackageTest, MediaReadLaterAreCheckedAndStoredOnce) {
  TempDir dir;
  WriteSample(dir / "a.docx");
  WriteSample(dir / "b.docx");
  for (const bool changed : {false, true}) {
    PackageWriter target;
    target.SetPart("/word/document.xml", "<base/>", kDocType);
    target.AddRelationship("/", reltype::kOfficeDocument, "/word/document.xml");
    std::string err;
    for (const char* name : {"a.docx", "b.docx"}) {
      auto source = Package::Open(SystemFileSystem(), dir / name, &err);
      ASSERT_TRUE(source) << err;
      PartImporter importer(*source, target);
      importer.ReadMediaLater(SystemFileSystem(), dir / name);
      ASSERT_EQ(importer.CopyPart("/word/media/image1.png", &err), "/word/media/image1.png");
    }
    if (changed) WriteSample(dir / "a.docx", "other picture");
    EXPECT_EQ(target.Save(SystemFileSystem(), dir / "out.docx", &err), !changed);
    if (changed) {
      EXPECT_NE(err.find("在合并期间被改动"), std::string::npos) << err;
      EXPECT_EQ(ReadAll(dir / "out.docx").substr(0, 2), "PK");  // the earlier result stays
      continue;
    }
    auto out = Package::Open(SystemFileSystem(), dir / "out.docx", &err);
    ASSERT_TRUE(out) << err;
    EXPECT_EQ(ReadPart(*out, "/word/media/image1.png"), "PNG-bytes");
  }
}

TEST(PackageTest, AFailedSaveLeavesTheOldFileAndNoTemporary) {
  TempDir dir;
  const std::string old = dir.Write("out.docx", "older");
  FaultyFileSystem faulty(SystemFileSystem());
  faulty.FailWhen(FaultyFileSystem::Op::Write, dir.path(), ENOSPC, 200);
  PackageWriter writer;
  writer.SetPart("/word/document.xml", std::string(5000, 'x'), kDocType);
  std::string err;
  EXPECT_FALSE(writer.Save(faulty, old, &err));
  EXPECT_NE(err.find("无法写入文件"), std::string::npos) << err;

  PackageWriter failing;
  failing.SetProducedPart("/word/document.xml", [](std::string*, bool*, std::string* e) {
    *e = "无法读取文件“/gone.xlsx”";
    return false;
  }, kDocType);
  EXPECT_FALSE(failing.Save(SystemFileSystem(), old, &err));
  EXPECT_EQ(err, "无法读取文件“/gone.xlsx”");
  EXPECT_EQ(Tree(dir.path()), std::vector<std::string>{"out.docx=older"});
}

TEST(XmlTest, PrefixesAndRelationshipIdsFollowNamespacesNotTheProducersChoice) {
  const std::string word = ns::kWord, sheet = ns::kSheet;
  const struct { std::string in, out; } rows[] = {
      {"<ns0:document xmlns:ns0=\"" + word + "\" xmlns:foo=\"urn:foo\" xmlns:mc=\"" + ns::kMarkup +
           "\" mc:Ignorable=\"foo\"><ns0:t xml:space=\"preserve\"> </ns0:t>"
           "<foo:x ns0:val=\"1\"/></ns0:document>",
       "<w:document mc:Ignorable=\"foo\" xmlns:w=\"" + word + "\" xmlns:mc=\"" + ns::kMarkup +
           "\" xmlns:foo=\"urn:foo\"><w:t xml:space=\"preserve\"> </w:t>"
           "<foo:x w:val=\"1\"/></w:document>"},
      {"<x:worksheet xmlns:x=\"" + sheet + "\"><x:c r=\"A1\"/></x:worksheet>",
       "<worksheet xmlns=\"" + sheet + "\"><c r=\"A1\"/></worksheet>"},
      {"<w:p xmlns:w=\"" + word + "\"><w:r xmlns:w=\"urn:other\"><w:t/></w:r></w:p>",
       "<w:p xmlns:w=\"" + word + "\" xmlns:w1=\"urn:other\"><w1:r><w1:t/></w1:r></w:p>"},
      {"<w:p xmlns:w=\"" + word + "\"><w:t>a</w:t></w:p>",
       "<w:p xmlns:w=\"" + word + "\"><w:t>a</w:t></w:p>"},
  };
  for (const auto& r : rows) {
    pugi::xml_document doc;
    std::string err;
    ASSERT_TRUE(ParseXml(r.in, "/part.xml", &doc, &err)) << err;
    EXPECT_EQ(SaveXml(doc), "<?xml version=\"1.0\"?>" + r.out) << r.in;
  }
  pugi::xml_document doc;
  std::string err;
  EXPECT_FALSE(ParseXml("<a><b></a>", "/word/document.xml", &doc, &err));
  EXPECT_NE(err.find("/word/document.xml"), std::string::npos);

  // Relationship ids are found and remapped by their namespace, whatever the prefix.
  ASSERT_TRUE(ParseXml(std::string("<w:body xmlns:w=\"") + ns::kWord + "\" xmlns:rel=\"" +
                           ns::kRel + "\" xmlns:o=\"" + ns::kOffice +
                           "\"><a rel:embed=\"rId1\"/><b><c rel:dm=\"rId2\" o:relid=\"rId3\" "
                           "id=\"rId9\"/></b></w:body>", "/p.xml", &doc, &err)) << err;
  EXPECT_EQ(RelationshipIdsUsed(doc), (std::set<std::string>{"rId1", "rId2", "rId3"}));
  RemapRelationshipIds(doc, {{"rId1", "rId10"}, {"rId3", "rId30"}});
  EXPECT_EQ(RelationshipIdsUsed(doc), (std::set<std::string>{"rId10", "rId2", "rId30"}));
}

// A new relationship takes the number after the highest "rIdN" in use; numbers too large to
// count on from (a damaged or hostile source's) are passed over, never overflowed.
TEST(PackageWriterTest, ANewRelationshipIdFollowsTheHighestCountableOne) {
  const struct {
    std::vector<const char*> ids;
    const char* next;
  } rows[] = {
      {{}, "rId1"},
      {{"rId3", "rId1"}, "rId4"},
      {{"rIdImage", "rId007"}, "rId8"},
      {{"rId9223372036854775807"}, "rId1"},
      {{"rId18446744073709551615", "rId2"}, "rId3"},
      {{"rId99999999999999999999999", "rId-1", "rId+5", "rId"}, "rId1"},
  };
  for (const auto& row : rows) {
    PackageWriter writer;
    for (const char* id : row.ids)
      writer.Relationships("/p.xml").push_back({id, "t", "x.xml", false});
    EXPECT_EQ(writer.AddRelationship("/p.xml", "t", "/y.xml"), row.next)
        << ::testing::PrintToString(row.ids);
  }
}


}  // namespace
}  // namespace quorvane::office
