#include "office/package.h"

#include <zip.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <functional>
#include <new>

#include "common/path.h"
#include "office/limits.h"
#include "office/package_parts.h"
#include "office/xml.h"

namespace quorvane::office {
namespace {

constexpr const char* kStrictRelationshipRoot = "http://purl.oclc.org/ooxml/";

using path::AsciiLower;

std::string DocumentFailure(const std::string& file, const std::string& reason) {
  return "无法打开文档“" + file + "”：" + reason;
}

std::string PercentDecoded(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() &&
        std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
        std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
      out += static_cast<char>(std::stoi(std::string(text.substr(i + 1, 2)), nullptr, 16));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

// Joins `target` to the folder `base` and folds "." and ".." away.
std::string JoinPartName(const std::string& base, std::string_view target) {
  return path::Folded(target.starts_with('/') ? std::string(target) : base + std::string(target));
}

bool ParseRelationships(std::string_view bytes, const std::string& part,
                        std::vector<Relationship>* list, std::string* err) {
  pugi::xml_document doc;
  if (!ParseXml(bytes, part, &doc, err)) return false;
  for (pugi::xml_node node : doc.document_element().children("Relationship")) {
    Relationship rel;
    rel.id = node.attribute("Id").value();
    rel.type = node.attribute("Type").value();
    rel.target = node.attribute("Target").value();
    rel.external = std::string_view(node.attribute("TargetMode").value()) == "External";
    list->push_back(std::move(rel));
  }
  return true;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Reading

namespace {

// A part as messages name it: the zip entry's name.
std::string Shown(const std::string& part) { return part.substr(1); }

std::string Damaged(const std::string& file, const std::string& detail) {
  return "文件“" + file + "”已损坏（" + detail + "）";
}

std::string SizeText(std::uint64_t bytes) {
  if (bytes % (std::uint64_t{1} << 30) == 0) return std::to_string(bytes >> 30) + " GiB";
  if (bytes % (std::uint64_t{1} << 20) == 0) return std::to_string(bytes >> 20) + " MiB";
  if (bytes % 1024 == 0) return std::to_string(bytes >> 10) + " KiB";
  return std::to_string(bytes) + " 字节";
}

// The part that the relationship part `rels` ("/word/_rels/document.xml.rels") describes,
// "/" for "/_rels/.rels"; empty for an entry that is no relationship part.
std::string OwnerOf(const std::string& rels) {
  const auto slash = rels.rfind('/');
  const std::string folder = rels.substr(0, slash + 1);
  const std::string name = rels.substr(slash + 1);
  if (!folder.ends_with("/_rels/") || !name.ends_with(".rels")) return {};
  const std::string owner = folder.substr(0, folder.size() - 6) +
                            name.substr(0, name.size() - 5);
  return owner == "/" || !owner.ends_with('/') ? owner : std::string();
}

// A target that cannot name a part: a URI with a scheme ("file:///x", "c:\x"), or a path
// that climbs above the package's root.
bool LeadsOutside(const std::string& folder, std::string_view target) {
  const auto colon = target.find(':');
  if (colon != std::string_view::npos && target.find('/') > colon) return true;
  int depth = 0;
  if (!target.starts_with('/'))
    for (char c : folder) depth += c == '/' ? 1 : 0;
  depth = std::max(depth - 1, 0);
  for (size_t start = 0; start <= target.size();) {
    const size_t end = std::min(target.find('/', start), target.size());
    const std::string_view step = target.substr(start, end - start);
    if (step == "..") {
      if (--depth < 0) return true;
    } else if (!step.empty() && step != ".") {
      ++depth;
    }
    start = end + 1;
  }
  return false;
}

// A content type for a part that a relationship reaches but [Content_Types].xml leaves out,
// by its extension; empty when the extension says nothing certain.
std::string TypeByExtension(const std::string& part) {
  static const std::map<std::string, std::string> kTypes = {
      {"png", "image/png"},   {"jpg", "image/jpeg"},     {"jpeg", "image/jpeg"},
      {"gif", "image/gif"},   {"bmp", "image/bmp"},      {"tif", "image/tiff"},
      {"tiff", "image/tiff"}, {"emf", "image/x-emf"},    {"wmf", "image/x-wmf"},
      {"svg", "image/svg+xml"}, {"xml", "application/xml"},
  };
  const auto dot = part.rfind('.');
  if (dot == std::string::npos || dot < part.rfind('/')) return {};
  const auto found = kTypes.find(AsciiLower(part.substr(dot + 1)));
  return found == kTypes.end() ? std::string() : found->second;
}

// The namespace of the root element of `doc`, by its prefix and the root's declarations.
std::string RootNamespace(const pugi::xml_document& doc) {
  const pugi::xml_node root = doc.document_element();
  const std::string_view name = root.name();
  const auto colon = name.find(':');
  const std::string declaration =
      colon == std::string_view::npos ? "xmlns" : "xmlns:" + std::string(name.substr(0, colon));
  return root.attribute(declaration.c_str()).value();
}

}  // namespace

struct Package::Archive {
  std::string bytes;  // libzip reads the package straight from this buffer
  zip_t* zip = nullptr;
  std::map<std::string, zip_uint64_t> entries;  // lower-case part name -> zip index
  limits::Limits limits;
  ~Archive() {
    if (zip) zip_discard(zip);
  }

  // Inflates the entry `index` (the part `part` of the file `file`) in blocks, giving each
  // to `take`, and holds the limits as it goes, whatever the entry's header declares: no
  // more than one block is made beyond a limit. `package_total`, when given, counts the
  // bytes of the whole package. libzip checks the checksum once the entry is read to its end.
  bool Inflate(const std::string& file, zip_uint64_t index, const std::string& part,
               const std::function<void(std::string_view)>& take, std::uint64_t* package_total,
               std::string* err) const {
    zip_stat_t stat;
    zip_stat_init(&stat);
    // Closed however the read ends, `take` running out of memory included.
    const std::unique_ptr<zip_file_t, int (*)(zip_file_t*)> open(
        zip_stat_index(zip, index, 0, &stat) == 0 ? zip_fopen_index(zip, index, 0) : nullptr,
        zip_fclose);
    zip_file_t* entry = open.get();
    if (!entry) {
      *err = Damaged(file, Shown(part) + " 无法解压");
      return false;
    }
    const std::uint64_t occupied =
        std::max<std::uint64_t>((stat.valid & ZIP_STAT_COMP_SIZE) ? stat.comp_size : 0, 1);
    std::uint64_t made = 0;
    char block[1 << 15];
    for (;;) {
      const zip_int64_t got = zip_fread(entry, block, sizeof block);
      if (got < 0) {
        const bool crc = zip_error_code_zip(zip_file_get_error(entry)) == ZIP_ER_CRC;
        *err = Damaged(file, Shown(part) + (crc ? " 的校验和（CRC）不符" : " 无法解压"));
        return false;
      }
      if (got == 0) break;
      made += static_cast<std::uint64_t>(got);
      std::string failure;
      if (made > limits.max_part_bytes)
        failure = "文件“" + file + "”中的 " + Shown(part) + " 解压后超过 " +
                  SizeText(limits.max_part_bytes) + "，超出了单个部件的上限";
      else if (made > limits.ratio_floor_bytes && made > limits.max_ratio * occupied)
        failure = "文件“" + file + "”中的 " + Shown(part) + " 解压后超过压缩大小的 " +
                  std::to_string(limits.max_ratio) + " 倍，疑似压缩炸弹";
      if (package_total && failure.empty()) {
        *package_total += static_cast<std::uint64_t>(got);
        if (*package_total > limits.max_package_bytes)
          failure = "文件“" + file + "”解压后超过 " + SizeText(limits.max_package_bytes) +
                    "，超出了整个文档的上限";
      }
      if (!failure.empty()) {
        *err = failure;
        return false;
      }
      take(std::string_view(block, static_cast<size_t>(got)));
    }
    if ((stat.valid & ZIP_STAT_SIZE) && stat.size != made) {
      *err = Damaged(file, Shown(part) + " 的大小与记录不符");
      return false;
    }
    // Many entries each within the ratio may still make a package far larger than its file.
    if (package_total && *package_total > limits.ratio_floor_bytes &&
        *package_total > limits.max_ratio * std::max<std::uint64_t>(bytes.size(), 1)) {
      *err = "文件“" + file + "”解压后超过文件大小的 " + std::to_string(limits.max_ratio) +
             " 倍，疑似压缩炸弹";
      return false;
    }
    return true;
  }
};

Package::~Package() = default;

std::unique_ptr<Package> Package::Open(FileSystem& fs, const std::string& path, std::string* err) {
  std::string bytes;
  if (!ReadWholeFile(fs, path, &bytes, err)) return nullptr;
  return FromBytes(std::move(bytes), path, err);
}

std::unique_ptr<Package> Package::FromBytes(std::string bytes, const std::string& name,
                                            std::string* err, bool* damaged,
                                            const limits::Limits& limits) {
  std::unique_ptr<Package> package(new Package);
  package->name_ = name;
  package->limits_ = limits;
  package->archive_ = std::make_unique<Archive>();
  package->archive_->limits = limits;
  Archive& archive = *package->archive_;
  archive.bytes = std::move(bytes);
  auto refuse = [&](std::string message, bool for_content) {
    *err = std::move(message);
    if (damaged) *damaged = for_content;
    return nullptr;
  };

  zip_error_t error;
  zip_error_init(&error);
  zip_source_t* source =
      zip_source_buffer_create(archive.bytes.data(), archive.bytes.size(), 0, &error);
  if (source) archive.zip = zip_open_from_source(source, ZIP_RDONLY, &error);
  if (!archive.zip) {
    const int code = zip_error_code_zip(&error);
    if (source) zip_source_free(source);
    zip_error_fini(&error);
    return refuse(DocumentFailure(name, code == ZIP_ER_NOZIP
                                            ? "不是 Office Open XML 文档（不是 zip 包）"
                                            : "文件已损坏"),
                  false);
  }
  zip_error_fini(&error);

  // libzip keeps the first of two entries of one name; the package rules make names that
  // differ only in case one part too. Either way which one was meant is unknown.
  const zip_int64_t count = zip_get_num_entries(archive.zip, 0);
  for (zip_int64_t i = 0; i < count; ++i) {
    const char* entry = zip_get_name(archive.zip, static_cast<zip_uint64_t>(i), ZIP_FL_ENC_RAW);
    if (!entry) continue;
    if (!archive.entries.emplace(AsciiLower("/" + std::string(entry)), i).second)
      return refuse(Damaged(name, "有两个名为 " + std::string(entry) + " 的条目"), true);
  }

  const std::string types_part = "/" + std::string(kContentTypesEntry);
  std::string types;
  if (!package->Has(types_part))
    return refuse(DocumentFailure(name, "缺少 [Content_Types].xml，不是 Office Open XML 文档"),
                  false);
  if (!package->Read(types_part, &types, err)) return refuse(*err, true);
  pugi::xml_document doc;
  if (!ParseXml(types, kContentTypesEntry, &doc, err))
    return refuse(Damaged(name, std::string(kContentTypesEntry) + " 不是有效的 XML"), true);
  for (pugi::xml_node node : doc.document_element().children()) {
    if (std::strcmp(node.name(), "Default") == 0)
      package->defaults_[AsciiLower(node.attribute("Extension").value())] =
          node.attribute("ContentType").value();
    else if (std::strcmp(node.name(), "Override") == 0)
      package->overrides_[AsciiLower(PercentDecoded(node.attribute("PartName").value()))] =
          node.attribute("ContentType").value();
  }

  // Every relationship part, read now: one that is not well-formed would otherwise hide
  // what its owner refers to.
  std::vector<std::pair<std::string, zip_uint64_t>> rels_entries;
  std::map<std::string, std::string> owners;  // lower-case owner -> as the zip spells it
  for (const auto& [key, index] : archive.entries)
    if (!OwnerOf(key).empty()) rels_entries.emplace_back(key, index);
  for (const auto& [key, index] : rels_entries) {
    const std::string part = "/" + std::string(zip_get_name(archive.zip, index, ZIP_FL_ENC_RAW));
    std::string rels_bytes;
    std::vector<Relationship> list;
    if (!package->Read(part, &rels_bytes, err)) return refuse(*err, true);
    if (!ParseRelationships(rels_bytes, part, &list, err))
      return refuse(Damaged(name, Shown(part) + " 不是有效的 XML"), true);
    owners[OwnerOf(key)] = OwnerOf(part);
    package->relationships_[OwnerOf(key)] = std::move(list);
  }

  // An entry without a content type: left out when nothing reaches it, else typed by its
  // extension, else refused.
  std::set<std::string> reached;
  for (const auto& [owner, list] : package->relationships_)
    for (const auto& rel : list)
      if (!rel.external) reached.insert(AsciiLower(package->Resolve(owner, rel)));
  for (auto it = archive.entries.begin(); it != archive.entries.end();) {
    const std::string& key = it->first;
    if (key.ends_with('/') || key == AsciiLower(types_part) || !OwnerOf(key).empty() ||
        !package->ContentType(key).empty()) {
      ++it;
      continue;
    }
    if (!reached.count(key)) {
      it = archive.entries.erase(it);
      continue;
    }
    const std::string part = "/" + std::string(zip_get_name(archive.zip, it->second, ZIP_FL_ENC_RAW));
    const std::string type = TypeByExtension(part);
    if (type.empty()) return refuse(Damaged(name, Shown(part) + " 没有内容类型"), true);
    package->overrides_[key] = type;
    ++it;
  }

  // An internal relationship whose target is not in the package is left out, never turned
  // into a link to whatever the target names outside it.
  for (auto& [key, list] : package->relationships_) {
    const std::string& owner = owners[key];
    std::erase_if(list, [&](const Relationship& rel) {
      if (rel.external) return false;
      const bool outside = LeadsOutside(FolderOf(owner), PercentDecoded(rel.target));
      if (!outside && package->Has(package->Resolve(owner, rel))) return false;
      package->dangling_.push_back({owner, rel, outside});
      return true;
    });
  }

  for (const auto& rel : package->Relationships("/")) {
    if (!rel.type.ends_with("/officeDocument") || rel.external) continue;
    package->main_part_ = package->Resolve("/", rel);
    package->strict_ = rel.type.starts_with(kStrictRelationshipRoot);
    break;
  }
  if (package->main_part_.empty() || !package->Has(package->main_part_))
    return refuse(DocumentFailure(name, "找不到文档的主体部分，文件已损坏或不是 Office 文档"),
                  false);
  return package;
}

bool Package::Has(const std::string& part) const {
  return archive_->entries.count(AsciiLower(part)) > 0;
}

std::vector<std::string> Package::Parts() const {
  std::vector<std::pair<zip_uint64_t, std::string>> ordered;
  for (const auto& [lower, index] : archive_->entries) {
    const std::string part = "/" + std::string(zip_get_name(archive_->zip, index, ZIP_FL_ENC_RAW));
    // Relationship parts are written anew; their names are matched without regard to case,
    // as they are read, so "_rels/.rEls" is never carried beside the "_rels/.rels" written.
    if (part.ends_with('/') || lower.ends_with(".rels") || lower == "/[content_types].xml") continue;
    ordered.emplace_back(index, part);
  }
  std::sort(ordered.begin(), ordered.end());
  std::vector<std::string> parts;
  for (auto& entry : ordered) parts.push_back(std::move(entry.second));
  return parts;
}

bool Package::Read(const std::string& part, std::string* bytes, std::string* err) const {
  const auto found = archive_->entries.find(AsciiLower(part));
  if (found == archive_->entries.end()) {
    *err = "无法读取文档“" + name_ + "”中的“" + part + "”：部件不存在";
    return false;
  }
  bytes->clear();
  zip_stat_t stat;
  // The declared size is a hint only, and never more than a modest first reservation.
  if (zip_stat_index(archive_->zip, found->second, 0, &stat) == 0 && (stat.valid & ZIP_STAT_SIZE))
    bytes->reserve(std::min<zip_uint64_t>(stat.size, limits_.ratio_floor_bytes));
  return archive_->Inflate(name_, found->second, part,
                           [&](std::string_view block) { bytes->append(block); }, nullptr, err);
}

bool IsXmlType(const std::string& content_type) {
  return content_type.ends_with("+xml") || content_type.ends_with("/xml");
}

// A part named .xml is taken as XML whatever type it was given: a damaged type must not
// carry a damaged part into the result unread.
bool Package::IsXmlPart(const std::string& part) const {
  return IsXmlType(ContentType(part)) || !OwnerOf(AsciiLower(part)).empty() ||
         AsciiLower(part).ends_with(".xml");
}

bool Package::Verify(std::string* err) const {
  std::uint64_t total = 0;
  for (const auto& [key, index] : archive_->entries) {
    if (key.ends_with('/')) continue;
    const std::string part = "/" + std::string(zip_get_name(archive_->zip, index, ZIP_FL_ENC_RAW));
    const bool xml = IsXmlPart(part);
    std::string bytes;
    bool control = false;  // a byte no UTF-8 XML may hold: C0 controls but tab, LF and CR
    const auto take = [&](std::string_view block) {
      if (!xml) return;
      bytes.append(block);
      control = control || std::any_of(block.begin(), block.end(), [](unsigned char c) {
                  return c < 0x20 && c != '\t' && c != '\n' && c != '\r';
                });
    };
    if (!archive_->Inflate(name_, index, part, take, &total, err)) return false;
    if (!xml) continue;
    pugi::xml_document doc;
    const pugi::xml_parse_result parsed =
        doc.load_buffer_inplace(bytes.data(), bytes.size(),
                                pugi::parse_minimal | pugi::parse_declaration);
    if (parsed.status == pugi::status_out_of_memory) throw std::bad_alloc();
    // pugixml takes a NUL for the end of the text and lets other controls through; in a part
    // in UTF-8 either is damage (UTF-16 parts hold NUL bytes in every other place).
    if (!parsed || !doc.document_element() ||
        (control && parsed.encoding == pugi::encoding_utf8)) {
      *err = Damaged(name_, Shown(part) + " 不是有效的 XML");
      return false;
    }
    if (ElementDepth(doc) > limits_.max_xml_depth) {
      *err = "文件“" + name_ + "”中的 " + Shown(part) + " 元素嵌套超过 " +
             std::to_string(limits_.max_xml_depth) + " 层，超出了上限";
      return false;
    }
    if (key == AsciiLower(main_part_)) main_namespace_ = RootNamespace(doc);
  }
  // A relationship left out must be one its owner does not use.
  for (const auto& dangling : dangling_) {
    if (dangling.owner == "/" || !IsXmlType(ContentType(dangling.owner))) continue;
    std::string bytes;
    pugi::xml_document doc;
    if (!Read(dangling.owner, &bytes, err) || !ParseXml(bytes, dangling.owner, &doc, err))
      return false;
    if (!RelationshipIdsUsed(doc).count(dangling.rel.id)) continue;
    *err = Damaged(name_, Shown(dangling.owner) + " 的关系 " + dangling.rel.id + " 指向" +
                              (dangling.outside ? "文档以外的 " : "不存在的部件 ") +
                              dangling.rel.target);
    return false;
  }
  return true;
}

std::string Package::ContentType(const std::string& part) const {
  const auto found = overrides_.find(AsciiLower(part));
  if (found != overrides_.end()) return found->second;
  const auto dot = part.rfind('.');
  if (dot == std::string::npos || dot < part.rfind('/')) return {};
  const auto by_extension = defaults_.find(AsciiLower(part.substr(dot + 1)));
  return by_extension == defaults_.end() ? std::string() : by_extension->second;
}

const std::vector<Relationship>& Package::Relationships(const std::string& part) const {
  static const std::vector<Relationship> kNone;
  const auto found = relationships_.find(AsciiLower(part));
  return found == relationships_.end() ? kNone : found->second;
}

const Relationship* Package::FindRelationship(const std::string& part,
                                              const std::string& type) const {
  for (const auto& rel : Relationships(part))
    if (rel.type == type) return &rel;
  return nullptr;
}

std::string Package::Resolve(const std::string& owner, const Relationship& rel) const {
  if (rel.external) return {};
  return JoinPartName(FolderOf(owner), PercentDecoded(rel.target));
}

}  // namespace quorvane::office
