#include "office/package.h"

#include <zip.h>
#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <functional>
#include <future>
#include <new>

#include "common/path.h"
#include "common/write_path.h"
#include "office/limits.h"
#include "office/xml.h"

namespace quorvane::office {
namespace {

constexpr const char* kContentTypesEntry = "[Content_Types].xml";
constexpr const char* kRelationshipsType =
    "application/vnd.openxmlformats-package.relationships+xml";
constexpr const char* kStrictRelationshipRoot = "http://purl.oclc.org/ooxml/";

using path::AsciiLower;

std::string DocumentFailure(const std::string& file, const std::string& reason) {
  return "无法打开文档“" + file + "”：" + reason;
}

// "/word/document.xml" -> "/word/"; "/" and "/[Content_Types].xml" -> "/".
std::string FolderOf(const std::string& part) {
  const auto slash = part.rfind('/');
  return slash == std::string::npos ? "/" : part.substr(0, slash + 1);
}

// The relationship part of `owner`: "/word/_rels/document.xml.rels", "/_rels/.rels" for "/".
std::string RelationshipPartOf(const std::string& owner) {
  if (owner == "/") return "/_rels/.rels";
  const std::string folder = FolderOf(owner);
  return folder + "_rels/" + owner.substr(folder.size()) + ".rels";
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

// The target text that reaches `target_part` from a part in the folder `base`.
std::string RelativeTarget(const std::string& base, const std::string& target_part) {
  size_t common = 0;
  for (size_t i = 0; i < base.size() && i < target_part.size() && base[i] == target_part[i]; ++i)
    if (base[i] == '/') common = i + 1;
  std::string out;
  for (size_t i = common; i < base.size(); ++i)
    if (base[i] == '/') out += "../";
  return out + target_part.substr(common);
}

bool IsMedia(const std::string& content_type) {
  return content_type.find("xml") == std::string::npos;
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

// A new package part of our own: the declaration and the root `name` in namespace `uri`.
pugi::xml_node NewPackageXml(pugi::xml_document& doc, const char* name, const char* uri) {
  auto declaration = doc.append_child(pugi::node_declaration);
  declaration.append_attribute("version") = "1.0";
  declaration.append_attribute("encoding") = "UTF-8";
  declaration.append_attribute("standalone") = "yes";
  auto root = doc.append_child(name);
  root.append_attribute("xmlns") = uri;
  return root;
}

std::string RelationshipsXml(const std::vector<Relationship>& list) {
  pugi::xml_document doc;
  auto root = NewPackageXml(doc, "Relationships", ns::kPackageRel);
  for (const auto& rel : list) {
    auto node = root.append_child("Relationship");
    node.append_attribute("Id") = rel.id.c_str();
    node.append_attribute("Type") = rel.type.c_str();
    node.append_attribute("Target") = rel.target.c_str();
    if (rel.external) node.append_attribute("TargetMode") = "External";
  }
  return SaveXml(doc);
}

// Media are told apart by two independent checksums and their size: the same key means the
// same bytes for any file that was not made to collide.
std::string MediaDigest(const std::string& bytes) {
  const auto crc = crc32_z(0, reinterpret_cast<const Bytef*>(bytes.data()), bytes.size());
  return std::to_string(std::hash<std::string>{}(bytes)) + ":" + std::to_string(crc) + ":" +
         std::to_string(bytes.size());
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

bool IsXmlType(const std::string& content_type) {
  return content_type.ends_with("+xml") || content_type.ends_with("/xml");
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
    if (part.ends_with('/') || part.ends_with(".rels") || lower == "/[content_types].xml") continue;
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

bool Package::Verify(std::string* err) const {
  std::uint64_t total = 0;
  for (const auto& [key, index] : archive_->entries) {
    if (key.ends_with('/')) continue;
    const std::string part = "/" + std::string(zip_get_name(archive_->zip, index, ZIP_FL_ENC_RAW));
    const bool xml = IsXmlType(ContentType(part)) || !OwnerOf(key).empty() ||
                     key == "/[content_types].xml";
    std::string bytes;
    const auto take = [&](std::string_view block) {
      if (xml) bytes.append(block);
    };
    if (!archive_->Inflate(name_, index, part, take, &total, err)) return false;
    if (!xml) continue;
    pugi::xml_document doc;
    const pugi::xml_parse_result parsed =
        doc.load_buffer_inplace(bytes.data(), bytes.size(), pugi::parse_minimal);
    if (parsed.status == pugi::status_out_of_memory) throw std::bad_alloc();
    if (!parsed || !doc.document_element()) {
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

// ---------------------------------------------------------------------------------------
// Writing

struct PackageWriter::Entry {
  std::string name;
  std::string content_type;
  std::string bytes;
  PartProducer producer;                   // a part made whole just before it is stored
  std::function<PartProducer()> streamed;  // a part streamed, produced once more for its size
  // While the package is saved: the bytes produced and not yet stored, and where libzip is.
  std::string pending;
  size_t pending_at = 0;
  bool ready = false;   // `pending` holds the whole part
  bool stored = false;  // written into the archive; only its size is kept
  size_t size = 0;
  PartProducer current;  // a streamed part's producer while libzip reads it
  bool current_done = false;
  std::string failure;
  bool produced() const { return producer || streamed; }
};

PackageWriter::PackageWriter() = default;
PackageWriter::~PackageWriter() = default;

void PackageWriter::SetPart(const std::string& part, std::string bytes,
                            const std::string& content_type) {
  const std::string key = AsciiLower(part);
  auto found = index_.find(key);
  if (found == index_.end()) {
    found = index_.emplace(key, entries_.size()).first;
    entries_.push_back(std::make_unique<Entry>());
  }
  Entry& entry = *entries_[found->second];
  entry.name = part;
  entry.content_type = content_type;
  entry.bytes = std::move(bytes);
  entry.producer = nullptr;
  entry.streamed = nullptr;
  if (IsMedia(content_type) && !entry.bytes.empty())
    media_by_digest_.emplace(MediaDigest(entry.bytes), part);
}

void PackageWriter::SetProducedPart(const std::string& part, PartProducer producer,
                                    const std::string& content_type) {
  SetPart(part, {}, content_type);
  entries_[index_.at(AsciiLower(part))]->producer = std::move(producer);
}

void PackageWriter::SetStreamedPart(const std::string& part, std::function<PartProducer()> make,
                                    const std::string& content_type) {
  SetPart(part, {}, content_type);
  entries_[index_.at(AsciiLower(part))]->streamed = std::move(make);
}

const std::string* PackageWriter::Bytes(const std::string& part) const {
  const auto found = index_.find(AsciiLower(part));
  if (found == index_.end() || entries_[found->second]->produced()) return nullptr;
  return &entries_[found->second]->bytes;
}

bool PackageWriter::Has(const std::string& part) const {
  return index_.count(AsciiLower(part)) > 0;
}

void PackageWriter::RemovePart(const std::string& part) {
  const auto found = index_.find(AsciiLower(part));
  if (found == index_.end()) return;
  entries_.erase(entries_.begin() + static_cast<long>(found->second));
  index_.clear();
  for (size_t i = 0; i < entries_.size(); ++i) index_[AsciiLower(entries_[i]->name)] = i;
  relationships_.erase(AsciiLower(part));
}

std::vector<std::string> PackageWriter::Parts() const {
  std::vector<std::string> parts;
  for (const auto& entry : entries_) parts.push_back(entry->name);
  return parts;
}

std::string PackageWriter::ContentType(const std::string& part) const {
  const auto found = index_.find(AsciiLower(part));
  return found == index_.end() ? std::string() : entries_[found->second]->content_type;
}

std::string PackageWriter::FreePartName(const std::string& wanted) const {
  if (!Has(wanted)) return wanted;
  const size_t slash = wanted.rfind('/');
  size_t dot = wanted.rfind('.');
  if (dot == std::string::npos || dot < slash) dot = wanted.size();
  size_t digits = dot;
  while (digits > slash + 1 && std::isdigit(static_cast<unsigned char>(wanted[digits - 1])))
    --digits;
  const std::string stem = wanted.substr(0, digits);
  const std::string extension = wanted.substr(dot);
  for (long n = 1;; ++n) {
    std::string candidate = stem + std::to_string(n) + extension;
    if (!Has(candidate)) return candidate;
  }
}

std::vector<Relationship>& PackageWriter::Relationships(const std::string& part) {
  auto& rels = relationships_[AsciiLower(part)];
  rels.owner = part;
  return rels.list;
}

namespace {

std::string FreeRelationshipId(const std::vector<Relationship>& list) {
  long highest = 0;
  for (const auto& rel : list)
    if (rel.id.starts_with("rId")) {
      char* end = nullptr;
      const long n = std::strtol(rel.id.c_str() + 3, &end, 10);
      if (end && *end == '\0') highest = std::max(highest, n);
    }
  // An id that only looks like ours ("rIdImage") can never equal the number we give.
  for (long n = highest + 1;; ++n) {
    std::string id = "rId" + std::to_string(n);
    if (std::none_of(list.begin(), list.end(), [&](const Relationship& r) { return r.id == id; }))
      return id;
  }
}

}  // namespace

std::string PackageWriter::AddRelationship(const std::string& owner, const std::string& type,
                                           const std::string& target_part) {
  auto& list = Relationships(owner);
  Relationship rel{FreeRelationshipId(list), type, RelativeTarget(FolderOf(owner), target_part),
                   false};
  list.push_back(rel);
  return rel.id;
}

std::string PackageWriter::AddExternalRelationship(const std::string& owner,
                                                   const std::string& type,
                                                   const std::string& target) {
  auto& list = Relationships(owner);
  Relationship rel{FreeRelationshipId(list), type, target, true};
  list.push_back(rel);
  return rel.id;
}

namespace {

// The archive being written: libzip writes through this into a temporary file of the
// file-system layer, seeking back to finish each entry's header.
struct ArchiveTarget {
  FileSystem& fs;
  std::string path;
  std::unique_ptr<FileWrite> file;
  long long position = 0;
  long long size = 0;
  std::string failure;
  zip_error_t error;
};

zip_int64_t Failed(ArchiveTarget& target, std::string message) {
  if (target.failure.empty()) target.failure = std::move(message);
  zip_error_set(&target.error, ZIP_ER_WRITE, 0);
  return -1;
}

// What an exception caught at a C callback says, for the message of the failed save.
std::string Thrown() {
  try {
    throw;
  } catch (const std::bad_alloc&) {
    return "内存不足";
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "未知错误";
  }
}

zip_int64_t ArchiveTargetStep(ArchiveTarget& target, void* data, zip_uint64_t length,
                              zip_source_cmd_t command) {
  switch (command) {
    case ZIP_SOURCE_SUPPORTS:
      return zip_source_make_command_bitmap(
          ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT, ZIP_SOURCE_ERROR,
          ZIP_SOURCE_FREE, ZIP_SOURCE_SEEK, ZIP_SOURCE_TELL, ZIP_SOURCE_SUPPORTS,
          ZIP_SOURCE_BEGIN_WRITE, ZIP_SOURCE_COMMIT_WRITE, ZIP_SOURCE_ROLLBACK_WRITE,
          ZIP_SOURCE_WRITE, ZIP_SOURCE_SEEK_WRITE, ZIP_SOURCE_TELL_WRITE, ZIP_SOURCE_REMOVE, -1);
    case ZIP_SOURCE_STAT:
      // There is no archive yet: libzip starts a new one.
      zip_error_set(&target.error, ZIP_ER_READ, ENOENT);
      return -1;
    case ZIP_SOURCE_ERROR:
      return zip_error_to_data(&target.error, data, length);
    case ZIP_SOURCE_BEGIN_WRITE:
      target.file = FileWrite::Begin(target.fs, target.path, &target.failure);
      target.position = target.size = 0;
      if (!target.file) return Failed(target, target.failure);
      return 0;
    case ZIP_SOURCE_WRITE: {
      std::string err;
      if (!target.file->file().Write(static_cast<const char*>(data), length, &err))
        return Failed(target, err);
      target.position += static_cast<long long>(length);
      target.size = std::max(target.size, target.position);
      return static_cast<zip_int64_t>(length);
    }
    case ZIP_SOURCE_SEEK_WRITE: {
      auto* args = ZIP_SOURCE_GET_ARGS(zip_source_args_seek_t, data, length, &target.error);
      if (!args) return -1;
      long long to = args->offset;
      if (args->whence == SEEK_CUR) to += target.position;
      if (args->whence == SEEK_END) to += target.size;
      std::string err;
      if (to < 0 || !target.file->file().Seek(to, &err)) return Failed(target, err);
      target.position = to;
      return 0;
    }
    case ZIP_SOURCE_TELL_WRITE:
      return target.position;
    case ZIP_SOURCE_COMMIT_WRITE:
      // The archive is whole; it takes its name once the save has checked everything.
      return 0;
    case ZIP_SOURCE_ROLLBACK_WRITE:
      target.file.reset();
      return 0;
    case ZIP_SOURCE_REMOVE:
    case ZIP_SOURCE_FREE:
    case ZIP_SOURCE_OPEN:
    case ZIP_SOURCE_CLOSE:
      return 0;
    default:
      zip_error_set(&target.error, ZIP_ER_OPNOTSUPP, 0);
      return -1;
  }
}

// Nothing thrown may cross libzip, which is C: it is caught here and fails the save.
zip_int64_t ArchiveTargetCallback(void* state, void* data, zip_uint64_t length,
                                  zip_source_cmd_t command) {
  auto& target = *static_cast<ArchiveTarget*>(state);
  try {
    return ArchiveTargetStep(target, data, length, command);
  } catch (...) {
    try {
      if (target.failure.empty()) target.failure = "无法保存文档“" + target.path + "”：" + Thrown();
    } catch (...) {
    }
    zip_error_set(&target.error, ZIP_ER_WRITE, 0);
    return -1;
  }
}

// Runs a part's producer to its end, into `entry.pending`.
bool ProduceWhole(PackageWriter::Entry& entry) {
  entry.pending.clear();
  std::string piece;
  for (bool done = false; !done;) {
    piece.clear();
    if (!entry.producer(&piece, &done, &entry.failure)) return false;
    entry.pending += piece;
  }
  entry.ready = true;
  return true;
}

// Runs a fresh producer of a streamed part to its end, keeping only the count of its bytes.
bool MeasureStreamed(PackageWriter::Entry& entry) {
  PartProducer producer = entry.streamed();
  std::string piece;
  entry.size = 0;
  for (bool done = false; !done;) {
    piece.clear();
    if (!producer(&piece, &done, &entry.failure)) return false;
    entry.size += piece.size();
  }
  entry.ready = true;
  return true;
}

// Hands libzip the produced parts of one save. libzip wants each part's size before its
// bytes, so that the entry's header needs no 64-bit fields (which some office suites refuse):
// a produced part is made whole just before it is stored and let go once stored, and while
// libzip compresses it the next one is made on a second thread. Only one producer runs at a
// time, and never beside another, so producers need not be thread-safe among themselves.
class ProducedParts {
 public:
  explicit ProducedParts(std::vector<PackageWriter::Entry*> order) : order_(std::move(order)) {}
  ~ProducedParts() { Settle(); }

  zip_int64_t Call(PackageWriter::Entry& entry, zip_error_t& error, void* data, zip_uint64_t length,
                   zip_source_cmd_t command) {
    switch (command) {
      case ZIP_SOURCE_SUPPORTS:
        return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE,
                                              ZIP_SOURCE_STAT, ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE,
                                              -1);
      case ZIP_SOURCE_STAT: {
        // libzip asks once more after storing the part: the size is kept.
        if (!entry.stored && !Ready(entry)) return Failed(error);
        auto* stat = ZIP_SOURCE_GET_ARGS(zip_stat_t, data, length, &error);
        if (!stat) return -1;
        zip_stat_init(stat);
        stat->size = entry.size;
        stat->valid |= ZIP_STAT_SIZE;
        return sizeof(zip_stat_t);
      }
      case ZIP_SOURCE_OPEN:
        if (!Ready(entry)) return Failed(error);
        entry.pending_at = 0;
        if (entry.streamed) {
          entry.pending.clear();
          entry.current = entry.streamed();
          entry.current_done = false;
        }
        return 0;
      case ZIP_SOURCE_READ:
        return Read(entry, error, static_cast<char*>(data), length);
      case ZIP_SOURCE_CLOSE:
        entry.stored = true;
        entry.ready = false;
        entry.current = nullptr;
        std::string().swap(entry.pending);
        return 0;
      case ZIP_SOURCE_ERROR:
        return zip_error_to_data(&error, data, length);
      case ZIP_SOURCE_FREE:
        return 0;
      default:
        zip_error_set(&error, ZIP_ER_OPNOTSUPP, 0);
        return -1;
    }
  }

  /// Waits for the part being made on the second thread, if any.
  void Settle() {
    if (ahead_.valid()) ahead_.wait();
  }

 private:
  static zip_int64_t Failed(zip_error_t& error) {
    zip_error_set(&error, ZIP_ER_READ, 0);
    return -1;
  }

  // Makes `entry` ready (waiting for it when it is being made ahead), then starts the next
  // part that is made whole.
  bool Ready(PackageWriter::Entry& entry) {
    bool made;
    if (ahead_entry_ == &entry) {  // its fields are the other thread's until then
      made = ahead_.get();
      ahead_entry_ = nullptr;
    } else if (entry.ready) {
      return true;
    } else {
      Settle();
      made = entry.streamed ? MeasureStreamed(entry) : ProduceWhole(entry);
    }
    if (!made) return false;
    // A streamed part is produced while libzip reads it, so nothing is made beside it.
    if (!entry.streamed) {
      entry.size = entry.pending.size();
      StartNextAfter(entry);
    }
    return true;
  }

  void StartNextAfter(const PackageWriter::Entry& entry) {
    if (ahead_.valid()) return;
    auto it = std::find(order_.begin(), order_.end(), &entry);
    for (it = it == order_.end() ? it : it + 1; it != order_.end(); ++it) {
      PackageWriter::Entry* next = *it;
      if (next->ready || next->stored || next->streamed) continue;
      ahead_entry_ = next;
      ahead_ = std::async(std::launch::async, [next] { return ProduceWhole(*next); });
      return;
    }
  }

  zip_int64_t Read(PackageWriter::Entry& entry, zip_error_t& error, char* out,
                   zip_uint64_t length) {
    zip_uint64_t given = 0;
    while (given < length) {
      if (entry.pending_at == entry.pending.size()) {
        if (!entry.streamed || entry.current_done) break;
        entry.pending.clear();
        entry.pending_at = 0;
        if (!entry.current(&entry.pending, &entry.current_done, &entry.failure))
          return Failed(error);
        continue;
      }
      const size_t take = std::min<size_t>(length - given, entry.pending.size() - entry.pending_at);
      std::memcpy(out + given, entry.pending.data() + entry.pending_at, take);
      entry.pending_at += take;
      given += take;
    }
    return static_cast<zip_int64_t>(given);
  }

  std::vector<PackageWriter::Entry*> order_;
  std::future<bool> ahead_;
  PackageWriter::Entry* ahead_entry_ = nullptr;
};

struct ProducerState {
  ProducedParts* parts;
  PackageWriter::Entry* entry;
  std::string* thrown;  // what the first exception caught said
  zip_error_t error;
};

// A producer that throws (out of memory, say) fails the save like one that reports failure.
zip_int64_t ProducerCallback(void* state, void* data, zip_uint64_t length,
                             zip_source_cmd_t command) {
  auto& producer = *static_cast<ProducerState*>(state);
  try {
    return producer.parts->Call(*producer.entry, producer.error, data, length, command);
  } catch (...) {
    try {
      if (producer.thrown->empty()) *producer.thrown = Thrown();
    } catch (...) {
    }
    zip_error_set(&producer.error, ZIP_ER_READ, 0);
    return -1;
  }
}

// The content types: Defaults for relationship parts, XML and each media extension, an
// Override for every other part.
std::string ContentTypesXml(const std::vector<std::unique_ptr<PackageWriter::Entry>>& entries) {
  // A part without a type of its own is declared as plain bytes: an empty type makes the
  // whole package unreadable to office suites.
  auto type_of = [](const PackageWriter::Entry& entry) -> const std::string& {
    static const std::string kBytes = "application/octet-stream";
    return entry.content_type.empty() ? kBytes : entry.content_type;
  };
  pugi::xml_document types;
  auto types_root = NewPackageXml(types, "Types", ns::kContentTypes);
  std::map<std::string, std::string> defaults = {{"rels", kRelationshipsType},
                                                 {"xml", "application/xml"}};
  for (const auto& entry : entries) {
    const auto dot = entry->name.rfind('.');
    if (dot == std::string::npos || dot < entry->name.rfind('/') || !IsMedia(type_of(*entry)))
      continue;
    defaults.emplace(AsciiLower(entry->name.substr(dot + 1)), type_of(*entry));
  }
  for (const auto& [extension, type] : defaults) {
    auto node = types_root.append_child("Default");
    node.append_attribute("Extension") = extension.c_str();
    node.append_attribute("ContentType") = type.c_str();
  }
  for (const auto& entry : entries) {
    const auto dot = entry->name.rfind('.');
    const auto by_extension = dot == std::string::npos
                                  ? defaults.end()
                                  : defaults.find(AsciiLower(entry->name.substr(dot + 1)));
    if (by_extension != defaults.end() && by_extension->second == type_of(*entry)) continue;
    auto node = types_root.append_child("Override");
    node.append_attribute("PartName") = entry->name.c_str();
    node.append_attribute("ContentType") = type_of(*entry).c_str();
  }
  return SaveXml(types);
}

}  // namespace

namespace {

// The archive's zip handle, let go on every way out of a save that did not close it.
struct ZipHandle {
  zip_t* zip = nullptr;
  ~ZipHandle() {
    if (zip) zip_discard(zip);
  }
};

// The error records of a save, finished on every way out.
struct ZipErrors {
  std::vector<zip_error_t*> list;
  ~ZipErrors() {
    for (zip_error_t* error : list) zip_error_fini(error);
  }
};

}  // namespace

bool PackageWriter::Save(FileSystem& fs, const std::string& path, std::string* err) {
  try {
    return SaveArchive(fs, path, err);
  } catch (...) {
    // Whatever was begun is undone on the way here: the zip handle let go, the unnamed
    // file removed.
    *err = "无法保存文档“" + path + "”：" + Thrown();
    return false;
  }
}

bool PackageWriter::SaveArchive(FileSystem& fs, const std::string& path, std::string* err) {
  const std::string types_bytes = ContentTypesXml(entries_);
  std::vector<std::pair<std::string, std::string>> rels_parts;  // zip name, bytes
  for (const auto& [key, rels] : relationships_)
    if (!rels.list.empty())
      rels_parts.emplace_back(RelationshipPartOf(rels.owner).substr(1),
                              RelationshipsXml(rels.list));

  // Declared so that the handle goes first, then what its callbacks use.
  ZipErrors errors;
  ArchiveTarget target{fs, path, nullptr, 0, 0, {}, {}};
  zip_error_init(&target.error);
  errors.list.push_back(&target.error);
  std::vector<PackageWriter::Entry*> order;
  for (const auto& entry : entries_) {
    if (!entry->produced()) continue;
    entry->ready = entry->stored = false;  // a save tried again makes every part afresh
    order.push_back(entry.get());
  }
  ProducedParts produced(order);
  std::vector<std::unique_ptr<ProducerState>> producers;
  std::string thrown;
  ZipHandle handle;

  zip_error_t error;
  zip_error_init(&error);
  errors.list.push_back(&error);
  zip_source_t* archive_source = zip_source_function_create(ArchiveTargetCallback, &target, &error);
  handle.zip = archive_source
                   ? zip_open_from_source(archive_source, ZIP_CREATE | ZIP_TRUNCATE, &error)
                   : nullptr;
  if (!handle.zip) {
    if (archive_source) zip_source_free(archive_source);
    *err = "无法保存文档“" + path + "”：" + zip_error_strerror(&error);
    return false;
  }
  zip_t* zip = handle.zip;

  bool added = true;
  // Adds `source` (taken over, even on failure) as the entry `name`, stored or deflated.
  auto add_source = [&](const std::string& name, zip_source_t* source, bool media, int level) {
    const zip_int64_t index =
        source ? zip_file_add(zip, name.c_str(), source, ZIP_FL_ENC_UTF_8) : -1;
    if (index < 0) {
      if (source) zip_source_free(source);
      added = false;
      return;
    }
    zip_set_file_compression(zip, static_cast<zip_uint64_t>(index),
                             media ? ZIP_CM_STORE : ZIP_CM_DEFLATE, level);
  };
  auto add = [&](const std::string& name, const char* data, size_t size, bool media) {
    add_source(name, zip_source_buffer(zip, data, size, 0), media, 0);
  };
  add(kContentTypesEntry, types_bytes.data(), types_bytes.size(), false);
  for (const auto& entry : entries_) {
    const std::string name = entry->name.substr(1);
    const bool media = IsMedia(entry->content_type);
    if (!entry->produced()) {
      add(name, entry->bytes.data(), entry->bytes.size(), media);
      continue;
    }
    producers.push_back(
        std::make_unique<ProducerState>(ProducerState{&produced, entry.get(), &thrown, {}}));
    zip_error_init(&producers.back()->error);
    errors.list.push_back(&producers.back()->error);
    // Produced parts are the large ones: the fastest compression keeps the save quick.
    add_source(name, zip_source_function(zip, ProducerCallback, producers.back().get()), media, 1);
  }
  for (const auto& [name, bytes] : rels_parts) add(name, bytes.data(), bytes.size(), false);

  const bool saved = added && zip_close(zip) == 0;
  produced.Settle();
  if (!saved) {
    std::string reason = target.failure;
    for (const auto& producer : producers)
      if (reason.empty()) reason = producer->entry->failure;
    if (reason.empty() && !thrown.empty()) reason = "无法保存文档“" + path + "”：" + thrown;
    if (reason.empty()) reason = "无法保存文档“" + path + "”：" + zip_strerror(zip);
    *err = reason;
    return false;  // the handle is let go, then the unnamed file removed
  }
  handle.zip = nullptr;  // closed
  // The result takes the permission bits of the file it replaces, or those of a new file.
  return target.file && target.file->Commit(err);
}

// ---------------------------------------------------------------------------------------
// Copying between packages

// A source package read again while the target is saved, for the media that were not held.
// It stays open from the first of its media to the last, then is let go.
struct PartImporter::LaterSource {
  FileSystem& fs;
  std::string path;
  std::unique_ptr<Package> open;
  int waiting = 0;  // media still to be read from it

  static PartProducer ReadAgain(std::shared_ptr<LaterSource> self, const std::string& part,
                                const std::string& digest) {
    ++self->waiting;
    return [self, part, digest](std::string* piece, bool* done, std::string* err) {
      *done = true;
      if (!self->open) self->open = Package::Open(self->fs, self->path, err);
      const bool read = self->open && self->open->Read(part, piece, err);
      if (--self->waiting == 0) self->open.reset();
      if (read && MediaDigest(*piece) != digest)
        *err = "文件“" + self->path + "”在合并期间被改动，没有保存合并结果，请重新合并";
      return read && MediaDigest(*piece) == digest;
    };
  }
};

void PartImporter::ReadMediaLater(FileSystem& fs, const std::string& path) {
  later_ = std::make_shared<LaterSource>(LaterSource{fs, path, nullptr, 0});
}

std::string PartImporter::CopyPart(const std::string& part, std::string* err) {
  const std::string key = AsciiLower(part);
  if (auto found = copied_.find(key); found != copied_.end()) return found->second;
  std::string bytes;
  if (!source_.Read(part, &bytes, err)) return {};
  const std::string content_type = source_.ContentType(part);
  const auto& rels = source_.Relationships(part);

  // The same picture in many documents is stored once.
  if (IsMedia(content_type) && rels.empty()) {
    const std::string digest = MediaDigest(bytes);
    const auto same = target_.media_by_digest_.find(digest);
    if (same != target_.media_by_digest_.end()) return copied_[key] = same->second;
    const std::string name = target_.FreePartName(part);
    copied_[key] = name;
    target_.media_by_digest_.emplace(digest, name);
    if (later_)
      target_.SetProducedPart(name, LaterSource::ReadAgain(later_, part, digest), content_type);
    else
      target_.SetPart(name, std::move(bytes), content_type);
    return name;
  }
  const std::string name = target_.FreePartName(part);
  copied_[key] = name;
  target_.SetPart(name, std::move(bytes), content_type);

  std::vector<Relationship> copies;
  for (const auto& rel : rels) {
    if (skipped_types.count(rel.type)) continue;
    Relationship copy = rel;
    const std::string reached = source_.Resolve(part, rel);
    if (!rel.external) {
      const std::string new_target = CopyPart(reached, err);
      if (new_target.empty()) return {};
      copy.target = RelativeTarget(FolderOf(name), new_target);
    }
    copies.push_back(std::move(copy));
  }
  if (!copies.empty()) target_.Relationships(name) = std::move(copies);
  return name;
}

bool PartImporter::ImportRelationships(const std::string& source_owner,
                                       const std::string& target_owner,
                                       const std::set<std::string>* ids,
                                       std::map<std::string, std::string>* id_map,
                                       std::string* err) {
  for (const auto& rel : source_.Relationships(source_owner)) {
    if ((ids && !ids->count(rel.id)) || skipped_types.count(rel.type)) continue;
    const std::string reached = source_.Resolve(source_owner, rel);
    if (rel.external) {
      (*id_map)[rel.id] = target_.AddExternalRelationship(target_owner, rel.type, rel.target);
      continue;
    }
    const std::string copy = CopyPart(reached, err);
    if (copy.empty()) return false;
    (*id_map)[rel.id] = target_.AddRelationship(target_owner, rel.type, copy);
  }
  return true;
}

}  // namespace quorvane::office
