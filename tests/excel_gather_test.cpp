#include "office/excel_gather.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <functional>
#include <map>
#include <regex>
#include <set>
#include <sstream>

#include "office/xml.h"
#include "support/docx_samples.h"
#include "support/faulty_filesystem.h"
#include "support/temp_dir.h"
#include "support/xlsx_check.h"
#include "support/xlsx_samples.h"

namespace quorvane::office {
namespace {

using namespace testing;
using namespace std::string_literals;

const std::string kLong = "ABCDEFGHIJKLMNOPQRSTUVWXYZ12345";  // 31 characters
const std::string kLong2 = "ABCDEFGHIJKLMNOPQRSTUVWXYZ1 (2)";
const std::string kChinese31 = "一二三四五六七八九十甲乙丙丁戊己庚辛壬癸子丑寅卯辰巳午未申酉戌";
const std::string kChinese27 = "一二三四五六七八九十甲乙丙丁戊己庚辛壬癸子丑寅卯辰巳午";

XlsxBook BookA() {
  XlsxSheet data{.name = "Data",
                 .cells = {{"A1", 's', "alpha", 1}, {"B1", 'n', "10"}, {"A2", 'i', "inline", 2},
                           {"B2", 'n', "20", 3}, {"A3", 'n', "45292", 4}, {"B3", 'n', "1.5", 5},
                           {"A5", 's', "merged"}},
                 .merges = {"A5:B5"}, .column_widths = {{1, 20.5}}, .image = true,
                 .freeze = true, .table = "Sales", .highlight = true, .link = "https://example.com/a",
                 .comment = "注释一", .rows_and_columns = true, .printer_settings = true};
  XlsxSheet summary{.name = "Summary",
                    .cells = {{"A1", 'f', "20", 0, "Data!B1*2"},
                              {"A2", 'f', "31.5", 0, "SUM('Data'!B1:B3)"},
                              {"A3", 'f', "17", 0, "LEN(\"Sheet1!A1\")+Sheet1!A2"},
                              {"A4", 'b', "1"}, {"A5", 'f', "2", 0, "[1]Other!A1*2"}}};
  XlsxSheet sheet1{.name = "Sheet1", .cells = {{"A1", 's', "alpha"}, {"A2", 'n', "7"}}};
  return {.sheets = {data, summary, sheet1, {.name = "Chart", .chart = true}},
          .formats = {"0.000"}, .selected = 1,
          .names = {{"Local", 0, "'Data'!$A$1"}, {"_xlnm.Print_Area", 0, "'Data'!$A$1:$B$3"},
                    {"Total", -1, "'Data'!$A$1"}},
          .external_link = true};
}

XlsxBook BookB() {
  XlsxSheet data{.name = "data",
                 .cells = {{"A1", 's', "beta", 1}, {"A2", 'n', "7", 6}, {"A3", 'n', "45000", 5},
                           {"A4", 'f', "8", 3, "data!A2+1"}, {"B1", 'n', "20"}},
                 .highlight = true};
  XlsxSheet longer{.name = kLong,
                   .cells = {{"A1", 's', "gamma"}, {"A2", 'f', "21", 0, "'data'!A2*3"}}};
  XlsxSheet sales{
      .name = "销售数据",
      .cells = {{"A1", 's', "销售"}, {"B1", 'n', "100"}, {"A2", 'f', "101", 0, "销售数据!B1+1"}}};
  XlsxSheet chinese{.name = kChinese31, .cells = {{"A1", 'i', "长名字"}}};
  return {.sheets = {data, longer, sales, chinese}, .formats = {"yyyy-mm-dd", "0.000"},
          .fonts_reversed = true, .prefixed = true};
}

XlsxBook BookC1904() {
  XlsxSheet longer{.name = kLong,
                   .cells = {{"A1", 'n', "1"}, {"B1", 'n', "3"}, {"A2", 'n', "40000", 4},
                             {"B2", 'n', "4"}, {"A3", 'n', "40000", 5}, {"B3", 'n', "5"},
                             {"A4", 'n', "0.5"}, {"A5", 'f', "5", 0, "销售数据!B1"}},
                   .comment = "note two", .rows_and_columns = true};
  XlsxSheet sales{.name = "销售数据",
                  .cells = {{"B1", 'n', "5"}, {"B2", 'f', "1", 0, "[1]Other!A1"}}};
  XlsxSheet sheet3{.name = "Sheet3",
                   .cells = {{"A1", 's', "delta", 3}, {"B1", 'f', "1", 0, "COUNTA(Sales[delta])"}},
                   .table = "Sales"};
  return {.sheets = {longer, sales, {.name = kChinese31, .cells = {{"A1", 'n', "1"}}}, sheet3,
                     {.name = "Chart", .chart = true}},
          .formats = {"yyyy-mm-dd"}, .date1904 = true,
          .names = {{"Local", 0, "'" + kLong + "'!$A$1"}, {"Total", -1, "'" + kLong + "'!$A$1"}},
          .external_link = true};
}

/// The sheets of the three sources above, in order, as the gathered workbook names them.
const std::vector<std::string> kGathered = {
    "Data", "Summary", "Sheet1 (2)", "Chart", "data (2)", kLong, "销售数据", kChinese31, kLong2,
    "销售数据 (2)", kChinese27 + " (2)", "Sheet3 (2)", "Chart (2)"};

/// `line` with its references to the renamed sheets written as the gathered workbook has them
/// (an unquoted name only where no other name or text runs into it), and the table and
/// external link of the third source renumbered.
std::string Renamed(std::string line, const std::map<std::string, std::string>& renames,
                    bool third) {
  for (const auto& [from, to] : {std::pair{"Sales\\[", "Sales_2["}, {"\tSales\t", "\tSales_2\t"},
                                 {"\\[1\\]Other", "[2]Other"}})
    if (third) line = std::regex_replace(line, std::regex(from), to);
  for (const auto& [from, to] : renames) {
    if (line.starts_with("sheet\t" + from + "\t"))
      line = "sheet\t" + to + line.substr(6 + from.size());
    const std::regex ref("'" + from + "'!|(^|[^\\w'\"\\x80-\\xff])" + from + "!");
    line = std::regex_replace(line, ref, "$1'" + to + "'!");
  }
  return line;
}

/// What the independent reader sees, one fact a line: the sheets' in order, then the names.
std::vector<std::string> ReadBook(const std::string& path) {
  std::istringstream in(
      testing::Shell("/usr/bin/python3 " QUORVANE_TEST_DIR "/office/read_xlsx.py '" + path + "'"));
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

bool Gather(FileSystem& fs, const std::vector<std::string>& sources, const std::string& target,
            std::string* err, const std::function<void()>& before_save = nullptr) {
  ExcelGather gather(fs);
  for (const std::string& source : sources) {
    auto package = Package::Open(fs, source, err);
    if (!package || !gather.Add(*package, source, err)) return false;
  }
  if (before_save) before_save();
  return gather.Save(target, err);
}

/// The texts of the parts of the package at `path` whose content type ends in `type`, joined.
std::string PartsOfType(const std::string& path, const std::string& type) {
  std::string texts, bytes, err;
  const auto package = Package::Open(SystemFileSystem(), path, &err);
  for (const std::string& part : package ? package->Parts() : std::vector<std::string>{})
    if (package->ContentType(part).ends_with(type) && package->Read(part, &bytes, &err))
      texts += bytes;
  return texts;
}

class ExcelGatherTest : public ::testing::Test {
 protected:
  std::string Write(const std::string& name, const XlsxBook& book) {
    std::string err;
    EXPECT_TRUE(testing::WriteXlsx(SystemFileSystem(), dir / name, book, &err)) << err;
    return dir / name;
  }
  TempDir dir;
};

TEST_F(ExcelGatherTest, GathersEverySheetBeforeTheLastBlankOneAndCarriesWhatItNeeds) {
  const std::vector<std::string> sources = {Write("a.xlsx", BookA()), Write("b.xlsx", BookB()),
                                            Write("c.xlsx", BookC1904())};
  std::vector<std::string> before;
  for (const std::string& s : sources) before.push_back(testing::ReadAll(s));
  std::string err;
  ASSERT_TRUE(Gather(SystemFileSystem(), sources, dir / "out.xlsx", &err)) << err;

  EXPECT_EQ(testing::CheckXlsx(dir / "out.xlsx"), std::vector<std::string>{});
  for (size_t i = 0; i < sources.size(); ++i) EXPECT_EQ(testing::ReadAll(sources[i]), before[i]);

  // What the reader does not show: the picture, the charts' data, the page setup, the styles
  // and the note shapes. That each lands on its sheet the package checker and the reader prove.
  const std::string out = dir / "out.xlsx";
  EXPECT_EQ(PartsOfType(out, "image/png"), testing::TinyPng(0x80));
  const std::string charts = PartsOfType(out, "drawingml.chart+xml");
  for (const std::string& data : {std::string("'Data'!$B$1"), "'" + kLong2 + "'!$B$1"})
    EXPECT_NE(charts.find(data), std::string::npos) << data;
  // Printer settings belong to the machine that printed; they are left behind, the setup kept.
  EXPECT_NE(PartsOfType(out, "worksheet+xml").find("<pageSetup orientation=\"landscape\"/>"),
            std::string::npos);

  // Styles are merged by value: the sources' plain and bold fonts and their two custom
  // formats are each held once, beside the workbook's own default font.
  pugi::xml_document styles;
  ASSERT_TRUE(ParseXml(PartsOfType(out, "styles+xml"), "styles", &styles, &err)) << err;
  for (const auto& [list, count] : {std::pair{"fonts", 3}, {"numFmts", 2}, {"dxfs", 2}}) {
    const pugi::xml_node node = styles.child("styleSheet").child(list);
    EXPECT_EQ(std::distance(node.begin(), node.end()), count) << list;
  }

  // Both sources numbered their note shapes from block 1; the workbook needs distinct blocks.
  const std::string vml = PartsOfType(out, "vmlDrawing");
  std::set<int> blocks;
  for (size_t at = vml.find("data="); at != std::string::npos; at = vml.find("data=", at + 1)) {
    const int block = std::stoi(vml.substr(at + 6));
    blocks.insert(block);
    EXPECT_NE(vml.find("_x0000_s" + std::to_string(1024 * block + 1)), std::string::npos) << block;
  }
  EXPECT_EQ(blocks.size(), 2u);

  // LibreOffice converts the workbook; openpyxl reads every sheet of the sources, renamed where
  // taken, before the last blank one.
  if (ConvertWithOffice(dir.path(), "out.xlsx", "pdf")) {
    const std::string text = Shell("pdftotext " + dir / "pdf/out.pdf -");
    for (const char* expected : {"alpha", "inline", "beta", "gamma", "delta"})
      EXPECT_NE(text.find(expected), std::string::npos) << expected;
  }
  if (testing::Shell("/usr/bin/python3 -c 'import openpyxl; print(1)'") != "1\n")
    GTEST_SKIP() << "/usr/bin/python3 with openpyxl is not installed";
  std::vector<std::string> result = ReadBook(dir / "out.xlsx"), expected = {
      "sheet\tSheet1\twork", "sheet\tSheet2\twork"};
  size_t next = 0;
  for (size_t i = 0; i < sources.size(); ++i) {
    const std::vector<std::string> lines = ReadBook(sources[i]);
    std::map<std::string, std::string> renames;
    for (const std::string& line : lines) {
      if (!line.starts_with("sheet\t")) continue;
      const std::string name = line.substr(6, line.find('\t', 6) - 6), target = kGathered.at(next++);
      if (target != name) renames[name] = target;
    }
    for (const std::string& line : lines)
      if (!line.starts_with("name\t")) expected.push_back(Renamed(line, renames, i == 2));
  }
  EXPECT_EQ(next, kGathered.size());
  expected.push_back("sheet\tSheet3\twork");
  const auto names_at = std::find_if(result.begin(), result.end(),
                                     [](const std::string& l) { return l.starts_with("name\t"); });
  const std::set<std::string> names(names_at, result.end());
  result.erase(names_at, result.end());
  EXPECT_EQ(result, expected);
  // Sheet-scoped names follow their sheet; a workbook-wide name taken already becomes a name of
  // each worksheet of the source that brought it again.
  const std::string c_a1 = "\t'" + kLong2 + "'!$A$1";
  std::set<std::string> expected_names = {"name\tLocal\tData\t'Data'!$A$1",
                                          "name\tTotal\tworkbook\t'Data'!$A$1",
                                          "name\tLocal\t" + kLong2 + c_a1};
  for (const std::string& sheet : {kLong2, "销售数据 (2)"s, kChinese27 + " (2)", "Sheet3 (2)"s})
    expected_names.insert("name\tTotal\t" + sheet + c_a1);
  EXPECT_EQ(names, expected_names);
}

TEST_F(ExcelGatherTest, CopiesOfOneWorkbookTakeNumberedNamesAndReferToTheirOwnSheets) {
  const std::string a = Write("a.xlsx", {.sheets = {{.name = "Data", .cells = {{"A1", 'n', "1"}}},
                                                    {.name = "Calc", .cells = {{"A1", 'f', "1", 0,
                                                                                "Data!A1"}}}}});
  std::string err;
  ASSERT_TRUE(Gather(SystemFileSystem(), {a, a, a}, dir / "out.xlsx", &err)) << err;
  EXPECT_EQ(testing::CheckXlsx(dir / "out.xlsx"), std::vector<std::string>{});
  const std::string out = dir / "out.xlsx";
  EXPECT_NE(PartsOfType(out, "sheet.main+xml").find("\"Calc (3)\""), std::string::npos);
  EXPECT_NE(PartsOfType(out, "worksheet+xml").find("<f>'Data (3)'!A1</f>"), std::string::npos);
}

TEST_F(ExcelGatherTest, ASourceSpoiledBeforeTheSaveLeavesTheDestinationAsItWas) {
  using Op = FaultyFileSystem::Op;
  std::string err;
  using Spoil = std::function<void(FaultyFileSystem&, const std::string&)>;
  const struct { const char* what; Spoil spoil; } cases[] = {
      {"vanished", [](auto&, const std::string& b) { std::remove(b.c_str()); }},
      {"rewritten",  // the same parts, one text changed
       [&](auto&, const std::string& b) {
         XlsxBook changed = BookB();
         changed.sheets[0].cells[0].value = "changed";
         WriteXlsx(SystemFileSystem(), b, changed, &err);
       }},
      {"refused", [](auto& fs, auto&) { fs.FailWhen(Op::OpenRead, "b.xlsx", EACCES); }},
      {"unreadable", [](auto& fs, auto&) { fs.FailWhen(Op::Read, "b.xlsx", EIO, 100); }},
  };
  for (const auto& c : cases) {
    const std::string a = Write("a.xlsx", BookA()), b = Write("b.xlsx", BookB());
    dir.Write("out.xlsx", "old");
    FaultyFileSystem fs(SystemFileSystem());
    EXPECT_FALSE(Gather(fs, {a, b}, dir / "out.xlsx", &err, [&] { c.spoil(fs, b); })) << c.what;
    EXPECT_NE(err.find("b.xlsx"), std::string::npos) << c.what << ": " << err;
    EXPECT_EQ(testing::ReadAll(dir / "out.xlsx"), "old") << c.what;
    for (const std::string& entry : testing::Tree(dir.path()))  // no temporary file left
      EXPECT_TRUE(entry.starts_with("a.xlsx=") || entry.starts_with("b.xlsx=") ||
                  entry.starts_with("out.xlsx=")) << c.what << ": " << entry.substr(0, 20);
    EXPECT_EQ(fs.open_files, 0) << c.what;
  }
}

TEST_F(ExcelGatherTest, RefusesPackagesThatHoldNoSheetsAndKeepsNothingOfThem) {
  std::string err;
  ASSERT_TRUE(testing::WriteDocx({.paragraphs = {"文字"}}, dir / "word.xlsx", &err)) << err;
  Write("empty.xlsx", {});
  for (const auto& [name, why] :
       {std::pair{"word.xlsx", "缺少工作簿部件"}, {"empty.xlsx", "没有工作表"}}) {
    ExcelGather gather(SystemFileSystem());
    auto package = Package::Open(SystemFileSystem(), dir / name, &err);
    ASSERT_TRUE(package) << err;
    EXPECT_FALSE(gather.Add(*package, dir / name, &err));
    EXPECT_EQ(err, "无法读取文件“" + dir / name + "”：不是有效的 Excel 工作簿（" + why + "）");
    auto good = Package::Open(SystemFileSystem(), Write("a.xlsx", BookA()), &err);
    ASSERT_TRUE(good && gather.Add(*good, dir / "a.xlsx", &err)) << err;
    ASSERT_TRUE(gather.Save(dir / "out.xlsx", &err)) << err;
    EXPECT_EQ(testing::CheckXlsx(dir / "out.xlsx"), std::vector<std::string>{}) << name;
  }
}

bool HasOpenpyxl() {
  return testing::Shell("/usr/bin/python3 -c 'import openpyxl; print(1)'") == "1\n";
}

TEST_F(ExcelGatherTest, WorksheetsWrittenWithAPrefixAreWrittenBackDeclaringEachNamespaceOnce) {
  // Some producers declare every namespace they know on each worksheet, among them two more
  // that the engine writes without a prefix.
  const struct { const char* prefix; bool every_namespace; } cases[] = {
      {"ns2", false}, {"ns2", true}, {"r1", true}};  // "x": the gather of BookB
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.prefix) + (c.every_namespace ? " every namespace" : ""));
    XlsxSheet sheet{.name = "Prefixed", .cells = {{"A1", 's', "prefixed", 1}, {"B1", 'n', "4"},
                                                  {"A2", 'f', "8", 0, "Prefixed!B1*2"}}};
    const std::string source =
        Write("p.xlsx", {.sheets = {sheet}, .prefixed = true, .prefix = c.prefix,
                         .every_namespace = c.every_namespace});
    std::string err;
    ASSERT_TRUE(Gather(SystemFileSystem(), {source}, dir / "out.xlsx", &err)) << err;
    EXPECT_EQ(testing::CheckXlsx(dir / "out.xlsx"), std::vector<std::string>{});
    const std::string sheets = PartsOfType(dir / "out.xlsx", "worksheet+xml");
    EXPECT_NE(sheets.find("<sheetData><row r=\"1\"><c r=\"A1\" s="), std::string::npos);
    if (!HasOpenpyxl()) GTEST_SKIP() << "/usr/bin/python3 with openpyxl is not installed";
    const std::vector<std::string> read = ReadBook(dir / "out.xlsx");
    std::vector<std::string> expected = ReadBook(source);
    expected.insert(expected.begin(), {"sheet\tSheet1\twork", "sheet\tSheet2\twork"});
    expected.push_back("sheet\tSheet3\twork");
    EXPECT_EQ(read, expected);
  }
}

