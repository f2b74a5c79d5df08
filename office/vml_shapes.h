#pragma once

#include <map>
#include <pugixml.hpp>
#include <string>

namespace quorvane::office {

/// Gives the shapes of a VML drawing ids from fresh blocks of 1024: Excel counts them across
/// the whole workbook, and two drawings claiming one block make it repair the file. `blocks`
/// receives old block -> new block.
std::string RenumberVmlShapes(const std::string& vml, long* next_block,
                              std::map<long, long>* blocks);

/// Renumbers the shapeId of form controls and embedded objects outside the cells.
void RemapShapeIds(pugi::xml_node node, const std::map<long, long>& blocks);

}  // namespace quorvane::office
