#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_entry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return quorvane::fuzzing::FuzzOne(quorvane::fuzzing::GatherExcel, data, size);
}
