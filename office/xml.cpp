#include "office/xml.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>
#include <vector>

#include "office/limits.h"

namespace quorvane::office {
namespace {

constexpr std::string_view kXmlns = "xmlns";

// The engine's own prefix for each namespace it reads; "" puts the namespace in the default.
constexpr std::pair<const char*, const char*> kCanonical[] = {
    {ns::kWord, "w"},       {ns::kRel, "r"},     {ns::kWordDrawing, "wp"}, {ns::kDrawing, "a"},
    {ns::kPicture, "pic"},  {ns::kMarkup, "mc"}, {ns::kVml, "v"},          {ns::kOffice, "o"},
    {ns::kWord2010, "w14"}, {ns::kSheet, ""},    {ns::kPackageRel, ""},    {ns::kContentTypes, ""},
};

const char* CanonicalPrefix(std::string_view uri) {
  for (const auto& [known, prefix] : kCanonical)
    if (uri == known) return prefix;
  return nullptr;
}

std::string_view PrefixOf(std::string_view name) {
  const auto colon = name.find(':');
  return colon == std::string_view::npos ? std::string_view() : name.substr(0, colon);
}

std::string_view LocalOf(std::string_view name) {
  const auto colon = name.find(':');
  return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

// A declaration attribute: xmlns (the default namespace) or xmlns:p. Gives the prefix.
bool IsDeclaration(std::string_view name, std::string_view* prefix) {
  if (name == kXmlns) {
    *prefix = {};
    return true;
  }
  if (name.size() > kXmlns.size() && name.starts_with("xmlns:")) {
    *prefix = name.substr(kXmlns.size() + 1);
    return true;
  }
  return false;
}

bool IsPrefixList(std::string_view name) {
  return name == "mc:Ignorable" || name == "mc:Requires" || name == "mc:ProcessContent" ||
         name == "mc:MustUnderstand";
}

// Rewrites the prefixes of one document to the engine's own. Pass one learns every binding
// and decides the final prefix of each namespace; pass two renames, with the bindings in
// scope at each element, and takes the declarations off every element but the root.
class PrefixNormaliser {
 public:
  explicit PrefixNormaliser(pugi::xml_document& doc) : root_(doc.document_element()) {}

  void Run() {
    if (!root_) return;
    Learn(root_);
    Decide();
    if (!needed_) return;
    std::vector<std::pair<std::string, std::string>> scope;
    Rewrite(root_, scope);
    for (const auto& [uri, prefix] : final_) {
      const std::string name = prefix.empty() ? std::string(kXmlns) : "xmlns:" + prefix;
      root_.append_attribute(name.c_str()).set_value(uri.c_str());
    }
  }

 private:
  void Learn(pugi::xml_node element) {
    for (pugi::xml_attribute attribute : element.attributes()) {
      std::string_view prefix;
      if (!IsDeclaration(attribute.name(), &prefix)) continue;
      if (element != root_) needed_ = true;
      bindings_.emplace_back(std::string(prefix), attribute.value());
    }
    for (pugi::xml_node child : element.children())
      if (child.type() == pugi::node_element) Learn(child);
  }

  // Our namespaces take our prefixes first, the root element's own before the others (three
  // of ours want no prefix, and a producer may declare them all on one worksheet); a namespace
  // whose prefix is taken keeps its own, or a fresh one when that is taken too.
  void Decide() {
    const std::string root_uri = NamespaceOf(root_, PrefixOf(root_.name()));
    for (const auto& [prefix, uri] : bindings_)
      if (uri == root_uri && CanonicalPrefix(uri)) Choose(prefix, uri, CanonicalPrefix(uri));
    for (const auto& [prefix, uri] : bindings_)
      if (const char* canonical = CanonicalPrefix(uri))
        Choose(prefix, uri, Taken(canonical, uri) ? Free(prefix, uri) : canonical);
    for (const auto& [prefix, uri] : bindings_)
      if (!CanonicalPrefix(uri)) Choose(prefix, uri, Free(prefix, uri));
  }

  std::string Free(const std::string& prefix, const std::string& uri) const {
    std::string chosen = prefix;
    for (int n = 1; Taken(chosen, uri); ++n)
      chosen = (prefix.empty() ? "ns" : prefix) + std::to_string(n);
    return chosen;
  }

  void Choose(const std::string& prefix, const std::string& uri, const std::string& chosen) {
    for (const auto& [known, given] : final_)
      if (known == uri) {
        if (given != prefix) needed_ = true;
        return;
      }
    if (chosen != prefix) needed_ = true;
    final_.emplace_back(uri, chosen);
  }

  bool Taken(const std::string& prefix, const std::string& uri) const {
    for (const auto& [known, given] : final_)
      if (given == prefix && known != uri) return true;
    return false;
  }

  const std::string* FinalFor(std::string_view prefix,
                              const std::vector<std::pair<std::string, std::string>>& scope) {
    for (auto it = scope.rbegin(); it != scope.rend(); ++it)
      if (it->first == prefix)
        for (const auto& [uri, chosen] : final_)
          if (uri == it->second) return &chosen;
    return nullptr;
  }

  std::string Renamed(std::string_view name,
                      const std::vector<std::pair<std::string, std::string>>& scope,
                      bool is_attribute) {
    const std::string_view prefix = PrefixOf(name);
    // An attribute without a prefix is in no namespace; xml: is bound by the language itself.
    if ((is_attribute && prefix.empty()) || prefix == "xml") return std::string(name);
    const std::string* chosen = FinalFor(prefix, scope);
    if (!chosen) return std::string(name);
    const std::string_view local = LocalOf(name);
    return chosen->empty() ? std::string(local) : *chosen + ":" + std::string(local);
  }

  std::string RenamedList(std::string_view list,
                          const std::vector<std::pair<std::string, std::string>>& scope) {
    std::string out;
    size_t start = 0;
    while (start < list.size()) {
      size_t end = list.find(' ', start);
      if (end == std::string_view::npos) end = list.size();
      const std::string_view prefix = list.substr(start, end - start);
      if (!prefix.empty()) {
        const std::string* chosen = FinalFor(prefix, scope);
        if (!out.empty()) out += ' ';
        out += chosen ? *chosen : std::string(prefix);
      }
      start = end + 1;
    }
    return out;
  }

  void Rewrite(pugi::xml_node element, std::vector<std::pair<std::string, std::string>>& scope) {
    const size_t outer = scope.size();
    for (pugi::xml_attribute attribute = element.first_attribute(); attribute;) {
      pugi::xml_attribute next = attribute.next_attribute();
      std::string_view prefix;
      if (IsDeclaration(attribute.name(), &prefix)) {
        scope.emplace_back(std::string(prefix), attribute.value());
        element.remove_attribute(attribute);
      }
      attribute = next;
    }
    const std::string name = Renamed(element.name(), scope, false);
    if (name != element.name()) element.set_name(name.c_str());
    for (pugi::xml_attribute attribute : element.attributes()) {
      const std::string renamed = Renamed(attribute.name(), scope, true);
      if (renamed != attribute.name()) attribute.set_name(renamed.c_str());
      if (IsPrefixList(renamed)) attribute.set_value(RenamedList(attribute.value(), scope).c_str());
    }
    for (pugi::xml_node child : element.children())
      if (child.type() == pugi::node_element) Rewrite(child, scope);
    scope.resize(outer);
  }

  pugi::xml_node root_;
  bool needed_ = false;
  std::vector<std::pair<std::string, std::string>> bindings_;  // prefix -> uri, as declared
  std::vector<std::pair<std::string, std::string>> final_;     // uri -> chosen prefix
};

bool IsRelationshipAttribute(std::string_view name) {
  return name.starts_with("r:") || name == "o:relid";
}

template <typename Visit>
void ForEachRelationshipAttribute(pugi::xml_node node, Visit&& visit) {
  ForEachElement(node, [&](pugi::xml_node element) {
    for (pugi::xml_attribute attribute : element.attributes())
      if (IsRelationshipAttribute(attribute.name())) visit(attribute);
  });
}

// Refused before any walk of ours, some of which recurse, goes over the tree.
bool DepthWithinLimit(const pugi::xml_document& doc, const std::string& part, std::string* err) {
  if (ElementDepth(doc) <= limits::kMaxXmlDepth) return true;
  *err = "部件“" + part + "”的元素嵌套超过 " + std::to_string(limits::kMaxXmlDepth) + " 层";
  return false;
}

}  // namespace

int ElementDepth(const pugi::xml_document& doc) {
  int deepest = 0;
  std::vector<std::pair<pugi::xml_node, int>> stack{{doc.first_child(), 1}};
  while (!stack.empty()) {
    auto [node, depth] = stack.back();
    stack.pop_back();
    for (; node; node = node.next_sibling()) {
      if (node.type() != pugi::node_element) continue;
      deepest = std::max(deepest, depth);
      if (pugi::xml_node child = node.first_child()) stack.emplace_back(child, depth + 1);
    }
  }
  return deepest;
}

bool ParseXml(std::string_view bytes, const std::string& part, pugi::xml_document* doc,
              std::string* err) {
  const pugi::xml_parse_result result =
      doc->load_buffer(bytes.data(), bytes.size(),
                       pugi::parse_default | pugi::parse_ws_pcdata | pugi::parse_declaration);
  // Memory running out is no fault of the part, and is reported as what it is.
  if (result.status == pugi::status_out_of_memory) throw std::bad_alloc();
  if (!result || !doc->document_element()) {
    *err = "部件“" + part + "”不是格式正确的 XML：" + result.description();
    return false;
  }
  if (!DepthWithinLimit(*doc, part, err)) return false;
  PrefixNormaliser(*doc).Run();
  return true;
}

std::string SaveXml(const pugi::xml_document& doc) {
  std::string out;
  StringWriter writer(&out);
  doc.save(writer, "", pugi::format_raw, pugi::encoding_utf8);
  return out;
}

std::string EscapeXml(std::string_view text, bool attribute) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += attribute ? "&quot;" : "\"";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string NamespaceOf(pugi::xml_node node, std::string_view prefix) {
  const std::string name = prefix.empty() ? std::string(kXmlns) : "xmlns:" + std::string(prefix);
  for (; node; node = node.parent())
    if (pugi::xml_attribute declared = node.attribute(name.c_str())) return declared.value();
  return {};
}

bool UsesStrictNamespaces(const pugi::xml_document& doc) {
  for (pugi::xml_attribute attribute : doc.document_element().attributes()) {
    std::string_view prefix;
    if (IsDeclaration(attribute.name(), &prefix) &&
        std::strncmp(attribute.value(), ns::kStrictRoot, std::strlen(ns::kStrictRoot)) == 0)
      return true;
  }
  return false;
}

std::set<std::string> RelationshipIdsUsed(pugi::xml_node node) {
  std::set<std::string> ids;
  ForEachRelationshipAttribute(node, [&](pugi::xml_attribute a) { ids.insert(a.value()); });
  return ids;
}

void RemapRelationshipIds(pugi::xml_node node, const std::map<std::string, std::string>& id_map) {
  ForEachRelationshipAttribute(node, [&](pugi::xml_attribute attribute) {
    const auto found = id_map.find(attribute.value());
    if (found != id_map.end()) attribute.set_value(found->second.c_str());
  });
}

}  // namespace quorvane::office
