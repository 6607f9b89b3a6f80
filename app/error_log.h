// The single report of an unexpected failure: a message box, then a record
// appended to "ErrorLog.txt" in the application folder.
#pragma once

#include <string>

namespace tallimo {

class Session;

inline constexpr const char* kErrorLogName = "ErrorLog.txt";

// Shows the failure to the user through the session's user interface and, once
// the box is closed, appends the six-item record to the log in the session's
// application folder. A log that cannot be written is ignored: reporting never
// fails and never recurses.
void Error_Routine(Session& session, const std::string& error_text, const std::string& routine_name);

// The text of the message box for one report.
std::string error_message_text(const std::string& error_text, const std::string& routine_name);

// The machine's network name with control characters dropped and blanks
// trimmed, or "UnKnownName" when it cannot be read.
std::string computer_name();

// The log record of one report, lines ended by CR LF: the separator line,
// the error text, the routine, the local time "mm/dd/yyyy hh:mm:ss", the
// computer name, and two empty lines. `now` is seconds since the epoch.
std::string error_log_record(const std::string& error_text, const std::string& routine_name, long long now,
                             const std::string& machine);

}  // namespace tallimo