/// The font name, size and number format openpyxl reads for `cells` ("Sheet!A1"), a line each.
std::string FontsAndFormats(const std::string& path, const std::vector<std::string>& cells) {
  std::string script = "import openpyxl\nb = openpyxl.load_workbook('" + path + "')\n";
  for (const std::string& cell : cells) {
    const size_t bang = cell.find('!');
    script += "c = b['" + cell.substr(0, bang) + "']['" + cell.substr(bang + 1) +
              "']\nprint(c.font.name, c.font.sz, c.number_format)\n";
  }
  return testing::Shell("/usr/bin/python3 -c \"" + script + "\"");
}

TEST_F(ExcelGatherTest, EachSourceKeepsItsBaseFormatOnCellsWithoutAStyle) {
  const std::string excel_font =
      "<font><sz val='11'/><color theme='1'/><name val='Calibri'/><family val='2'/>"
      "<scheme val='minor'/></font>";
  const std::string arial = Write(
      "arial.xlsx",
      {.sheets = {{.name = "Arial",
                   .cells = {{"A1", 'n', "1.5"}, {"B1", 'n', "2", 1}, {"A2", 's', "text"}},
                   .column_widths = {{1, 12}}, .formatted_row = true}},
       .base_font = "<font><sz val='12'/><name val='Arial'/></font>", .base_format = 1});
  const std::string plain = Write(
      "plain.xlsx", {.sheets = {{.name = "Plain", .cells = {{"A1", 'n', "3.25"}},
                                 .column_widths = {{1, 12}}}},
                     .base_font = excel_font});
  std::string err;
  ASSERT_TRUE(Gather(SystemFileSystem(), {plain, arial}, dir / "out.xlsx", &err)) << err;
  EXPECT_EQ(testing::CheckXlsx(dir / "out.xlsx"), std::vector<std::string>{});

  // The source whose base is the workbook's own leaves its cells, rows and columns unstyled;
  // the other's take its base format, and so do its formatted row and its columns.
  const std::string sheets = PartsOfType(dir / "out.xlsx", "worksheet+xml");
  EXPECT_NE(sheets.find("<c r=\"A1\"><v>3.25</v></c>"), std::string::npos);
  std::smatch base;
  ASSERT_TRUE(std::regex_search(sheets, base, std::regex("<c r=\"A1\" s=\"(\\d+)\"><v>1.5<")));
  const std::string s = base[1];
  EXPECT_NE(s, "0");
  for (const std::string& expected :
       {"<row r=\"1\" customFormat=\"1\" s=\"" + s + "\">",
        "<col min=\"1\" max=\"1\" width=\"12.000000\" customWidth=\"1\" style=\"" + s + "\"/>",
        "<c r=\"A2\" t=\"s\" s=\"" + s + "\">"})
    EXPECT_NE(sheets.find(expected), std::string::npos) << expected;
  EXPECT_EQ(std::regex_search(sheets, std::regex("<col [^>]*customWidth=\"1\"/>")),
            true);  // the plain source's column

  if (!HasOpenpyxl()) GTEST_SKIP() << "/usr/bin/python3 with openpyxl is not installed";
  EXPECT_EQ(FontsAndFormats(dir / "out.xlsx",
                            {"Arial!A1", "Arial!A2", "Arial!B1", "Plain!A1", "Sheet1!A1",
                             "Sheet3!B2"}),
            "Arial 12.0 0\nArial 12.0 0\nCalibri 11.0 General\nCalibri 11.0 General\n"
            "Calibri 11.0 General\nCalibri 11.0 General\n");
}

