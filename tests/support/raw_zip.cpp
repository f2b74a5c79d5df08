#include "support/raw_zip.h"

#include <gtest/gtest.h>
#include <zip.h>
#include <zlib.h>

namespace quorvane::testing {
namespace {

void Put16(std::string& out, unsigned value) {
  out += static_cast<char>(value & 0xFF);
  out += static_cast<char>((value >> 8) & 0xFF);
}

void Put32(std::string& out, std::uint32_t value) {
  Put16(out, value & 0xFFFF);
  Put16(out, value >> 16);
}

std::string RawDeflate(const std::string& data) {
  z_stream stream{};
  deflateInit2(&stream, data.size() > (1 << 20) ? 1 : 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&stream, data.size()), '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  stream.avail_in = static_cast<uInt>(data.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  deflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return out;
}

}  // namespace

std::string ZipBytes(const std::vector<RawEntry>& entries) {
  std::string out, central;
  for (const auto& entry : entries) {
    const std::string stored = RawDeflate(entry.data);
    std::uint32_t crc = static_cast<std::uint32_t>(
        crc32_z(0, reinterpret_cast<const Bytef*>(entry.data.data()), entry.data.size()));
    if (entry.wrong_crc) crc ^= 0x5A5A5A5A;
    const std::uint32_t size = entry.declared_size.value_or(
        static_cast<std::uint32_t>(entry.data.size()));
    auto fields = [&](std::string& header) {
      Put16(header, 20);  // version needed
      Put16(header, 0);   // flags
      Put16(header, 8);  // deflated
      Put16(header, 0);   // time
      Put16(header, 0x21);  // date: 1980-01-01
      Put32(header, crc);
      Put32(header, static_cast<std::uint32_t>(stored.size()));
      Put32(header, size);
      Put16(header, static_cast<unsigned>(entry.name.size()));
      Put16(header, 0);  // extra
    };
    const auto offset = static_cast<std::uint32_t>(out.size());
    Put32(out, 0x04034b50);
    fields(out);
    out += entry.name + stored;
    Put32(central, 0x02014b50);
    Put16(central, 20);  // made by
    fields(central);
    Put16(central, 0);  // comment
    Put16(central, 0);  // disk
    Put16(central, 0);  // internal attributes
    Put32(central, 0);  // external attributes
    Put32(central, offset);
    central += entry.name;
  }
  const auto central_at = static_cast<std::uint32_t>(out.size());
  out += central;
  Put32(out, 0x06054b50);
  Put16(out, 0);
  Put16(out, 0);
  Put16(out, static_cast<unsigned>(entries.size()));
  Put16(out, static_cast<unsigned>(entries.size()));
  Put32(out, static_cast<std::uint32_t>(central.size()));
  Put32(out, central_at);
  Put16(out, 0);
  return out;
}

std::vector<RawEntry> ZipEntries(const std::string& path) {
  std::vector<RawEntry> entries;
  int error = 0;
  zip_t* zip = zip_open(path.c_str(), ZIP_RDONLY, &error);
  EXPECT_TRUE(zip) << path;
  if (!zip) return entries;
  for (zip_int64_t i = 0; i < zip_get_num_entries(zip, 0); ++i) {
    zip_stat_t stat;
    zip_stat_index(zip, static_cast<zip_uint64_t>(i), 0, &stat);
    RawEntry entry{stat.name, std::string(stat.size, '\0')};
    zip_file_t* file = zip_fopen_index(zip, static_cast<zip_uint64_t>(i), 0);
    EXPECT_EQ(zip_fread(file, entry.data.data(), stat.size), static_cast<zip_int64_t>(stat.size));
    zip_fclose(file);
    entries.push_back(std::move(entry));
  }
  zip_discard(zip);
  return entries;
}

RawEntry& EntryNamed(std::vector<RawEntry>& entries, const std::string& name) {
  for (auto& entry : entries)
    if (entry.name == name) return entry;
  ADD_FAILURE() << "no entry " << name;
  static RawEntry none;
  return none;
}

}  // namespace quorvane::testing
