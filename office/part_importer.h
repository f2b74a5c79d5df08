#pragma once

#include <map>
#include <memory>
#include <set>
#include <string>

#include "common/filesystem.h"
#include "office/package.h"
#include "office/package_writer.h"

namespace quorvane::office {

/// Copies parts of one source package into a writer, each with everything it reaches, under
/// new unique names. One importer serves one source: a part reached twice is copied once.
class PartImporter {
 public:
  PartImporter(const Package& source, PackageWriter& target) : source_(source), target_(target) {}

  /// Copies the source part `part` and, recursively, every part its relationships reach,
  /// each under a free name near its own, keeping its content type; the copy's own
  /// relationships keep their ids and point at the copies. Media (images and other binary
  /// parts) whose bytes equal a part already in the target are not stored twice. Gives the
  /// new name, or empty with `err`.
  std::string CopyPart(const std::string& part, std::string* err);

  /// Gives the target part `target_owner` a relationship for each relationship of the source
  /// part `source_owner` whose id is in `ids` (every one when `ids` is null): external ones
  /// as they are, internal ones to a copy made by CopyPart. Fills `id_map` (old id -> new id).
  bool ImportRelationships(const std::string& source_owner, const std::string& target_owner,
                           const std::set<std::string>* ids,
                           std::map<std::string, std::string>* id_map, std::string* err);

  /// Media copied from now on are not held: they are read again from the package file `path`
  /// when the target is saved, and the save fails if one has changed meanwhile.
  void ReadMediaLater(FileSystem& fs, const std::string& path);

  /// Parts that must never be copied through a relationship (a target package's own
  /// styles or settings, say): matching relationship types are skipped by
  /// ImportRelationships and by CopyPart's walk.
  std::set<std::string> skipped_types;

 private:
  struct LaterSource;
  const Package& source_;
  PackageWriter& target_;
  std::map<std::string, std::string> copied_;  // lower-case source part -> target part
  std::shared_ptr<LaterSource> later_;
};

}  // namespace quorvane::office
