#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "common/filesystem.h"
#include "office/package.h"

namespace quorvane::office {

/// Writes part of a package in pieces when the package is saved: each call gives the next
/// piece in `piece` and sets `done` after the last; false with `err` ends the save.
using PartProducer = std::function<bool(std::string* piece, bool* done, std::string* err)>;

/// A package being put together: parts with their content types and relationships, saved
/// in one go. A part's bytes may be given now or produced when the package is written, so
/// large parts need never be held all at once.
class PackageWriter {
 public:
  PackageWriter();
  ~PackageWriter();
  PackageWriter(const PackageWriter&) = delete;
  PackageWriter& operator=(const PackageWriter&) = delete;

  /// Sets the bytes and content type of `part`, adding it or replacing what it held.
  void SetPart(const std::string& part, std::string bytes, const std::string& content_type);
  /// The same with the bytes produced when the package is saved.
  void SetProducedPart(const std::string& part, PartProducer producer,
                       const std::string& content_type);
  /// The same for a large part that is cheap to produce again: `make` gives a fresh producer
  /// each time. The part is produced once to learn its size and once more while it is
  /// stored, so it is never held whole.
  void SetStreamedPart(const std::string& part, std::function<PartProducer()> make,
                       const std::string& content_type);
  /// The bytes of a part set with SetPart; null for a produced or missing part.
  const std::string* Bytes(const std::string& part) const;
  bool Has(const std::string& part) const;
  void RemovePart(const std::string& part);
  /// Every part name, in the order added.
  std::vector<std::string> Parts() const;
  std::string ContentType(const std::string& part) const;

  /// One part; defined in office/produced_parts.h, beside the save that produces it.
  struct Entry;

  /// `wanted` when no part has that name (letter case aside), else the first free name with a
  /// number before the extension: "/word/media/image1.png" -> "/word/media/image2.png".
  std::string FreePartName(const std::string& wanted) const;

  /// The relationships of `part` ("/" for the package's own), to read or change.
  std::vector<Relationship>& Relationships(const std::string& part);
  /// Adds a relationship from `owner` to the part `target_part` (absolute; written relative
  /// to the owner's folder) and gives its id, new within the owner.
  std::string AddRelationship(const std::string& owner, const std::string& type,
                              const std::string& target_part);
  /// Adds an external relationship (a web address, a linked file) and gives its id.
  std::string AddExternalRelationship(const std::string& owner, const std::string& type,
                                      const std::string& target);

  /// Saves the package to `path` through `fs`: [Content_Types].xml first, then the parts and
  /// the relationship parts. It is written under a temporary name beside `path` and renamed
  /// over it only once complete, so a failure, or anything a part's producer throws, leaves
  /// whatever was at `path` as it was and nothing else behind.
  bool Save(FileSystem& fs, const std::string& path, std::string* err);

 private:
  bool SaveArchive(FileSystem& fs, const std::string& path, std::string* err);

  struct OwnedRelationships {
    std::string owner;
    std::vector<Relationship> list;
  };
  std::vector<std::unique_ptr<Entry>> entries_;
  std::map<std::string, size_t> index_;  // lower-case part name -> entry
  std::map<std::string, OwnedRelationships> relationships_;  // lower-case owner
  std::map<std::string, std::string> media_by_digest_;  // identical media stored once
  friend class PartImporter;
};

}  // namespace quorvane::office
