#include "common/utf8_locale.h"

#include <langinfo.h>

#include <clocale>
#include <cstring>

namespace quorvane {

void UseUtf8CharacterHandling() {
  std::setlocale(LC_ALL, "");
  if (std::strcmp(nl_langinfo(CODESET), "UTF-8") != 0) std::setlocale(LC_CTYPE, "C.UTF-8");
}

}  // namespace quorvane
