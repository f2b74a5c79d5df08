#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "office/package.h"
#include "office/xml.h"

namespace quorvane::testing {

/// Checks what every package must hold: [Content_Types].xml as the first zip entry, no two
/// names differing only by case, a content type for every part, every internal relationship
/// reaching a part, every XML part (VML drawings too) well-formed, and every relationship id
/// a part uses (any attribute in the relationships namespace, and VML's o:relid) defined in
/// that part's own relationships. Faults go to `faults`, one line each;
/// `visit` sees each XML part's root, one part at a time. Gives the opened package, or null
/// when it cannot be opened.
std::unique_ptr<office::Package> CheckPackage(
    const std::string& path, std::vector<std::string>* faults,
    const std::function<void(const std::string& part, pugi::xml_node root)>& visit);

}  // namespace quorvane::testing
