#include "office/word_join.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <set>
#include <string_view>
#include <vector>

#include "common/path.h"
#include "office/id_counter.h"
#include "office/part_importer.h"
#include "office/xml.h"

namespace quorvane::office {
namespace {

constexpr const char* kDocumentType =
    "application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml";
constexpr const char* kWordTypeRoot =
    "application/vnd.openxmlformats-officedocument.wordprocessingml.";

// Parts that hold macros, or settings only macros use; a plain document carries none of them.
constexpr const char* kMacroTypes[] = {
    "application/vnd.ms-office.vbaProject",
    "application/vnd.ms-word.vbaData+xml",
    "application/vnd.ms-word.keyMapCustomizations+xml",
    "application/vnd.ms-word.attachedToolbars",
};

// Parts that belong to the document as a whole. A source's are never copied as parts: their
// entries are merged into the base's (styles, numbering, notes) or the base's own stay.
constexpr const char* kDocumentWideRelTypes[] = {
    "styles",   "numbering", "settings", "webSettings",      "fontTable", "theme",
    "comments", "footnotes", "endnotes", "glossaryDocument", "customXml",
};

/// The parts whose entries every source adds to.
enum Shared { kStyles, kNumbering, kComments, kFootnotes, kEndnotes, kSharedCount };

struct SharedKind {
  const char* rel;    // relationship type, after reltype::kRoot
  const char* type;   // content type, after kWordTypeRoot
  const char* name;   // part name when the base has none
  const char* root;   // root element
  const char* entry;  // entry element with a w:id, for notes
};

constexpr SharedKind kShared[kSharedCount] = {
    {"styles", "styles+xml", "/word/styles.xml", "w:styles", ""},
    {"numbering", "numbering+xml", "/word/numbering.xml", "w:numbering", ""},
    {"comments", "comments+xml", "/word/comments.xml", "w:comments", "w:comment"},
    {"footnotes", "footnotes+xml", "/word/footnotes.xml", "w:footnotes", "w:footnote"},
    {"endnotes", "endnotes+xml", "/word/endnotes.xml", "w:endnotes", "w:endnote"},
};

/// An XML part held as a tree until the save; `name` is empty while there is no such part.
struct XmlPart {
  std::string name;
  pugi::xml_document doc;
  pugi::xml_node Root() const { return doc.document_element(); }
};

using path::AsciiLower;

bool EndsWith(std::string_view text, std::string_view tail) {
  return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

const char* Val(pugi::xml_node node) { return node.attribute("w:val").value(); }

pugi::xml_node LastElement(pugi::xml_node parent) {
  pugi::xml_node node = parent.last_child();
  while (node && node.type() != pugi::node_element) node = node.previous_sibling();
  return node;
}

pugi::xml_node PreviousElement(pugi::xml_node node) {
  do {
    node = node.previous_sibling();
  } while (node && node.type() != pugi::node_element);
  return node;
}

void SetAttribute(pugi::xml_node node, const char* name, const std::string& value) {
  pugi::xml_attribute attribute = node.attribute(name);
  if (!attribute) attribute = node.append_attribute(name);
  attribute.set_value(value.c_str());
}

std::vector<std::string> SplitSpaces(std::string_view text) {
  std::vector<std::string> words;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find(' ', start);
    if (end == std::string_view::npos) end = text.size();
    if (end > start) words.emplace_back(text.substr(start, end - start));
    start = end + 1;
  }
  return words;
}

std::string PrefixOf(std::string_view name) {
  size_t colon = name.find(':');
  return colon == std::string_view::npos ? std::string() : std::string(name.substr(0, colon));
}

/// Parses the part `part` of the document `file`; a failure names both.
bool ParsePart(const std::string& file, const std::string& part, std::string_view bytes,
               pugi::xml_document* doc, std::string* err) {
  if (ParseXml(bytes, part, doc, err)) return true;
  *err = "无法读取文档“" + file + "”：" + *err;
  return false;
}

// The ranges of the ids the joined document renumbers: drawing ids are unsigned 32-bit
// numbers, the others decimal numbers that Word holds as signed 32-bit ones.
constexpr unsigned long long kMaxDrawingId = 4294967295ull;
constexpr unsigned long long kMaxDecimalId = 2147483647ull;

/// Hands out eight-digit hexadecimal ids (w14:paraId, w:nsid) not seen before, below 0x80000000.
class HexIds {
 public:
  void See(const char* text) { used_.insert(std::strtoul(text, nullptr, 16)); }
  std::string Next() {
    do {
      next_ = (next_ + 0x9E3779B1u) & 0x7FFFFFFFu;
    } while (next_ == 0 || !used_.insert(next_).second);
    char text[9];
    std::snprintf(text, sizeof text, "%08lX", next_);
    return text;
  }

