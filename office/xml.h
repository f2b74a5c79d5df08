#pragma once

#include <map>
#include <pugixml.hpp>
#include <set>
#include <string>
#include <string_view>

namespace quorvane::office {

/// The namespaces the engine reads and writes, by their URIs.
namespace ns {
inline constexpr const char* kWord = "http://schemas.openxmlformats.org/wordprocessingml/2006/main";
inline constexpr const char* kSheet = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
inline constexpr const char* kRel =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
inline constexpr const char* kPackageRel =
    "http://schemas.openxmlformats.org/package/2006/relationships";
inline constexpr const char* kContentTypes =
    "http://schemas.openxmlformats.org/package/2006/content-types";
inline constexpr const char* kDrawing = "http://schemas.openxmlformats.org/drawingml/2006/main";
inline constexpr const char* kWordDrawing =
    "http://schemas.openxmlformats.org/drawingml/2006/wordprocessingDrawing";
inline constexpr const char* kPicture = "http://schemas.openxmlformats.org/drawingml/2006/picture";
inline constexpr const char* kMarkup =
    "http://schemas.openxmlformats.org/markup-compatibility/2006";
inline constexpr const char* kVml = "urn:schemas-microsoft-com:vml";
inline constexpr const char* kOffice = "urn:schemas-microsoft-com:office:office";
inline constexpr const char* kWord2010 = "http://schemas.microsoft.com/office/word/2010/wordml";
/// Strict documents use namespaces under this root; the engine refuses them.
inline constexpr const char* kStrictRoot = "http://purl.oclc.org/ooxml/";
}  // namespace ns

/// Parses the XML part `part` from `bytes`, keeping blank text (a run holding one space)
/// and the declaration. Then every element and attribute name is rewritten to the engine's
/// own prefix for its namespace (w:, r:, wp:, a:, pic:, mc:, v:, o:, w14:, and no prefix
/// for SpreadsheetML and the package namespaces), whatever prefix its producer chose, with
/// the declarations on the root and the prefix lists of mc:Ignorable and mc:Choice/@Requires
/// following. Code may then match names such as "w:p" literally. Namespaces the engine does
/// not know keep their prefixes; a clash with one of ours is resolved by renaming theirs.
/// False with `err` (naming `part`) when the bytes are not well-formed or nest elements
/// deeper than limits::kMaxXmlDepth, which every walk over the tree may then rely on. Throws
/// std::bad_alloc when memory runs out.
bool ParseXml(std::string_view bytes, const std::string& part, pugi::xml_document* doc,
              std::string* err);

/// The deepest nesting of elements in `doc`, the root element at 1; counted with a stack of
/// its own, so any depth of input is safe to give.
int ElementDepth(const pugi::xml_document& doc);

/// Appends what pugixml writes to a string.
class StringWriter final : public pugi::xml_writer {
 public:
  explicit StringWriter(std::string* out) : out_(out) {}
  void write(const void* data, size_t size) override {
    out_->append(static_cast<const char*>(data), size);
  }

 private:
  std::string* out_;
};

/// The document as bytes, as written: no indentation added, declaration kept.
std::string SaveXml(const pugi::xml_document& doc);

/// `text` with & < > escaped, and " too when it goes into an attribute value.
std::string EscapeXml(std::string_view text, bool attribute);

/// The namespace URI bound to `prefix` ("" for the default) at `node`, looking up through its
/// ancestors; empty when none is bound.
std::string NamespaceOf(pugi::xml_node node, std::string_view prefix);

/// True when any element or attribute of `doc` is in a Strict namespace.
bool UsesStrictNamespaces(const pugi::xml_document& doc);

/// Calls `visit` on `top` and every element below it, in document order. `visit` may change
/// the element it is given but not remove it.
template <typename Visit>
void ForEachElement(pugi::xml_node top, Visit&& visit) {
  pugi::xml_node node = top;
  while (node) {
    if (node.type() == pugi::node_element) visit(node);
    // Depth first without recursion: down, else along, else up and along.
    if (pugi::xml_node child = node.first_child()) {
      node = child;
      continue;
    }
    while (node && node != top && !node.next_sibling()) node = node.parent();
    if (!node || node == top) break;
    node = node.next_sibling();
  }
}

/// The ids that `node` and everything below it use in relationship attributes: any attribute
/// in the relationships namespace (r:id, r:embed, r:link, r:pict, r:dm, r:lo, r:qs, r:cs, ...)
/// and o:relid. Needs the prefixes ParseXml gives.
std::set<std::string> RelationshipIdsUsed(pugi::xml_node node);

/// Rewrites those same attributes in `node` and below through `id_map` (old id -> new id);
/// ids not in the map are left as they are.
void RemapRelationshipIds(pugi::xml_node node, const std::map<std::string, std::string>& id_map);

}  // namespace quorvane::office
