// Null-safe conversions of database field values, used wherever a field may
// be Null or empty.
#pragma once

#include <cstdint>
#include <string>

#include "jet/value.h"

namespace tallimo {

// A Null, empty or non-numeric value gives 0; otherwise the value as a money
// amount rounded to four decimals, halves to even as the currency type rounds.
jet::Currency Null_To_Currency(const jet::Value& value);

// A Null value gives the empty text; otherwise the value as text with leading
// and trailing blanks removed.
std::string Null_To_Text(const jet::Value& value);

// A Null or empty value gives 0; otherwise the value rounded to a whole number
// (halves away from zero) as a 32-bit integer. Throws jet::Error
// (kInvalidArgument) for a text that is not a number or a value out of range.
int32_t Null_To_Long(const jet::Value& value);

// Parses a decimal number ("  -12.5 ", "3", "2.500", "1e3") into ten-thousandths,
// rounding halves to even. Returns false for anything else (also for an
// amount beyond the currency type's range).
bool parse_currency(const std::string& text, jet::Currency& out);

// A value as text: numbers in their shortest form ("2.5", "17"), money without
// trailing zeros, booleans "True"/"False", dates "m/d/yyyy h:mm:ss AM".
std::string value_to_text(const jet::Value& value);

// A money amount as text without trailing zeros ("2.5", "-3", "0.0001").
std::string currency_to_text(jet::Currency amount);

}  // namespace tallimo
