#include "office/part_importer.h"

#include "common/path.h"
#include "office/package_parts.h"

namespace quorvane::office {

using path::AsciiLower;

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
