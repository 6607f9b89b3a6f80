// The point-of-sale products database: a password-protected Jet file with the
// table PRODUCT1, at the path of the "Orvex_Location" setting. Opened at the
// start of each operation that needs products and closed at its end.
#pragma once

#include <string>

namespace jet::dao {
class Database;
}

namespace tallimo {

class Session;

// The products database's password (the Jet connect string is ";pwd=" + it).
inline constexpr const char* kOrvexPassword = "qzmvrp";

// The session's products database handle, null while closed.
jet::dao::Database* Orvex_Database(const Session& session);

// Opens the file at the "Orvex_Location" setting into the handle. When no
// file is there, says "Unable to locate the Tallimofiles." ..., shows the
// Preferences dialog (then saves the settings) and tries again; when the
// file is still missing, says "Program is incorrectly configured. ..." and
// ends the program (Session::end_program(); program_ended() is then true).
// An error opening the file (wrong password, damaged, locked) is reported
// through Error_Routine as "Open_Orvex_DataBase" and the handle stays empty.
// Returns whether the handle is open.
bool Open_Orvex_DataBase(Session& session);

// Closes the products database and empties the handle (a no-op when it is
// already empty).
void Close_Orvex_DataBase(Session& session);

}  // namespace tallimo
