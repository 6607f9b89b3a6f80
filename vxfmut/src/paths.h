// Path and key-name helpers (no Qt, no state).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vxfmut {

inline constexpr char kFileSeparator = '/';
inline constexpr char kKeySeparator = '\\';

// base + separator (unless base ends with one) + part (without its first character
// when that is the separator). An empty base gives separator + part.
std::string Join_Path(std::string_view base, std::string_view part, char separator = kFileSeparator);

// The largest "<major>.<minor>" among the names (major << 16 | minor, each cut to 16
// bits); names that do not start with digits, a point and digits are skipped.
std::uint32_t highest_version(const std::vector<std::string>& names);

// Drive and folder of a path without the trailing separator: everything before the
// last '/' or '\\' ("C:\\Palm\\HotSync.exe" -> "C:\\Palm", "/opt/palm/hotsync" -> "/opt/palm").
std::string folder_of(const std::string& path);

}  // namespace vxfmut
