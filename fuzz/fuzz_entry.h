#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace quorvane::fuzzing {

/// What one input did to the code it was given to.
enum class Outcome {
  Refused,           // refused with a message, nothing written
  Accepted,          // read through, or joined and saved into a result that reads back
  ResultUnreadable,  // joined and saved, but the result does not read back: a fault
};

/// "refused", "accepted" or "result unreadable", for messages.
const char* OutcomeName(Outcome outcome);

/// Opens `bytes` as a package, then reads every part, parses every XML part and resolves
/// every relationship. `detail` gets the refusal.
Outcome ReadPackage(std::string_view bytes, std::string* detail);

/// Merges `bytes`, as a .docx, twice: after a fixed small base document, then as the base
/// of another. Each merge that succeeds saves into a temporary folder and the result must
/// read back. `detail` gets the refusal or what did not read back.
Outcome JoinWord(std::string_view bytes, std::string* detail);

/// Merges `bytes`, as an .xlsx, between two fixed workbooks; the result, once saved, must
/// read back.
Outcome GatherExcel(std::string_view bytes, std::string* detail);

/// Makes the fuzzers' starting inputs, .docx files in `folder`/word/ and .xlsx files in
/// `folder`/excel/ (both created), with the tests' sample writers. False with `err` on failure.
bool WriteSeeds(const std::string& folder, std::string* err);

/// One fuzz input through `entry`: a result that does not read back is printed and ends the
/// process, so the fuzzer keeps the input. A run by hand may set
/// QUORVANE_FUZZ_ALLOW_UNREADABLE=1 to look past such results, for faults of other kinds.
int FuzzOne(Outcome (*entry)(std::string_view, std::string*), const uint8_t* data, size_t size);

}  // namespace quorvane::fuzzing
