// Path and key-name helpers (no Qt, no state), shared by the library and its tests.
#include "paths.h"

namespace vxfmut {

// Drive and folder of a path, without the trailing separator ("C:\Palm\HotSync.exe" ->
// "C:\Palm", "/opt/palm/hotsync" -> "/opt/palm").
std::string folder_of(const std::string& path) {
  std::size_t last = path.find_last_of("/\\");
  if (last == std::string::npos) {
    std::size_t colon = path.find(':');
    return colon == std::string::npos ? std::string() : path.substr(0, colon + 1);
  }
  return path.substr(0, last);
}

std::string Join_Path(std::string_view base, std::string_view part, char separator) {
  std::string result(base);
  if (result.empty() || result.back() != separator) result.push_back(separator);
  if (!part.empty() && part.front() == separator) part.remove_prefix(1);
  result.append(part);
  return result;
}

std::uint32_t highest_version(const std::vector<std::string>& names) {
  std::uint32_t best = 0;
  for (const std::string& name : names) {
    auto number = [&name](std::size_t& pos, std::uint32_t& value) {
      std::size_t start = pos;
      value = 0;
      while (pos < name.size() && name[pos] >= '0' && name[pos] <= '9') {
        value = value * 10 + static_cast<std::uint32_t>(name[pos] - '0');
        ++pos;
      }
      return pos > start;
    };
    std::size_t pos = 0;
    std::uint32_t major = 0, minor = 0;
    if (!number(pos, major) || pos >= name.size() || name[pos] != '.') continue;
    ++pos;
    if (!number(pos, minor)) continue;
    std::uint32_t version = ((major & 0xFFFFu) << 16) | (minor & 0xFFFFu);
    if (version > best) best = version;
  }
  return best;
}

}  // namespace vxfmut
