#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_entry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string detail;
  quorvane::fuzzing::ReadPackage(std::string_view(reinterpret_cast<const char*>(data), size),
                                 &detail);
  return 0;
}
