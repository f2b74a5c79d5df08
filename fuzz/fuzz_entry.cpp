#include "fuzz/fuzz_entry.h"

#include <stdlib.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>

#include "common/filesystem.h"
#include "office/converter.h"
#include "office/office_merge.h"
#include "office/package.h"
#include "office/xml.h"
#include "support/docx_samples.h"
#include "support/xlsx_samples.h"

namespace quorvane::fuzzing {
namespace {

using office::DocumentKind;
using office::Package;

// No converter: an input is always taken as the format its name says.
class NoConverter final : public office::Converter {
 public:
  bool Available() override { return false; }
  bool Convert(const std::string&, const std::string&, const std::string&, std::string*,
               std::string* err) override {
    *err = "no converter";
    return false;
  }
};

testing::DocxSample BaseDocument() {
  return {.paragraphs = {"基础文档"}, .image = true, .header_footer = true};
}

testing::DocxSample TailDocument() {
  return {.paragraphs = {"末尾文档"}, .heading = "末尾", .table = true, .footnote = true};
}

testing::XlsxBook FirstBook() {
  return {.sheets = {{.name = "First",
                      .cells = {{"A1", 's', "first", 1}, {"A2", 'n', "2", 5}},
                      .table = "Fixed"}},
          .formats = {"0.00"}};
}

testing::XlsxBook LastBook() {
  return {.sheets = {{.name = "Last",
                      .cells = {{"A1", 'f', "4", 0, "First!A2*2"}, {"B1", 'i', "last", 2}},
                      .image = true}}};
}

// A folder of the process's own under the temporary-files folder, holding the fixed
// documents the inputs are merged with, removed when the process ends normally.
class Workspace {
 public:
  static Workspace& Get() {
    static Workspace workspace;
    return workspace;
  }
  ~Workspace() {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }

  // Folder path ending in a separator.
  const std::string& folder() const { return folder_; }

  // Writes `bytes` to the file `name` in the folder.
  void Put(const std::string& name, std::string_view bytes) const {
    std::ofstream out(folder_ + name, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out.flush()) throw std::runtime_error("cannot write " + folder_ + name);
  }

 private:
  Workspace() {
    std::string pattern = (std::filesystem::temp_directory_path() / "quorvane-fuzz-XXXXXX").native();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    folder_ = pattern + "/";
    std::string err;
    FileSystem& fs = SystemFileSystem();
    if (!testing::WriteDocx(BaseDocument(), folder_ + "base.docx", &err) ||
        !testing::WriteDocx(TailDocument(), folder_ + "tail.docx", &err) ||
        !testing::WriteXlsx(fs, folder_ + "first.xlsx", FirstBook(), &err) ||
        !testing::WriteXlsx(fs, folder_ + "last.xlsx", LastBook(), &err))
      throw std::runtime_error("cannot write the fixed documents: " + err);
  }

