// Internal: Jet's rules for values in expressions: comparison (text in the
// General sort order, case-insensitive), Null propagation, arithmetic, text
// joining, and conversion of a value to a column's type on writes.
#pragma once

#include <optional>
#include <string>

#include "jet/schema.h"
#include "jet/value.h"

namespace jet::sql {

// The General sort-order key of a text, as the index module encodes it:
// comparing two keys bytewise compares the texts as Jet does (letter case,
// and trailing blanks, do not count).
std::string text_key(const std::string& text);

// Three-way comparison of two non-Null values; throws jet::Error
// kConstraint ("type mismatch") naming both values when they cannot be
// compared (text that is not a number against a number, bytes against text).
int compare_values(const Value& a, const Value& b);

// `v` as a number; false for Null, non-numeric text, bytes and GUIDs.
bool to_number(const Value& v, double& out);

// Truth of a condition's value: nullopt for Null. Throws kConstraint for a
// value that is not a truth value or a number.
std::optional<bool> truth(const Value& v);

// Text form of a value as Jet converts it inside expressions (& and
// implicit conversions): numbers without trailing zeros, True/False.
std::string value_as_text(const Value& v);

// Short description of a value for messages: "the text 'abc'", "the number 5".
std::string describe_value(const Value& v);

// Arithmetic and joining; Null propagates except for & (Null counts as "").
Value arithmetic(int op, const Value& a, const Value& b);  // op: BinaryOp
Value negate(const Value& v);

// Jet's LIKE: * any run, ? one character, # one digit, [abc] [!abc] [a-z];
// case-insensitive.
bool like_match(const std::string& text, const std::string& pattern);

// `v` converted for storing in `column` of `table`. Throws kConstraint
// naming the table, column and value for a type mismatch, a number out of
// the column's range, or a text longer than the column holds.
Value convert_for_column(const Value& v, const ColumnDef& column, const std::string& table);

// Jet's Overflow error (its error 6): a result that is infinite, not a
// number, or outside the range of the type that must hold it.
[[noreturn]] void overflow(const std::string& what);

// A double result checked as Jet checks it: NaN and infinities are Overflow.
double checked_number(double d, const char* operation);

// Jet's dates run from 1 January 100 to 31 December 9999.
inline constexpr double kFirstDate = -657434.0;  // 100-01-01
inline constexpr double kEndOfDates = 2958466.0;  // 10000-01-01, just past the last date
bool valid_date(double days);
// `days` as a date; throws Overflow outside Jet's range (NaN included).
DateTime checked_date(double days);

// Reads a date, a time or both from text: "yyyy-mm-dd", "m/d/yyyy" (and
// "m/d/yy", "m/d" of no year: false), each optionally followed by a time
// "h:nn[:ss]" with an optional AM/PM, or a time alone. False for text that
// is not in one of these forms or names a day that does not exist (31
// February, month 13, hour 24); throws Overflow for a year outside 100 to
// 9999.
bool parse_date_text(const std::string& text, DateTime& out);

// Exact text-to-money conversion: digits with an optional sign, point and
// exponent, rounded half to even at the fourth decimal. False when the text
// is not a number; throws Overflow when it leaves the currency range.
bool parse_currency_text(const std::string& text, Currency& out);

// A double as money (half to even at the fourth decimal); Overflow outside
// -922337203685477.5808 to 922337203685477.5807, and for NaN or infinity.
Currency currency_of(double d);

// Sort key of a value for ORDER BY and DISTINCT: Null first, then numbers
// (and dates, truth values), then texts in General order, then bytes.
std::string sort_key(const Value& v);

}  // namespace jet::sql
