#include "office/sniff.h"

#include <cstdint>
#include <string>
#include <vector>

namespace quorvane::office {
namespace {

constexpr std::string_view kSignature("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8);
constexpr std::uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr std::uint32_t kNoStream = 0xFFFFFFFF;
constexpr std::uint32_t kMaxRegularSector = 0xFFFFFFFA;
constexpr size_t kHeaderSize = 512;
constexpr size_t kHeaderDifatEntries = 109;
constexpr size_t kDirectoryEntrySize = 128;

std::uint32_t Le32(std::string_view bytes, size_t at) {
  return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at])) |
         static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 1])) << 8 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 2])) << 16 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 3])) << 24;
}

std::uint16_t Le16(std::string_view bytes, size_t at) {
  return static_cast<std::uint16_t>(static_cast<unsigned char>(bytes[at]) |
                                    static_cast<unsigned char>(bytes[at + 1]) << 8);
}

// The compound file's sectors, as far as the bytes hold them.
class CompoundFile {
 public:
  explicit CompoundFile(std::string_view bytes) : bytes_(bytes) {}

  // Reads the header and the allocation table; false for anything malformed.
  bool Load() {
    if (bytes_.size() < kHeaderSize || !bytes_.starts_with(kSignature)) return false;
    if (Le16(bytes_, 0x1C) != 0xFFFE) return false;  // byte order
    const std::uint16_t shift = Le16(bytes_, 0x1E);
    if (shift != 9 && shift != 12) return false;
    sector_size_ = size_t{1} << shift;
    const std::uint32_t fat_sectors = Le32(bytes_, 0x2C);
    if (fat_sectors > Sectors()) return false;
    // The allocation table's sectors: 109 listed in the header, the rest in a chain of
    // DIFAT sectors, each ending in the next one's number.
    std::vector<std::uint32_t> fat_list;
    for (size_t i = 0; i < kHeaderDifatEntries && fat_list.size() < fat_sectors; ++i)
      fat_list.push_back(Le32(bytes_, 0x4C + 4 * i));
    std::uint32_t difat = Le32(bytes_, 0x44);
    const size_t per_difat = sector_size_ / 4 - 1;
    for (size_t steps = 0; fat_list.size() < fat_sectors; ++steps) {
      if (steps > Sectors() || !Regular(difat)) return false;
      const size_t at = Offset(difat);
      for (size_t i = 0; i < per_difat && fat_list.size() < fat_sectors; ++i)
        fat_list.push_back(Le32(bytes_, at + 4 * i));
      difat = Le32(bytes_, at + 4 * per_difat);
    }
    for (const std::uint32_t sector : fat_list) {
      if (!Regular(sector)) return false;
      const size_t at = Offset(sector);
      for (size_t i = 0; i < sector_size_ / 4; ++i) fat_.push_back(Le32(bytes_, at + 4 * i));
    }
    first_directory_ = Le32(bytes_, 0x30);
    return true;
  }

  // The directory: every 128-byte entry of its sector chain, in order.
  bool Directory(std::vector<std::string_view>* entries) const {
    std::uint32_t sector = first_directory_;
    for (size_t steps = 0; sector != kEndOfChain; ++steps) {
      if (steps > Sectors() || !Regular(sector) || sector >= fat_.size()) return false;
      const size_t at = Offset(sector);
      for (size_t i = 0; i < sector_size_ / kDirectoryEntrySize; ++i)
        entries->push_back(bytes_.substr(at + i * kDirectoryEntrySize, kDirectoryEntrySize));
      sector = fat_[sector];
    }
    return !entries->empty();
  }

 private:
  // Sectors that follow the header, whole or not.
  size_t Sectors() const { return (bytes_.size() - kHeaderSize) / sector_size_ + 1; }
  // A sector number that names a sector lying wholly within the bytes.
  bool Regular(std::uint32_t sector) const {
    return sector <= kMaxRegularSector && Offset(sector) + sector_size_ <= bytes_.size();
  }
  size_t Offset(std::uint32_t sector) const { return (size_t{sector} + 1) * sector_size_; }

  std::string_view bytes_;
  size_t sector_size_ = kHeaderSize;
  std::vector<std::uint32_t> fat_;
  std::uint32_t first_directory_ = kEndOfChain;
};

// The name of a directory entry, its UTF-16LE code units narrowed when all are ASCII.
std::string EntryName(std::string_view entry) {
  const size_t length = Le16(entry, 0x40);  // in bytes, with the final null
  if (length < 2 || length > 64 || length % 2) return {};
  std::string name;
  for (size_t i = 0; i + 2 < length; i += 2) {
    const std::uint16_t unit = Le16(entry, i);
    if (unit == 0 || unit > 0x7F) return {};
    name += static_cast<char>(unit);
  }
  return name;
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

// The names of the root storage's children: the red-black tree under the root entry, walked
// with a stack, each entry visited at most once.
std::vector<std::string> RootChildren(const std::vector<std::string_view>& entries) {
  std::vector<std::string> names;
  if (entries.empty() || entries[0][0x42] != 5) return names;  // 5: the root storage
  std::vector<bool> seen(entries.size());
  std::vector<std::uint32_t> stack{Le32(entries[0], 0x4C)};
  while (!stack.empty()) {
    const std::uint32_t id = stack.back();
    stack.pop_back();
    if (id == kNoStream || id >= entries.size() || seen[id]) continue;
    seen[id] = true;
    const std::string_view entry = entries[id];
    names.push_back(EntryName(entry));
    stack.push_back(Le32(entry, 0x44));  // left sibling
    stack.push_back(Le32(entry, 0x48));  // right sibling
  }
  return names;
}

}  // namespace

FileContent SniffContent(std::string_view bytes) {
  if (!bytes.starts_with(kSignature)) return FileContent::Other;
  CompoundFile file(bytes);
  std::vector<std::string_view> entries;
  if (!file.Load() || !file.Directory(&entries)) return FileContent::OtherCompound;
  const std::vector<std::string> names = RootChildren(entries);
  auto has = [&](std::string_view wanted) {
    for (const auto& name : names)
      if (SameName(name, wanted)) return true;
    return false;
  };
  if (has("EncryptionInfo") && has("EncryptedPackage")) return FileContent::Encrypted;
  if (has("WordDocument")) return FileContent::LegacyWord;
  if (has("Workbook") || has("Book")) return FileContent::LegacyExcel;
  return FileContent::OtherCompound;
}

}  // namespace quorvane::office
