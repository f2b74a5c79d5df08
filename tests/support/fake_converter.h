#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "office/converter.h"

namespace quorvane::testing {

/// Stands in for LibreOffice: a legacy file "converts" to a copy of `docx`, and a result to a
/// copy of itself under the legacy name. Records each call as "source format folder".
struct FakeConverter final : office::Converter {
  bool available = true, fail = false;
  std::string docx;
  std::vector<std::string> calls;

  bool Available() override { return available; }
  bool Convert(const std::string& source, const std::string& format,
               const std::string& out_folder, std::string* produced, std::string* err) override {
    calls.push_back(source + " " + format + " " + out_folder);
    if (fail) *err = "无法转换文件“" + source + "”";
    *produced = out_folder + "/" + std::filesystem::path(source).stem().native() + "." + format;
    return !fail && std::filesystem::copy_file(format == "docx" ? docx : source, *produced);
  }
};

}  // namespace quorvane::testing
