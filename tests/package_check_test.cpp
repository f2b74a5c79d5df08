#include "support/package_check.h"

#include <gtest/gtest.h>

#include "office/package_writer.h"
#include "support/docx_samples.h"
#include "support/temp_dir.h"

namespace quorvane::testing {
namespace {

const std::string kWord = "application/vnd.openxmlformats-officedocument.wordprocessingml.";
const std::string kRels = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";

// A document whose body holds `body` (in w:, r:, v: and o: namespaces) and whose header
// holds `header`; the document has an image relationship rId1 and a header relationship
// rId2, the header an image relationship rId1, and the VML drawing `vml` none.
std::vector<std::string> FaultsOf(const std::string& body, const std::string& header,
                                  const std::string& vml) {
  office::PackageWriter writer;
  const std::string main = "/word/document.xml";
  const std::string ns =
      " xmlns:w='http://schemas.openxmlformats.org/wordprocessingml/2006/main' xmlns:r='" + kRels +
      "' xmlns:v='urn:schemas-microsoft-com:vml' xmlns:o='urn:schemas-microsoft-com:office:office'";
  writer.AddRelationship("/", office::reltype::kOfficeDocument, main);
  writer.SetPart("/word/media/image1.png", TinyPng(0x40), "image/png");
  EXPECT_EQ(writer.AddRelationship(main, kRels + "/image", "/word/media/image1.png"), "rId1");
  writer.SetPart("/word/header1.xml", "<w:hdr" + ns + ">" + header + "</w:hdr>",
                 kWord + "header+xml");
  EXPECT_EQ(writer.AddRelationship(main, kRels + "/header", "/word/header1.xml"), "rId2");
  writer.AddRelationship("/word/header1.xml", kRels + "/image", "/word/media/image1.png");
  writer.SetPart("/word/drawing1.vml", "<xml" + ns + ">" + vml + "</xml>",
                 "application/vnd.openxmlformats-officedocument.vmlDrawing");
  writer.AddRelationship(main, kRels + "/vmlDrawing", "/word/drawing1.vml");
  writer.SetPart(main, "<w:document" + ns + "><w:body>" + body + "</w:body></w:document>",
                 kWord + "document.main+xml");
  TempDir dir;
  std::string err;
  EXPECT_TRUE(writer.Save(SystemFileSystem(), dir / "a.docx", &err)) << err;
  std::vector<std::string> faults;
  CheckPackage(dir / "a.docx", &faults, [](const std::string&, pugi::xml_node) {});
  return faults;
}

// Every relationship id a part uses must be one of its own relationships, whatever the
// attribute and whatever prefix its namespace is given.
TEST(PackageCheck, EveryRelationshipIdUsedIsDefinedInThePartsOwnRelationships) {
  const struct {
    const char* what;
    std::string body, header, vml;
    std::vector<std::string> faults;
  } cases[] = {
      {"ids all defined", "<w:p r:id='rId1'/><w:headerReference r:id='rId2'/>",
       "<w:p r:embed='rId1'/>", "", {}},
      {"an embed missing", "<w:p><w:r r:embed='rId9'/></w:p>", "", "",
       {"/word/document.xml uses r:embed=\"rId9\" with no relationship of that id in its .rels"}},
      {"each missing id once", "<w:p r:dm='rId7' r:lo='rId8'/><w:p r:qs='rId7'/>", "", "",
       {"/word/document.xml uses r:dm=\"rId7\" with no relationship of that id in its .rels",
        "/word/document.xml uses r:lo=\"rId8\" with no relationship of that id in its .rels"}},
      {"another prefix for the namespace",
       "<w:p xmlns:rel='" + kRels + "' rel:pict='rId4'/>", "", "",
       {"/word/document.xml uses r:pict=\"rId4\" with no relationship of that id in its .rels"}},
      {"an id of another part's relationships", "", "<w:p r:id='rId2'/>", "",
       {"/word/header1.xml uses r:id=\"rId2\" with no relationship of that id in its .rels"}},
      {"a VML relid", "", "", "<v:shape><v:imagedata o:relid='rId1'/></v:shape>",
       {"/word/drawing1.vml uses o:relid=\"rId1\" with no relationship of that id in its .rels"}},
      {"an id attribute of no relationship namespace",
       "<w:p xmlns:x='urn:other' x:id='rId9' o:spid='rId9'/><w:bookmarkStart w:id='5'/>", "", "",
       {}},
  };
  for (const auto& c : cases) EXPECT_EQ(FaultsOf(c.body, c.header, c.vml), c.faults) << c.what;
}

}  // namespace
}  // namespace quorvane::testing
