#include "office/cell_scanner.h"

#include <charconv>
#include <cstdlib>
#include <cstring>

#include "office/xml.h"

namespace quorvane::office {
namespace {

constexpr int kDaysFrom1900To1904 = 1462;

std::string ShiftedDate(const char* value) {
  char* end = nullptr;
  const double days = std::strtod(value, &end);
  if (end == value || *end) return value;
  char buffer[64];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, days + kDaysFrom1900To1904);
  return std::string(buffer, result.ptr);
}

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

void AppendNumber(unsigned long long n, std::string* out) {
  char buffer[24];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, n);
  out->append(buffer, result.ptr);
}

std::string Unescaped(std::string_view text) {
  if (text.find('&') == std::string_view::npos) return std::string(text);
  pugi::xml_document doc;
  const std::string wrapped = "<f>" + std::string(text) + "</f>";
  doc.load_buffer(wrapped.data(), wrapped.size(), pugi::parse_default | pugi::parse_ws_pcdata);
  return doc.child("f").text().get();
}

}  // namespace

size_t ReadTag(std::string_view in, size_t i, Tag* tag) {
  constexpr size_t npos = std::string_view::npos;
  tag->attributes.clear();
  tag->closing = tag->empty = false;
  size_t j = i + 1;
  if (j < in.size() && in[j] == '/') {
    tag->closing = true;
    ++j;
  }
  const size_t start = j;
  while (j < in.size() && !IsSpace(in[j]) && in[j] != '>' && in[j] != '/') ++j;
  tag->name = in.substr(start, j - start);
  if (tag->name.empty() || tag->name.find_first_of(":!?") != npos) return npos;
  for (;;) {
    while (j < in.size() && IsSpace(in[j])) ++j;
    if (j >= in.size()) return npos;
    if (in[j] == '>') return j + 1;
    if (in[j] == '/') {
      if (j + 1 >= in.size() || in[j + 1] != '>') return npos;
      tag->empty = true;
      return j + 2;
    }
    const size_t name_start = j;
    while (j < in.size() && in[j] != '=' && !IsSpace(in[j]) && in[j] != '>') ++j;
    const std::string_view name = in.substr(name_start, j - name_start);
    while (j < in.size() && IsSpace(in[j])) ++j;
    if (j >= in.size() || in[j] != '=') return npos;
    ++j;
    while (j < in.size() && IsSpace(in[j])) ++j;
    if (j >= in.size() || (in[j] != '"' && in[j] != '\'')) return npos;
    const char quote = in[j++];
    const size_t end = in.find(quote, j);
    if (end == npos) return npos;
    tag->attributes.emplace_back(name, in.substr(j, end - j));
    j = end + 1;
  }
}

int StyleIndex(std::string_view text) {
  int index = -1;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), index);
  return error == std::errc() && end == text.data() + text.size() && index >= 0 ? index : -1;
}

int Mapped(const std::vector<int>& map, int index) {
  return index >= 0 && static_cast<size_t>(index) < map.size() ? map[index] : 0;
}

