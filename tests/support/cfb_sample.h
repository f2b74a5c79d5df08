#pragma once

#include <string>
#include <vector>

namespace quorvane::testing {

/// What a sample OLE compound file holds: empty streams of these names in its root storage.
struct CfbSample {
  std::vector<std::string> streams;
  int sector_shift = 9;             // 9: 512-byte sectors (version 3); 12: 4096 (version 4)
  bool looping_directory = false;   // the directory's chain leads back to itself
};

/// The bytes of a compound file as `sample` describes it.
std::string CompoundFileBytes(const CfbSample& sample);

}  // namespace quorvane::testing