  std::string folder_;
};

// Reads every part of `package` the way the joiners do; false with `detail` at the first
// XML part that does not parse.
bool ReadEveryPart(const Package& package, std::string* detail) {
  std::vector<std::string> owners = package.Parts();
  owners.push_back("/");
  for (const std::string& part : owners) {
    for (const office::Relationship& rel : package.Relationships(part)) {
      const std::string target = package.Resolve(part, rel);
      if (!target.empty()) package.Has(target);
    }
    if (part == "/") continue;
    std::string bytes, err;
    if (!package.Read(part, &bytes, &err)) {
      *detail = err;
      return false;
    }
    // VML drawings are carried as they are: office suites write them not always well-formed.
    if (!package.IsXmlPart(part) || part.ends_with(".vml")) continue;
    pugi::xml_document doc;
    if (!office::ParseXml(bytes, part, &doc, &err)) {
      *detail = err;
      return false;
    }
    office::RelationshipIdsUsed(doc.document_element());
  }
  return true;
}

// Merges the files `names` of the workspace into `result` and reads the result back.
Outcome Merge(DocumentKind kind, const Names& names, const std::string& result,
              std::string* detail) {
  Workspace& workspace = Workspace::Get();
  const std::string destination = workspace.folder() + result;
  std::error_code ignored;
  std::filesystem::remove(destination, ignored);
  NoConverter converter;
  FileSystem& fs = SystemFileSystem();
  if (!office::MergeDocuments(fs, converter, kind, workspace.folder(), names, destination, {},
                              detail))
    return Outcome::Refused;
  std::string err;
  auto package = Package::Open(fs, destination, &err);
  if (!package) {
    *detail = "the result does not open: " + err;
    return Outcome::ResultUnreadable;
  }
  if (!ReadEveryPart(*package, &err)) {
    *detail = "the result does not read: " + err;
    return Outcome::ResultUnreadable;
  }
  return Outcome::Accepted;
}

Outcome Worse(Outcome a, Outcome b) {
  if (a == Outcome::ResultUnreadable || b == Outcome::ResultUnreadable)
    return Outcome::ResultUnreadable;
  return a == Outcome::Accepted || b == Outcome::Accepted ? Outcome::Accepted : Outcome::Refused;
}

}  // namespace

const char* OutcomeName(Outcome outcome) {
  switch (outcome) {
    case Outcome::Refused: return "refused";
    case Outcome::Accepted: return "accepted";
    case Outcome::ResultUnreadable: return "result unreadable";
  }
  return "?";
}

Outcome ReadPackage(std::string_view bytes, std::string* detail) {
  auto package = Package::FromBytes(std::string(bytes), "input.docx", detail);
  if (!package) return Outcome::Refused;
  package->Strict();
  package->ContentType(package->MainPart());
  return ReadEveryPart(*package, detail) ? Outcome::Accepted : Outcome::Refused;
}

Outcome JoinWord(std::string_view bytes, std::string* detail) {
  Workspace& workspace = Workspace::Get();
  workspace.Put("input.docx", bytes);
  std::string appended, based;
  const Outcome after = Merge(DocumentKind::Word, {"base.docx", "input.docx"}, "after.docx", &appended);
  const Outcome before = Merge(DocumentKind::Word, {"input.docx", "tail.docx"}, "before.docx", &based);
  *detail = "appended: " + appended + "; as the base: " + based;
  return Worse(after, before);
}

Outcome GatherExcel(std::string_view bytes, std::string* detail) {
  Workspace& workspace = Workspace::Get();
  workspace.Put("input.xlsx", bytes);
  return Merge(DocumentKind::Excel, {"first.xlsx", "input.xlsx", "last.xlsx"}, "gathered.xlsx",
               detail);
}

bool WriteSeeds(const std::string& folder, std::string* err) {
  std::error_code ec;
  for (const char* sub : {"/word", "/excel"}) {
    std::filesystem::create_directories(folder + sub, ec);
    if (ec) {
      *err = "cannot create " + folder + sub + ": " + ec.message();
      return false;
    }
  }
  const testing::DocxSample documents[] = {
      BaseDocument(),
      TailDocument(),
      {.paragraphs = {"一", "二"}, .heading = "标题", .image = true, .table = true, .lists = true},
      {.paragraphs = {"三"}, .footnote = true, .comment = true, .header_footer = true,
       .hyperlink = true, .bookmark = true},
      {.paragraphs = {"四"}, .note_style_name = "Note", .landscape = true, .macros = true},
  };
  int n = 0;
  for (const auto& document : documents)
    if (!testing::WriteDocx(document, folder + "/word/seed" + std::to_string(++n) + ".docx", err))
      return false;
  testing::XlsxSheet data{.name = "Data",
                          .cells = {{"A1", 's', "alpha", 1}, {"B1", 'n', "10"},
                                    {"A2", 'i', "inline", 2}, {"B2", 'n', "20", 3},
                                    {"A3", 'n', "45292", 4}, {"B3", 'n', "1.5", 5},
                                    {"A5", 's', "merged"}},
                          .merges = {"A5:B5"}, .column_widths = {{1, 20.5}}, .image = true,
                          .freeze = true, .table = "Sales", .highlight = true,
                          .link = "https://example.com/a", .comment = "注释",
                          .rows_and_columns = true, .printer_settings = true};
  testing::XlsxSheet summary{.name = "Summary",
                             .cells = {{"A1", 'f', "20", 0, "Data!B1*2"},
                                       {"A2", 'f', "31.5", 0, "SUM('Data'!B1:B3)"},
                                       {"A3", 'f', "2", 0, "[1]Other!A1*2"}, {"A4", 'b', "1"}}};
  const testing::XlsxBook books[] = {
      FirstBook(),
      LastBook(),
      {.sheets = {data, summary, {.name = "Chart", .chart = true}},
       .formats = {"0.000"}, .selected = 1,
       .names = {{"Local", 0, "'Data'!$A$1"}, {"Total", -1, "'Data'!$A$1"}},
       .external_link = true},
      {.sheets = {{.name = "x", .cells = {{"A1", 'n', "7", 6}, {"A2", 'f', "8", 3, "x!A1+1"}}}},
       .formats = {"0.0", "yyyy-mm-dd"}, .fonts_reversed = true, .date1904 = true,
       .prefixed = true},
  };
  n = 0;
  for (const auto& book : books)
    if (!testing::WriteXlsx(SystemFileSystem(), folder + "/excel/seed" + std::to_string(++n) + ".xlsx",
                            book, err))
      return false;
  return true;
}

int FuzzOne(Outcome (*entry)(std::string_view, std::string*), const uint8_t* data, size_t size) {
  static const bool allow_unreadable = std::getenv("QUORVANE_FUZZ_ALLOW_UNREADABLE") != nullptr;
  std::string detail;
  const Outcome outcome = entry(std::string_view(reinterpret_cast<const char*>(data), size), &detail);
  if (outcome == Outcome::ResultUnreadable && !allow_unreadable) {
    std::fprintf(stderr, "%s\n", detail.c_str());
    std::abort();
  }
  return 0;
}

}  // namespace quorvane::fuzzing
