#pragma once

#include <functional>
#include <string>

#include "common/filesystem.h"
#include "common/names.h"
#include "office/converter.h"

namespace quorvane::office {

enum class DocumentKind { Word, Excel };

/// What an office merge tells its caller as it goes.
struct MergeProgress {
  std::function<void(long long done, long long total)> source_done;  // after each source
  std::function<void()> saving;                                      // before the save
  /// A stop request ended the merge after `done` sources; the destination is as it was.
  std::function<void(long long done)> stopped;
};

/// False, with `err` naming the file and the package to install, when `destination` is in
/// the legacy format of `kind` (.doc, .xls), which only the converter writes, and the
/// converter is not installed.
bool CheckDestination(Converter& converter, DocumentKind kind, const std::string& destination,
                      std::string* err);

/// Merges the documents `folder` + each of `names`, in order, into `destination`: Word
/// documents joined into one, or the sheets of workbooks gathered into one. Every source is
/// opened and checked first, and a source the engine cannot take (encrypted, Strict, damaged,
/// not an Office document, or a legacy format without the converter) is refused with a
/// message naming it before anything is written. The destination is replaced only by a
/// complete result; a failure leaves it as it was. A stop request (StopAskedOnThisThread) is
/// read between sources and before the save, and ends a conversion in progress.
bool MergeDocuments(FileSystem& fs, Converter& converter, DocumentKind kind,
                    const std::string& folder, const Names& names,
                    const std::string& destination, const MergeProgress& progress,
                    std::string* err);

}  // namespace quorvane::office
