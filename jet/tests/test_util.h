// Shared helpers for the engine's tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "jet/check.h"
#include "jet/error.h"

namespace jet::test {

// Every problem of a check report, one a line (for assertion messages).
std::string joined_problems(const CheckReport& report);

// An empty folder of its own for the running test: `prefix`, the process id
// and the test's name under the temporary folder.
std::filesystem::path fresh_test_folder(const std::string& prefix);

// Path of a fixture file by name ("testV2000.mdb").
std::string fixture(const std::string& name);

// The folder beside the fixtures folder that holds files with
// reference-form page maps.
inline constexpr const char* kReferenceMapFolder = "jet4-reference-maps";

// Every *.mdb file in the fixtures folder and in the reference-map folder
// ("../jet4-reference-maps/name.mdb"), sorted by name.
std::vector<std::string> fixture_files();

// The password a fixture opens with (empty for unprotected files).
std::string fixture_password(const std::string& name);

std::vector<uint8_t> read_file(const std::string& path);

// Runs a shell command; returns its standard output. Fails the test (via
// ADD_FAILURE) and returns "" when it cannot start or exits non-zero.
std::string run_command(const std::string& command);

// Quotes `s` for a POSIX shell.
std::string shell_quote(const std::string& s);

// Text helpers for comparing with the independent readers' output.

// `s` split at every `sep` (an empty string gives one empty piece).
std::vector<std::string> split(const std::string& s, char sep);

// ASCII letters made upper case.
std::string upper_ascii(std::string s);

// A decimal number's text without trailing fractional zeros or a bare
// point; "-0" becomes "0".
std::string trim_decimal_zeros(std::string s);

// Undoes the backslash escapes (\t, \r, \n, \\) of a dump_tables.mjs field.
std::string unescape_dump_field(const std::string& s);

// One field of a CSV file as mdb-export writes it; `quoted` tells an empty
// quoted field ("") from an empty unquoted one (Null).
struct CsvField {
  std::string text;
  bool quoted = false;
};

// Parses CSV text: fields separated by ',', rows by '\n', quotes doubled
// inside quoted fields.
std::vector<std::vector<CsvField>> parse_csv(const std::string& s);

// A GoogleTest parameter name for a fixture file: the name without ".mdb",
// every character that is not a letter or digit made '_'.
std::string fixture_test_name(const std::string& file);

// The jet::Error `f` throws; fails the test if it throws nothing.
template <typename F>
Error error_of(F&& f) {
  try {
    f();
  } catch (const Error& e) {
    return e;
  }
  ADD_FAILURE() << "no jet::Error thrown";
  return Error(ErrorCategory::kIo, "none");
}

}  // namespace jet::test