TEST_F(ExcelGatherTest, ATableKeepsItsDisplayNameUnlessTheWorkbookHasItAlready) {
  auto book = [](const std::string& table, const std::string& name, bool costs = false) {
    XlsxSheet data{.name = "Data",
                   .cells = {{"A1", 's', "amount"}, {"A2", 'n', "4"}, {"A3", 'n', "5"},
                             {"B1", 'f', "2", 0, "COUNT(" + table + "[amount])"}},
                   .table = table, .table_name = name};
    XlsxBook made{.sheets = {data}};
    if (costs) made.names = {{"Costs", -1, "'Data'!$A$2"}};
    return made;
  };
  const struct {
    const char* what;
    std::vector<XlsxBook> books;
    std::vector<std::string> tables;  // display names, in order
  } cases[] = {
      {"no clash", {book("SalesData", "Table1"), book("Other", "Table1")},
       {"SalesData", "Other"}},
      {"a clash regardless of case", {book("SalesData", ""), book("salesdata", "")},
       {"SalesData", "salesdata_2"}},
      {"a clash with a defined name", {book("Sales", "", true), book("Costs", "")},
       {"Sales", "Costs_2"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::string> sources;
    for (size_t i = 0; i < c.books.size(); ++i)
      sources.push_back(Write("s" + std::to_string(i) + ".xlsx", c.books[i]));
    std::string err;
    ASSERT_TRUE(Gather(SystemFileSystem(), sources, dir / "out.xlsx", &err)) << err;
    EXPECT_EQ(testing::CheckXlsx(dir / "out.xlsx"), std::vector<std::string>{});
    const std::string tables = PartsOfType(dir / "out.xlsx", "table+xml");
    const std::string sheets = PartsOfType(dir / "out.xlsx", "worksheet+xml");
    for (const std::string& table : c.tables) {
      EXPECT_NE(tables.find("displayName=\"" + table + "\""), std::string::npos) << table;
      EXPECT_NE(sheets.find("<f>COUNT(" + table + "[amount])</f>"), std::string::npos) << table;
    }
  }
}

}  // namespace
}  // namespace quorvane::office
