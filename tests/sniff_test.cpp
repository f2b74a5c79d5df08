// Files judged by their bytes: compound files told apart by the streams of their root.
#include "office/sniff.h"

#include <gtest/gtest.h>

#include "support/cfb_sample.h"

namespace quorvane::office {
namespace {

using testing::CfbSample;
using testing::CompoundFileBytes;

TEST(SniffTest, CompoundFilesAreToldByTheirRootStreams) {
  const std::vector<std::string> many = {"a", "b", "c", "d", "e", "WordDocument"};
  const std::string word = CompoundFileBytes({.streams = {"1Table", "WordDocument"}});
  const struct {
    std::string what, bytes;
    FileContent expected;
  } rows[] = {
      {"a zip package", std::string("PK\x03\x04", 4) + std::string(100, '\0'), FileContent::Other},
      {"empty", "", FileContent::Other},
      {"an encrypted package",
       CompoundFileBytes({.streams = {"\x06" "DataSpaces", "EncryptionInfo", "EncryptedPackage"}}),
       FileContent::Encrypted},
      {"a Word 97 document", word, FileContent::LegacyWord},
      {"an Excel 97 workbook", CompoundFileBytes({.streams = {"Workbook"}}),
       FileContent::LegacyExcel},
      {"an Excel 5 workbook", CompoundFileBytes({.streams = {"Book"}}), FileContent::LegacyExcel},
      {"4096-byte sectors", CompoundFileBytes({.streams = {"WordDocument"}, .sector_shift = 12}),
       FileContent::LegacyWord},
      {"a directory over two sectors apart", CompoundFileBytes({.streams = many}),
       FileContent::LegacyWord},
      {"half an encryption", CompoundFileBytes({.streams = {"EncryptionInfo"}}),
       FileContent::OtherCompound},
      {"only the signature",
       std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) + std::string(600, '\0'),
       FileContent::OtherCompound},
      {"cut short", word.substr(0, 1000), FileContent::OtherCompound},
      {"a directory chain that loops",
       CompoundFileBytes({.streams = {"x"}, .looping_directory = true}),
       FileContent::OtherCompound},
  };
  for (const auto& row : rows) EXPECT_EQ(SniffContent(row.bytes), row.expected) << row.what;
}

// Hostile headers: every sector number and count pointing anywhere must end in an answer.
TEST(SniffTest, AnyDamageToTheHeaderEndsInAnAnswer) {
  const std::string word = CompoundFileBytes({.streams = {"1Table", "WordDocument"}});
  for (size_t at = 0x18; at < 0x50; ++at)
    for (const unsigned char value : {0x00, 0x01, 0x7F, 0xFE, 0xFF}) {
      std::string bytes = word;
      bytes[at] = static_cast<char>(value);
      const FileContent content = SniffContent(bytes);
      EXPECT_TRUE(content == FileContent::LegacyWord || content == FileContent::OtherCompound)
          << at;
    }
}

}  // namespace
}  // namespace quorvane::office
