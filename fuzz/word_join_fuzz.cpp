#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz/fuzz_entry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string detail;
  const auto outcome = quorvane::fuzzing::JoinWord(
      std::string_view(reinterpret_cast<const char*>(data), size), &detail);
  if (outcome == quorvane::fuzzing::Outcome::ResultUnreadable) {
    std::fprintf(stderr, "%s\n", detail.c_str());
    std::abort();
  }
  return 0;
}
