#pragma once

namespace quorvane {

/// Takes the user's locale for character handling, and UTF-8 where that locale is not a
/// UTF-8 one (a bare "C" in a service or CI), so that "?" in a pattern matches one Chinese
/// character rather than one byte of it. Names that are not valid UTF-8 still match byte
/// by byte.
void UseUtf8CharacterHandling();

}  // namespace quorvane
