// Null-safe conversions of database field values, used wherever a field may
// be Null or empty. They follow the engine's one set of value rules
// (jet/value_conversions.h): money rounds half to even at the fourth decimal,
// and a value outside its type's range is Jet's overflow error
// (jet::Error, ErrorCategory::kOverflow), never 0 or a wrapped number.
#pragma once

#include <cstdint>
#include <string>

#include "jet/value.h"

namespace tallimo {

// A Null, empty or non-numeric value gives 0; otherwise the value as a money
// amount rounded to four decimals, halves to even. Throws jet::Error
// (kOverflow) for a number outside the currency range.
jet::Currency Null_To_Currency(const jet::Value& value);

// A Null value gives the empty text; otherwise the value's text form
// (jet::value_to_text) with leading and trailing blanks removed.
std::string Null_To_Text(const jet::Value& value);

// A Null or empty value gives 0; otherwise the value formatted as a whole
// number - rounded, halves away from zero, as a format to no decimals does -
// as a 32-bit integer. Throws jet::Error: kInvalidArgument for a text that is
// not a number, kOverflow for a value outside the 32-bit range.
int32_t Null_To_Long(const jet::Value& value);

// A value's text form is jet::value_to_text (jet/value_conversions.h), found
// for a jet::Value also unqualified.

}  // namespace tallimo
