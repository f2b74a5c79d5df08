#include "office/utf8_fold.h"

namespace quorvane::office::utf8 {
namespace {

void Encode(char32_t cp, std::string* out) {
  if (cp < 0x80) {
    *out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    *out += static_cast<char>(0xC0 | (cp >> 6));
    *out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    *out += static_cast<char>(0xE0 | (cp >> 12));
    *out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    *out += static_cast<char>(0xF0 | (cp >> 18));
    *out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    *out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

char32_t Fold(char32_t c) {
  if (c >= 'A' && c <= 'Z') return c + 32;
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 32;
  if (c >= 0x391 && c <= 0x3A9) return c + 32;
  if (c >= 0x410 && c <= 0x42F) return c + 32;
  if (c >= 0x400 && c <= 0x40F) return c + 80;
  if (c >= 0xFF21 && c <= 0xFF3A) return c + 32;  // full-width Latin
  return c;
}

}  // namespace

std::vector<char32_t> Decode(std::string_view s) {
  std::vector<char32_t> out;
  for (size_t i = 0; i < s.size();) {
    const unsigned char c = s[i];
    int extra = c < 0x80 ? 0 : c < 0xE0 ? 1 : c < 0xF0 ? 2 : 3;
    char32_t cp = extra == 0 ? c : extra == 1 ? (c & 0x1F) : extra == 2 ? (c & 0x0F) : (c & 0x07);
    size_t j = i + 1;
    for (int k = 0; k < extra && j < s.size(); ++k, ++j) cp = (cp << 6) | (s[j] & 0x3F);
    out.push_back(cp);
    i = j;
  }
  return out;
}

std::string FoldCase(std::string_view name) {
  std::string out;
  for (char32_t c : Decode(name)) Encode(Fold(c), &out);
  return out;
}

size_t NameLength(const std::vector<char32_t>& cps) {
  size_t n = 0;
  for (char32_t c : cps) n += c >= 0x10000 ? 2 : 1;
  return n;
}

std::string Truncated(const std::vector<char32_t>& cps, size_t units) {
  std::string out;
  size_t n = 0;
  for (char32_t c : cps) {
    n += c >= 0x10000 ? 2 : 1;
    if (n > units) break;
    Encode(c, &out);
  }
  return out;
}

}  // namespace quorvane::office::utf8
