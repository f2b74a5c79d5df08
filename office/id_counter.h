#pragma once

#include <charconv>
#include <cstring>
#include <set>
#include <string>

namespace quorvane::office {

/// Hands out decimal ids from `lowest` to `highest` that the document does not use yet: each
/// above every id seen while there is room, else the smallest free one, so a document whose
/// ids reach the top of their range still gets valid ones.
class IdCounter {
 public:
  /// Ids within `lowest`..`highest`; `highest` below the largest unsigned long long.
  explicit IdCounter(unsigned long long highest, unsigned long long lowest = 0)
      : highest_(highest), next_(lowest), free_(lowest) {}

  /// Takes note of an id in use. Text that is not a decimal number within the range (a
  /// negative separator id, a number too large for the type) can never equal an id handed out.
  void See(const char* text) {
    unsigned long long value = 0;
    const char* end = text + std::strlen(text);
    const auto [stop, error] = std::from_chars(text, end, value);
    if (error != std::errc() || stop != end || value > highest_ || value < free_) return;
    used_.insert(value);
    if (value >= next_) next_ = value + 1;
  }

  /// The next free id in `id`; false when every id of the range is taken.
  bool Next(std::string* id) {
    if (next_ <= highest_) {
      used_.insert(next_);
      *id = std::to_string(next_++);
      return true;
    }
    while (free_ <= highest_ && used_.count(free_)) ++free_;
    if (free_ > highest_) return false;
    *id = std::to_string(free_++);
    return true;
  }

 private:
  std::set<unsigned long long> used_;
  unsigned long long highest_;
  unsigned long long next_;  // above every id seen or handed out, while that is in range
  unsigned long long free_;  // no id below it is free
};

}  // namespace quorvane::office
