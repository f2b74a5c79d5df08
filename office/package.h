#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "common/filesystem.h"
#include "office/limits.h"

namespace quorvane::office {

/// Relationship types the engine looks for.
namespace reltype {
inline constexpr const char* kOfficeDocument =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument";
inline constexpr const char* kRoot = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";
}  // namespace reltype

/// One relationship of a part, as its .rels file holds it.
struct Relationship {
  std::string id;      // "rId5"
  std::string type;    // the full type URI
  std::string target;  // as written: relative to the owner's folder, "/"-absolute, or a URI
  bool external = false;
};

/// An Office Open XML package opened for reading. Part names are absolute ("/word/document.xml")
/// and compared without regard to letter case, as the package rules require.
///
/// What the reader leaves out, so that nothing it gives can lead outside the package: an
/// entry that [Content_Types].xml gives no type and no relationship reaches, and an internal
/// relationship whose target is not in the package (Verify refuses the package when its
/// owner uses that relationship's id).
class Package {
 public:
  /// Reads the whole file `path` through `fs` and opens it as a package. Fails, with a
  /// message naming the file, when it cannot be read, is not a zip, has no
  /// [Content_Types].xml, or has no main part (the package's officeDocument relationship).
  static std::unique_ptr<Package> Open(FileSystem& fs, const std::string& path, std::string* err);
  /// The same over bytes already in memory; `name` is the file named in messages. Sets
  /// `damaged`, when given, for a zip package that is refused for what it holds (two entries
  /// of one name, a relationship part or [Content_Types].xml that is not well-formed, a part
  /// that a relationship reaches without a content type, a limit passed) rather than for
  /// not being a package at all.
  static std::unique_ptr<Package> FromBytes(std::string bytes, const std::string& name,
                                            std::string* err, bool* damaged = nullptr,
                                            const limits::Limits& limits = {});
  ~Package();
  Package(const Package&) = delete;
  Package& operator=(const Package&) = delete;

  /// The file the package came from, for messages.
  const std::string& Name() const { return name_; }
  /// The main part, such as "/word/document.xml" or "/xl/workbook.xml".
  const std::string& MainPart() const { return main_part_; }
  /// True for a Strict package (its main relationship in the purl.oclc.org namespaces), which
  /// the engine does not merge.
  bool Strict() const { return strict_; }
  bool Has(const std::string& part) const;
  /// Every part name, relationship parts and [Content_Types].xml left out, in zip order.
  std::vector<std::string> Parts() const;
  /// The bytes of `part`; false with `err` when it is missing, cannot be inflated, fails its
  /// checksum, or passes a limit of office/limits.h.
  bool Read(const std::string& part, std::string* bytes, std::string* err) const;
  /// Reads every part to its end, checking each one's checksum and the limits, and parses
  /// every XML part (well-formed, nested no deeper than the limit); refuses a relationship
  /// left out for a missing target that its owner uses. False with `err` naming the file and
  /// the part.
  bool Verify(std::string* err) const;
  /// The namespace URI of the main part's root element; known once Verify has passed.
  const std::string& MainNamespace() const { return main_namespace_; }
  /// The content type of `part`: its Override, else the Default for its extension; empty
  /// when neither covers it.
  std::string ContentType(const std::string& part) const;
  /// The relationships of `part`, "/" for the package's own; empty when it has none.
  const std::vector<Relationship>& Relationships(const std::string& part) const;
  /// The first relationship of `part` with type `type`, or null.
  const Relationship* FindRelationship(const std::string& part, const std::string& type) const;
  /// The absolute part name that `rel` of `owner` targets (relative to the owner's folder,
  /// "/"-absolute, percent-encoded); empty for an external relationship.
  std::string Resolve(const std::string& owner, const Relationship& rel) const;

 private:
  Package() = default;
  struct Archive;
  std::unique_ptr<Archive> archive_;
  std::string name_;
  std::string main_part_;
  bool strict_ = false;
  std::map<std::string, std::string> defaults_;   // extension (lower case) -> content type
  std::map<std::string, std::string> overrides_;  // part name (lower case) -> content type
  std::map<std::string, std::vector<Relationship>> relationships_;  // lower-case owner
  struct Dangling {
    std::string owner;
    Relationship rel;
    bool outside;  // the target leads out of the package rather than to a missing part
  };
  std::vector<Dangling> dangling_;  // internal relationships left out
  limits::Limits limits_;
  mutable std::string main_namespace_;
};

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
