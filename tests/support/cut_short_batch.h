#pragma once

#include <string>

namespace quorvane::testing {

/// Leaves the files "1" and "2" of `folder` (ending in a separator) as a batch that trades
/// their names would leave them when killed after its first rename: "1" waits under its
/// temporary name, and the journal, which nobody holds, names the batch as cut short.
/// Returns the failure, empty on success.
std::string CutShortSwap(const std::string& folder);

/// Sets XDG_STATE_HOME for the life of the object, and sets back the value it had.
class StateHome {
 public:
  explicit StateHome(const std::string& folder);
  ~StateHome();
  StateHome(const StateHome&) = delete;
  StateHome& operator=(const StateHome&) = delete;

 private:
  std::string saved_;
  bool had_;
};

}  // namespace quorvane::testing
