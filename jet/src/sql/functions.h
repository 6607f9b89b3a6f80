// Internal: the built-in functions of Access queries (Nz, IIf, UCase, Left,
// Mid, InStr, Val, CLng, CCur, Round, Year, DateAdd, DateDiff, Format, ...)
// with Jet's Null rules: most return Null for a Null argument; the
// conversions (CStr, CLng, CDbl, CCur, CDate, CInt, Val) refuse it with
// "Invalid use of Null", as Jet does.
#pragma once

#include <string>
#include <vector>

#include "jet/value.h"

namespace jet::sql {

// Whether `upper_name` (upper case) names a built-in function.
bool is_function(const std::string& upper_name);

// How many arguments the function takes.
void function_arity(const std::string& upper_name, int& min_args, int& max_args);

// Calls a built-in function on evaluated arguments. IIf is evaluated by the
// executor (only the branch it chooses); it is accepted here too. Throws
// jet::Error: kInvalidArgument ("Invalid use of Null", "Invalid procedure
// call or argument"), kConstraint ("Overflow", "type mismatch").
Value call_function(const std::string& upper_name, const std::vector<Value>& args);

}  // namespace jet::sql
