#pragma once

#include <string>

namespace quorvane::office {

/// An outside converter between document formats (LibreOffice's headless soffice), used for
/// the formats the engine does not read or write itself: .doc, .xls, .rtf, .odt, .ods.
class Converter {
 public:
  virtual ~Converter() = default;
  /// True when the converter is installed.
  virtual bool Available() = 0;
  /// Converts the file `source` to the format named by the extension `format` ("docx",
  /// "xlsx", "doc", "xls") into the folder `out_folder`, and gives the produced file's path.
  /// Each conversion runs with a profile of its own under `out_folder` and a time limit; a
  /// conversion that overruns, or that a stop request of the calling thread's run
  /// (StopAskedOnThisThread) overtakes, is ended. False with `err` naming the file.
  virtual bool Convert(const std::string& source, const std::string& format,
                       const std::string& out_folder, std::string* produced,
                       std::string* err) = 0;
};

/// The converter of the machine: soffice from the PATH.
Converter& SystemConverter();

}  // namespace quorvane::office
