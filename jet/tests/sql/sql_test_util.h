// Helpers shared by the SQL tests: fixture paths, scratch folders, and the
// statements the program issues, built piece by piece as it builds them.
#pragma once

#include <filesystem>
#include <string>

namespace sqltest {

inline const std::string kCrLf = "\r\n";
inline const std::string kProductsPassword = "qzmvrp";

std::string fixture(const std::string& name);

// A fresh folder under the system's temporary folder, removed on destruction.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  std::filesystem::path path(const std::string& name) const { return dir_ / name; }
  // Copies a fixture into the folder (writable) and returns its path.
  std::string copy_fixture(const std::string& name) const;

 private:
  std::filesystem::path dir_;
};

// Upper-case hex of a text's bytes, as the program stores sort keys.
std::string hex_of(const std::string& text);

}  // namespace sqltest
