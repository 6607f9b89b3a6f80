#include "test_util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace jet::test {

std::string fixture(const std::string& name) { return std::string(TALLIMO_FIXTURES) + "/" + name; }

std::vector<std::string> fixture_files() {
  std::vector<std::string> out;
  for (const auto& e : std::filesystem::directory_iterator(TALLIMO_FIXTURES)) {
    if (e.path().extension() == ".mdb") out.push_back(e.path().filename().string());
  }
  std::sort(out.begin(), out.end());
  return out;
}

std::string fixture_password(const std::string& name) {
  if (name.find("with-password") != std::string::npos) return "password";
  if (name.rfind("products_", 0) == 0) return "qzmvrp";
  return {};
}

std::vector<uint8_t> read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string shell_quote(const std::string& s) {
  std::string out = "'";
  for (char c : s) {
    if (c == '\'') out += "'\\''";
    else out.push_back(c);
  }
  return out + "'";
}

std::string run_command(const std::string& command) {
  FILE* p = ::popen(command.c_str(), "r");
  if (!p) {
    ADD_FAILURE() << "cannot run: " << command;
    return {};
  }
  std::string out;
  char buf[65536];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  int rc = ::pclose(p);
  if (rc != 0) {
    ADD_FAILURE() << "command failed (" << rc << "): " << command;
    return {};
  }
  return out;
}

std::string fixture_test_name(const std::string& file) {
  std::string n = file.substr(0, file.size() - 4);
  for (char& c : n) {
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  }
  return n;
}

}  // namespace jet::test