 private:
  std::set<unsigned long> used_;
  unsigned long next_ = 0;
};

bool IsRangeStart(std::string_view name) {
  return name == "w:permStart" || name == "w:moveFromRangeStart" || name == "w:moveToRangeStart";
}
bool IsRangeEnd(std::string_view name) {
  return name == "w:permEnd" || name == "w:moveFromRangeEnd" || name == "w:moveToRangeEnd";
}
bool IsStyleReference(std::string_view name) {
  return name == "w:pStyle" || name == "w:rStyle" || name == "w:tblStyle" || name == "w:basedOn" ||
         name == "w:link" || name == "w:next" || name == "w:numStyleLink" || name == "w:styleLink";
}
/// The shared part whose entry the reference element `name` points at, or kSharedCount.
Shared NoteReferenced(std::string_view name) {
  if (name == "w:commentRangeStart" || name == "w:commentRangeEnd" || name == "w:commentReference")
    return kComments;
  if (name == "w:footnoteReference") return kFootnotes;
  if (name == "w:endnoteReference") return kEndnotes;
  return kSharedCount;
}

/// Gives `sect_pr` the section start `type` (w:type comes after the header and footer
/// references and the note properties).
void SetSectionType(pugi::xml_node sect_pr, const char* type) {
  pugi::xml_node node = sect_pr.child("w:type");
  if (!node) {
    pugi::xml_node before = sect_pr.first_child();
    while (before) {
      std::string_view name = before.name();
      if (name != "w:headerReference" && name != "w:footerReference" && name != "w:footnotePr" &&
          name != "w:endnotePr")
        break;
      before = before.next_sibling();
    }
    node = before ? sect_pr.insert_child_before("w:type", before) : sect_pr.append_child("w:type");
  }
  SetAttribute(node, "w:val", type);
}

/// Ends the section whose properties `sect_pr` close `body` where its content ends: they move
/// into the last paragraph (a new one when the body ends otherwise).
void CloseSection(pugi::xml_node body, pugi::xml_node sect_pr) {
  pugi::xml_node last = PreviousElement(sect_pr);
  bool usable =
      last && std::string_view(last.name()) == "w:p" && !last.child("w:pPr").child("w:sectPr");
  if (!usable) last = body.insert_child_before("w:p", sect_pr);
  pugi::xml_node p_pr = last.child("w:pPr");
  if (!p_pr) p_pr = last.prepend_child("w:pPr");
  if (pugi::xml_node change = p_pr.child("w:pPrChange"))
    p_pr.insert_move_before(sect_pr, change);
  else
    p_pr.append_move(sect_pr);
}

/// Moves the content of every further w:body of the document `root` into the first, in
/// order, as office suites show a document holding several: each earlier body's closing
/// section properties end a section there.
void GatherBodies(pugi::xml_node root) {
  pugi::xml_node first = root.child("w:body");
  while (pugi::xml_node next = first.next_sibling("w:body")) {
    pugi::xml_node sect_pr = LastElement(first);
    if (std::string_view(sect_pr.name()) == "w:sectPr") CloseSection(first, sect_pr);
    while (pugi::xml_node child = next.first_child()) first.append_move(child);
    root.remove_child(next);
  }
}

/// Ends every complex field still open where `body` ends, in its last paragraph, so that the
/// content joined after it is not taken into the field.
void CloseOpenFields(pugi::xml_node body) {
  int open = 0;
  ForEachElement(body, [&](pugi::xml_node node) {
    if (std::string_view(node.name()) != "w:fldChar") return;
    std::string_view type = node.attribute("w:fldCharType").value();
    if (type == "begin") ++open;
    if (type == "end" && open > 0) --open;
  });
  if (open == 0) return;
  pugi::xml_node last = LastElement(body);
  if (std::string_view(last.name()) == "w:sectPr") last = PreviousElement(last);
  if (!last || std::string_view(last.name()) != "w:p") {
    pugi::xml_node sect_pr = LastElement(body);
    last = std::string_view(sect_pr.name()) == "w:sectPr" ? body.insert_child_before("w:p", sect_pr)
                                                         : body.append_child("w:p");
  }
  for (; open > 0; --open)
    SetAttribute(last.append_child("w:r").append_child("w:fldChar"), "w:fldCharType", "end");
}

/// One further document being appended: its parsed parts, its importer and the id maps that
/// its content goes through.
struct Source {
  Source(const Package& p, PackageWriter& writer) : package(p), importer(p, writer) {}

  const Package& package;
  PartImporter importer;
  pugi::xml_document document;
  XmlPart parts[kSharedCount];  // the source's own, by their names in the source
  std::map<std::string, pugi::xml_node> styles, nums, abstracts, entries[kSharedCount];
  std::map<std::string, std::string> style_ids, num_ids, abstract_ids, range_ids, bookmark_names,
      note_ids[kSharedCount];
  std::set<std::string> dropped_bookmarks;
  std::map<std::string, std::string> restarted;  // a base list -> this source's fresh start
};

}  // namespace

// The body of a joined source once the next one has closed its last section: its XML text,
// deflated. Only the base and the last source are held as a tree.
struct Spilled {
  std::string deflated;
  size_t size = 0;
};

// Where the spilled bodies go in the main part when it is written: right after the base's own.
// The mark's name carries a random part, so that no element of a document can pass for it.
std::string SpillMarkName() {
  std::random_device random;
  return "quorvane-spilled-" + std::to_string(random()) + std::to_string(random());
}

struct WordJoin::State {
  PackageWriter writer;
  std::vector<Spilled> spilled;
  const std::string spill_mark_name = SpillMarkName();
  pugi::xml_node spill_mark;
  std::string main_part;
  std::string base_name;
  XmlPart document;
  XmlPart shared[kSharedCount];
  bool failed = false;
  std::string failure;

  std::map<std::string, std::string> style_by_name;  // lower-case w:name -> w:styleId
  std::set<std::string> style_ids;                   // lower case
  std::set<std::string> bookmark_names;              // lower case
  IdCounter range_ids{kMaxDecimalId}, drawing_ids{kMaxDrawingId, 1}, abstract_ids{kMaxDecimalId},
      num_ids{kMaxDecimalId, 1};
  IdCounter note_ids[kSharedCount] = {IdCounter(0), IdCounter(0), IdCounter(kMaxDecimalId),
                                      IdCounter(kMaxDecimalId, 1), IdCounter(kMaxDecimalId, 1)};
  HexIds para_ids, nsids;
  std::string source_name;  // the document being appended
  std::string id_failure;   // set when a kind of id has none left

  bool CopyBasePackage(const Package& base, std::string* err);
  bool LoadParts(const Package& base, std::string* err);
  bool LoadXmlPart(const std::string& name, XmlPart* part, std::string* err);
  void IndexBase();
  void IndexIds(pugi::xml_node top);

