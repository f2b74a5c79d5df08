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

/// Whether `content_type` names an XML part ("...+xml", "application/xml").
bool IsXmlType(const std::string& content_type);

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
  /// Whether the reader takes `part` as XML, and so checks it: an XML content type, a
  /// relationship part, or a name ending in .xml whatever its type.
  bool IsXmlPart(const std::string& part) const;
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

}  // namespace quorvane::office
