#include "office/package_writer.h"

#include <zip.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <functional>

#include "common/path.h"
#include "common/write_path.h"
#include "office/package_parts.h"
#include "office/produced_parts.h"
#include "office/xml.h"

namespace quorvane::office {
namespace {

constexpr const char* kRelationshipsType =
    "application/vnd.openxmlformats-package.relationships+xml";

using path::AsciiLower;

// The relationship part of `owner`: "/word/_rels/document.xml.rels", "/_rels/.rels" for "/".
std::string RelationshipPartOf(const std::string& owner) {
  if (owner == "/") return "/_rels/.rels";
  const std::string folder = FolderOf(owner);
  return folder + "_rels/" + owner.substr(folder.size()) + ".rels";
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

}  // namespace

// ---------------------------------------------------------------------------------------
// Writing

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
  // Numbers beyond this are not counted, so that the next one can never overflow; the ids
  // are names, and any free one serves.
  constexpr unsigned long long kLargestCounted = 1ull << 53;
  unsigned long long highest = 0;
  for (const auto& rel : list) {
    if (!rel.id.starts_with("rId")) continue;
    const char* first = rel.id.data() + 3;
    const char* last = rel.id.data() + rel.id.size();
    unsigned long long n = 0;
    const auto [end, error] = std::from_chars(first, last, n);
    if (error == std::errc() && end == last && n <= kLargestCounted) highest = std::max(highest, n);
  }
  // An id that only looks like ours ("rIdImage", "rId007") can never equal the number we give.
  for (unsigned long long n = highest + 1;; ++n) {
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

}  // namespace quorvane::office
