#include "support/docx_check.h"

#include <map>
#include <set>

#include "common/path.h"
#include "support/package_check.h"

namespace quorvane::testing {
namespace {

struct Checker {
  std::vector<std::string> faults;
  std::map<std::string, std::set<std::string>> seen;   // kind -> ids met so far
  std::map<std::string, std::set<std::string>> known;  // kind -> ids that exist
  std::vector<std::pair<std::string, std::string>> references;  // kind, id

  void Unique(const std::string& kind, const std::string& id) {
    if (!seen[kind].insert(id).second) faults.push_back("duplicate " + kind + " " + id);
  }

  void Walk(pugi::xml_node node) {
    for (pugi::xml_node child : node.children()) Walk(child);
    const std::string name = node.name();
    const std::string val = node.attribute("w:val").value(), id = node.attribute("w:id").value();
    if (name == "w:bookmarkStart") {
      Unique("bookmark id", id);
      Unique("bookmark name", path::AsciiLower(node.attribute("w:name").value()));
    } else if (name == "wp:docPr") {
      Unique("drawing id", node.attribute("id").value());
    } else if (name == "w:pStyle" || name == "w:rStyle" || name == "w:tblStyle" ||
               name == "w:basedOn" || name == "w:next" || name == "w:link") {
      references.push_back({"style", val});
    } else if (name == "w:numId" && val != "0") {
      references.push_back({"num", val});
    } else if (name == "w:abstractNumId" && node.parent().name() == std::string("w:num")) {
      references.push_back({"abstractNum", val});
    } else if (name == "w:commentReference" || name == "w:footnoteReference" ||
               name == "w:endnoteReference") {
      references.push_back({name.substr(2, name.size() - 11), id});  // comment, footnote, endnote
    }
    if (pugi::xml_attribute para = node.attribute("w14:paraId")) Unique("paraId", para.value());
  }

  void Entries(pugi::xml_node root, const char* entry, const std::string& kind, const char* key) {
    for (pugi::xml_node node : root.children(entry)) {
      Unique(kind, node.attribute(key).value());
      known[kind].insert(node.attribute(key).value());
    }
  }
};

}  // namespace

std::vector<std::string> CheckDocx(const std::string& path) {
  Checker check;
  CheckPackage(path, &check.faults, [&](const std::string&, pugi::xml_node root) {
    const std::string root_name = root.name();
    if (root_name == "w:styles") {
      check.Entries(root, "w:style", "style", "w:styleId");
    } else if (root_name == "w:numbering") {
      check.Entries(root, "w:num", "num", "w:numId");
      check.Entries(root, "w:abstractNum", "abstractNum", "w:abstractNumId");
    } else if (root_name == "w:comments" || root_name == "w:footnotes" ||
               root_name == "w:endnotes") {
      const std::string entry = root_name.substr(0, root_name.size() - 1);  // w:comment, ...
      check.Entries(root, entry.c_str(), entry.substr(2), "w:id");
    }
    check.Walk(root);
  });
  for (const auto& [kind, id] : check.references)
    if (!check.known[kind].count(id)) check.faults.push_back("missing " + kind + " " + id);
  return check.faults;
}

}  // namespace quorvane::testing