  bool LoadSource(Source& src, std::string* err);
  void CloseLastSection();
  pugi::xml_node PrepareSourceBody(Source& src);
  bool RemapContent(pugi::xml_node top, Source& src, std::set<std::string>* prefixes,
                    std::string* err);
  bool ImportBodyRelationships(Source& src, pugi::xml_node body, std::string* err);
  bool RemapHeadersAndFooters(Source& src, const std::set<std::string>& ids, std::string* err);
  void AppendBody(pugi::xml_node source_body);
  bool SpillHeldBody(std::string* err);
  PartProducer MainPartProducer(std::shared_ptr<const std::pair<std::string, std::string>> ends);

  std::string MapStyle(Source& src, const std::string& id, std::string* err);
  std::string MapNum(Source& src, const std::string& id, std::string* err);
  void RestartStyleLists(Source& src, pugi::xml_node body);
  std::pair<std::string, std::string> StyleNumbering(const std::string& style_id);
  std::string RestartedNum(const std::string& num_id);
  std::string MapAbstractNum(Source& src, const std::string& id, std::string* err);
  std::string MapNote(Source& src, Shared kind, const std::string& id, std::string* err);
  std::string MapRange(Source& src, char kind, const std::string& id);
  std::string MapBookmarkName(Source& src, const std::string& name);
  std::string MapFieldBookmark(Source& src, std::string_view instruction);
  pugi::xml_node SharedRoot(Source& src, Shared kind);

  // A fresh id from `counter`; "0" and a failure naming the source when it has none left.
  std::string NextId(IdCounter& counter) {
    std::string id;
    if (counter.Next(&id)) return id;
    if (id_failure.empty())
      id_failure = "无法合并文档“" + source_name + "”：合并后的文档中已没有可用的编号";
    return "0";
  }

