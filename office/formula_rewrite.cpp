#include "office/formula_rewrite.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>

#include "office/utf8_fold.h"

namespace quorvane::office {
namespace {

using utf8::FoldCase;

bool IsNameChar(unsigned char c) {
  return std::isalnum(c) || c == '_' || c == '.' || c == '\\' || c >= 0x80;
}

// Whether the name at `i` is the second end of a 3-D reference into another workbook
// ([1]Sheet2:Sheet3!A1): that sheet is the other workbook's, whatever this one renamed.
bool SecondEndOfExternalSpan(std::string_view f, size_t i) {
  if (i == 0 || f[i - 1] != ':') return false;
  size_t k = i - 1;
  while (k > 0 && IsNameChar(f[k - 1])) --k;
  return k > 0 && k < i - 1 && f[k - 1] == ']';
}

std::string Quoted(const std::string& name) {
  std::string out = "'";
  for (char c : name) {
    out += c;
    if (c == '\'') out += '\'';
  }
  return out + "'";
}

/// The length of an external-workbook index "[12]" at the start of `text`, or 0.
size_t ExternalIndexLength(std::string_view text) {
  if (text.size() < 3 || text[0] != '[') return 0;
  size_t j = 1;
  while (j < text.size() && std::isdigit(static_cast<unsigned char>(text[j]))) ++j;
  return j > 1 && j < text.size() && text[j] == ']' ? j + 1 : 0;
}

std::string Renumbered(std::string_view text, size_t length, size_t offset) {
  const unsigned long index =
      std::strtoul(std::string(text.substr(1, length - 2)).c_str(), nullptr, 10);
  return "[" + std::to_string(index + offset) + "]";
}

bool IsFormulaElement(const char* name) {
  return !std::strcmp(name, "f") || !std::strcmp(name, "formula") ||
         !std::strcmp(name, "formula1") || !std::strcmp(name, "formula2") ||
         !std::strcmp(name, "xm:f") || !std::strcmp(name, "calculatedColumnFormula") ||
         !std::strcmp(name, "totalsRowFormula");
}

}  // namespace

std::string RewriteFormula(std::string_view f, const Renames& renames) {
  auto renamed_sheet = [&](const std::string& name) -> const std::string* {
    auto it = renames.sheets.find(FoldCase(name));
    return it == renames.sheets.end() ? nullptr : &it->second;
  };
  auto sheet_ref = [&](const std::string& first, const std::string* second) -> std::string {
    const std::string* a = renamed_sheet(first);
    const std::string* b = second ? renamed_sheet(*second) : nullptr;
    std::string whole = a ? *a : first;
    if (second) whole += ":" + (b ? *b : *second);
    return Quoted(whole);
  };
  std::string out;
  out.reserve(f.size() + 16);
  const size_t n = f.size();
  size_t i = 0;
  while (i < n) {
    const char c = f[i];
    if (c == '"') {
      size_t j = i + 1;
      while (j < n) {
        if (f[j] == '"') {
          if (j + 1 < n && f[j + 1] == '"') {
            j += 2;
            continue;
          }
          break;
        }
        ++j;
      }
      j = std::min(n, j + 1);
      out.append(f.substr(i, j - i));
      i = j;
    } else if (c == '\'') {
      std::string name;
      size_t j = i + 1;
      while (j < n) {
        if (f[j] == '\'') {
          if (j + 1 < n && f[j + 1] == '\'') {
            name += '\'';
            j += 2;
            continue;
          }
          break;
        }
        name += f[j++];
      }
      const size_t end = std::min(n, j + 1);
      if (const size_t length = ExternalIndexLength(name); length && renames.external_offset) {
        out += Quoted(Renumbered(name, length, renames.external_offset) + name.substr(length));
        i = end;
        continue;
      }
      const bool is_sheet =
          end < n && f[end] == '!' && name.find_first_of("[]") == std::string::npos;
      if (is_sheet) {
        const size_t colon = name.find(':');
        const std::string first = name.substr(0, colon);
        const std::string second = colon == std::string::npos ? "" : name.substr(colon + 1);
        if (renamed_sheet(first) || (colon != std::string::npos && renamed_sheet(second))) {
          out += sheet_ref(first, colon == std::string::npos ? nullptr : &second);
          i = end;
          continue;
        }
      }
      out.append(f.substr(i, end - i));
      i = end;
    } else if (const size_t length =
                   c == '[' && renames.external_offset &&
                           (i == 0 || (!IsNameChar(f[i - 1]) && f[i - 1] != '[' && f[i - 1] != ']'))
                       ? ExternalIndexLength(f.substr(i))
                       : 0;
               length && i + length < n && (IsNameChar(f[i + length]) || f[i + length] == '!')) {
      out += Renumbered(f.substr(i, length), length, renames.external_offset);
      i += length;
    } else if (IsNameChar(c) && !std::isdigit(static_cast<unsigned char>(c)) &&
               (i == 0 || (!IsNameChar(f[i - 1]) && f[i - 1] != ']' && f[i - 1] != '!'))) {
      size_t j = i;
      while (j < n && IsNameChar(f[j])) ++j;
      const std::string token(f.substr(i, j - i));
      if (SecondEndOfExternalSpan(f, i)) {
        out += token;  // another workbook's sheet ([1]Sheet2:Sheet1!A1)
      } else if (j < n && f[j] == '!' && renamed_sheet(token)) {
        out += sheet_ref(token, nullptr);
      } else if (j < n && f[j] == ':') {
        size_t k = j + 1;
        while (k < n && IsNameChar(f[k])) ++k;
        const std::string second(f.substr(j + 1, k - j - 1));
        if (k < n && f[k] == '!' && !second.empty() &&
            (renamed_sheet(token) || renamed_sheet(second))) {
          out += sheet_ref(token, &second);
          j = k;
        } else {
          out += token;
        }
      } else if (j < n && f[j] == '[') {
        auto it = renames.tables.find(FoldCase(token));
        out += it == renames.tables.end() ? token : it->second;
      } else {
        out += token;
      }
      i = j;
    } else {
      out += c;
      ++i;
    }
  }
  return out;
}

void RewriteFormulas(pugi::xml_node node, const Renames& renames) {
  for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
    if (child.type() != pugi::node_element) continue;
    if (IsFormulaElement(child.name())) {
      pugi::xml_node text = child.first_child();
      if (text && (text.type() == pugi::node_pcdata || text.type() == pugi::node_cdata)) {
        text.set_value(RewriteFormula(text.value(), renames).c_str());
      }
      continue;
    }
    if (!std::strcmp(child.name(), "hyperlink")) {
      if (pugi::xml_attribute location = child.attribute("location")) {
        location.set_value(RewriteFormula(location.value(), renames).c_str());
      }
    }
    RewriteFormulas(child, renames);
  }
}

void RewriteChartFormulas(pugi::xml_node node, const Renames& renames) {
  for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
    if (child.type() != pugi::node_element) continue;
    const char* name = child.name();
    const char* colon = std::strrchr(name, ':');
    const char* local = colon ? colon + 1 : name;
    if (!std::strcmp(local, "f")) {
      pugi::xml_node text = child.first_child();
      if (text && text.type() == pugi::node_pcdata) {
        text.set_value(RewriteFormula(text.value(), renames).c_str());
      }
      continue;
    }
    RewriteChartFormulas(child, renames);
  }
}

}  // namespace quorvane::office
