#pragma once

#include <memory>
#include <string>

#include "common/filesystem.h"
#include "office/package.h"

namespace quorvane::office {

/// Joins Word documents into one. The first document is the base: its styles, theme,
/// settings, headers, footers and page setup. Every further document follows in a section of
/// its own that begins on a new page and keeps that document's page setup, with no empty page
/// between two documents. The sources are only read.
class WordJoin {
 public:
  WordJoin();
  ~WordJoin();
  WordJoin(const WordJoin&) = delete;
  WordJoin& operator=(const WordJoin&) = delete;

  /// Takes the first document as the base.
  bool Start(const Package& base, std::string* err);
  /// Appends `source` after everything joined so far.
  bool Append(const Package& source, std::string* err);
  /// The same for a source opened from the file `path`: its pictures are not held but read
  /// again from the file when the result is saved.
  bool Append(const Package& source, FileSystem& fs, const std::string& path, std::string* err);
  /// Saves the joined document to `path` (a plain .docx whatever the sources were), replacing
  /// what is there only once the whole package is written.
  bool Save(FileSystem& fs, const std::string& path, std::string* err);

 private:
  bool Append(const Package& source, FileSystem* fs, const std::string& path, std::string* err);
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace quorvane::office
