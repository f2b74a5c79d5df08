#include "office/cell_scanner.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "office/xml.h"

namespace quorvane::office {
namespace {

using Attributes = std::vector<std::pair<std::string, std::string>>;

struct TagCase {
  const char* text;
  size_t at;           // where the tag begins
  size_t end;          // where ReadTag says it ends; npos when it leaves the tag to the DOM
  const char* name;
  Attributes attributes;
  bool closing;
  bool empty;
};

constexpr size_t kNone = std::string_view::npos;

class ReadTagTest : public testing::TestWithParam<TagCase> {};

TEST_P(ReadTagTest, ReadsTheTagOrLeavesItToTheDom) {
  const TagCase& c = GetParam();
  const std::string_view text = c.text;
  Tag tag;
  const size_t end = ReadTag(text, c.at, &tag);
  ASSERT_EQ(end, c.end) << c.text;
  if (end == kNone) return;
  EXPECT_EQ(tag.name, c.name);
  Attributes got;
  for (const auto& [name, value] : tag.attributes) got.emplace_back(name, value);
  EXPECT_EQ(got, c.attributes);
  EXPECT_EQ(tag.closing, c.closing);
  EXPECT_EQ(tag.empty, c.empty);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReadTagTest,
    testing::Values(
        TagCase{"<c r=\"A1\" />", 0, 12, "c", {{"r", "A1"}}, false, true},
        TagCase{"<row/>", 0, 6, "row", {}, false, true},
        TagCase{"<v>1</v>", 4, 8, "v", {}, true, false},
        TagCase{"<c\n r = \"A1\"\tt='s'\r\n>", 0, 21, "c", {{"r", "A1"}, {"t", "s"}}, false,
                false},
        // A '>' or the other quote inside a value belongs to the value.
        TagCase{"<c r=\"A>1\">", 0, 11, "c", {{"r", "A>1"}}, false, false},
        TagCase{"<c t='say \"hi\"'>", 0, 16, "c", {{"t", "say \"hi\""}}, false, false},
        // What only the DOM handles: prefixed elements, comments and broken syntax.
        TagCase{"<x:c r=\"A1\">", 0, kNone, "", {}, false, false},
        TagCase{"<!-- <c r=\"A1\"/> -->", 0, kNone, "", {}, false, false},
        TagCase{"<c r=A1>", 0, kNone, "", {}, false, false},
        TagCase{"<c r>", 0, kNone, "", {}, false, false},
        TagCase{"<c r=\"A1\"", 0, kNone, "", {}, false, false},
        TagCase{"<c r=\"A1>", 0, kNone, "", {}, false, false},
        TagCase{"<c / >", 0, kNone, "", {}, false, false},
        TagCase{"< c>", 0, kNone, "", {}, false, false},
        TagCase{"<", 0, kNone, "", {}, false, false}));

std::string Streamed(std::string_view cells, const CellRules& rules, bool* read = nullptr,
                     std::set<std::string>* prefixes = nullptr) {
  std::string out;
  std::set<std::string> seen;
  const bool ok = StreamCells(cells, rules, &out, prefixes ? prefixes : &seen);
  if (read) *read = ok;
  return ok ? out : "(left to the DOM)";
}

struct CellCase {
  const char* cells;
  const char* rewritten;
};

const std::vector<int> kXfMap = {4, 7, 9};
const std::vector<bool> kXfIsDate = {false, true, false};

CellRules Rules(bool dates, int base_xf) {
  CellRules rules;
  rules.string_offset = 10;
  rules.xf_map = &kXfMap;
  rules.base_xf = base_xf;
  rules.xf_is_date = dates ? &kXfIsDate : nullptr;
  return rules;
}

class StreamCellsTest : public testing::TestWithParam<CellCase> {};

TEST_P(StreamCellsTest, RewritesTheCells) {
  EXPECT_EQ(Streamed(GetParam().cells, Rules(true, 3)), GetParam().rewritten);
}

// Without a rename the cells go through the DOM to the same result.
TEST_P(StreamCellsTest, TheDomGivesTheSame) {
  const std::string streamed = Streamed(GetParam().cells, Rules(true, 3));
  if (streamed == "(left to the DOM)") return;
  pugi::xml_document by_dom, by_stream;
  ASSERT_TRUE(by_dom.load_string(("<sheetData>" + std::string(GetParam().cells) + "</sheetData>")
                                     .c_str()));
  RewriteCellsInDom(by_dom.child("sheetData"), Rules(true, 3));
  ASSERT_TRUE(by_stream.load_string(("<sheetData>" + streamed + "</sheetData>").c_str()));
  EXPECT_EQ(SaveXml(by_dom), SaveXml(by_stream));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StreamCellsTest,
    testing::Values(
        // Types other than shared strings stay.
        CellCase{"<row><c s=\"2\" t=\"str\"><v>3</v></c></row>",
                 "<row><c s=\"9\" t=\"str\"><v>3</v></c></row>"},
        // Styles map; one past the list takes the first.
        CellCase{"<row><c r=\"A1\" s=\"17\"/></row>", "<row><c r=\"A1\" s=\"0\"/></row>"},
        // A style that is no plain number is past every list too, and no date.
        CellCase{"<row s=' 1' customFormat='1'><c s=\"x\"><v>100</v></c><c s=\"1x\"><v>5</v></c>"
                 "<c s=\"-1\"/></row>",
                 "<row s=\"0\" customFormat=\"1\"><c s=\"0\"><v>100</v></c><c s=\"0\"><v>5</v>"
                 "</c><c s=\"0\"/></row>"},
        // Unstyled cells and formatted rows take the source's base format.
        CellCase{"<row r=\"2\" customFormat=\"1\"><c r=\"A2\"/></row>",
                 "<row r=\"2\" customFormat=\"1\" s=\"3\"><c r=\"A2\" s=\"3\"/></row>"},
        CellCase{"<row r=\"2\" s=\"1\" customFormat=\"true\"/>",
                 "<row r=\"2\" s=\"7\" customFormat=\"true\"/>"},
        // Cell metadata of the source means nothing here.
        CellCase{"<row><c r=\"A1\" s=\"0\" cm=\"1\" vm=\"2\"><v>1</v></c></row>",
                 "<row><c r=\"A1\" s=\"4\"><v>1</v></c></row>"},
        // Dates of a 1904 workbook move by the days between the systems.
        CellCase{"<row><c s=\"1\"><v>100</v></c><c s=\"1\" t=\"n\"><v>0.5</v></c></row>",
                 "<row><c s=\"7\"><v>1562</v></c><c s=\"7\" t=\"n\"><v>1462.5</v></c></row>"},
        CellCase{"<row><c s=\"1\" t=\"s\"><v>1</v></c><c s=\"1\"><v>#N/A</v></c></row>",
                 "<row><c s=\"7\" t=\"s\"><v>11</v></c><c s=\"7\"><v>#N/A</v></c></row>"},
        // A value with the other quote keeps it; entities and text stay as written.
        CellCase{"<row><c s=\"0\" t=\"inlineStr\" x14ac:a='say \"hi\"'><is><t>a &amp; b</t></is>"
                 "</c></row>",
                 "<row><c s=\"4\" t=\"inlineStr\" x14ac:a='say \"hi\"'><is><t>a &amp; b</t></is>"
                 "</c></row>"},
        // Comments and CDATA go by the DOM, and so does a row cut short.
        CellCase{"<row><!-- note --><c s=\"0\"/></row>", "(left to the DOM)"},
        CellCase{"<row><c s=\"0\"><f><![CDATA[1]]></f></c></row>", "(left to the DOM)"},
        CellCase{"<row><c s=\"0\"><v>1", "(left to the DOM)"}));

TEST(StreamCellsTest, RewritesFormulasThroughTheirEscapes) {
  Renames renames;
  renames.sheets = {{"sheet1", "Sheet1 (2)"}};
  CellRules rules = Rules(false, 0);
  rules.renames = &renames;
  const CellCase cases[] = {
      {"<c s=\"0\"><f>Sheet1!A1&amp;\"x\"</f></c>", "<c s=\"4\"><f>'Sheet1 (2)'!A1&amp;\"x\"</f></c>"},
      {"<c s=\"0\"><f>A1&gt;Sheet1!B1</f></c>", "<c s=\"4\"><f>A1&gt;'Sheet1 (2)'!B1</f></c>"},
      {"<c s=\"0\"><f>&quot;Sheet1!B1&quot;</f></c>", "<c s=\"4\"><f>\"Sheet1!B1\"</f></c>"},
      {"<c s=\"0\"><f t=\"shared\" si=\"0\"/></c>", "<c s=\"4\"><f t=\"shared\" si=\"0\"/></c>"},
      // The value of a formula is no formula.
      {"<c s=\"0\" t=\"str\"><f>A1</f><v>Sheet1!A1</v></c>",
       "<c s=\"4\" t=\"str\"><f>A1</f><v>Sheet1!A1</v></c>"},
  };
  for (const CellCase& c : cases) EXPECT_EQ(Streamed(c.cells, rules), c.rewritten) << c.cells;
}

TEST(StreamCellsTest, CollectsTheAttributePrefixesButXml) {
  std::set<std::string> prefixes;
  bool read = false;
  Streamed("<row x14ac:dyDescent=\"0.25\"><c s=\"0\"><is><t xml:space=\"preserve\"> a</t></is>"
           "</c><c s=\"0\" mc:Ignorable=\"x\"/></row>",
           Rules(false, 0), &read, &prefixes);
  EXPECT_TRUE(read);
  EXPECT_EQ(prefixes, (std::set<std::string>{"mc", "x14ac"}));
}

}  // namespace
}  // namespace quorvane::office
