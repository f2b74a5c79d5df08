#pragma once

#include <string>

#include "support/temp_dir.h"

namespace quorvane::testing {

/// Leaves the files "1" and "2" of `folder` (ending in a separator) as a batch that trades
/// their names would leave them when killed after its first rename: "1" waits under its
/// temporary name, and the journal, which nobody holds, names the batch as cut short.
/// Returns the failure, empty on success.
std::string CutShortSwap(const std::string& folder);

/// Sets XDG_STATE_HOME, where the journals of rename batches go, for the life of the object.
class StateHome : public ScopedEnv {
 public:
  explicit StateHome(const std::string& folder) : ScopedEnv("XDG_STATE_HOME", folder) {}
};

}  // namespace quorvane::testing
