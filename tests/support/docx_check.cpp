#include "support/docx_check.h"

#include <map>
#include <memory>
#include <set>

#include <zip.h>

#include "common/filesystem.h"
#include "office/package.h"
#include "office/xml.h"

namespace quorvane::testing {
namespace {

using office::Package;

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

/// The zip's entry names, in order.
std::vector<std::string> EntryNames(const std::string& path) {
  std::vector<std::string> names;
  int error = 0;
  zip_t* zip = zip_open(path.c_str(), ZIP_RDONLY, &error);
  if (!zip) return names;
  for (zip_int64_t i = 0; i < zip_get_num_entries(zip, 0); ++i) names.push_back(zip_get_name(zip, i, 0));
  zip_close(zip);
  return names;
}

struct Checker {
  std::vector<std::string> faults;
  std::map<std::string, std::set<std::string>> seen;   // kind -> ids met so far
  std::map<std::string, std::set<std::string>> known;  // kind -> ids that exist
  std::vector<std::pair<std::string, std::string>> references;  // kind, id

  void Unique(const std::string& kind, const std::string& id) {
    if (!seen[kind].insert(id).second) faults.push_back("duplicate " + kind + " " + id);
  }

  void Walk(pugi::xml_node top) {
    for (pugi::xml_node child : top.children()) Walk(child);
    Visit(top);
  }

  void Visit(pugi::xml_node node) {
    {
      std::string name = node.name();
      std::string val = node.attribute("w:val").value();
      if (name == "w:bookmarkStart") {
        Unique("bookmark id", node.attribute("w:id").value());
        Unique("bookmark name", Lower(node.attribute("w:name").value()));
      } else if (name == "wp:docPr") {
        Unique("drawing id", node.attribute("id").value());
      } else if (name == "w:pStyle" || name == "w:rStyle" || name == "w:tblStyle" ||
                 name == "w:basedOn" || name == "w:next" || name == "w:link") {
        references.push_back({"style", val});
      } else if (name == "w:numId" && val != "0") {
        references.push_back({"num", val});
      } else if (name == "w:abstractNumId" && node.parent().name() == std::string("w:num")) {
        references.push_back({"abstractNum", val});
      } else if (name == "w:commentReference") {
        references.push_back({"comment", node.attribute("w:id").value()});
      } else if (name == "w:footnoteReference" || name == "w:endnoteReference") {
        references.push_back({name.substr(2, name.size() - 11), node.attribute("w:id").value()});
      }
      if (pugi::xml_attribute id = node.attribute("w14:paraId")) Unique("paraId", id.value());
    }
  }

  void Entries(pugi::xml_node root, const char* entry, const std::string& kind, const char* key) {
    for (pugi::xml_node node : root.children(entry)) {
      std::string id = node.attribute(key).value();
      Unique(kind, id);
      known[kind].insert(id);
    }
  }
};

}  // namespace

std::vector<std::string> CheckDocx(const std::string& path) {
  Checker check;
  std::vector<std::string>& faults = check.faults;
  std::vector<std::string> entries = EntryNames(path);
  if (entries.empty() || entries.front() != "[Content_Types].xml")
    faults.push_back("[Content_Types].xml is not the first entry");
  std::set<std::string> lower;
  for (const std::string& name : entries) {
    if (!lower.insert(Lower(name)).second) faults.push_back("names differ only by case: " + name);
  }
  std::string err;
  std::unique_ptr<Package> package = Package::Open(SystemFileSystem(), path, &err);
  if (!package) return {err};

  std::vector<std::string> parts = package->Parts();
  parts.push_back("/");
  for (const std::string& part : parts) {
    for (const office::Relationship& rel : package->Relationships(part)) {
      if (!rel.external && !package->Has(package->Resolve(part, rel)))
        faults.push_back(part + " " + rel.id + " targets a missing part " + rel.target);
    }
    if (part == "/") continue;
    std::string type = package->ContentType(part);
    if (type.empty()) faults.push_back("no content type for " + part);
    if (type.size() < 3 || type.substr(type.size() - 3) != "xml") continue;
    std::string bytes;
    pugi::xml_document doc;
    if (!package->Read(part, &bytes, &err) || !office::ParseXml(bytes, part, &doc, &err)) {
      faults.push_back(err);
      continue;
    }
    pugi::xml_node root = doc.document_element();
    std::string root_name = root.name();
    if (root_name == "w:styles") {
      check.Entries(root, "w:style", "style", "w:styleId");
    } else if (root_name == "w:numbering") {
      check.Entries(root, "w:num", "num", "w:numId");
      check.Entries(root, "w:abstractNum", "abstractNum", "w:abstractNumId");
    } else if (root_name == "w:comments" || root_name == "w:footnotes" || root_name == "w:endnotes") {
      check.Entries(root, (root_name.substr(0, root_name.size() - 1)).c_str(),
                    root_name.substr(2, root_name.size() - 3), "w:id");
    }
    check.Walk(root);
  }
  for (const auto& [kind, id] : check.references) {
    if (!check.known[kind].count(id)) faults.push_back("missing " + kind + " " + id);
  }
  return faults;
}

}  // namespace quorvane::testing
