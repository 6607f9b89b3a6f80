// The database converter run: VFConvertPDB builds the converter's command line and runs
// it as a child process through Run_And_Wait.
//
// Exit codes of Run_And_Wait (a 32-bit value):
//   0..255   the converter's own exit status (0 = success)
//   128 + N  the converter was ended by signal N (as a shell reports it)
//   -1       the converter could not be found or started
//   -2       it did not end within the time limit and was stopped
//   -3       the user pressed "&Abort" while it ran, and it was stopped
// A stopped converter gets SIGTERM, and SIGKILL one second later if it still runs; its
// whole process group goes with it. While waiting, the user interface keeps running
// (do_events every 20 ms), so the window repaints and "&Abort" can be pressed.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace tallimo {
class Session;
}

namespace tallimo::handheld {

inline constexpr int64_t kRunNotStarted = -1;
inline constexpr int64_t kRunTimedOut = -2;
inline constexpr int64_t kRunCancelled = -3;

// How long one conversion may take: the environment variable TALLIMO_CONVERTER_SECONDS
// (whole seconds, read at each run) when set to a positive number, else 300 s.
std::chrono::milliseconds converter_time_limit();

// Splits a command line the way the Windows run-time does for simple cases: words
// separated by blanks, double quotes group blanks into a word and are removed.
std::vector<std::string> split_command_line(const std::string& command_line);

// The program the first word names: searched first in the program's own folder, then
// in the folders of PATH (a word with a '/' is used as it is). A name ending in ".exe"
// that is not found is looked for again without the ending. Empty when not found.
std::string find_program(const std::string& word);

// Starts the command line, waits (time limit, "&Abort") and returns the exit code as
// above.
int64_t Run_And_Wait(Session& session, const std::string& command_line);

// "VFConvertPDB.exe " + type + " -filename \"" + path + "\" -creatorid QTL7 -versionmajor 1
// -versionminor 0 -quiet".
std::string converter_command_line(const std::string& strConvertType, const std::string& strDBFilename);

// The exit code as a 16-bit signed value. A code outside that range is not cut: it is
// reported plainly in a message box (its full decimal value) and -1 is returned.
int16_t exit_code_as_int16(Session& session, int64_t code);

// Runs the converter for one template; returns its exit code (0 = success). A stopped
// or unstartable converter is explained in a message box before the caller's own
// message.
int16_t VFConvertPDB(Session& session, const std::string& strConvertType, const std::string& strDBFilename);

}  // namespace tallimo::handheld
