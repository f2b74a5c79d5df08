// TEMP stand-in for WordJoin and ExcelGather until the engine lands: the base document alone,
// a workbook of one blank sheet. Dropped when the real classes are merged.
#include "office/excel_gather.h"
#include "office/word_join.h"

namespace quorvane::office {

struct WordJoin::State {
  std::string document;
};
WordJoin::WordJoin() : state_(std::make_unique<State>()) {}
WordJoin::~WordJoin() = default;
bool WordJoin::Start(const Package& base, std::string* err) {
  return base.Read(base.MainPart(), &state_->document, err);
}
bool WordJoin::Append(const Package&, std::string*) { return true; }
bool WordJoin::Save(FileSystem& fs, const std::string& path, std::string* err) {
  PackageWriter w;
  w.SetPart("/word/document.xml", state_->document,
            "application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml");
  w.AddRelationship("/", reltype::kOfficeDocument, "/word/document.xml");
  return w.Save(fs, path, err);
}

struct ExcelGather::State {
  FileSystem* fs;
};
ExcelGather::ExcelGather(FileSystem& fs) : state_(std::make_unique<State>(State{&fs})) {}
ExcelGather::~ExcelGather() = default;
bool ExcelGather::Add(const Package&, const std::string&, std::string*) { return true; }
bool ExcelGather::Save(const std::string& path, std::string* err) {
  PackageWriter w;
  w.SetPart("/xl/workbook.xml",
            "<workbook xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
            "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\">"
            "<sheets><sheet name=\"Sheet1\" sheetId=\"1\" r:id=\"rId1\"/></sheets></workbook>",
            "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml");
  w.SetPart("/xl/worksheets/sheet1.xml",
            "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"
            "<sheetData/></worksheet>",
            "application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml");
  w.AddRelationship("/", reltype::kOfficeDocument, "/xl/workbook.xml");
  w.AddRelationship("/xl/workbook.xml", std::string(reltype::kRoot) + "worksheet",
                    "/xl/worksheets/sheet1.xml");
  return w.Save(*state_->fs, path, err);
}

}  // namespace quorvane::office
