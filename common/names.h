#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <iterator>
#include <memory>
#include <string_view>
#include <vector>

namespace quorvane {

/// A list of names (file names or folder paths) kept in large shared blocks: a name costs its
/// own bytes plus twelve, where a separate string would cost three to four times that, so a
/// folder of a million files lists in a few tens of megabytes. Names never move once added,
/// so a view taken of one stays valid while the list grows.
class Names {
 public:
  Names() = default;
  Names(std::initializer_list<std::string_view> names);
  Names(Names&&) noexcept = default;
  Names& operator=(Names&&) noexcept = default;

  void push_back(std::string_view name);
  size_t size() const { return entries_.size(); }
  bool empty() const { return entries_.empty(); }
  std::string_view operator[](size_t i) const;
  std::string_view front() const { return (*this)[0]; }
  std::string_view back() const { return (*this)[size() - 1]; }

  /// Puts the names in natural order (NaturalLess).
  void SortNaturally();
  /// Removes every name equal to `name`, keeping the order of the others.
  void Remove(std::string_view name);

  bool operator==(const Names& other) const;

  class const_iterator {
   public:
    using iterator_category = std::random_access_iterator_tag;
    using value_type = std::string_view;
    using difference_type = std::ptrdiff_t;
    using pointer = void;
    using reference = std::string_view;
    const_iterator(const Names* names, size_t i) : names_(names), i_(i) {}
    std::string_view operator*() const { return (*names_)[i_]; }
    const_iterator& operator++() { ++i_; return *this; }
    difference_type operator-(const const_iterator& o) const {
      return static_cast<difference_type>(i_) - static_cast<difference_type>(o.i_);
    }
    bool operator==(const const_iterator& o) const { return i_ == o.i_; }

   private:
    const Names* names_;
    size_t i_;
  };
  const_iterator begin() const { return {this, 0}; }
  const_iterator end() const { return {this, size()}; }

 private:
  struct Entry {
    uint32_t block;
    uint32_t offset;
  };
  std::string_view At(Entry e) const;

  std::vector<std::unique_ptr<char[]>> blocks_;
  size_t block_used_ = 0;
  size_t block_capacity_ = 0;
  std::vector<Entry> entries_;
};

}  // namespace quorvane
