#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz/fuzz_entry.h"

// A run by hand may set QUORVANE_FUZZ_ALLOW_UNREADABLE=1 to look past results that do not
// read back, for faults of other kinds.
static const bool allow_unreadable = std::getenv("QUORVANE_FUZZ_ALLOW_UNREADABLE") != nullptr;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string detail;
  const auto outcome = quorvane::fuzzing::JoinWord(
      std::string_view(reinterpret_cast<const char*>(data), size), &detail);
  if (outcome == quorvane::fuzzing::Outcome::ResultUnreadable && !allow_unreadable) {
    std::fprintf(stderr, "%s\n", detail.c_str());
    std::abort();
  }
  return 0;
}
