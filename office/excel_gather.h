#pragma once

#include <memory>
#include <string>

#include "common/filesystem.h"
#include "office/package.h"

namespace quorvane::office {

/// Gathers the sheets of many workbooks into a new one. The new workbook starts with the
/// blank worksheets Sheet1, Sheet2 and Sheet3; every sheet of every source (chart sheets
/// too), in source order and sheet order, goes just before the last blank one, so the result
/// reads Sheet1, Sheet2, the sources' sheets, Sheet3. The sources are only read.
class ExcelGather {
 public:
  /// `fs` reads the sources again while the result is saved, so their large sheets are never
  /// all held at once.
  explicit ExcelGather(FileSystem& fs);
  ~ExcelGather();
  ExcelGather(const ExcelGather&) = delete;
  ExcelGather& operator=(const ExcelGather&) = delete;

  /// Adds every sheet of `source`, the package opened from the file `path`.
  bool Add(const Package& source, const std::string& path, std::string* err);
  /// Saves the workbook to `path` as .xlsx, replacing what is there only once the whole
  /// package is written. A source that changed or vanished since Add fails the save.
  bool Save(const std::string& path, std::string* err);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace quorvane::office
