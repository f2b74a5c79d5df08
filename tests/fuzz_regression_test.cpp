#include "fuzz/fuzz_entry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace quorvane::fuzzing {
namespace {

using Entry = Outcome (*)(std::string_view, std::string*);

// An input a fuzzer found, kept in tests/fuzz_crashes/, with the entry that it crashed and
// the fault it found.
struct Finding {
  const char* file;
  Entry entry;
  const char* fault;
};

const Finding kFindings[] = {
    {"word_join-malformed-footnotes.docx", JoinWord,
     "a base document's part that is not well-formed XML (its footnotes) is copied into the "
     "result as it is"},
    {"excel_gather-malformed-sheet.xlsx", GatherExcel,
     "a worksheet that is not well-formed XML is copied into the result as it is"},
    {"word_join-mistyped-malformed-part.docx", JoinWord,
     "an unreferenced part named .xml whose type was damaged was carried unread into the "
     "result, and it was not well-formed"},
    {"excel_gather-table-part.xlsx", GatherExcel,
     "a table part came out of the gather not well-formed"},
    {"word_join-relationships-name-case.docx", JoinWord,
     "a relationships part named with other letter case was carried beside the one written, "
     "two entries of one name"},
    {"excel_gather-vml-drawing.xlsx", GatherExcel,
     "a comments drawing, not well-formed in its source and given an XML type by damage, was "
     "taken for a damaged result: drawings are carried as they are"},
    {"package_reader-declared-size.docx", ReadPackage,
     "a part is read into a buffer of the size its zip header declares (4 GB here)"},
    {"excel_gather-declared-size.xlsx", GatherExcel,
     "a part copied from a source is read into a buffer of the size its zip header declares "
     "(4 GB here)"},
    {"word_join-media-type-names-xml.docx", JoinWord,
     "a picture whose damaged type merely ends in \"xml\" was taken for an XML part when the "
     "result was read back, where the reader carries it as bytes"},
    {"excel_gather-declaration-inside-part.xlsx", GatherExcel,
     "an XML declaration inside a table part's root passed the reader's check and made the "
     "result unreadable"},
    {"word_join-nul-in-end-tag.docx", JoinWord,
     "NUL bytes inside the base's styles end tag passed the reader's in-place parse, which "
     "stops at a NUL, and were carried into a result that does not read"},
    {"word_join-largest-relationship-id.docx", JoinWord,
     "a relationship id rId9223372036854775807 made the next id overflow (UBSan)"},
};

void PrintTo(const Finding& finding, std::ostream* out) { *out << finding.file; }

const std::string kFolder = std::string(QUORVANE_TEST_DIR) + "/fuzz_crashes/";

class StoredFinding : public ::testing::TestWithParam<Finding> {};

// Each input is refused, or joined into a result that reads back, and nothing crashes.
TEST_P(StoredFinding, IsRefusedOrJoinedWithoutACrash) {
  const Finding& finding = GetParam();
  const std::string bytes = testing::ReadAll(kFolder + finding.file);
  ASSERT_NE(bytes, "<missing>") << finding.file;
  std::string detail;
  const Outcome outcome = finding.entry(bytes, &detail);
  EXPECT_NE(outcome, Outcome::ResultUnreadable)
      << finding.file << " (" << finding.fault << "): " << detail;
}

INSTANTIATE_TEST_SUITE_P(FuzzCrashes, StoredFinding, ::testing::ValuesIn(kFindings),
                         [](const ::testing::TestParamInfo<Finding>& info) {
                           std::string name = info.param.file;
                           std::replace_if(name.begin(), name.end(),
                                           [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); }, '_');
                           return name;
                         });

// A stored input no test runs would guard nothing.
TEST(FuzzCrashes, EveryStoredInputHasItsTest) {
  std::vector<std::string> stored, listed;
  for (const auto& entry : std::filesystem::directory_iterator(kFolder))
    stored.push_back(entry.path().filename().native());
  for (const Finding& finding : kFindings) listed.push_back(finding.file);
  std::sort(stored.begin(), stored.end());
  std::sort(listed.begin(), listed.end());
  EXPECT_EQ(stored, listed);
}

// The fuzzers start from the seeds: were a seed or a fixed document refused, every mutation
// of it would be refused too and the fuzzer would never reach the joiners.
TEST(FuzzEntry, SeedsAreReadAndJoined) {
  testing::TempDir dir;
  std::string err;
  ASSERT_TRUE(WriteSeeds(dir.path(), &err)) << err;
  int seeds = 0;
  for (const char* kind : {"word", "excel"}) {
    for (const auto& file : std::filesystem::directory_iterator(dir / kind)) {
      ++seeds;
      const std::string bytes = testing::ReadAll(file.path().native());
      std::string detail;
      EXPECT_EQ(ReadPackage(bytes, &detail), Outcome::Accepted) << file.path() << ": " << detail;
      const Outcome joined = kind == std::string("word") ? JoinWord(bytes, &detail)
                                                         : GatherExcel(bytes, &detail);
      EXPECT_EQ(joined, Outcome::Accepted) << file.path() << ": " << detail;
    }
  }
  EXPECT_EQ(seeds, 9);
}

// Inputs that are no document of the kind, or no package at all, are refused.
TEST(FuzzEntry, WhatIsNoDocumentIsRefused) {
  testing::TempDir dir;
  std::string err;
  ASSERT_TRUE(WriteSeeds(dir.path(), &err)) << err;
  const std::string docx = testing::ReadAll(dir / "word/seed1.docx");
  const std::string xlsx = testing::ReadAll(dir / "excel/seed1.xlsx");
  const struct {
    const char* what;
    Entry entry;
    std::string bytes;
  } cases[] = {
      {"empty, read", ReadPackage, ""},
      {"text, read", ReadPackage, "not a zip"},
      {"cut short, read", ReadPackage, docx.substr(0, docx.size() / 2)},
      {"empty, joined", JoinWord, ""},
      {"a workbook, joined", JoinWord, xlsx},
      {"a document, gathered", GatherExcel, docx},
      {"cut short, gathered", GatherExcel, xlsx.substr(0, xlsx.size() - 30)},
  };
  for (const auto& c : cases) {
    std::string detail;
    EXPECT_EQ(c.entry(c.bytes, &detail), Outcome::Refused) << c.what;
    EXPECT_FALSE(detail.empty()) << c.what;
  }
}

}  // namespace
}  // namespace quorvane::fuzzing
