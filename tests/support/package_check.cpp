#include "support/package_check.h"

#include <zip.h>

#include <set>

#include "common/filesystem.h"
#include "common/path.h"

namespace quorvane::testing {
namespace {

constexpr const char* kVmlType = "application/vnd.openxmlformats-officedocument.vmlDrawing";

// The namespace URI that `prefix` is bound to at `node`, found through its ancestors'
// declarations rather than trusting any prefix to mean what it usually does.
std::string BoundNamespace(pugi::xml_node node, const std::string& prefix) {
  const std::string declaration = "xmlns:" + prefix;
  for (; node; node = node.parent())
    if (pugi::xml_attribute a = node.attribute(declaration.c_str())) return a.value();
  return "";
}

// A fault for each relationship id that an element of `part` uses and `defined` lacks.
void CheckIdsUsed(const std::string& part, pugi::xml_node root,
                  const std::vector<office::Relationship>& defined,
                  std::vector<std::string>* faults) {
  std::set<std::string> ids;
  for (const office::Relationship& rel : defined) ids.insert(rel.id);
  std::set<std::string> reported;
  office::ForEachElement(root, [&](pugi::xml_node e) {
    for (pugi::xml_attribute a : e.attributes()) {
      const std::string_view name = a.name();
      const auto colon = name.find(':');
      if (colon == std::string_view::npos || name.starts_with("xmlns:")) continue;
      const std::string uri = BoundNamespace(e, std::string(name.substr(0, colon)));
      const bool relationship = uri == office::ns::kRel ||
                                (uri == office::ns::kOffice && name.substr(colon + 1) == "relid");
      if (!relationship || ids.contains(a.value()) || !reported.insert(a.value()).second) continue;
      faults->push_back(part + " uses " + std::string(name) + "=\"" + a.value() +
                        "\" with no relationship of that id in its .rels");
    }
  });
}

}  // namespace

std::unique_ptr<office::Package> CheckPackage(
    const std::string& path, std::vector<std::string>* faults,
    const std::function<void(const std::string& part, pugi::xml_node root)>& visit) {
  int error = 0;
  if (zip_t* zip = zip_open(path.c_str(), ZIP_RDONLY, &error)) {
    std::set<std::string> names;
    for (zip_int64_t i = 0; i < zip_get_num_entries(zip, 0); ++i) {
      const std::string name = zip_get_name(zip, static_cast<zip_uint64_t>(i), 0);
      if (i == 0 && name != "[Content_Types].xml")
        faults->push_back("[Content_Types].xml is not the first entry");
      if (!names.insert(path::AsciiLower(name)).second) faults->push_back("names differ only by case: " + name);
    }
    zip_close(zip);
  }
  std::string err;
  auto package = office::Package::Open(SystemFileSystem(), path, &err);
  if (!package) {
    faults->push_back(err);
    return nullptr;
  }
  std::vector<std::string> owners = package->Parts();
  owners.push_back("/");
  for (const std::string& part : owners) {
    for (const office::Relationship& rel : package->Relationships(part))
      if (!rel.external && !package->Has(package->Resolve(part, rel)))
        faults->push_back(part + " " + rel.id + " targets a missing part " + rel.target);
    if (part == "/") continue;
    const std::string type = package->ContentType(part);
    if (type.empty()) faults->push_back("no content type for " + part);
    if (!type.ends_with("xml") && type != kVmlType) continue;
    std::string bytes;
    pugi::xml_document doc;
    if (!package->Read(part, &bytes, &err) || !office::ParseXml(bytes, part, &doc, &err))
      faults->push_back(err);
    else {
      CheckIdsUsed(part, doc.document_element(), package->Relationships(part), faults);
      visit(part, doc.document_element());
    }
  }
  return package;
}

}  // namespace quorvane::testing
