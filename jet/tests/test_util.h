// Shared helpers for the engine's tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "jet/error.h"

namespace jet::test {

// Path of a fixture file by name ("testV2000.mdb").
std::string fixture(const std::string& name);

// Every *.mdb file in the fixtures folder, sorted by name.
std::vector<std::string> fixture_files();

// The password a fixture opens with (empty for unprotected files).
std::string fixture_password(const std::string& name);

std::vector<uint8_t> read_file(const std::string& path);

// Runs a shell command; returns its standard output. Fails the test (via
// ADD_FAILURE) and returns "" when it cannot start or exits non-zero.
std::string run_command(const std::string& command);

// Quotes `s` for a POSIX shell.
std::string shell_quote(const std::string& s);

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
