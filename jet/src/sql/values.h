// Internal: Jet's rules for values in expressions: comparison (text in the
// General sort order, case-insensitive), Null propagation, arithmetic, text
// joining, and conversion of a value to a column's type on writes.
#pragma once

#include <optional>
#include <string>

#include "jet/schema.h"
#include "jet/value.h"
#include "jet/value_conversions.h"

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

// A double result checked as Jet checks it: NaN and infinities are
// Overflow (jet::throw_overflow), naming the operation that made them.
double checked_number(double d, const char* operation);

// Reads a date, a time or both from text: "yyyy-mm-dd", "m/d/yyyy", each
// optionally followed by a time "h:nn[:ss]" with an optional AM/PM, or a
// time alone. False for text that is not in one of these forms (two-digit
// years included: they are ambiguous) or names a day that does not exist
// (31 February, month 13, hour 24); throws Overflow for a year outside 100
// to 9999.
bool parse_date_text(const std::string& text, DateTime& out);

// Sort key of a value for ORDER BY and DISTINCT: Null first, then numbers
// (and dates, truth values), then texts in General order, then bytes.
std::string sort_key(const Value& v);

}  // namespace jet::sql
