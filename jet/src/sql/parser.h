// Internal: Jet SQL statements to syntax trees.
#pragma once

#include <string_view>

#include "sql/ast.h"

namespace jet::sql {

// Parses one statement (an optional trailing ";" is allowed). Throws
// jet::Error kSyntax whose text names the statement kind, the line and
// column of the fault, what was expected and what was found, and quotes the
// statement; kUnsupported for Jet constructs this engine does not run.
Statement parse_statement(std::string_view sql);

// Parses a criteria text (a WHERE condition without "WHERE", as FindFirst
// takes it).
ExprPtr parse_criteria(std::string_view criteria);

// Splits a script into statements at ";" outside literals and brackets.
// Blank pieces are dropped. Each piece keeps its text without the ";".
std::vector<std::string> split_statements(std::string_view script);

}  // namespace jet::sql
