// The quoting of names in the command line's plan, against what
// `LC_ALL=C.UTF-8 ls --quoting-style=shell-escape` prints for the same names.
#include "cli/shell_quote.h"

#include <gtest/gtest.h>

#include "common/utf8_locale.h"

namespace quorvane::cli {
namespace {

TEST(ShellQuoteTest, QuotesAsLsShellEscapeDoes) {
  UseUtf8CharacterHandling();
  const struct { std::string name, printed; } rows[] = {
      // Nothing for the shell to take apart: as it is.
      {"plain", "plain"},
      {"a.b", "a.b"},
      {"-a", "-a"},
      {"%a+b,c:d@e]f_g{h}-/", "%a+b,c:d@e]f_g{h}-/"},
      {"a#", "a#"},
      {"a~", "a~"},
      {"中文", "中文"},
      {"\xc2\xa0", "\xc2\xa0"},          // a no-break space prints
      {"\xe2\x80\x8b", "\xe2\x80\x8b"},  // so does a zero-width space
      {"\xef\xbf\xbd", "\xef\xbf\xbd"},
      // Characters the shell would read: single quotes.
      {"a b", "'a b'"},
      {"a -> b", "'a -> b'"},
      {"中 文", "'中 文'"},
      {" a", "' a'"},
      {"#a", "'#a'"},
      {"~a", "'~a'"},
      {"=a", "'=a'"},
      // A single quote: double quotes while nothing in the name means anything there...
      {"'", "\"'\""},
      {"''", "\"''\""},
      {"a'b", "\"a'b\""},
      {"a'b c", "\"a'b c\""},
      {"#a'", "\"#a'\""},
      {"a'中", "\"a'中\""},
      // ...otherwise a quoted quote between single quotes.
      {"a'#", "'a'\\''#'"},
      {"a'$b", "'a'\\''$b'"},
      {"a'b\\", "'a'\\''b\\'"},
      {"a'=", "'a'\\''='"},
      // Control characters and bytes of no character: $'...', so a name is one line.
      {"a\nb", "'a'$'\\n''b'"},
      {"a\n\nb", "'a'$'\\n\\n''b'"},
      {"a\n", "'a'$'\\n'"},
      {"\na", "''$'\\n''a'"},
      {"\x1b", "''$'\\033'"},
      {"a\tb", "'a'$'\\t''b'"},
      {"a\rb", "'a'$'\\r''b'"},
      {"a\x07\x08\x0b\x0c" "b", "'a'$'\\a\\b\\v\\f''b'"},
      {"a\x01" "b", "'a'$'\\001''b'"},
      {"a\x7f" "b", "'a'$'\\177''b'"},
      {"a\xc2" "b", "'a'$'\\302''b'"},
      {"\xe4\xb8", "''$'\\344\\270'"},  // a character cut short
      {"\xc0\xaf", "''$'\\300\\257'"},  // an overlong form
      {"\xed\xa0\x80", "''$'\\355\\240\\200'"},  // a surrogate
      {"\xf4\x90\x80\x80", "''$'\\364\\220\\200\\200'"},  // beyond U+10FFFF
      {"a\nb'c", "'a'$'\\n''b'\\''c'"},
      {"a'b\nc", "'a'\\''b'$'\\n''c'"},
      {"a'\n'b", "'a'\\'''$'\\n'\\''b'"},
      {"'\x01'", "''\\'''$'\\001'\\'''"},
      {"'\n", "''\\'''$'\\n'"},
      // ls begins these two with a redundant '' of its own; the rest is the same.
      {"a'\n", "'a'\\'''$'\\n'"},
      {"a\n'b\n", "'a'$'\\n'\\''b'$'\\n'"},
  };
  for (const auto& r : rows) EXPECT_EQ(ShellQuoted(r.name), r.printed) << r.name;
  // Any of these anywhere in a name: single quotes.
  for (const char c : std::string("\\\"$!?*[^`|;&<(>)"))
    EXPECT_EQ(ShellQuoted(std::string("a") + c + "b"), std::string("'a") + c + "b'") << c;
}

}  // namespace
}  // namespace quorvane::cli
