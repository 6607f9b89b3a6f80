#include "test_util.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace jet::test {

std::string joined_problems(const CheckReport& report) {
  std::string s;
  for (const auto& p : report.problems) s += p + "\n";
  return s;
}

std::filesystem::path fresh_test_folder(const std::string& prefix) {
  namespace fs = std::filesystem;
  fs::path dir = fs::temp_directory_path() / (prefix + std::to_string(::getpid()) + "_" +
                                              ::testing::UnitTest::GetInstance()->current_test_info()->name());
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir;
}

std::string fixture(const std::string& name) { return std::string(TALLIMO_FIXTURES) + "/" + name; }

std::vector<std::string> fixture_files() {
  std::vector<std::string> out;
  for (const auto& e : std::filesystem::directory_iterator(TALLIMO_FIXTURES)) {
    if (e.path().extension() == ".mdb") out.push_back(e.path().filename().string());
  }
  // Files with reference-form page maps live in a folder of their own
  // beside the others; they are named relative to the fixtures folder.
  const std::filesystem::path refs = std::filesystem::path(TALLIMO_FIXTURES) / ".." / kReferenceMapFolder;
  if (std::filesystem::is_directory(refs)) {
    for (const auto& e : std::filesystem::directory_iterator(refs)) {
      if (e.path().extension() == ".mdb") out.push_back("../" + std::string(kReferenceMapFolder) + "/" + e.path().filename().string());
    }
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

std::vector<std::string> split(const std::string& s, char sep) {
  std::vector<std::string> out;
  for (std::size_t p = 0;;) {
    std::size_t q = s.find(sep, p);
    out.push_back(s.substr(p, q == std::string::npos ? std::string::npos : q - p));
    if (q == std::string::npos) break;
    p = q + 1;
  }
  return out;
}

std::string upper_ascii(std::string s) {
  for (char& c : s) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  }
  return s;
}

std::string trim_decimal_zeros(std::string s) {
  if (s.find('.') != std::string::npos) {
    while (!s.empty() && s.back() == '0') s.pop_back();
    if (!s.empty() && s.back() == '.') s.pop_back();
  }
  if (s == "-0") s = "0";
  return s;
}

std::string unescape_dump_field(const std::string& s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\\' || i + 1 == s.size()) {
      out.push_back(s[i]);
      continue;
    }
    char c = s[++i];
    out.push_back(c == 't' ? '\t' : c == 'r' ? '\r' : c == 'n' ? '\n' : c);
  }
  return out;
}

std::vector<std::vector<CsvField>> parse_csv(const std::string& s) {
  std::vector<std::vector<CsvField>> rows;
  std::vector<CsvField> row;
  CsvField field;
  bool at_start = true;
  for (std::size_t i = 0; i < s.size();) {
    char c = s[i];
    if (at_start && c == '"') {
      field.quoted = true;
      ++i;
      while (i < s.size()) {
        if (s[i] == '"') {
          if (i + 1 < s.size() && s[i + 1] == '"') {
            field.text.push_back('"');
            i += 2;
          } else {
            ++i;
            break;
          }
        } else {
          field.text.push_back(s[i++]);
        }
      }
      at_start = false;
      continue;
    }
    if (c == ',' || c == '\n') {
      row.push_back(std::move(field));
      field = CsvField{};
      if (c == '\n') {
        rows.push_back(std::move(row));
        row.clear();
      }
      at_start = true;
    } else {
      field.text.push_back(c);
      at_start = false;
    }
    ++i;
  }
  if (!row.empty() || !at_start) {
    row.push_back(std::move(field));
    rows.push_back(std::move(row));
  }
  return rows;
}

std::string fixture_test_name(const std::string& file) {
  std::string n = file.substr(0, file.size() - 4);
  for (char& c : n) {
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  }
  return n;
}

}  // namespace jet::test
