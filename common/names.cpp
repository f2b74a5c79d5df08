#include "common/names.h"

#include <algorithm>
#include <cstring>

#include "common/natural_order.h"

namespace quorvane {
namespace {
constexpr size_t kBlockSize = 1 << 18;
constexpr size_t kLengthBytes = sizeof(uint32_t);
}  // namespace

Names::Names(std::initializer_list<std::string_view> names) {
  for (std::string_view name : names) push_back(name);
}

// Each name is stored as its length (four bytes) followed by its bytes, in the current block;
// a name that does not fit starts a new block (one of its own when it is larger than a block).
void Names::push_back(std::string_view name) {
  const size_t need = kLengthBytes + name.size();
  if (blocks_.empty() || block_used_ + need > block_capacity_) {
    block_capacity_ = std::max(kBlockSize, need);
    blocks_.push_back(std::make_unique_for_overwrite<char[]>(block_capacity_));
    block_used_ = 0;
  }
  char* at = blocks_.back().get() + block_used_;
  const auto length = static_cast<uint32_t>(name.size());
  std::memcpy(at, &length, kLengthBytes);
  if (!name.empty()) std::memcpy(at + kLengthBytes, name.data(), name.size());
  entries_.push_back({static_cast<uint32_t>(blocks_.size() - 1), static_cast<uint32_t>(block_used_)});
  block_used_ += need;
}

std::string_view Names::At(Entry e) const {
  const char* at = blocks_[e.block].get() + e.offset;
  uint32_t length;
  std::memcpy(&length, at, kLengthBytes);
  return {at + kLengthBytes, length};
}

std::string_view Names::operator[](size_t i) const { return At(entries_[i]); }

void Names::SortNaturally() {
  std::sort(entries_.begin(), entries_.end(),
            [this](Entry a, Entry b) { return NaturalLess(At(a), At(b)); });
}

void Names::Remove(std::string_view name) {
  std::erase_if(entries_, [&](Entry e) { return At(e) == name; });
}

bool Names::operator==(const Names& other) const {
  if (size() != other.size()) return false;
  for (size_t i = 0; i < size(); ++i)
    if ((*this)[i] != other[i]) return false;
  return true;
}

}  // namespace quorvane
