#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quorvane {

/// One registry value as a query hands it back: its type and its data bytes.
struct RegistryValue {
  uint32_t type = 0;
  std::vector<uint8_t> data;
};

inline constexpr uint32_t kRegString = 1;
inline constexpr uint32_t kRegNumber = 4;
inline constexpr size_t kRegBufferSize = 1024;

/// Turns a registry value into text. `value` is null when the key or the value is missing.
/// A value longer than the 1024-byte buffer counts as missing. A terminating zero byte is
/// dropped; a string without one is taken whole; a 32-bit number is rendered in decimal.
/// Any other type leaves `key_val` as it was. False (and `key_val` empty) when missing.
bool GetKeyValue(const RegistryValue* value, std::string& key_val);

/// The first system-information program found in `search_path` (a PATH text, folders
/// separated by ":"), from hardinfo, kinfocenter and gnome-system-monitor in that order.
std::optional<std::string> FindSysInfoProgram(const std::string& search_path);

}  // namespace quorvane
