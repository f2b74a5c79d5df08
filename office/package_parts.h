#pragma once

#include <string>

namespace quorvane::office {

/// The zip entry that gives every part its content type.
inline constexpr const char* kContentTypesEntry = "[Content_Types].xml";

/// The folder of a part: "/word/document.xml" -> "/word/"; "/" and "/[Content_Types].xml"
/// -> "/".
std::string FolderOf(const std::string& part);

/// The target text that reaches `target_part` from a part in the folder `base`.
std::string RelativeTarget(const std::string& base, const std::string& target_part);

/// True for a content type of binary data (images and the like) rather than XML.
bool IsMedia(const std::string& content_type);

/// Media are told apart by two independent checksums and their size: the same key means the
/// same bytes for any file that was not made to collide.
std::string MediaDigest(const std::string& bytes);

}  // namespace quorvane::office
