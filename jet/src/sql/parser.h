// Internal: Jet SQL statements to syntax trees.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "sql/ast.h"
#include "sql/lexer.h"

namespace jet::sql {

// Parses one statement (an optional trailing ";" is allowed). Throws
// jet::Error kSyntax whose text names the statement kind, the line and
// column of the fault, what was expected and what was found, and quotes the
// statement; kUnsupported for Jet constructs this engine does not run.
Statement parse_statement(std::string_view sql);

// Parses statements one after another, as parse_statement does, and
// remembers the last INSERT ... VALUES whose values are all plain literals
// (text, number, minus a number, date, Null). A statement that matches that
// one's text up to the "(" after VALUES is tokenized only from there, its
// table and columns taken from the remembered one: a program that inserts
// many rows with statements of one shape parses each in a fraction of the
// time. Anything else is parsed in full; the result is the same either way.
class StatementParser {
 public:
  Statement parse(std::string_view sql);
  // Statements read through the remembered shape so far.
  std::size_t shortcuts() const { return shortcuts_; }

 private:
  bool parse_values(std::string_view sql, Statement& out) const;
  void remember(std::string_view sql, const std::vector<Token>& tokens, const Statement& st);

  std::string head_;  // empty: nothing remembered
  TableRef target_;
  std::vector<std::string> columns_;
  std::size_t value_count_ = 0;
  std::size_t shortcuts_ = 0;
};

// Parses a criteria text (a WHERE condition without "WHERE", as FindFirst
// takes it).
ExprPtr parse_criteria(std::string_view criteria);

// Splits a script into statements at ";" outside literals and brackets.
// Blank pieces are dropped. Each piece keeps its text without the ";".
std::vector<std::string> split_statements(std::string_view script);

}  // namespace jet::sql
