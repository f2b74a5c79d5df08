#include "common/natural_order.h"

#include <algorithm>

namespace quorvane {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

char Folded(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Compares two runs of digits by value: leading zeros are skipped, then the longer run is
// the larger number, and runs of equal length compare digit by digit. No overflow.
int CompareNumbers(std::string_view a, std::string_view b) {
  const auto strip = [](std::string_view s) {
    const auto nz = s.find_first_not_of('0');
    return nz == std::string_view::npos ? std::string_view() : s.substr(nz);
  };
  a = strip(a);
  b = strip(b);
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  const int c = a.compare(b);
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

std::string_view DigitRun(std::string_view s, size_t from) {
  size_t end = from;
  while (end < s.size() && IsDigit(s[end])) ++end;
  return s.substr(from, end - from);
}

int NaturalOnly(std::string_view a, std::string_view b) {
  size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    if (IsDigit(a[i]) && IsDigit(b[j])) {
      const auto ra = DigitRun(a, i), rb = DigitRun(b, j);
      if (const int c = CompareNumbers(ra, rb)) return c;
      i += ra.size();
      j += rb.size();
      continue;
    }
    const auto ca = static_cast<unsigned char>(Folded(a[i]));
    const auto cb = static_cast<unsigned char>(Folded(b[j]));
    if (ca != cb) return ca < cb ? -1 : 1;
    ++i;
    ++j;
  }
  if (i < a.size()) return 1;
  if (j < b.size()) return -1;
  return 0;
}

}  // namespace

int NaturalCompare(std::string_view a, std::string_view b) {
  if (const int c = NaturalOnly(a, b)) return c;
  const int c = a.compare(b);
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

bool NaturalLess(std::string_view a, std::string_view b) { return NaturalCompare(a, b) < 0; }

}  // namespace quorvane
