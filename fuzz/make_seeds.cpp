// Makes the fuzzers' starting inputs (.docx and .xlsx files) in the folder named on the command line.
#include <cstdio>
#include <string>

#include "fuzz/fuzz_entry.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
    return 2;
  }
  std::string err;
  if (!quorvane::fuzzing::WriteSeeds(argv[1], &err)) {
    std::fprintf(stderr, "%s\n", err.c_str());
    return 1;
  }
  return 0;
}
