// Internal: the syntax tree of one Jet SQL statement, as the parser builds it
// and the executor runs it.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "jet/value.h"

namespace jet::sql {

enum class ExprKind {
  kLiteral,   // value
  kColumn,    // [qualifier.]name
  kNot,       // NOT a
  kNegate,    // -a
  kBinary,    // a op b
  kIsNull,    // a IS [NOT] NULL (negated)
  kLike,      // a [NOT] LIKE b (negated)
  kInList,    // a [NOT] IN (list) (negated)
  kBetween,   // a [NOT] BETWEEN b AND c (negated)
  kFunction,  // name(args): a built-in function (name upper-cased)
  kAggregate, // COUNT/SUM/AVG/MIN/MAX/FIRST/LAST/STDEV/STDEVP/VAR/VARP(arg); COUNT(*) has no args
};

enum class BinaryOp {
  kOr, kAnd,
  kEq, kNe, kLt, kLe, kGt, kGe,
  kConcat,  // &
  kAdd, kSub, kMul, kDiv, kIntDiv, kMod,
};

const char* binary_op_text(BinaryOp op);

struct Expr {
  ExprKind kind = ExprKind::kLiteral;
  std::size_t pos = 0;  // byte offset in the statement, for messages
  Value value;          // kLiteral
  std::string number_text;  // kLiteral written as a number: its digits as written
  std::string qualifier;  // kColumn: table name or alias, may be empty
  std::string name;       // kColumn
  BinaryOp op = BinaryOp::kEq;
  bool negated = false;
  std::vector<std::unique_ptr<Expr>> args;  // operands in order

  // Filled by the executor: a kAggregate's place among its query's
  // aggregates.
  mutable int slot = -1;
  // Filled by the executor when it binds the statement: which source and
  // which column of it a kColumn names.
  mutable int bound_source = -1;
  mutable int bound_column = -1;
  // Filled by the executor: the General-order key of a constant text operand,
  // computed once.
  mutable std::optional<std::string> cached_key;
};
using ExprPtr = std::unique_ptr<Expr>;

// A table named in FROM, UPDATE or INSERT INTO.
struct TableRef {
  std::string name;
  std::string alias;    // empty: none
  std::string in_path;  // "IN 'path'": the table lives in another file
  std::string in_password;  // IN '' [;PWD=...;DATABASE=path]: that file's password
  std::size_t pos = 0;
  const std::string& label() const { return alias.empty() ? name : alias; }
};

enum class JoinKind { kCross, kInner, kLeft, kRight };

struct Join {
  JoinKind kind = JoinKind::kCross;
  TableRef table;
  ExprPtr on;  // null for kCross
};

// FROM t [join ...]: the first table and the tables joined to it in order.
struct FromClause {
  TableRef first;
  std::vector<Join> joins;
};

struct SelectItem {
  ExprPtr expr;            // null for * and t.*
  bool star = false;
  std::string star_table;  // t.* : t; * : empty
  std::string alias;
};

struct OrderItem {
  ExprPtr expr;
  bool descending = false;
};

struct SelectStmt {
  bool distinct = false;
  std::optional<uint64_t> top;
  std::vector<SelectItem> items;
  FromClause from;
  ExprPtr where;
  std::vector<ExprPtr> group_by;
  ExprPtr having;
  std::vector<OrderItem> order_by;
};

struct InsertStmt {
  TableRef target;  // target.in_path: another file
  std::vector<std::string> columns;  // empty: every column in order
  std::vector<ExprPtr> values;       // INSERT ... VALUES
  std::unique_ptr<SelectStmt> select;  // INSERT ... SELECT
};

struct Assignment {
  ExprPtr column;  // kColumn
  ExprPtr value;
};

struct UpdateStmt {
  FromClause tables;
  std::vector<Assignment> assignments;
  ExprPtr where;
};

struct DeleteStmt {
  // DELETE * / DELETE t.* / DELETE t.col [, ...] / DELETE: the table rows
  // are deleted from; empty when not named (the single FROM table).
  std::string target_table;
  FromClause from;
  ExprPtr where;
};

// A column type as written in a definition.
struct TypeSpec {
  ColumnType type = ColumnType::kText;
  bool counter = false;
  uint32_t size = 0;  // text: characters (0 = default); decimal: precision
  uint8_t scale = 0;
  std::string written;  // the type name as written, for messages
};

struct ColumnSpec {
  std::string name;
  TypeSpec type;
  bool not_null = false;
  bool primary_key = false;
  bool unique = false;
  std::string constraint_name;  // CONSTRAINT name ...
  std::size_t pos = 0;
};

struct ConstraintSpec {
  std::string name;
  bool primary_key = false;  // otherwise unique
  std::vector<std::string> columns;
};

struct CreateTableStmt {
  std::string name;
  std::vector<ColumnSpec> columns;
  std::vector<ConstraintSpec> constraints;
};

struct AlterTableStmt {
  std::string table;
  ColumnSpec add_column;
};

struct DropTableStmt {
  std::string table;
};

enum class StatementKind {
  kSelect, kInsert, kUpdate, kDelete, kCreateTable, kAlterTable, kDropTable,
  kBeginTransaction, kCommit, kRollback,
};

const char* statement_kind_name(StatementKind kind);

struct Statement {
  StatementKind kind = StatementKind::kSelect;
  std::string text;  // the statement as given
  std::unique_ptr<SelectStmt> select;
  std::unique_ptr<InsertStmt> insert;
  std::unique_ptr<UpdateStmt> update;
  std::unique_ptr<DeleteStmt> del;
  std::unique_ptr<CreateTableStmt> create;
  std::unique_ptr<AlterTableStmt> alter;
  std::unique_ptr<DropTableStmt> drop;
};

}  // namespace jet::sql