bool StreamCells(std::string_view in, const CellRules& rules, std::string* out,
                 std::set<std::string>* prefixes) {
  out->reserve(out->size() + in.size() + in.size() / 16);
  Tag tag;
  int style = 0;
  std::string_view type;
  size_t i = 0;
  while (i < in.size()) {
    const size_t lt = in.find('<', i);
    if (lt == std::string_view::npos) {
      out->append(in.substr(i));
      break;
    }
    out->append(in.substr(i, lt - i));
    const size_t end = ReadTag(in, lt, &tag);
    if (end == std::string_view::npos) return false;
    i = end;
    for (const auto& attribute : tag.attributes) {
      const size_t colon = attribute.first.find(':');
      if (colon != std::string_view::npos && attribute.first.substr(0, colon) != "xml") {
        prefixes->emplace(attribute.first.substr(0, colon));
      }
    }
    const bool row = tag.name == "row", cell = tag.name == "c";
    if (tag.closing || (!row && !cell)) {
      out->append(in.substr(lt, end - lt));
      if (tag.closing || tag.empty || (tag.name != "v" && tag.name != "f")) continue;
      // The text of a value or a formula.
      const size_t text_end = in.find('<', i);
      if (text_end == std::string_view::npos) return false;
      const std::string_view text = in.substr(i, text_end - i);
      i = text_end;
      if (tag.name == "v" && type == "s" && rules.string_offset) {
        AppendNumber(std::strtoull(std::string(text).c_str(), nullptr, 10) + rules.string_offset,
                     out);
      } else if (tag.name == "v" && rules.xf_is_date && (type.empty() || type == "n") &&
                 static_cast<size_t>(style) < rules.xf_is_date->size() &&
                 (*rules.xf_is_date)[style]) {
        out->append(ShiftedDate(std::string(text).c_str()));
      } else if (tag.name == "f" && rules.renames &&
                 text.find_first_of("![") != std::string_view::npos) {
        out->append(EscapeXml(RewriteFormula(Unescaped(text), *rules.renames), false));
      } else {
        out->append(text);
      }
      continue;
    }
    if (cell) {
      style = 0;
      type = {};
    }
    *out += '<';
    out->append(tag.name);
    bool styled = false, formatted = false;
    for (const auto& [name, value] : tag.attributes) {
      if (cell && (name == "cm" || name == "vm")) continue;
      styled = styled || name == "s";
      formatted = formatted || (name == "customFormat" && (value == "1" || value == "true"));
      const char quote = value.find('"') == std::string_view::npos ? '"' : '\'';
      *out += ' ';
      out->append(name);
      *out += '=';
      *out += quote;
      if (name == "s") {
        const int old = StyleIndex(value);
        if (cell) style = old;
        AppendNumber(static_cast<unsigned>(Mapped(*rules.xf_map, old)), out);
      } else {
        if (cell && name == "t") type = value;
        out->append(value);
      }
      *out += quote;
    }
    // A cell without a style, and a formatted row without one, show the format of index 0:
    // the source's base format, which has its own index here.
    if (rules.base_xf && !styled && (cell || formatted)) {
      out->append(" s=\"");
      AppendNumber(static_cast<unsigned>(rules.base_xf), out);
      *out += '"';
    }
    out->append(tag.empty ? "/>" : ">");
  }
  return true;
}

void RewriteCellsInDom(pugi::xml_node sheet_data, const CellRules& rules) {
  char number[32];
  for (pugi::xml_node row = sheet_data.child("row"); row; row = row.next_sibling("row")) {
    if (pugi::xml_attribute a = row.attribute("s"))
      a.set_value(Mapped(*rules.xf_map, StyleIndex(a.value())));
    else if (rules.base_xf && row.attribute("customFormat").as_bool())
      row.append_attribute("s").set_value(rules.base_xf);
    for (pugi::xml_node c = row.child("c"); c; c = c.next_sibling("c")) {
      int style = 0;
      if (pugi::xml_attribute a = c.attribute("s")) {
        style = StyleIndex(a.value());
        a.set_value(Mapped(*rules.xf_map, style));
      } else if (rules.base_xf) {
        c.append_attribute("s").set_value(rules.base_xf);
      }
      c.remove_attribute("cm");
      c.remove_attribute("vm");
      const char* type = c.attribute("t").value();
      pugi::xml_node v = c.child("v").first_child();
      if (!v) continue;
      if (!std::strcmp(type, "s") && rules.string_offset) {
        const unsigned long long index =
            std::strtoull(v.value(), nullptr, 10) + rules.string_offset;
        *std::to_chars(number, number + sizeof number - 1, index).ptr = 0;
        v.set_value(number);
      } else if (rules.xf_is_date && (!*type || !std::strcmp(type, "n")) &&
                 static_cast<size_t>(style) < rules.xf_is_date->size() &&
                 (*rules.xf_is_date)[style]) {
        v.set_value(ShiftedDate(v.value()).c_str());
      }
    }
  }
}

}  // namespace quorvane::office
