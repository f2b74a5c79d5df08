#include "office/vml_shapes.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

namespace quorvane::office {

std::string RenumberVmlShapes(const std::string& vml, long* next_block,
                              std::map<long, long>* blocks) {
  std::vector<long> listed;
  size_t data_at = std::string::npos, data_end = std::string::npos;
  if (const size_t idmap = vml.find("idmap"); idmap != std::string::npos) {
    const size_t close = vml.find('>', idmap);
    const size_t data = vml.find("data=", idmap);
    if (data != std::string::npos && data < close && data + 6 < vml.size()) {
      data_at = data + 6;
      data_end = vml.find(vml[data + 5], data_at);
      std::string list = vml.substr(data_at, data_end - data_at);
      for (char* p = list.data(); *p;) {
        char* end = nullptr;
        const long block = std::strtol(p, &end, 10);
        if (end == p) {
          ++p;
          continue;
        }
        if (!blocks->count(block)) {
          (*blocks)[block] = (*next_block)++;
          listed.push_back(block);
        }
        p = end;
      }
    }
  }
  if (data_end == std::string::npos) data_at = std::string::npos;
  constexpr std::string_view kShape = "_x0000_s";
  std::string out;
  out.reserve(vml.size() + 16);
  size_t i = 0;
  while (i < vml.size()) {
    const size_t at = vml.find(kShape, i);
    if (data_at != std::string::npos && (at == std::string::npos || at > data_at)) {
      out.append(vml, i, data_at - i);
      for (size_t k = 0; k < listed.size(); ++k)
        out += (k ? "," : "") + std::to_string((*blocks)[listed[k]]);
      i = data_end;
      data_at = std::string::npos;
      continue;
    }
    if (at == std::string::npos) {
      out.append(vml, i);
      break;
    }
    size_t digits = at + kShape.size();
    while (digits < vml.size() && std::isdigit(static_cast<unsigned char>(vml[digits]))) ++digits;
    out.append(vml, i, at + kShape.size() - i);
    if (digits > at + kShape.size()) {
      const long id = std::strtol(vml.c_str() + at + kShape.size(), nullptr, 10);
      auto found = blocks->find(id / 1024);
      if (found == blocks->end()) found = blocks->emplace(id / 1024, (*next_block)++).first;
      out += std::to_string(found->second * 1024 + id % 1024);
    }
    i = digits;
  }
  return out;
}

void RemapShapeIds(pugi::xml_node node, const std::map<long, long>& blocks) {
  for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
    if (child.type() != pugi::node_element || !std::strcmp(child.name(), "sheetData")) continue;
    if (pugi::xml_attribute id = child.attribute("shapeId")) {
      const long old = id.as_llong();
      if (auto found = blocks.find(old / 1024); found != blocks.end()) {
        id.set_value(static_cast<long long>(found->second * 1024 + old % 1024));
      }
    }
    RemapShapeIds(child, blocks);
  }
}

}  // namespace quorvane::office