  bool Fail(const std::string& message, std::string* err) {
    failed = true;
    failure = message;
    if (err) *err = message;
    return false;
  }
};

// ---- The base ------------------------------------------------------------------------------

bool WordJoin::State::CopyBasePackage(const Package& base, std::string* err) {
  auto is_macro = [&](const std::string& part) {
    std::string type = base.ContentType(part);
    for (const char* macro : kMacroTypes) {
      if (type == macro) return true;
    }
    return false;
  };
  std::vector<std::string> parts = base.Parts();
  for (const std::string& part : parts) {
    if (is_macro(part)) continue;
    std::string bytes;
    if (!base.Read(part, &bytes, err)) return false;
    writer.SetPart(part, std::move(bytes), base.ContentType(part));
  }
  parts.push_back("/");
  for (const std::string& owner : parts) {
    if (owner != "/" && is_macro(owner)) continue;
    const std::vector<Relationship>& rels = base.Relationships(owner);
    if (rels.empty()) continue;
    std::vector<Relationship>& copy = writer.Relationships(owner);
    for (const Relationship& rel : rels) {
      if (!rel.external && is_macro(base.Resolve(owner, rel))) continue;
      copy.push_back(rel);
    }
  }
  return true;
}

bool WordJoin::State::LoadXmlPart(const std::string& name, XmlPart* part, std::string* err) {
  const std::string* bytes = writer.Bytes(name);
  if (!bytes) {
    *err = "无法读取文档“" + base_name + "”中的“" + name + "”：部件不存在";
    return false;
  }
  part->name = name;
  return ParsePart(base_name, name, *bytes, &part->doc, err);
}

bool WordJoin::State::LoadParts(const Package& base, std::string* err) {
  main_part = base.MainPart();
  if (!LoadXmlPart(main_part, &document, err)) return false;
  if (!document.Root().child("w:body")) {
    *err = "无法读取文档“" + base_name + "”：不是 Word 文档";
    return false;
  }
  GatherBodies(document.Root());
  for (int kind = 0; kind < kSharedCount; ++kind) {
    const Relationship* rel =
        base.FindRelationship(main_part, std::string(reltype::kRoot) + kShared[kind].rel);
    if (rel && !LoadXmlPart(base.Resolve(main_part, *rel), &shared[kind], err)) return false;
  }
  return true;
}

void WordJoin::State::IndexIds(pugi::xml_node top) {
  ForEachElement(top, [&](pugi::xml_node node) {
    std::string_view name = node.name();
    if (name == "w:bookmarkStart") {
      range_ids.See(node.attribute("w:id").value());
      bookmark_names.insert(AsciiLower(node.attribute("w:name").value()));
    } else if (IsRangeStart(name)) {
      range_ids.See(node.attribute("w:id").value());
    } else if (name == "wp:docPr" || name == "pic:cNvPr") {
      drawing_ids.See(node.attribute("id").value());
    }
    if (pugi::xml_attribute id = node.attribute("w14:paraId")) para_ids.See(id.value());
    if (pugi::xml_attribute id = node.attribute("w14:textId")) para_ids.See(id.value());
  });
}

void WordJoin::State::IndexBase() {
  IndexIds(document.Root());
  for (const std::string& part : writer.Parts()) {
    std::string type = writer.ContentType(part);
    if (type != std::string(kWordTypeRoot) + "header+xml" &&
        type != std::string(kWordTypeRoot) + "footer+xml")
      continue;
    XmlPart header;
    std::string ignored;
    if (LoadXmlPart(part, &header, &ignored)) IndexIds(header.Root());
  }
  for (pugi::xml_node style : shared[kStyles].Root().children("w:style")) {
    std::string id = style.attribute("w:styleId").value();
    pugi::xml_node name = style.child("w:name");
    style_by_name.emplace(AsciiLower(name ? Val(name) : id), id);
    style_ids.insert(AsciiLower(id));
  }
  for (pugi::xml_node node : shared[kNumbering].Root().children()) {
    std::string_view name = node.name();
    if (name == "w:abstractNum") {
      abstract_ids.See(node.attribute("w:abstractNumId").value());
      nsids.See(Val(node.child("w:nsid")));
    } else if (name == "w:num") {
      num_ids.See(node.attribute("w:numId").value());
    }
  }
  for (Shared kind : {kComments, kFootnotes, kEndnotes}) {
    for (pugi::xml_node entry : shared[kind].Root().children(kShared[kind].entry)) {
      note_ids[kind].See(entry.attribute("w:id").value());
      IndexIds(entry);
    }
  }
}

// ---- A further source ----------------------------------------------------------------------

bool WordJoin::State::LoadSource(Source& src, std::string* err) {
  const Package& package = src.package;
  std::string bytes;
  if (!package.Read(package.MainPart(), &bytes, err) ||
      !ParsePart(package.Name(), package.MainPart(), bytes, &src.document, err))
    return false;
  if (!src.document.document_element().child("w:body")) {
    *err = "无法读取文档“" + package.Name() + "”：不是 Word 文档";
    return false;
  }
  GatherBodies(src.document.document_element());
  for (int kind = 0; kind < kSharedCount; ++kind) {
    const Relationship* rel = package.FindRelationship(
        package.MainPart(), std::string(reltype::kRoot) + kShared[kind].rel);
    if (!rel) continue;
    XmlPart& part = src.parts[kind];
    part.name = package.Resolve(package.MainPart(), *rel);
    if (!package.Read(part.name, &bytes, err) ||
        !ParsePart(package.Name(), part.name, bytes, &part.doc, err))
      return false;
  }
  for (pugi::xml_node style : src.parts[kStyles].Root().children("w:style"))
    src.styles.emplace(style.attribute("w:styleId").value(), style);
  for (pugi::xml_node num : src.parts[kNumbering].Root().children("w:num"))
    src.nums.emplace(num.attribute("w:numId").value(), num);
  for (pugi::xml_node abstract : src.parts[kNumbering].Root().children("w:abstractNum"))
    src.abstracts.emplace(abstract.attribute("w:abstractNumId").value(), abstract);
  for (Shared kind : {kComments, kFootnotes, kEndnotes}) {
    for (pugi::xml_node entry : src.parts[kind].Root().children(kShared[kind].entry))
      src.entries[kind].emplace(entry.attribute("w:id").value(), entry);
  }
  return true;
}

/// Ends the document's last section where its content ends: the body's final section
/// properties move into the last paragraph, so the next source can begin a section of its
/// own without a page between them.
void WordJoin::State::CloseLastSection() {
  pugi::xml_node body = document.Root().child("w:body");
  pugi::xml_node sect_pr = LastElement(body);
  if (std::string_view(sect_pr.name()) != "w:sectPr") sect_pr = body.append_child("w:sectPr");
  CloseSection(body, sect_pr);
}

/// Readies the source's body to be appended: it ends in section properties of its own, and
/// its first section begins on a new page.
pugi::xml_node WordJoin::State::PrepareSourceBody(Source& src) {
  pugi::xml_node body = src.document.document_element().child("w:body");
  pugi::xml_node final_sect_pr = LastElement(body);
  if (std::string_view(final_sect_pr.name()) != "w:sectPr")
    final_sect_pr = body.append_child("w:sectPr");
  pugi::xml_node first = final_sect_pr;
  for (pugi::xml_node p : body.children("w:p")) {
    if (pugi::xml_node sect_pr = p.child("w:pPr").child("w:sectPr")) {
      first = sect_pr;
      break;
    }
  }
  SetSectionType(first, "nextPage");
  return body;
}

std::string WordJoin::State::MapRange(Source& src, char kind, const std::string& id) {
  auto [it, added] = src.range_ids.emplace(kind + id, std::string());
  if (added) it->second = NextId(range_ids);
  return it->second;
}

// A field that names a bookmark (REF, PAGEREF and NOTEREF cross-references, HYPERLINK \\l)
// follows the bookmark when it was renamed; the rest of the instruction stays as written.
std::string WordJoin::State::MapFieldBookmark(Source& src, std::string_view instruction) {
  std::string out(instruction);
  size_t at = out.find_first_not_of(' ');
  if (at == std::string::npos) return out;
  const size_t word_end = std::min(out.find(' ', at), out.size());
  const std::string field = AsciiLower(out.substr(at, word_end - at));
  size_t name_at = std::string::npos;
  if (field == "ref" || field == "pageref" || field == "noteref") {
    name_at = out.find_first_not_of(' ', word_end);
  } else if (field == "hyperlink") {
    const size_t switch_at = out.find("\\l", word_end);
    if (switch_at != std::string::npos) name_at = out.find_first_not_of(' ', switch_at + 2);
  }
  if (name_at == std::string::npos) return out;
  const bool quoted = out[name_at] == '"';
  if (quoted) ++name_at;
  const size_t name_end = std::min(out.find(quoted ? '"' : ' ', name_at), out.size());
  const std::string name = out.substr(name_at, name_end - name_at);
  if (name.empty() || name.starts_with('\\')) return out;
  return out.replace(name_at, name.size(), MapBookmarkName(src, name));
}

std::string WordJoin::State::MapBookmarkName(Source& src, const std::string& name) {
  auto [it, added] = src.bookmark_names.emplace(name, name);
  if (!added) return it->second;
  std::string candidate = name;
  for (int n = 2; bookmark_names.count(AsciiLower(candidate)); ++n) {
    std::string tail = "_" + std::to_string(n);
    candidate = name.substr(0, 40 - tail.size()) + tail;  // Word keeps names within 40
  }
  bookmark_names.insert(AsciiLower(candidate));
  it->second = candidate;
  return candidate;
}

/// The root of the joined document's shared part `kind`, made from the source's own when the
/// base has none (its namespace declarations, and for notes their separators).
pugi::xml_node WordJoin::State::SharedRoot(Source& src, Shared kind) {
  XmlPart& part = shared[kind];
  if (part.name.empty()) {
    const SharedKind& spec = kShared[kind];
    part.name = writer.FreePartName(spec.name);
    std::string type = std::string(kWordTypeRoot) + spec.type;
    writer.SetPart(part.name, std::string(), type);
    writer.AddRelationship(main_part, std::string(reltype::kRoot) + spec.rel, part.name);
    pugi::xml_node decl = part.doc.append_child(pugi::node_declaration);
    decl.append_attribute("version") = "1.0";
    decl.append_attribute("encoding") = "UTF-8";
    decl.append_attribute("standalone") = "yes";
    pugi::xml_node root = part.doc.append_child(spec.root);
    for (pugi::xml_attribute attribute : src.parts[kind].Root().attributes())
      root.append_copy(attribute);
    for (pugi::xml_node entry : src.parts[kind].Root().children(spec.entry)) {
      if (!entry.attribute("w:type")) continue;  // separators, kept under their own ids
      root.append_copy(entry);
      note_ids[kind].See(entry.attribute("w:id").value());
    }
  }
  return part.Root();
}

/// Declares on `target` every namespace in `prefixes` that `source` declares, and marks as
/// ignorable those the source marks so.
static void DeclareNamespaces(pugi::xml_node target, pugi::xml_node source,
                              const std::set<std::string>& prefixes) {
  for (const std::string& prefix : prefixes) {
    std::string attribute = "xmlns:" + prefix;
    if (prefix == "xml" || target.attribute(attribute.c_str())) continue;
    std::string uri = NamespaceOf(source, prefix);
    if (!uri.empty()) target.append_attribute(attribute.c_str()) = uri.c_str();
  }
  std::vector<std::string> ignorable = SplitSpaces(target.attribute("mc:Ignorable").value());
  bool changed = false;
  for (const std::string& prefix : SplitSpaces(source.attribute("mc:Ignorable").value())) {
    if (!prefixes.count(prefix)) continue;
    if (std::find(ignorable.begin(), ignorable.end(), prefix) != ignorable.end()) continue;
    ignorable.push_back(prefix);
    changed = true;
  }
  if (!changed) return;
  if (!target.attribute("xmlns:mc")) target.append_attribute("xmlns:mc") = ns::kMarkup;
  std::string list;
  for (const std::string& prefix : ignorable) list += (list.empty() ? "" : " ") + prefix;
  SetAttribute(target, "mc:Ignorable", list);
}

std::string WordJoin::State::MapStyle(Source& src, const std::string& id, std::string* err) {
  if (auto it = src.style_ids.find(id); it != src.style_ids.end()) return it->second;
  auto found = src.styles.find(id);
  if (found == src.styles.end()) return src.style_ids[id] = "";  // the source lacks it
  pugi::xml_node style = found->second;
  pugi::xml_node name_node = style.child("w:name");
  std::string name = AsciiLower(name_node ? Val(name_node) : id);
  if (auto base = style_by_name.find(name); base != style_by_name.end())
    return src.style_ids[id] = base->second;

  std::string new_id = id;
  for (int n = 1; style_ids.count(AsciiLower(new_id)); ++n) new_id = id + std::to_string(n);
  src.style_ids[id] = new_id;
  style_ids.insert(AsciiLower(new_id));
  style_by_name.emplace(name, new_id);

  pugi::xml_node root = SharedRoot(src, kStyles);
  pugi::xml_node copy = root.append_copy(style);
  SetAttribute(copy, "w:styleId", new_id);
  copy.remove_attribute("w:default");  // the base keeps its own defaults
  std::set<std::string> prefixes;
  if (!RemapContent(copy, src, &prefixes, err)) return "";
  DeclareNamespaces(root, src.parts[kStyles].Root(), prefixes);
  return new_id;
}

std::string WordJoin::State::MapAbstractNum(Source& src, const std::string& id, std::string* err) {
  if (auto it = src.abstract_ids.find(id); it != src.abstract_ids.end()) return it->second;
  auto found = src.abstracts.find(id);
  if (found == src.abstracts.end()) return src.abstract_ids[id] = "";
  std::string new_id = src.abstract_ids[id] = NextId(abstract_ids);

  pugi::xml_node root = SharedRoot(src, kNumbering);
  pugi::xml_node before = root.child("w:num");
  if (!before) before = root.child("w:numIdMacAtCleanup");
  pugi::xml_node copy =
      before ? root.insert_copy_before(found->second, before) : root.append_copy(found->second);
  SetAttribute(copy, "w:abstractNumId", new_id);
  pugi::xml_node nsid = copy.child("w:nsid");
  if (!nsid) nsid = copy.prepend_child("w:nsid");
  SetAttribute(nsid, "w:val", nsids.Next());
  for (pugi::xml_node lvl : copy.children("w:lvl")) lvl.remove_child("w:lvlPicBulletId");
  std::set<std::string> prefixes;
  if (!RemapContent(copy, src, &prefixes, err)) return "";
  DeclareNamespaces(root, src.parts[kNumbering].Root(), prefixes);
  return new_id;
}

std::string WordJoin::State::MapNum(Source& src, const std::string& id, std::string* err) {
  if (id == "0") return id;  // numbering switched off
  if (auto it = src.num_ids.find(id); it != src.num_ids.end()) return it->second;
  auto found = src.nums.find(id);
  if (found == src.nums.end()) return src.num_ids[id] = "0";
  std::string new_id = src.num_ids[id] = NextId(num_ids);
  std::string abstract_id = MapAbstractNum(src, Val(found->second.child("w:abstractNumId")), err);
  if (abstract_id.empty()) return src.num_ids[id] = "0";

  pugi::xml_node root = SharedRoot(src, kNumbering);
  pugi::xml_node before = root.child("w:numIdMacAtCleanup");
  pugi::xml_node copy =
      before ? root.insert_copy_before(found->second, before) : root.append_copy(found->second);
  SetAttribute(copy, "w:numId", new_id);
  SetAttribute(copy.child("w:abstractNumId"), "w:val", abstract_id);
  std::set<std::string> prefixes;
  if (!RemapContent(copy, src, &prefixes, err)) return "";
  DeclareNamespaces(root, src.parts[kNumbering].Root(), prefixes);
  return new_id;
}

/// Copies the source's comment, footnote or endnote `id` into the joined document's part
/// under a new id, with its content remapped, and gives the new id.
std::string WordJoin::State::MapNote(Source& src, Shared kind, const std::string& id,
                                     std::string* err) {
  if (auto it = src.note_ids[kind].find(id); it != src.note_ids[kind].end()) return it->second;
  auto found = src.entries[kind].find(id);
  if (found == src.entries[kind].end()) return src.note_ids[kind][id] = "";
  pugi::xml_node root = SharedRoot(src, kind);
  std::string new_id = src.note_ids[kind][id] = NextId(note_ids[kind]);
  pugi::xml_node copy = root.append_copy(found->second);
  SetAttribute(copy, "w:id", new_id);

  std::set<std::string> prefixes;
  if (!RemapContent(copy, src, &prefixes, err)) return "";
  std::set<std::string> rel_ids = RelationshipIdsUsed(copy);
  if (!rel_ids.empty()) {
    std::map<std::string, std::string> id_map;
    if (!src.importer.ImportRelationships(src.parts[kind].name, shared[kind].name, &rel_ids,
                                          &id_map, err))
      return "";
    RemapRelationshipIds(copy, id_map);
  }
  DeclareNamespaces(root, src.parts[kind].Root(), prefixes);
  return new_id;
}

/// Renumbers in `top` everything that must stay unique across the joined document and maps
/// style, numbering and note references to the joined document's, copying what it lacks.
/// Collects in `prefixes` the namespace prefixes the content uses.
// The list (numId, ilvl) that the joined style `style_id` numbers its paragraphs with, through
// the styles it is based on; empty when it numbers nothing. A level of the list that names one
// of these styles gives the level, as outline numbering does ("1", "1.1", "1.1.1" for the
// heading styles); the style's own ilvl counts only where no level names it.
std::pair<std::string, std::string> WordJoin::State::StyleNumbering(const std::string& style_id) {
  std::vector<std::string> chain;
  std::string id = style_id;
  for (int depth = 0; depth < 32 && !id.empty(); ++depth) {
    pugi::xml_node style =
        shared[kStyles].Root().find_child_by_attribute("w:style", "w:styleId", id.c_str());
    if (!style) break;
    chain.push_back(id);
    if (pugi::xml_node num_pr = style.child("w:pPr").child("w:numPr")) {
      std::string num_id = Val(num_pr.child("w:numId"));
      pugi::xml_node root = shared[kNumbering].Root();
      pugi::xml_node num = root.find_child_by_attribute("w:num", "w:numId", num_id.c_str());
      pugi::xml_node abstract = root.find_child_by_attribute(
          "w:abstractNum", "w:abstractNumId", Val(num.child("w:abstractNumId")));
      for (const std::string& named : chain) {
        for (pugi::xml_node lvl : abstract.children("w:lvl")) {
          if (named == Val(lvl.child("w:pStyle")))
            return {num_id, lvl.attribute("w:ilvl").value()};
        }
      }
      return {num_id, Val(num_pr.child("w:ilvl"))};
    }
    id = Val(style.child("w:basedOn"));
  }
  return {};
}

// A list of the base's, counted afresh: the same definition with every level's start restored.
std::string WordJoin::State::RestartedNum(const std::string& num_id) {
  pugi::xml_node root = shared[kNumbering].Root();
  pugi::xml_node num = root.find_child_by_attribute("w:num", "w:numId", num_id.c_str());
  if (!num) return {};
  const char* abstract_id = Val(num.child("w:abstractNumId"));
  pugi::xml_node abstract =
      root.find_child_by_attribute("w:abstractNum", "w:abstractNumId", abstract_id);
  const std::string new_id = NextId(num_ids);
  pugi::xml_node before = root.child("w:numIdMacAtCleanup");
  pugi::xml_node fresh =
      before ? root.insert_child_before("w:num", before) : root.append_child("w:num");
  SetAttribute(fresh, "w:numId", new_id);
  SetAttribute(fresh.append_child("w:abstractNumId"), "w:val", abstract_id);
  for (pugi::xml_node lvl : abstract.children("w:lvl")) {
    pugi::xml_node override_node = fresh.append_child("w:lvlOverride");
    SetAttribute(override_node, "w:ilvl", lvl.attribute("w:ilvl").value());
    const char* start = Val(lvl.child("w:start"));
    SetAttribute(override_node.append_child("w:startOverride"), "w:val", *start ? start : "0");
  }
  return new_id;
}

// A paragraph numbered only through a style that the base already had would go on counting
// from the lists before it. Each base list such a source uses gets a fresh start of its own,
// shared by that source's paragraphs, so the source's lists count from their start again.
void WordJoin::State::RestartStyleLists(Source& src, pugi::xml_node body) {
  if (!shared[kStyles].Root() || !shared[kNumbering].Root()) return;
  std::map<std::string, std::pair<std::string, std::string>> by_style;
  std::set<std::string> own;  // lists this source brought: they start afresh already
  for (const auto& [old_id, new_id] : src.num_ids) own.insert(new_id);
  ForEachElement(body, [&](pugi::xml_node p) {
    if (std::string_view(p.name()) != "w:p") return;
    pugi::xml_node p_pr = p.child("w:pPr");
    const char* style_id = Val(p_pr.child("w:pStyle"));
    if (!*style_id || p_pr.child("w:numPr")) return;
    auto found = by_style.find(style_id);
    if (found == by_style.end()) found = by_style.emplace(style_id, StyleNumbering(style_id)).first;
    const auto& [num_id, ilvl] = found->second;
    if (num_id.empty() || num_id == "0" || own.count(num_id)) return;
    std::string& restart = src.restarted[num_id];
    if (restart.empty()) restart = RestartedNum(num_id);
    if (restart.empty()) return;
    // numPr follows these in a paragraph's properties.
    pugi::xml_node after = p_pr.first_child();
    while (after && (std::string_view(after.name()) == "w:pStyle" ||
                     std::string_view(after.name()) == "w:keepNext" ||
                     std::string_view(after.name()) == "w:keepLines" ||
                     std::string_view(after.name()) == "w:pageBreakBefore" ||
                     std::string_view(after.name()) == "w:framePr" ||
                     std::string_view(after.name()) == "w:widowControl"))
      after = after.next_sibling();
    pugi::xml_node num_pr =
        after ? p_pr.insert_child_before("w:numPr", after) : p_pr.append_child("w:numPr");
    SetAttribute(num_pr.append_child("w:ilvl"), "w:val", ilvl.empty() ? "0" : ilvl);
    SetAttribute(num_pr.append_child("w:numId"), "w:val", restart);
  });
}

bool WordJoin::State::RemapContent(pugi::xml_node top, Source& src, std::set<std::string>* prefixes,
                                   std::string* err) {
  std::vector<pugi::xml_node> removed;
  bool ok = true;
  auto map_val = [&](pugi::xml_node node, const char* attribute, const std::string& value) {
    if (value.empty())
      removed.push_back(node);
    else
      SetAttribute(node, attribute, value);
  };
  ForEachElement(top, [&](pugi::xml_node node) {
    if (!ok) return;
    std::string_view name = node.name();
    prefixes->insert(PrefixOf(name));
    for (pugi::xml_attribute attribute : node.attributes()) {
      std::string_view attribute_name = attribute.name();
      if (attribute_name.substr(0, 5) != "xmlns") prefixes->insert(PrefixOf(attribute_name));
    }
    if (name == "mc:Choice") {
      for (const std::string& prefix : SplitSpaces(node.attribute("Requires").value()))
        prefixes->insert(prefix);
    }

    if (IsStyleReference(name)) {
      map_val(node, "w:val", MapStyle(src, Val(node), err));
    } else if (name == "w:numId") {
      map_val(node, "w:val", MapNum(src, Val(node), err));
    } else if (name == "w:bookmarkStart") {
      std::string id = node.attribute("w:id").value();
      std::string bookmark = node.attribute("w:name").value();
      if (bookmark == "_GoBack") {
        src.dropped_bookmarks.insert(id);
        removed.push_back(node);
      } else {
        SetAttribute(node, "w:id", MapRange(src, 'b', id));
        SetAttribute(node, "w:name", MapBookmarkName(src, bookmark));
      }
    } else if (name == "w:bookmarkEnd") {
      std::string id = node.attribute("w:id").value();
      if (src.dropped_bookmarks.count(id))
        removed.push_back(node);
      else
        SetAttribute(node, "w:id", MapRange(src, 'b', id));
    } else if (IsRangeStart(name) || IsRangeEnd(name)) {
      char kind = name.substr(0, 6) == "w:perm" ? 'p' : 'm';
      SetAttribute(node, "w:id", MapRange(src, kind, node.attribute("w:id").value()));
    } else if (Shared kind = NoteReferenced(name); kind != kSharedCount) {
      map_val(node, "w:id", MapNote(src, kind, node.attribute("w:id").value(), err));
    } else if (name == "wp:docPr" || name == "pic:cNvPr") {
      SetAttribute(node, "id", NextId(drawing_ids));
    } else if (name == "w:hyperlink") {
      if (pugi::xml_attribute anchor = node.attribute("w:anchor"))
        anchor.set_value(MapBookmarkName(src, anchor.value()).c_str());
    } else if (name == "w:instrText") {
      node.text().set(MapFieldBookmark(src, node.text().get()).c_str());
    } else if (name == "w:fldSimple") {
      pugi::xml_attribute instr = node.attribute("w:instr");
      instr.set_value(MapFieldBookmark(src, instr.value()).c_str());
    }
    if (pugi::xml_attribute id = node.attribute("w14:paraId"))
      id.set_value(para_ids.Next().c_str());
    if (pugi::xml_attribute id = node.attribute("w14:textId"))
      id.set_value(para_ids.Next().c_str());
    if (!err->empty()) ok = false;
    if (!id_failure.empty() && ok) {
      *err = id_failure;
      ok = false;
    }
  });
  if (!ok) return false;
  for (pugi::xml_node node : removed) node.parent().remove_child(node);
  prefixes->erase("");
  return true;
}

/// Copies what the body's relationship ids reach (images, links, charts, headers, ...) and
/// rewrites the ids to the joined document's.
bool WordJoin::State::ImportBodyRelationships(Source& src, pugi::xml_node body, std::string* err) {
  std::set<std::string> ids = RelationshipIdsUsed(body);
  if (ids.empty()) return true;
  std::map<std::string, std::string> id_map;
  if (!src.importer.ImportRelationships(src.package.MainPart(), main_part, &ids, &id_map, err))
    return false;
  RemapRelationshipIds(body, id_map);
  return RemapHeadersAndFooters(src, ids, err);
}

/// Headers and footers are copied whole as parts; their content is renumbered like the body's.
bool WordJoin::State::RemapHeadersAndFooters(Source& src, const std::set<std::string>& ids,
                                             std::string* err) {
  const std::string& source_main = src.package.MainPart();
  std::set<std::string> done;
  for (const Relationship& rel : src.package.Relationships(source_main)) {
    if (!ids.count(rel.id) || rel.external) continue;
    if (!EndsWith(rel.type, "/header") && !EndsWith(rel.type, "/footer")) continue;
    std::string part = src.importer.CopyPart(src.package.Resolve(source_main, rel), err);
    if (part.empty()) return false;
    if (!done.insert(AsciiLower(part)).second) continue;
    XmlPart header;
    if (!LoadXmlPart(part, &header, err)) return false;
    std::set<std::string> prefixes;
    if (!RemapContent(header.Root(), src, &prefixes, err)) return false;
    writer.SetPart(part, SaveXml(header.doc), writer.ContentType(part));
  }
  return true;
}

void WordJoin::State::AppendBody(pugi::xml_node source_body) {
  pugi::xml_node body = document.Root().child("w:body");
  for (pugi::xml_node child : source_body.children()) {
    if (child.type() == pugi::node_element) body.append_copy(child);
  }
}

// The last source's body, its section now closed, leaves the tree as deflated text; the
// first source only marks where the joined bodies begin.
bool WordJoin::State::SpillHeldBody(std::string* err) {
  pugi::xml_node body = document.Root().child("w:body");
  if (!spill_mark) {
    spill_mark = body.append_child(spill_mark_name.c_str());
    return true;
  }
  std::string text;
  StringWriter out(&text);
  while (pugi::xml_node held = spill_mark.next_sibling()) {
    held.print(out, "", pugi::format_raw);
    body.remove_child(held);
  }
  Spilled piece;
  piece.size = text.size();
  uLongf room = compressBound(static_cast<uLong>(text.size()));
  piece.deflated.resize(room);
  if (compress2(reinterpret_cast<Bytef*>(piece.deflated.data()), &room,
                reinterpret_cast<const Bytef*>(text.data()), static_cast<uLong>(text.size()),
                Z_BEST_SPEED) != Z_OK) {
    *err = "内存不足，无法合并文档";
    return false;
  }
  piece.deflated.resize(room);
  piece.deflated.shrink_to_fit();
  spilled.push_back(std::move(piece));
  return true;
}

// Writes the main part: the tree up to the mark, every spilled body in turn, then the rest.
PartProducer WordJoin::State::MainPartProducer(
    std::shared_ptr<const std::pair<std::string, std::string>> ends) {
  return [this, ends, next = size_t{0}](std::string* piece, bool* done, std::string* err) mutable {
    *done = false;
    if (next == 0) {
      *piece = ends->first;
    } else if (next <= spilled.size()) {
      const Spilled& one = spilled[next - 1];
      piece->resize(one.size);
      uLongf size = static_cast<uLongf>(one.size);
      if (uncompress(reinterpret_cast<Bytef*>(piece->data()), &size,
                     reinterpret_cast<const Bytef*>(one.deflated.data()),
                     static_cast<uLong>(one.deflated.size())) != Z_OK) {
        *err = "内存不足，无法保存合并的文档";
        return false;
      }
    } else {
      *piece = ends->second;
      *done = true;
    }
    ++next;
    return true;
  };
}

// ---- The interface -------------------------------------------------------------------------

WordJoin::WordJoin() = default;
WordJoin::~WordJoin() = default;

bool WordJoin::Start(const Package& base, std::string* err) {
  state_ = std::make_unique<State>();
  state_->base_name = base.Name();
  if (!state_->CopyBasePackage(base, err) || !state_->LoadParts(base, err))
    return state_->Fail(*err, nullptr);
  state_->IndexBase();
  CloseOpenFields(state_->document.Root().child("w:body"));
  return true;
}

bool WordJoin::Append(const Package& source, std::string* err) {
  return Append(source, nullptr, {}, err);
}

bool WordJoin::Append(const Package& source, FileSystem& fs, const std::string& path,
                      std::string* err) {
  return Append(source, &fs, path, err);
}

bool WordJoin::Append(const Package& source, FileSystem* fs, const std::string& path,
                      std::string* err) {
  if (!state_ || state_->failed) {
    *err = state_ ? state_->failure : "没有作为基础的 Word 文档";
    return false;
  }
  State& s = *state_;
  s.source_name = source.Name();
  Source src(source, s.writer);
  for (const char* type : kDocumentWideRelTypes)
    src.importer.skipped_types.insert(std::string(reltype::kRoot) + type);
  if (fs) src.importer.ReadMediaLater(*fs, path);
  std::string error;
  if (!s.LoadSource(src, &error)) {
    *err = error;
    return false;  // nothing has changed yet
  }
  s.CloseLastSection();
  if (!s.SpillHeldBody(&error)) return s.Fail(error, err);
  pugi::xml_node body = s.PrepareSourceBody(src);
  CloseOpenFields(body);
  std::set<std::string> prefixes;
  if (!s.RemapContent(body, src, &prefixes, &error) ||
      !s.ImportBodyRelationships(src, body, &error))
    return s.Fail(error, err);
  s.RestartStyleLists(src, body);
  if (!s.id_failure.empty()) return s.Fail(s.id_failure, err);
  s.AppendBody(body);
  DeclareNamespaces(s.document.Root(), src.document.document_element(), prefixes);
  return true;
}

bool WordJoin::Save(FileSystem& fs, const std::string& path, std::string* err) {
  if (!state_ || state_->failed) {
    *err = state_ ? state_->failure : "没有作为基础的 Word 文档";
    return false;
  }
  State& s = *state_;
  if (s.spill_mark) {
    const std::string text = SaveXml(s.document.doc);
    const std::string mark = "<" + s.spill_mark_name + "/>";
    const size_t at = text.find(mark);
    auto ends = std::make_shared<const std::pair<std::string, std::string>>(
        text.substr(0, at), text.substr(at + mark.size()));
    s.writer.SetStreamedPart(
        s.main_part, [&s, ends] { return s.MainPartProducer(ends); }, kDocumentType);
  } else {
    s.writer.SetPart(s.main_part, SaveXml(s.document.doc), kDocumentType);
  }
  for (const XmlPart& part : s.shared) {
    if (!part.name.empty())
      s.writer.SetPart(part.name, SaveXml(part.doc), s.writer.ContentType(part.name));
  }
  return s.writer.Save(fs, path, err);
}

}  // namespace quorvane::office
