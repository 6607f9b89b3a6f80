// Plain-text forms of field values, for tools, exports and messages.
#pragma once

#include <string>

#include "jet/value.h"

namespace jet {

// Appends the text form of `v` to `out`:
//   Null -> nothing; boolean -> "1"/"0"; integers as decimal;
//   currency -> fixed point with 4 decimals ("3.5000");
//   single/double -> shortest text that reads back to the same value
//   ("444.555", "1e+20");
//   date/time -> "YYYY-MM-DD HH:MM:SS" (rounded to the second);
//   text -> as is; bytes -> upper-case hex;
//   GUID -> "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" as Access shows it;
//   decimal -> digits with the scale's decimals ("-12.340").
void append_value_text(const Value& v, std::string& out);
std::string value_text(const Value& v);

// Calendar parts of a date/time value (Jet counts days from 1899-12-30; the
// fraction's magnitude is the time of day, also for dates before then).
struct CivilTime {
  int year, month, day, hour, minute, second;
};
CivilTime to_civil(DateTime t);
DateTime from_civil(const CivilTime& c);

// Decimal value as text (see append_value_text).
std::string decimal_text(const Decimal& d);

}  // namespace jet
