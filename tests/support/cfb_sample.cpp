#include "support/cfb_sample.h"

#include <cstdint>

namespace quorvane::testing {
namespace {

constexpr std::uint32_t kEnd = 0xFFFFFFFE, kFree = 0xFFFFFFFF, kFatSector = 0xFFFFFFFD;

void Put(std::string& out, size_t at, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

// A 128-byte directory entry.
std::string Entry(const std::string& name, int type, std::uint32_t child, std::uint32_t right) {
  std::string entry(128, '\0');
  for (size_t i = 0; i < name.size(); ++i) entry[2 * i] = name[i];
  Put(entry, 0x40, 2 * (name.size() + 1), 2);
  entry[0x42] = static_cast<char>(type);
  entry[0x43] = 1;  // black
  Put(entry, 0x44, kFree, 4);
  Put(entry, 0x48, right, 4);
  Put(entry, 0x4C, child, 4);
  Put(entry, 0x74, kEnd, 4);  // no data
  return entry;
}

}  // namespace

std::string CompoundFileBytes(const CfbSample& sample) {
  const size_t sector = size_t{1} << sample.sector_shift;
  // The root, then each stream as the right sibling of the one before.
  std::string directory = Entry("Root Entry", 5, sample.streams.empty() ? kFree : 1, kFree);
  for (size_t i = 0; i < sample.streams.size(); ++i)
    directory += Entry(sample.streams[i], 2, kFree,
                       i + 1 < sample.streams.size() ? static_cast<std::uint32_t>(i + 2) : kFree);
  directory.resize((directory.size() + sector - 1) / sector * sector, '\0');
  const size_t directory_sectors = directory.size() / sector;

  // Sectors: 0 the FAT, 1 the directory's first, 2 filler, then the rest of the directory.
  std::string header(sector, '\0');
  header.replace(0, 8, "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8);
  Put(header, 0x18, 0x3E, 2);
  Put(header, 0x1A, sample.sector_shift == 12 ? 4 : 3, 2);
  Put(header, 0x1C, 0xFFFE, 2);
  Put(header, 0x1E, sample.sector_shift, 2);
  Put(header, 0x20, 6, 2);
  Put(header, 0x28, sample.sector_shift == 12 ? directory_sectors : 0, 4);
  Put(header, 0x2C, 1, 4);  // one FAT sector
  Put(header, 0x30, 1, 4);  // the directory's first sector
  Put(header, 0x38, 4096, 4);
  Put(header, 0x3C, kEnd, 4);
  Put(header, 0x44, kEnd, 4);
  for (size_t i = 0; i < 109; ++i) Put(header, 0x4C + 4 * i, i == 0 ? 0 : kFree, 4);

  std::string fat(sector, '\xFF');
  Put(fat, 0, kFatSector, 4);
  Put(fat, 8, kEnd, 4);  // the filler
  std::vector<std::uint32_t> places{1};
  for (size_t i = 1; i < directory_sectors; ++i) places.push_back(static_cast<std::uint32_t>(i + 2));
  for (size_t i = 0; i < places.size(); ++i)
    Put(fat, 4 * places[i], i + 1 < places.size() ? places[i + 1] : kEnd, 4);
  if (sample.looping_directory) Put(fat, 4 * places.back(), places.front(), 4);

  std::string out = header + fat + directory.substr(0, sector) + std::string(sector, 'f');
  for (size_t i = 1; i < directory_sectors; ++i) out += directory.substr(i * sector, sector);
  return out;
}

}  // namespace quorvane::testing
