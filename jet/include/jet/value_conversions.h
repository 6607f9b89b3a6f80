// The one set of value conversions shared by the engine's row encoder and SQL
// values, the program's posting, its grid and its reports.
//
// Rules:
//
// 1. Rounding. Every conversion to a type with fewer decimals than its source
//    rounds half to even ("banker's rounding"), as Jet's CCur, CInt, CLng and
//    CByte do and as the currency type stores amounts: 2.5 -> 2, 3.5 -> 4,
//    1.00005 -> 1.0000 (as a double the product 1.00005 * 10000 is what is
//    rounded), "1.00005" as text -> 1.0000 (text is rounded exactly, digit by
//    digit, so "0.00015" -> 0.0002).
//
// 2. Range. A value outside the target type's range, NaN or an infinity
//    raises jet::Error with ErrorCategory::kOverflow, whose text starts with
//    "Overflow" (Jet's error 6) and names the value. Nothing out of range
//    becomes 0, is clamped or wraps. The ranges:
//      Currency  -922337203685477.5808 .. 922337203685477.5807
//      Byte      0 .. 255           Integer  -32768 .. 32767
//      Long      -2147483648 .. 2147483647
//      Single    finite and within +-3.402823466e38
//      Date      years 100 .. 9999 (days -657434 .. 2958465, plus the time)
//    A value is range-checked after rounding: CByte(255.5) overflows (it
//    rounds to 256), CByte(-0.5) is 0.
//
// 3. Text forms (value_to_text), one per type, as Jet's CStr writes them:
//      Null -> ""; Boolean -> "True" / "False"; whole numbers in decimal;
//      Currency -> without trailing zeros ("2.5", "-3", "0.0001");
//      Double / Single -> at most 15 / 7 significant digits, rounded to
//        nearest, without trailing zeros (0.1 + 0.2 -> "0.3", 1 / 3 ->
//        "0.333333333333333"); fixed-point from 1e-5 up to below 1e15 / 1e7,
//        else with an exponent ("1E+15", "1.5E-07", a single 12345678 ->
//        "1.234568E+07"); "-0" is written "0". The text is for people and
//        statements as CStr makes them; it does not always read back to the
//        same double (convert the value itself, not its text);
//      Date -> "m/d/yyyy h:mm:ss AM/PM"; the time is left out at midnight,
//        the date is left out on day 0 (30 Dec 1899) when there is a time
//        ("12:30:00 PM");
//      Text as is; binary as upper-case hex; GUID as "{XXXXXXXX-...}";
//      decimal with its scale's decimals.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "jet/value.h"

namespace jet {

// Currency ------------------------------------------------------------------

// `v` rounded half to even to ten-thousandths. Throws kOverflow for NaN,
// infinities and amounts outside the currency range.
Currency currency_from_double(double v);

// Reads an amount written as [blanks][+|-]digits[.digits][e[+|-]digits][blanks]
// ("12.5", "-0.00005", "1e3"), rounding exactly half to even at the fourth
// decimal. Returns false when the text is not such a number (empty, "abc",
// "1,5", "0x10"); throws kOverflow when it is a number outside the range.
bool parse_currency(std::string_view text, Currency& out);

// Checked arithmetic: throw kOverflow instead of wrapping.
Currency currency_add(Currency a, Currency b);
Currency currency_sub(Currency a, Currency b);
// `a` times `factor`, rounded half to even to ten-thousandths.
Currency currency_mul(Currency a, double factor);

double currency_to_double(Currency c);
// "2.5", "-3", "0.0001", "-922337203685477.5808".
std::string currency_to_text(Currency c);

// Whole numbers (rounded half to even, then range-checked) -------------------

uint8_t to_byte(double v);
int16_t to_integer(double v);
int32_t to_long(double v);

// Floating point --------------------------------------------------------------

// `v` itself; throws kOverflow for NaN and infinities.
double checked_double(double v);
// `v` as a single; throws kOverflow for NaN, infinities and magnitudes the
// single type cannot hold.
float to_single(double v);

// Dates -------------------------------------------------------------------------

// True when `days` (since 1899-12-30, time of day as the fraction) lies in
// the years 100 to 9999.
bool valid_date(double days);
// `days` as a date; throws kOverflow outside valid_date.
DateTime to_date(double days);

// Text forms ----------------------------------------------------------------------

// The text form of `v` (rule 3 above).
std::string value_to_text(const Value& v);
// The text of a double / a single: 15 / 7 significant digits (rule 3).
std::string double_to_text(double v);
std::string single_to_text(float v);
// A date as "m/d/yyyy h:mm:ss AM/PM" (rule 3).
std::string date_to_text(DateTime d);

// Raises the overflow error: "Overflow: <what>".
[[noreturn]] void throw_overflow(const std::string& what);

}  // namespace jet
