#include "cli/shell_quote.h"

#include <cwchar>
#include <cwctype>
#include <vector>

namespace quorvane::cli {
namespace {

// One character of a name: its bytes, and whether it prints as itself.
struct Piece {
  std::string_view bytes;
  bool printable;
};

// Splits `name` into characters of the locale's encoding; a byte that begins no valid
// character is a piece of its own that does not print.
std::vector<Piece> Pieces(std::string_view name) {
  std::vector<Piece> pieces;
  std::mbstate_t state{};
  size_t at = 0;
  while (at < name.size()) {
    const auto c = static_cast<unsigned char>(name[at]);
    if (c < 0x80) {
      pieces.push_back({name.substr(at, 1), c >= 0x20 && c < 0x7f});
      ++at;
      continue;
    }
    wchar_t wide = 0;
    const size_t length = std::mbrtowc(&wide, name.data() + at, name.size() - at, &state);
    if (length == static_cast<size_t>(-1) || length == static_cast<size_t>(-2) || length == 0) {
      state = {};
      pieces.push_back({name.substr(at, 1), false});
      ++at;
      continue;
    }
    pieces.push_back({name.substr(at, length), std::iswprint(static_cast<wint_t>(wide)) != 0});
    at += length;
  }
  return pieces;
}

// Characters no shell gives a meaning to, wherever they stand.
bool Plain(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
         std::string_view("%+,-./:@]_{}").find(c) != std::string_view::npos;
}

// Whether the piece at `index` can stand unquoted: "#" and "~" only after the first.
bool Unquoted(const Piece& piece, size_t index) {
  if (piece.bytes.size() > 1) return piece.printable;
  const char c = piece.bytes[0];
  return Plain(c) || (index > 0 && (c == '#' || c == '~'));
}

// Whether the piece reads the same between double quotes: nothing there that "$`\!
// would change.
bool SafeInDoubleQuotes(const Piece& piece, size_t index) {
  if (piece.bytes.size() > 1) return piece.printable;
  const char c = piece.bytes[0];
  return Plain(c) || c == ' ' || c == '\'' || (index == 0 && (c == '#' || c == '~'));
}

void AppendEscaped(unsigned char c, std::string& out) {
  static constexpr std::string_view kLetters = "abtnvfr";  // \a (7) to \r (13)
  out += '\\';
  if (c >= 7 && c <= 13) {
    out += kLetters[c - 7];
    return;
  }
  out += static_cast<char>('0' + (c >> 6));
  out += static_cast<char>('0' + ((c >> 3) & 7));
  out += static_cast<char>('0' + (c & 7));
}

}  // namespace

std::string ShellQuoted(std::string_view name) {
  const std::vector<Piece> pieces = Pieces(name);
  bool plain = !name.empty(), double_quotes = true, single_quote = false;
  for (size_t i = 0; i < pieces.size(); ++i) {
    plain = plain && Unquoted(pieces[i], i);
    double_quotes = double_quotes && SafeInDoubleQuotes(pieces[i], i);
    single_quote = single_quote || pieces[i].bytes == "'";
  }
  if (plain) return std::string(name);
  if (single_quote && double_quotes) return "\"" + std::string(name) + "\"";

  // Between single quotes; each run of characters that do not print goes in $'...'.
  std::string out = "'";
  bool escaping = false;
  for (const Piece& piece : pieces) {
    if (!piece.printable) {
      if (!escaping) out += "'$'";
      escaping = true;
      for (const char c : piece.bytes) AppendEscaped(static_cast<unsigned char>(c), out);
    } else if (piece.bytes == "'") {
      out += "'\\''";  // closes the quotes (or the $'...'), a quoted quote, opens again
      escaping = false;
    } else {
      if (escaping) out += "''";
      escaping = false;
      out += piece.bytes;
    }
  }
  out += '\'';
  return out;
}

}  // namespace quorvane::cli
