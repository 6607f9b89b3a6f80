// Shared helpers for the engine's tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

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

}  // namespace jet::test
