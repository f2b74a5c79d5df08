#include "office/excel_gather.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <set>

#include "office/xml.h"
#include "support/faulty_filesystem.h"
#include "support/temp_dir.h"
#include "support/xlsx_check.h"
#include "support/xlsx_samples.h"

namespace quorvane::office {
namespace {

using testing::FaultyFileSystem;
using testing::TempDir;
using testing::XlsxBook;
using testing::XlsxCell;
using testing::XlsxSheet;

const std::string kLong = "ABCDEFGHIJKLMNOPQRSTUVWXYZ12345";  // 31 characters
const std::string kChinese31 = "一二三四五六七八九十甲乙丙丁戊己庚辛壬癸子丑寅卯辰巳午未申酉戌";
const std::string kChinese27 = "一二三四五六七八九十甲乙丙丁戊己庚辛壬癸子丑寅卯辰巳午";

XlsxBook BookA() {
  XlsxSheet data{.name = "Data",
                 .cells = {{"A1", 's', "alpha", 1},
                           {"B1", 'n', "10"},
                           {"A2", 'i', "inline", 2},
                           {"B2", 'n', "20", 3},
                           {"A3", 'n', "45292", 4},
                           {"B3", 'n', "1.5", 5},
                           {"A5", 's', "merged"}},
                 .merges = {"A5:B5"},
                 .column_widths = {{1, 20.5}},
                 .image = true,
                 .freeze = true,
                 .local_name = "Local",
                 .print_area = "$A$1:$B$3",
                 .table = "Sales",
                 .highlight = true,
                 .link = "https://example.com/a",
                 .comment = "注释一",
                 .rows_and_columns = true,
                 .printer_settings = true};
  XlsxSheet summary{.name = "Summary",
                    .cells = {{"A1", 'f', "20", 0, "Data!B1*2"},
                              {"A2", 'f', "31.5", 0, "SUM('Data'!B1:B3)"},
                              {"A3", 'f', "17", 0, "LEN(\"Sheet1!A1\")+Sheet1!A2"},
                              {"A4", 'b', "1"},
                              {"A5", 'f', "2", 0, "[1]Other!A1*2"}}};
  XlsxSheet sheet1{.name = "Sheet1", .cells = {{"A1", 's', "alpha"}, {"A2", 'n', "7"}}};
  XlsxSheet chart{.name = "Chart", .chart = true};
  return {.sheets = {data, summary, sheet1, chart},
          .formats = {"0.000"},
          .selected = 1,
          .workbook_name = "Total",
          .external_link = true};
}

XlsxBook BookB() {
  XlsxSheet data{.name = "data",
                 .cells = {{"A1", 's', "beta", 1},
                           {"A2", 'n', "7", 6},
                           {"A3", 'n', "45000", 5},
                           {"A4", 'f', "8", 3, "data!A2+1"},
                           {"B1", 'n', "20"}},
                 .highlight = true};
  XlsxSheet longer{.name = kLong,
                   .cells = {{"A1", 's', "gamma"}, {"A2", 'f', "21", 0, "'data'!A2*3"}}};
  XlsxSheet sales{
      .name = "销售数据",
      .cells = {{"A1", 's', "销售"}, {"B1", 'n', "100"}, {"A2", 'f', "101", 0, "销售数据!B1+1"}}};
  XlsxSheet chinese{.name = kChinese31, .cells = {{"A1", 'i', "长名字"}}};
  return {.sheets = {data, longer, sales, chinese},
          .formats = {"yyyy-mm-dd", "0.000"},
          .fonts_reversed = true,
          .prefixed = true};
}

XlsxBook BookC1904() {
  XlsxSheet longer{.name = kLong,
                   .cells = {{"A1", 'n', "1"},
                             {"B1", 'n', "3"},
                             {"A2", 'n', "40000", 4},
                             {"B2", 'n', "4"},
                             {"A3", 'n', "40000", 5},
                             {"B3", 'n', "5"},
                             {"A4", 'n', "0.5"},
                             {"A5", 'f', "5", 0, "销售数据!B1"}},
                   .local_name = "Local",
                   .comment = "note two",
                   .rows_and_columns = true};
  XlsxSheet sales{.name = "销售数据",
                  .cells = {{"B1", 'n', "5"}, {"B2", 'f', "1", 0, "[1]Other!A1"}}};
  XlsxSheet chinese{.name = kChinese31, .cells = {{"A1", 'n', "1"}}};
  XlsxSheet sheet3{.name = "Sheet3",
                   .cells = {{"A1", 's', "delta", 3}, {"B1", 'f', "1", 0, "COUNTA(Sales[delta])"}},
                   .table = "Sales"};
  XlsxSheet chart{.name = "Chart", .chart = true};
  return {.sheets = {longer, sales, chinese, sheet3, chart},
          .formats = {"yyyy-mm-dd"},
          .date1904 = true,
          .workbook_name = "Total",
          .external_link = true};
}

const std::vector<std::string> kGatheredNames = {"Sheet1",
                                                 "Sheet2",
                                                 "Data",
                                                 "Summary",
                                                 "Sheet1 (2)",
                                                 "Chart",
                                                 "data (2)",
                                                 kLong,
                                                 "销售数据",
                                                 kChinese31,
                                                 "ABCDEFGHIJKLMNOPQRSTUVWXYZ1 (2)",
                                                 "销售数据 (2)",
                                                 kChinese27 + " (2)",
                                                 "Sheet3 (2)",
                                                 "Chart (2)",
                                                 "Sheet3"};

/// Old sheet name -> new, for each of the three sources above; a table and an external link
/// renumbered, as text -> new text.
const std::vector<std::map<std::string, std::string>> kRenames = {
    {{"Sheet1", "Sheet1 (2)"}},
    {{"data", "data (2)"}},
    {{kLong, "ABCDEFGHIJKLMNOPQRSTUVWXYZ1 (2)"},
     {"销售数据", "销售数据 (2)"},
     {kChinese31, kChinese27 + " (2)"},
     {"Sheet3", "Sheet3 (2)"},
     {"Chart", "Chart (2)"}}};
const std::vector<std::map<std::string, std::string>> kTableRenames = {
    {},
    {},
    {{"Sales[", "Sales_2["}, {"table\tSales\t", "table\tSales_2\t"}, {"[1]Other", "[2]Other"}}};

std::string Quote(const std::string& name) { return "'" + name + "'"; }

/// `line` with its references to the renamed sheets and tables written as the gathered
/// workbook has them.
std::string Renamed(std::string line, const std::map<std::string, std::string>& renames,
                    const std::map<std::string, std::string>& tables) {
  for (const auto& [from, to] : tables) {
    if (const size_t at = line.find(from); at != std::string::npos)
      line.replace(at, from.size(), to);
  }
  for (const auto& [from, to] : renames) {
    for (const std::string& ref : {Quote(from) + "!", from + "!"}) {
      for (size_t at = line.find(ref); at != std::string::npos; at = line.find(ref, at + 1)) {
        const unsigned char before = at ? line[at - 1] : ' ';
        if (ref[0] != '\'' &&
            (std::isalnum(before) || before == '\'' || before == '"' || before >= 0x80))
          continue;
        line.replace(at, ref.size(), Quote(to) + "!");
        at += to.size();
      }
    }
  }
  return line;
}

bool PythonReaderMissing() {
  return std::system("/usr/bin/python3 -c 'import openpyxl' >/dev/null 2>&1") != 0;
}

/// What the independent reader sees, one fact a line.
std::vector<std::string> ReadBook(const std::string& path) {
  std::vector<std::string> lines;
  FILE* pipe = popen(
      ("/usr/bin/python3 " QUORVANE_TEST_DIR "/office/read_xlsx.py '" + path + "' 2>/dev/null")
          .c_str(),
      "r");
  if (!pipe) return lines;
  std::string text;
  char buffer[4096];
  while (size_t n = fread(buffer, 1, sizeof buffer, pipe)) text.append(buffer, n);
  pclose(pipe);
  for (size_t start = 0, end; start < text.size(); start = end + 1) {
    end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
  }
  return lines;
}

/// The reader's lines per sheet, in order, and the defined names.
struct Book {
  std::vector<std::string> order;
  std::map<std::string, std::vector<std::string>> sheets;
  std::set<std::string> names;
};

Book Split(const std::vector<std::string>& lines) {
  Book book;
  std::string current;
  for (const std::string& line : lines) {
    if (line.rfind("sheet\t", 0) == 0) {
      current = line.substr(6, line.find('\t', 6) - 6);
      book.order.push_back(current);
      book.sheets[current].push_back(line.substr(line.find('\t', 6)));
    } else if (line.rfind("name\t", 0) == 0) {
      book.names.insert(line);
    } else {
      book.sheets[current].push_back(line);
    }
  }
  return book;
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

/// The part the sheet `name` of the workbook `package` lives in.
std::string SheetPart(const Package& package, const std::string& name) {
  std::string bytes, err;
  pugi::xml_document doc;
  if (!package.Read(package.MainPart(), &bytes, &err) || !ParseXml(bytes, "wb", &doc, &err))
    return "";
  for (pugi::xml_node sheet : doc.child("workbook").child("sheets").children("sheet")) {
    if (name != sheet.attribute("name").value()) continue;
    for (const Relationship& rel : package.Relationships(package.MainPart())) {
      if (rel.id == sheet.attribute("r:id").value())
        return package.Resolve(package.MainPart(), rel);
    }
  }
  return "";
}

/// The bytes of the part `type` leads to from `owner`, following one relationship of each type.
std::string Follow(const Package& package, std::string owner,
                   const std::vector<std::string>& types) {
  for (const std::string& type : types) {
    const Relationship* rel = package.FindRelationship(owner, (reltype::kRoot + type).c_str());
    if (!rel) return "<no " + type + ">";
    owner = package.Resolve(owner, *rel);
  }
  std::string bytes, err;
  package.Read(owner, &bytes, &err);
  return bytes;
}

class ExcelGatherTest : public ::testing::Test {
 protected:
  std::string Write(const std::string& name, const XlsxBook& book) {
    std::string err;
    EXPECT_TRUE(testing::WriteXlsx(SystemFileSystem(), dir / name, book, &err)) << err;
    return dir / name;
  }
  std::vector<std::string> WriteSamples() {
    return {Write("a.xlsx", BookA()), Write("b.xlsx", BookB()), Write("c.xlsx", BookC1904())};
  }
  TempDir dir;
};

TEST_F(ExcelGatherTest, GathersEverySheetBeforeTheLastBlankOneAsTheReaderSeesThem) {
  const std::vector<std::string> sources = WriteSamples();
  std::vector<std::string> before;
  for (const std::string& s : sources) before.push_back(testing::ReadAll(s));
  std::string err;
  ASSERT_TRUE(Gather(SystemFileSystem(), sources, dir / "out.xlsx", &err)) << err;

  EXPECT_EQ(testing::CheckXlsx(dir / "out.xlsx"), std::vector<std::string>{});
  for (size_t i = 0; i < sources.size(); ++i) EXPECT_EQ(testing::ReadAll(sources[i]), before[i]);
  if (PythonReaderMissing()) GTEST_SKIP() << "/usr/bin/python3 with openpyxl is not installed";

  const Book result = Split(ReadBook(dir / "out.xlsx"));
  EXPECT_EQ(result.order, kGatheredNames);
  for (size_t i = 0; i < sources.size(); ++i) {
    const Book source = Split(ReadBook(sources[i]));
    for (const std::string& name : source.order) {
      auto renamed = kRenames[i].find(name);
      const std::string target = renamed == kRenames[i].end() ? name : renamed->second;
      std::vector<std::string> expected;
      for (const std::string& line : source.sheets.at(name))
        expected.push_back(Renamed(line, kRenames[i], kTableRenames[i]));
      EXPECT_EQ(result.sheets.at(target), expected) << "source " << i << ", sheet " << name;
    }
  }
  // Sheet-scoped names follow their sheet; a workbook-wide name taken already becomes a name of
  // each worksheet of the source that brought it again.
  for (const char* name :
       {"name\tLocal\tData\t'Data'!$A$1", "name\tTotal\tworkbook\t'Data'!$A$1",
        "name\tLocal\tABCDEFGHIJKLMNOPQRSTUVWXYZ1 (2)\t'ABCDEFGHIJKLMNOPQRSTUVWXYZ1 (2)'!$A$1",
        "name\tTotal\tSheet3 (2)\t'ABCDEFGHIJKLMNOPQRSTUVWXYZ1 (2)'!$A$1",
        "name\tTotal\t销售数据 (2)\t'ABCDEFGHIJKLMNOPQRSTUVWXYZ1 (2)'!$A$1"}) {
    EXPECT_TRUE(result.names.count(name)) << name;
  }
}

TEST_F(ExcelGatherTest, CarriesPicturesChartSheetsNotesAndStylesOnce) {
  const std::vector<std::string> sources = WriteSamples();
  std::string err;
  ASSERT_TRUE(Gather(SystemFileSystem(), sources, dir / "out.xlsx", &err)) << err;
  auto result = Package::Open(SystemFileSystem(), dir / "out.xlsx", &err);
  ASSERT_TRUE(result) << err;
  std::string bytes;

  EXPECT_EQ(Follow(*result, SheetPart(*result, "Data"), {"drawing", "image"}),
            testing::SamplePng());
  const struct {
    std::string sheet, series;
  } charts[] = {
      {"Chart", "<c:f>'Data'!$B$1:$B$3</c:f>"},
      {"Chart (2)", "<c:f>'ABCDEFGHIJKLMNOPQRSTUVWXYZ1 (2)'!$B$1:$B$3</c:f>"},
  };
  for (const auto& chart : charts) {
    const std::string part = SheetPart(*result, chart.sheet);
    EXPECT_EQ(result->ContentType(part),
              "application/vnd.openxmlformats-officedocument.spreadsheetml.chartsheet+xml");
    EXPECT_NE(Follow(*result, part, {"drawing", "chart"}).find(chart.series), std::string::npos)
        << chart.sheet;
  }
  // Printer settings belong to the machine that printed; they are left behind.
  for (const std::string& part : result->Parts()) {
    EXPECT_EQ(part.find("printerSettings"), std::string::npos);
  }
  ASSERT_TRUE(result->Read(SheetPart(*result, "Data"), &bytes, &err)) << err;
  EXPECT_NE(bytes.find("<pageSetup orientation=\"landscape\"/>"), std::string::npos);

  // Styles are merged by value: the sources' plain and bold fonts and their two custom
  // formats are each held once, beside the workbook's own default font.
  pugi::xml_document styles;
  ASSERT_TRUE(result->Read("/xl/styles.xml", &bytes, &err) && ParseXml(bytes, "s", &styles, &err));
  const pugi::xml_node sheet = styles.child("styleSheet");
  EXPECT_EQ(std::distance(sheet.child("fonts").begin(), sheet.child("fonts").end()), 3);
  EXPECT_EQ(std::distance(sheet.child("numFmts").begin(), sheet.child("numFmts").end()), 2);
  EXPECT_EQ(std::distance(sheet.child("dxfs").begin(), sheet.child("dxfs").end()), 2);

  // Both sources numbered their note shapes from block 1; the workbook needs distinct blocks.
  std::set<std::string> blocks;
  for (const std::string& sheet :
       {std::string("Data"), std::string("ABCDEFGHIJKLMNOPQRSTUVWXYZ1 (2)")}) {
    const std::string vml = Follow(*result, SheetPart(*result, sheet), {"vmlDrawing"});
    const size_t data = vml.find("data=\"");
    ASSERT_NE(data, std::string::npos) << sheet;
    blocks.insert(vml.substr(data, vml.find('"', data + 6) - data));
    EXPECT_NE(vml.find("_x0000_s" + std::to_string(1024 * std::stoi(vml.substr(data + 6)) + 1)),
              std::string::npos)
        << sheet;
  }
  EXPECT_EQ(blocks.size(), 2u);
}

TEST_F(ExcelGatherTest, ASourceSpoiledBeforeTheSaveLeavesTheDestinationAsItWas) {
  const struct {
    const char* what;
    std::function<void(FaultyFileSystem&, const std::string&)> spoil;
  } cases[] = {
      {"vanished", [](FaultyFileSystem&, const std::string& b) { std::remove(b.c_str()); }},
      {"rewritten",
       [](FaultyFileSystem&, const std::string& b) {
         std::string err;
         testing::WriteXlsx(SystemFileSystem(), b, BookA(), &err);
       }},
      {"refused",
       [](FaultyFileSystem& fs, const std::string&) {
         fs.FailWhen(FaultyFileSystem::Op::OpenRead, "b.xlsx", EACCES);
       }},
      {"unreadable",
       [](FaultyFileSystem& fs, const std::string&) {
         fs.FailWhen(FaultyFileSystem::Op::Read, "b.xlsx", EIO, 100);
       }},
  };
  for (const auto& c : cases) {
    TempDir folder;
    std::string err;
    const std::string a = folder / "a.xlsx", b = folder / "b.xlsx";
    ASSERT_TRUE(testing::WriteXlsx(SystemFileSystem(), a, BookA(), &err)) << err;
    ASSERT_TRUE(testing::WriteXlsx(SystemFileSystem(), b, BookB(), &err)) << err;
    folder.Write("out.xlsx", "old");
    FaultyFileSystem fs(SystemFileSystem());
    EXPECT_FALSE(Gather(fs, {a, b}, folder / "out.xlsx", &err, [&] { c.spoil(fs, b); })) << c.what;
    EXPECT_NE(err.find("b.xlsx"), std::string::npos) << c.what << ": " << err;
    EXPECT_EQ(testing::ReadAll(folder / "out.xlsx"), "old") << c.what;
    std::vector<std::string> names;
    SystemFileSystem().ListEntries(folder.path(), &names, &err);
    EXPECT_LE(names.size(), 3u) << c.what << ": a temporary file was left";
    EXPECT_EQ(fs.open_files, 0) << c.what;
  }
}

TEST_F(ExcelGatherTest, RefusesPackagesThatHoldNoSheetsAndKeepsNothingOfThem) {
  const std::string main_type =
      "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml";
  const struct {
    const char* name;
    std::string part, xml, why;
  } cases[] = {
      {"word.xlsx", "/word/document.xml",
       "<w:document xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\"/>",
       "缺少工作簿部件"},
      {"empty.xlsx", "/xl/workbook.xml",
       "<workbook "
       "xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><sheets/></workbook>",
       "没有工作表"},
  };
  for (const auto& c : cases) {
    PackageWriter w;
    w.SetPart(c.part, c.xml, main_type);
    w.AddRelationship("/", reltype::kOfficeDocument, c.part);
    std::string err;
    ASSERT_TRUE(w.Save(SystemFileSystem(), dir / c.name, &err)) << err;
    ExcelGather gather(SystemFileSystem());
    auto package = Package::Open(SystemFileSystem(), dir / c.name, &err);
    ASSERT_TRUE(package) << err;
    EXPECT_FALSE(gather.Add(*package, dir / c.name, &err));
    EXPECT_EQ(err, "无法读取文件“" + dir / c.name + "”：不是有效的 Excel 工作簿（" + c.why + "）");
    auto good = Package::Open(SystemFileSystem(), Write("a.xlsx", BookA()), &err);
    ASSERT_TRUE(good && gather.Add(*good, dir / "a.xlsx", &err)) << err;
    ASSERT_TRUE(gather.Save(dir / "out.xlsx", &err)) << err;
    EXPECT_EQ(testing::CheckXlsx(dir / "out.xlsx"), std::vector<std::string>{}) << c.name;
  }
}

TEST_F(ExcelGatherTest, LibreOfficeConvertsTheGatheredWorkbook) {
  if (std::system("test -x /usr/bin/soffice && command -v pdftotext >/dev/null") != 0) {
    GTEST_SKIP() << "LibreOffice (/usr/bin/soffice) or pdftotext is not installed";
  }
  std::string err;
  ASSERT_TRUE(Gather(SystemFileSystem(), WriteSamples(), dir / "out.xlsx", &err)) << err;
  const std::string command = "cd '" + dir.path() +
                              "' && timeout 180 /usr/bin/soffice --headless "
                              "-env:UserInstallation=file://" +
                              dir.path() +
                              "/profile --convert-to pdf "
                              "--outdir '" +
                              dir.path() +
                              "' out.xlsx >/dev/null 2>&1 && pdftotext out.pdf out.txt";
  ASSERT_EQ(std::system(command.c_str()), 0);
  const std::string text = testing::ReadAll(dir / "out.txt");
  for (const char* expected : {"alpha", "inline", "beta", "gamma", "delta"}) {
    EXPECT_NE(text.find(expected), std::string::npos) << expected;
  }
}

TEST_F(ExcelGatherTest, GathersAHundredLargeWorkbooksInAFewSeconds) {
  XlsxBook book{.sheets = {testing::LargeSheet("Data", 5000), testing::LargeSheet("Calc", 5000)}};
  book.sheets[1].cells[0] = {"A1", 'f', "1", 0, "Data!A1"};
  std::vector<std::string> sources = {Write("big0.xlsx", book)};
  std::string err;
  for (int i = 1; i < 100; ++i) {
    sources.push_back(dir / ("big" + std::to_string(i) + ".xlsx"));
    ASSERT_TRUE(SystemFileSystem().CopyFile(sources[0], sources.back(), &err)) << err;
  }
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(Gather(SystemFileSystem(), sources, dir / "out.xlsx", &err)) << err;
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("100 workbooks x 2 sheets x 5000 rows gathered in %.2f s\n", seconds);
  EXPECT_LT(seconds, 20.0);

  EXPECT_EQ(testing::CheckXlsx(dir / "out.xlsx"), std::vector<std::string>{});
  auto result = Package::Open(SystemFileSystem(), dir / "out.xlsx", &err);
  ASSERT_TRUE(result) << err;
  pugi::xml_document sheet, strings;
  std::string bytes;
  ASSERT_TRUE(result->Read(SheetPart(*result, "Calc (100)"), &bytes, &err)) << err;
  ASSERT_TRUE(ParseXml(bytes, "sheet", &sheet, &err)) << err;
  ASSERT_TRUE(result->Read("/xl/sharedStrings.xml", &bytes, &err)) << err;
  ASSERT_TRUE(ParseXml(bytes, "sst", &strings, &err)) << err;
  std::vector<std::string> texts;
  for (pugi::xml_node si : strings.child("sst").children("si"))
    texts.push_back(si.child("t").text().get());
  pugi::xml_node row =
      sheet.child("worksheet").child("sheetData").find_child_by_attribute("row", "r", "7");
  const size_t index = row.find_child_by_attribute("c", "r", "B7").child("v").text().as_uint();
  ASSERT_LT(index, texts.size());
  EXPECT_EQ(texts[index], "text 7");
  EXPECT_EQ(
      sheet.child("worksheet").child("sheetData").child("row").child("c").child("f").text().get(),
      std::string("'Data (100)'!A1"));
}

}  // namespace
}  // namespace quorvane::office
