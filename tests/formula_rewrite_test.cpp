#include "office/formula_rewrite.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "office/xml.h"

namespace quorvane::office {
namespace {

struct FormulaCase {
  const char* formula;
  const char* rewritten;
};

// Sheets renamed on the way into the gathered workbook, keyed by folded old name.
Renames SampleRenames(size_t external_offset = 0) {
  Renames renames;
  renames.sheets = {{"sheet1", "Sheet1 (2)"},  {"my sheet", "My Sheet (2)"},
                    {"o'brien", "O'Brien (2)"}, {"数据", "数据 (2)"},
                    {"a", "A (2)"},             {"sum", "SUM (2)"}};
  renames.tables = {{"table1", "Table1_2"}};
  renames.external_offset = external_offset;
  return renames;
}

class FormulaRewriteTest : public testing::TestWithParam<FormulaCase> {};

TEST_P(FormulaRewriteTest, FollowsTheNewNames) {
  EXPECT_EQ(RewriteFormula(GetParam().formula, SampleRenames()), GetParam().rewritten);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FormulaRewriteTest,
    testing::Values(
        // Plain and quoted sheet names; a new name with a space needs quotes.
        FormulaCase{"sheet1!A1", "'Sheet1 (2)'!A1"},
        FormulaCase{"'O''Brien'!A1", "'O''Brien (2)'!A1"},
        FormulaCase{"数据!B2*2", "'数据 (2)'!B2*2"},
        FormulaCase{"A!B2", "'A (2)'!B2"},
        // Names that only look like a renamed one stay.
        FormulaCase{"Sheet10!A1", "Sheet10!A1"},
        FormulaCase{"XSheet1!A1", "XSheet1!A1"},
        FormulaCase{"A:A", "A:A"},
        // A function bearing a renamed sheet's name is still the function.
        FormulaCase{"SUM(SUM!A1)", "SUM('SUM (2)'!A1)"},
        FormulaCase{"sum(A1:A3)", "sum(A1:A3)"},
        // 3-D references: either end renamed quotes the whole span.
        FormulaCase{"SUM(Sheet1:Sheet3!A1)", "SUM('Sheet1 (2):Sheet3'!A1)"},
        FormulaCase{"SUM(Sheet2:Sheet1!A1)", "SUM('Sheet2:Sheet1 (2)'!A1)"},
        FormulaCase{"SUM('Sheet1:Sheet3'!A1)", "SUM('Sheet1 (2):Sheet3'!A1)"},
        FormulaCase{"SUM(Sheet2:Sheet3!A1)", "SUM(Sheet2:Sheet3!A1)"},
        // Another workbook's sheets, both ends of a 3-D span, are its own.
        FormulaCase{"SUM([2]Sheet2:Sheet1!A1)+Sheet2:Sheet1!A1",
                    "SUM([2]Sheet2:Sheet1!A1)+'Sheet2:Sheet1 (2)'!A1"},
        FormulaCase{"'[1]Sheet1'!A1+Sheet1!A1", "'[1]Sheet1'!A1+'Sheet1 (2)'!A1"},
        // Text in a formula is text.
        FormulaCase{"\"say \"\"Sheet1!A1\"\"\"&Sheet1!A1", "\"say \"\"Sheet1!A1\"\"\"&'Sheet1 (2)'!A1"},
        FormulaCase{"\"Sheet1!A1", "\"Sheet1!A1"},
        FormulaCase{"'My Sheet", "'My Sheet"},
        // Structured references follow a renamed table; their columns stay.
        FormulaCase{"SUM(table1[col])", "SUM(Table1_2[col])"},
        FormulaCase{"Table1[[#Headers],[Sheet1]]", "Table1_2[[#Headers],[Sheet1]]"}));

TEST(FormulaRewriteTest, RenumbersOtherWorkbooksAfterThoseAlreadyGathered) {
  const FormulaCase cases[] = {
      {"[1]Sheet1!A1", "[3]Sheet1!A1"},
      {"[1]Sheet2:Sheet1!A1", "[3]Sheet2:Sheet1!A1"},
      {"[12]Other!A1+[1]Other!B1", "[14]Other!A1+[3]Other!B1"},
      {"'[1]My Sheet'!A1", "'[3]My Sheet'!A1"},
      {"[1]!Name", "[3]!Name"},
      {"SUM([2]Sheet1:Sheet3!A1)", "SUM([4]Sheet1:Sheet3!A1)"},
      // Not an index: table columns, text, and a bracket inside a structured reference.
      {"Table1[[#This Row],[1]]", "Table1_2[[#This Row],[1]]"},
      {"Table1[1]", "Table1_2[1]"},
      {"\"[1]Sheet1!A1\"", "\"[1]Sheet1!A1\""},
      {"Sheet1!A1", "'Sheet1 (2)'!A1"},
  };
  for (const FormulaCase& c : cases)
    EXPECT_EQ(RewriteFormula(c.formula, SampleRenames(2)), c.rewritten) << c.formula;
}

std::string Rewritten(const char* xml, bool chart) {
  pugi::xml_document doc;
  EXPECT_TRUE(doc.load_string(xml));
  if (chart)
    RewriteChartFormulas(doc, SampleRenames());
  else
    RewriteFormulas(doc, SampleRenames());
  return SaveXml(doc);
}

TEST(FormulaRewriteTest, RewritesTheFormulasOfASheetOrAChartAndNothingElse) {
  const struct { bool chart; const char* xml; std::vector<std::string> found; } cases[] = {
      {false,
       "<worksheet><sheetData><row><c><f>Sheet1!A1</f><v>Sheet1!A1</v></c></row></sheetData>"
       "<dataValidations><dataValidation><formula1>'My Sheet'!A1</formula1></dataValidation>"
       "</dataValidations><hyperlinks><hyperlink location=\"Sheet1!B2\" display=\"Sheet1!B2\"/>"
       "</hyperlinks></worksheet>",
       {"<f>'Sheet1 (2)'!A1</f>", "<v>Sheet1!A1</v>", "<formula1>'My Sheet (2)'!A1</formula1>",
        "location=\"'Sheet1 (2)'!B2\" display=\"Sheet1!B2\""}},
      {true,  // a chart's formulas, prefixed
       "<c:chartSpace xmlns:c=\"urn:c\"><c:ser><c:tx><c:strRef><c:f>Sheet1!$A$1</c:f>"
       "<c:strCache><c:pt><c:v>Sheet1!$A$1</c:v></c:pt></c:strCache></c:strRef></c:tx>"
       "<c:val><c:numRef><c:f>Table1[col]</c:f></c:numRef></c:val></c:ser></c:chartSpace>",
       {"<c:f>'Sheet1 (2)'!$A$1</c:f>", "<c:v>Sheet1!$A$1</c:v>", "<c:f>Table1_2[col]</c:f>"}},
  };
  for (const auto& c : cases) {
    const std::string xml = Rewritten(c.xml, c.chart);
    for (const std::string& found : c.found) EXPECT_NE(xml.find(found), std::string::npos) << xml;
  }
}

}  // namespace
}  // namespace quorvane::office
