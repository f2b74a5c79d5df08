#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quorvane::testing {

/// One entry of a zip written byte by byte, damage included.
struct RawEntry {
  std::string name;
  std::string data;
  bool wrong_crc = false;                      // a checksum that does not match the data
  std::optional<std::uint32_t> declared_size;  // an uncompressed size that lies
};

/// A zip archive of `entries` in order, written without libzip, which refuses two entries of
/// one name and never writes a wrong checksum or size.
std::string ZipBytes(const std::vector<RawEntry>& entries);

/// The entries of the zip file at `path`, in order, read with libzip.
std::vector<RawEntry> ZipEntries(const std::string& path);

/// The entry named `name` in `entries`; fails the test when there is none.
RawEntry& EntryNamed(std::vector<RawEntry>& entries, const std::string& name);

}  // namespace quorvane::testing
