#pragma once

#include <cstdint>

/// What the engine takes from one source at most. A source beyond a limit is refused before
/// anything is written, naming the file; no limit is ever read from the file itself.
///
/// Nesting: Word nests tables three elements per level and rarely goes past a few dozen
/// levels; drawings, SmartArt and content controls add a few dozen more. A thousand levels
/// keeps every walk of ours over a tree within a small fraction of a thread's stack.
///
/// Sizes: the largest real parts are worksheets of a million rows (a few hundred MB of XML)
/// and embedded videos; a part is held whole while it is joined, so its size bounds memory.
/// A package may hold several large parts, but not unboundedly many.
///
/// Ratio: XML parts deflate 5:1 to 30:1, pictures hardly at all; only a large blank bitmap
/// or a crafted entry comes near deflate's ceiling of about 1030:1. The ratio is held from
/// 16 MiB on, so small blank images and repetitive small parts pass, while a crafted entry is
/// stopped having made at most 16 MiB or 200 times what it occupies.
namespace quorvane::office::limits {

/// The deepest element nesting of an XML part (the root element is at depth 1).
inline constexpr int kMaxXmlDepth = 1000;
/// The most one part may inflate to.
inline constexpr std::uint64_t kMaxPartBytes = std::uint64_t{1} << 30;
/// The most all parts of one package together may inflate to.
inline constexpr std::uint64_t kMaxPackageBytes = std::uint64_t{4} << 30;
/// The most a part may inflate to per byte it occupies in the zip, and the whole package
/// per byte of its file; held only beyond kRatioFloorBytes.
inline constexpr std::uint64_t kMaxRatio = 200;
/// Below this many inflated bytes the ratio is not held.
inline constexpr std::uint64_t kRatioFloorBytes = std::uint64_t{16} << 20;

/// The limits a package is read under: the ones above, or smaller ones in a test.
struct Limits {
  int max_xml_depth = kMaxXmlDepth;
  std::uint64_t max_part_bytes = kMaxPartBytes;
  std::uint64_t max_package_bytes = kMaxPackageBytes;
  std::uint64_t max_ratio = kMaxRatio;
  std::uint64_t ratio_floor_bytes = kRatioFloorBytes;
};

}  // namespace quorvane::office::limits
