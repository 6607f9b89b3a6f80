// Recursive-descent parser for the Jet SQL dialect.
//
// Operator precedence, lowest first (as Jet and VBA bind them):
//   OR; AND; NOT; comparisons (= <> < > <= >=, LIKE, IS [NOT] NULL, IN,
//   BETWEEN); &; + -; * / \ MOD; unary -; primaries.
#include "sql/parser.h"

#include <array>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "jet/error.h"
#include "jet/schema.h"
#include "sql/functions.h"
#include "sql/lexer.h"
#include "sql/values.h"

namespace jet::sql {

const char* binary_op_text(BinaryOp op) {
  switch (op) {
    case BinaryOp::kOr: return "OR";
    case BinaryOp::kAnd: return "AND";
    case BinaryOp::kEq: return "=";
    case BinaryOp::kNe: return "<>";
    case BinaryOp::kLt: return "<";
    case BinaryOp::kLe: return "<=";
    case BinaryOp::kGt: return ">";
    case BinaryOp::kGe: return ">=";
    case BinaryOp::kConcat: return "&";
    case BinaryOp::kAdd: return "+";
    case BinaryOp::kSub: return "-";
    case BinaryOp::kMul: return "*";
    case BinaryOp::kDiv: return "/";
    case BinaryOp::kIntDiv: return "\\";
    case BinaryOp::kMod: return "MOD";
  }
  return "?";
}

const char* statement_kind_name(StatementKind kind) {
  switch (kind) {
    case StatementKind::kSelect: return "SELECT";
    case StatementKind::kInsert: return "INSERT";
    case StatementKind::kUpdate: return "UPDATE";
    case StatementKind::kDelete: return "DELETE";
    case StatementKind::kCreateTable: return "CREATE TABLE";
    case StatementKind::kAlterTable: return "ALTER TABLE";
    case StatementKind::kDropTable: return "DROP TABLE";
    case StatementKind::kBeginTransaction: return "BEGIN TRANSACTION";
    case StatementKind::kCommit: return "COMMIT";
    case StatementKind::kRollback: return "ROLLBACK";
  }
  return "?";
}

namespace {

// Words that cannot be bare names (bracket them to use them as names).
constexpr std::string_view kReserved[] = {
    "SELECT", "FROM", "WHERE", "ORDER", "BY", "AND", "OR", "NOT", "IS", "NULL", "AS", "INSERT",
    "INTO", "VALUES", "UPDATE", "SET", "DELETE", "CREATE", "TABLE", "ALTER", "ADD", "COLUMN",
    "DROP", "INNER", "LEFT", "RIGHT", "OUTER", "JOIN", "ON", "IN", "ASC", "DESC", "CONSTRAINT",
    "PRIMARY", "KEY", "UNIQUE", "LIKE", "BETWEEN", "DISTINCT", "TOP", "TRUE", "FALSE", "MOD",
    "GROUP", "HAVING", "UNION", "ALL", "DISTINCTROW",
};

bool is_reserved(std::string_view word) {
  // Every reserved word is 2 to 11 letters: most names are ruled out by
  // their length or first letter before any comparison.
  if (word.size() < 2 || word.size() > 11) return false;
  char first = word[0];
  if (first >= 'a' && first <= 'z') first = static_cast<char>(first - 32);
  if (first < 'A' || first > 'Z') return false;
  // Reserved words by first letter and length, one bit per length.
  static const auto lengths = [] {
    std::array<uint16_t, 26> out{};
    for (std::string_view r : kReserved) out[r[0] - 'A'] = static_cast<uint16_t>(out[r[0] - 'A'] | (1u << r.size()));
    return out;
  }();
  if (!(lengths[first - 'A'] & (1u << word.size()))) return false;
  for (std::string_view r : kReserved) {
    if (r.size() == word.size() && r[0] == first && names_equal(word, r)) return true;
  }
  return false;
}

std::string quote_token(const Token& t) {
  switch (t.kind) {
    case TokenKind::kEnd: return "the end of the statement";
    case TokenKind::kBracket: return "'[" + t.text + "]'";
    case TokenKind::kText: return "the text literal '" + t.text + "'";
    default: return "'" + t.text + "'";
  }
}

std::string excerpt(std::string_view sql) {
  std::string s;
  for (char c : sql) {
    if (c == '\r') continue;
    s.push_back(c == '\n' ? ' ' : c);
  }
  if (s.size() > 300) s = s.substr(0, 297) + "...";
  return s;
}

// "ddd.ddd" with at most 15 digits: the digits as a whole number (exact
// in a double) divided by an exact power of ten is the correctly rounded
// value, as strtod gives it, at a fraction of the cost.
bool decimal_fast(const std::string& s, double& out) {
  static constexpr double kPowers[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
  int64_t m = 0;
  int digits = 0, fraction = -1;
  for (char c : s) {
    if (c == '.') {
      if (fraction >= 0) return false;
      fraction = 0;
    } else if (c >= '0' && c <= '9') {
      if (++digits > 15) return false;
      m = m * 10 + (c - '0');
      if (fraction >= 0) ++fraction;
    } else {
      return false;
    }
  }
  if (digits == 0) return false;
  out = static_cast<double>(m) / kPowers[fraction < 0 ? 0 : fraction];
  return true;
}

// The value of a number literal as written: Long when it is a whole number
// that fits, else Double. False when it is beyond a Double's range.
bool number_value(const std::string& s, Value& out) {
  if (s.size() <= 10 && s.find_first_not_of("0123456789") == std::string::npos) {
    if (const long long n = std::strtoll(s.c_str(), nullptr, 10); n <= 2147483647LL) {
      out = static_cast<int32_t>(n);
      return true;
    }
  }
  if (double fast = 0; decimal_fast(s, fast)) {
    out = fast;
  } else {
    errno = 0;
    double d = std::strtod(s.c_str(), nullptr);
    if (errno == ERANGE) return false;
    out = d;
  }
  return true;
}

class Parser {
 public:
  explicit Parser(std::string_view sql) : sql_(sql), tokens_(tokenize(sql)) {}

  std::vector<Token> take_tokens() { return std::move(tokens_); }

  StatementKind kind = StatementKind::kSelect;
  bool kind_known = false;

  Statement statement() {
    Statement st;
    st.text = std::string(sql_);
    if (accept_word("SELECT")) {
      set_kind(StatementKind::kSelect);
      st.select = select_body();
    } else if (accept_word("INSERT")) {
      set_kind(StatementKind::kInsert);
      st.insert = insert_body();
    } else if (accept_word("UPDATE")) {
      set_kind(StatementKind::kUpdate);
      st.update = update_body();
    } else if (accept_word("DELETE")) {
      set_kind(StatementKind::kDelete);
      st.del = delete_body();
    } else if (accept_word("CREATE")) {
      set_kind(StatementKind::kCreateTable);
      if (peek_word("INDEX") || peek_word("UNIQUE")) unsupported("CREATE INDEX");
      expect_word("TABLE");
      st.create = create_body();
    } else if (accept_word("ALTER")) {
      set_kind(StatementKind::kAlterTable);
      expect_word("TABLE");
      st.alter = alter_body();
    } else if (accept_word("DROP")) {
      set_kind(StatementKind::kDropTable);
      expect_word("TABLE");
      st.drop = std::make_unique<DropTableStmt>();
      st.drop->table = name("a table name");
    } else if (accept_word("BEGIN")) {
      set_kind(StatementKind::kBeginTransaction);
      if (!accept_word("TRANSACTION") && !accept_word("TRANS")) accept_word("WORK");
    } else if (accept_word("COMMIT")) {
      set_kind(StatementKind::kCommit);
      if (!accept_word("TRANSACTION") && !accept_word("TRANS")) accept_word("WORK");
    } else if (accept_word("ROLLBACK")) {
      set_kind(StatementKind::kRollback);
      if (!accept_word("TRANSACTION") && !accept_word("TRANS")) accept_word("WORK");
    } else if (at().kind == TokenKind::kEnd) {
      fail_plain("the statement is empty");
    } else {
      error("SELECT, INSERT, UPDATE, DELETE, CREATE TABLE, ALTER TABLE, DROP TABLE, BEGIN TRANSACTION, COMMIT or "
            "ROLLBACK");
    }
    finish();
    st.kind = kind;
    return st;
  }

  ExprPtr criteria() {
    ExprPtr e = expr();
    finish();
    return e;
  }

  static StatementKind guess_kind(std::string_view sql, bool& known) {
    std::size_t i = 0;
    while (i < sql.size() && std::strchr(" \t\r\n", sql[i])) ++i;
    std::size_t j = i;
    while (j < sql.size() && std::isalpha(static_cast<unsigned char>(sql[j]))) ++j;
    std::string_view w = sql.substr(i, j - i);
    known = true;
    if (names_equal(w, "INSERT")) return StatementKind::kInsert;
    if (names_equal(w, "UPDATE")) return StatementKind::kUpdate;
    if (names_equal(w, "DELETE")) return StatementKind::kDelete;
    if (names_equal(w, "CREATE")) return StatementKind::kCreateTable;
    if (names_equal(w, "ALTER")) return StatementKind::kAlterTable;
    if (names_equal(w, "DROP")) return StatementKind::kDropTable;
    if (names_equal(w, "BEGIN")) return StatementKind::kBeginTransaction;
    if (names_equal(w, "COMMIT")) return StatementKind::kCommit;
    if (names_equal(w, "ROLLBACK")) return StatementKind::kRollback;
    known = names_equal(w, "SELECT");
    return StatementKind::kSelect;
  }

 private:
  std::string_view sql_;
  std::vector<Token> tokens_;
  std::size_t i_ = 0;
  int depth_ = 0;
  int nodes_ = 0;

  void set_kind(StatementKind k) {
    kind = k;
    kind_known = true;
  }
  std::string where_kind() const {
    return kind_known ? std::string(" in ") + statement_kind_name(kind) + " statement" : std::string();
  }

  const Token& at() const { return tokens_[i_]; }
  const Token& next_token() const { return tokens_[i_ + 1 < tokens_.size() ? i_ + 1 : i_]; }
  void advance() {
    if (i_ + 1 < tokens_.size()) ++i_;
  }

  [[noreturn]] void fail_at(std::size_t pos, const std::string& what) {
    throw Error(ErrorCategory::kSyntax, "syntax error" + where_kind() + " at " + describe_position(sql_, pos) +
                                            ": " + what + " in: " + excerpt(sql_));
  }
  [[noreturn]] void fail_plain(const std::string& what) { fail_at(at().pos, what); }
  [[noreturn]] void error(const std::string& expected) {
    fail_at(at().pos, "expected " + expected + ", found " + quote_token(at()));
  }
  [[noreturn]] void unsupported(const std::string& what) {
    throw Error(ErrorCategory::kUnsupported, what + " is not supported" + where_kind() + " (at " +
                                                 describe_position(sql_, at().pos) + ") in: " + excerpt(sql_));
  }

  bool peek_word(std::string_view w) const { return at().kind == TokenKind::kName && names_equal(at().text, w); }
  bool accept_word(std::string_view w) {
    if (!peek_word(w)) return false;
    advance();
    return true;
  }
  void expect_word(std::string_view w) {
    if (!accept_word(w)) error(std::string(w));
  }
  bool peek_symbol(std::string_view s) const { return at().kind == TokenKind::kSymbol && at().text == s; }
  bool accept_symbol(std::string_view s) {
    if (!peek_symbol(s)) return false;
    advance();
    return true;
  }
  void expect_symbol(std::string_view s) {
    if (!accept_symbol(s)) error("'" + std::string(s) + "'");
  }

  void finish() {
    accept_symbol(";");
    if (at().kind != TokenKind::kEnd) error("the end of the statement");
  }

  bool at_name() const {
    return at().kind == TokenKind::kBracket || (at().kind == TokenKind::kName && !is_reserved(at().text));
  }
  std::string name(const char* what) {
    if (!at_name()) error(what);
    std::string s = at().text;
    advance();
    return s;
  }

  // ---- FROM ----------------------------------------------------------

  TableRef table_ref(bool allow_alias) {
    TableRef t;
    t.pos = at().pos;
    t.name = name("a table name");
    if (accept_word("IN")) in_clause(t);
    if (allow_alias) {
      if (accept_word("AS")) {
        t.alias = name("an alias after AS");
      } else if (at_name()) {
        t.alias = name("an alias");
      }
    }
    return t;
  }

  // IN 'path' or Jet's connect-string form IN '' [;PWD=secret;DATABASE=path]
  // (also IN "" [MS Access;PWD=...;DATABASE=...]).
  void in_clause(TableRef& t) {
    if (at().kind != TokenKind::kText) error("the path of a database file in quotes after IN");
    t.in_path = at().text;
    std::size_t pos = at().pos;
    advance();
    if (at().kind != TokenKind::kBracket) {
      if (t.in_path.empty()) fail_at(pos, "IN '' needs a connect string such as [;DATABASE=path;PWD=password]");
      return;
    }
    std::string connect = at().text;
    std::size_t cpos = at().pos;
    advance();
    std::string path;
    std::size_t start = 0;
    while (start <= connect.size()) {
      std::size_t end = connect.find(';', start);
      if (end == std::string::npos) end = connect.size();
      std::string part = connect.substr(start, end - start);
      start = end + 1;
      std::size_t eq = part.find('=');
      if (eq == std::string::npos) {
        if (part.empty() || names_equal(part, "MS Access")) continue;
        fail_at(cpos, "the connect string part '" + part + "' is not KEY=value");
      }
      std::string key = part.substr(0, eq);
      while (!key.empty() && key.back() == ' ') key.pop_back();
      while (!key.empty() && key.front() == ' ') key.erase(0, 1);
      std::string value = part.substr(eq + 1);
      if (names_equal(key, "PWD") || names_equal(key, "Jet OLEDB:Database Password")) {
        t.in_password = value;
      } else if (names_equal(key, "DATABASE") || names_equal(key, "Data Source")) {
        path = value;
      } else if (!names_equal(key, "UID")) {
        fail_at(cpos, "unknown connect string key '" + key + "' (DATABASE and PWD are understood)");
      }
    }
    if (!path.empty()) {
      if (!t.in_path.empty() && t.in_path != path)
        fail_at(pos, "IN names two files: '" + t.in_path + "' and DATABASE=" + path);
      t.in_path = path;
    }
    if (t.in_path.empty()) fail_at(cpos, "the connect string names no file (DATABASE=path)");
  }

  FromClause from_clause() {
    FromClause f;
    int parens = 0;
    while (accept_symbol("(")) ++parens;
    f.first = table_ref(true);
    while (parens > 0 && accept_symbol(")")) --parens;
    for (;;) {
      JoinKind k;
      if (accept_symbol(",")) {
        Join j;
        j.kind = JoinKind::kCross;
        j.table = table_ref(true);
        f.joins.push_back(std::move(j));
        while (parens > 0 && accept_symbol(")")) --parens;
        continue;
      }
      if (accept_word("INNER")) {
        k = JoinKind::kInner;
      } else if (accept_word("LEFT")) {
        accept_word("OUTER");
        k = JoinKind::kLeft;
      } else if (accept_word("RIGHT")) {
        accept_word("OUTER");
        k = JoinKind::kRight;
      } else if (peek_word("JOIN")) {
        error("INNER, LEFT or RIGHT before JOIN");
      } else {
        break;
      }
      expect_word("JOIN");
      Join j;
      j.kind = k;
      j.table = table_ref(true);
      expect_word("ON");
      j.on = expr();
      while (parens > 0 && accept_symbol(")")) --parens;
      f.joins.push_back(std::move(j));
    }
    while (parens > 0) {
      expect_symbol(")");
      --parens;
    }
    return f;
  }

  // ---- statements ----------------------------------------------------

  std::unique_ptr<SelectStmt> select_body() {
    auto s = std::make_unique<SelectStmt>();
    for (;;) {
      if (accept_word("DISTINCT") || accept_word("DISTINCTROW")) {
        s->distinct = true;
      } else if (accept_word("ALL")) {
      } else if (accept_word("TOP")) {
        if (at().kind != TokenKind::kNumber || at().text.find_first_not_of("0123456789") != std::string::npos)
          error("a whole number after TOP");
        s->top = std::strtoull(at().text.c_str(), nullptr, 10);
        advance();
        if (peek_word("PERCENT")) unsupported("TOP ... PERCENT");
      } else {
        break;
      }
    }
    do {
      SelectItem item;
      if (accept_symbol("*")) {
        item.star = true;
      } else if (at_name() && next_token().kind == TokenKind::kSymbol && next_token().text == "." &&
                 tokens_[i_ + 2].kind == TokenKind::kSymbol && tokens_[i_ + 2].text == "*") {
        item.star = true;
        item.star_table = at().text;
        advance();
        advance();
        advance();
      } else {
        item.expr = expr();
        if (accept_word("AS")) item.alias = name("a column alias after AS");
      }
      s->items.push_back(std::move(item));
    } while (accept_symbol(","));
    expect_word("FROM");
    s->from = from_clause();
    if (accept_word("WHERE")) s->where = expr();
    if (accept_word("GROUP")) {
      expect_word("BY");
      do {
        s->group_by.push_back(expr());
      } while (accept_symbol(","));
    }
    if (accept_word("HAVING")) s->having = expr();
    if (peek_word("UNION")) unsupported("UNION");
    if (accept_word("ORDER")) {
      expect_word("BY");
      do {
        OrderItem o;
        o.expr = expr();
        if (accept_word("DESC")) {
          o.descending = true;
        } else {
          accept_word("ASC");
        }
        s->order_by.push_back(std::move(o));
      } while (accept_symbol(","));
    }
    return s;
  }

  std::unique_ptr<InsertStmt> insert_body() {
    auto s = std::make_unique<InsertStmt>();
    expect_word("INTO");
    s->target = table_ref(false);
    if (accept_symbol("(")) {
      do {
        std::string col = name("a column name");
        // INSERT INTO t (t.col, ...) is accepted as Jet does.
        if (accept_symbol(".")) col = name("a column name after '.'");
        s->columns.push_back(std::move(col));
      } while (accept_symbol(","));
      expect_symbol(")");
    }
    if (accept_word("IN")) {
      if (!s->target.in_path.empty()) fail_plain("a second IN clause");
      in_clause(s->target);
    }
    if (accept_word("VALUES")) {
      expect_symbol("(");
      do {
        s->values.push_back(expr());
      } while (accept_symbol(","));
      expect_symbol(")");
      if (!s->columns.empty() && s->columns.size() != s->values.size()) {
        fail_at(tokens_[i_ - 1].pos, "the column list names " + std::to_string(s->columns.size()) +
                                         " columns but VALUES gives " + std::to_string(s->values.size()) +
                                         " values");
      }
    } else if (accept_word("SELECT")) {
      s->select = select_body();
    } else {
      error("VALUES or SELECT");
    }
    return s;
  }

  std::unique_ptr<UpdateStmt> update_body() {
    auto s = std::make_unique<UpdateStmt>();
    s->tables = from_clause();
    expect_word("SET");
    do {
      Assignment a;
      std::size_t pos = at().pos;
      a.column = primary();
      if (a.column->kind != ExprKind::kColumn) fail_at(pos, "expected a column name to set");
      expect_symbol("=");
      a.value = expr();
      s->assignments.push_back(std::move(a));
    } while (accept_symbol(","));
    if (accept_word("WHERE")) s->where = expr();
    return s;
  }

  std::unique_ptr<DeleteStmt> delete_body() {
    auto s = std::make_unique<DeleteStmt>();
    if (accept_symbol("*")) {
    } else if (!peek_word("FROM")) {
      do {
        std::string first = name("*, a column or FROM");
        if (accept_symbol(".")) {
          if (!accept_symbol("*")) name("a column name after '.'");
          if (!s->target_table.empty() && !names_equal(s->target_table, first))
            fail_plain("DELETE names columns of two tables");
          s->target_table = first;
        }
      } while (accept_symbol(","));
    }
    expect_word("FROM");
    s->from = from_clause();
    if (accept_word("WHERE")) s->where = expr();
    return s;
  }

  TypeSpec type_spec() {
    TypeSpec t;
    std::size_t pos = at().pos;
    if (at().kind != TokenKind::kName) error("a column type");
    std::string w = at().text;
    t.written = w;
    advance();
    auto is = [&](std::initializer_list<const char*> names) {
      for (const char* n : names) {
        if (names_equal(w, n)) return true;
      }
      return false;
    };
    bool sized = false, decimal = false;
    if (is({"TEXT", "CHAR", "VARCHAR", "CHARACTER", "STRING", "ALPHANUMERIC", "NCHAR", "NVARCHAR", "NTEXT"})) {
      t.type = ColumnType::kText;
      sized = true;
      if (names_equal(w, "CHARACTER") || names_equal(w, "CHAR")) accept_word("VARYING");
    } else if (is({"MEMO", "LONGTEXT", "LONGCHAR", "NOTE"})) {
      t.type = ColumnType::kMemo;
    } else if (is({"DOUBLE", "FLOAT", "FLOAT8", "IEEEDOUBLE", "NUMBER"})) {
      t.type = ColumnType::kDouble;
      if (names_equal(w, "DOUBLE")) accept_word("PRECISION");
    } else if (is({"SINGLE", "REAL", "FLOAT4", "IEEESINGLE"})) {
      t.type = ColumnType::kSingle;
    } else if (is({"CURRENCY", "MONEY"})) {
      t.type = ColumnType::kCurrency;
    } else if (is({"INTEGER", "SHORT", "SMALLINT", "INTEGER2"})) {
      // Integer is the 16-bit type, as the program's scanner tables use it.
      t.type = ColumnType::kInteger;
    } else if (is({"LONG", "INT", "INTEGER4"})) {
      t.type = ColumnType::kLong;
    } else if (is({"COUNTER", "AUTOINCREMENT", "IDENTITY"})) {
      t.type = ColumnType::kLong;
      t.counter = true;
      if (accept_symbol("(")) {  // (seed, increment): only the defaults are supported
        std::size_t p = at().pos;
        for (int k = 0; k < 2; ++k) {
          if (at().kind != TokenKind::kNumber || at().text != "1")
            fail_at(p, "only COUNTER(1, 1) is supported");
          advance();
          if (k == 0) expect_symbol(",");
        }
        expect_symbol(")");
      }
    } else if (is({"BYTE", "TINYINT", "INTEGER1"})) {
      t.type = ColumnType::kByte;
    } else if (is({"BIT", "YESNO", "LOGICAL", "LOGICAL1", "BOOLEAN"})) {
      t.type = ColumnType::kBoolean;
    } else if (is({"DATETIME", "DATE", "TIME", "TIMESTAMP"})) {
      t.type = ColumnType::kDateTime;
    } else if (is({"BINARY", "VARBINARY"})) {
      t.type = ColumnType::kBinary;
      sized = true;
    } else if (is({"LONGBINARY", "OLEOBJECT", "GENERAL", "IMAGE"})) {
      t.type = ColumnType::kOle;
    } else if (is({"GUID", "UNIQUEIDENTIFIER"})) {
      t.type = ColumnType::kGuid;
    } else if (is({"DECIMAL", "NUMERIC", "DEC"})) {
      t.type = ColumnType::kNumeric;
      decimal = true;
      t.size = 18;
    } else {
      fail_at(pos, "unknown column type '" + w + "'");
    }
    if ((sized || decimal) && accept_symbol("(")) {
      auto whole = [&](const char* what) {
        if (at().kind != TokenKind::kNumber || at().text.find_first_not_of("0123456789") != std::string::npos ||
            at().text.size() > 6)
          error(what);
        unsigned long v = std::strtoul(at().text.c_str(), nullptr, 10);
        advance();
        return static_cast<uint32_t>(v);
      };
      std::size_t p = at().pos;
      t.size = whole("a size in whole characters");
      if (sized && t.type == ColumnType::kText && (t.size < 1 || t.size > 255))
        fail_at(p, "text size " + std::to_string(t.size) + " is outside 1 to 255");
      if (sized && t.type == ColumnType::kBinary && (t.size < 1 || t.size > 255))
        fail_at(p, "binary size " + std::to_string(t.size) + " is outside 1 to 255");
      if (decimal) {
        if (t.size < 1 || t.size > 28) fail_at(p, "decimal precision " + std::to_string(t.size) + " is outside 1 to 28");
        if (accept_symbol(",")) {
          std::size_t q = at().pos;
          uint32_t sc = whole("a scale");
          if (sc > t.size) fail_at(q, "decimal scale is larger than its precision");
          t.scale = static_cast<uint8_t>(sc);
        }
      }
      expect_symbol(")");
    }
    if (t.type == ColumnType::kText && t.size == 0) t.size = 255;
    if (t.type == ColumnType::kBinary && t.size == 0) t.size = 255;
    return t;
  }

  ColumnSpec column_spec() {
    ColumnSpec c;
    c.pos = at().pos;
    c.name = name("a column name");
    c.type = type_spec();
    for (;;) {
      if (accept_word("NOT")) {
        expect_word("NULL");
        c.not_null = true;
      } else if (accept_word("NULL")) {
      } else if (accept_word("CONSTRAINT")) {
        c.constraint_name = name("a constraint name");
        if (accept_word("PRIMARY")) {
          expect_word("KEY");
          c.primary_key = true;
        } else if (accept_word("UNIQUE")) {
          c.unique = true;
        } else {
          if (peek_word("REFERENCES") || peek_word("FOREIGN")) unsupported("FOREIGN KEY / REFERENCES");
          error("PRIMARY KEY or UNIQUE");
        }
      } else if (accept_word("PRIMARY")) {
        expect_word("KEY");
        c.primary_key = true;
      } else if (accept_word("UNIQUE")) {
        c.unique = true;
      } else if (peek_word("DEFAULT")) {
        unsupported("DEFAULT");
      } else if (peek_word("REFERENCES")) {
        unsupported("REFERENCES");
      } else {
        break;
      }
    }
    return c;
  }

  ConstraintSpec table_constraint() {
    ConstraintSpec k;
    k.name = name("a constraint name");
    if (accept_word("PRIMARY")) {
      expect_word("KEY");
      k.primary_key = true;
    } else if (accept_word("UNIQUE")) {
    } else {
      if (peek_word("FOREIGN")) unsupported("FOREIGN KEY");
      error("PRIMARY KEY or UNIQUE");
    }
    expect_symbol("(");
    do {
      k.columns.push_back(name("a column name"));
      accept_word("ASC");
      if (peek_word("DESC")) unsupported("a descending key column");
    } while (accept_symbol(","));
    expect_symbol(")");
    return k;
  }

  std::unique_ptr<CreateTableStmt> create_body() {
    auto s = std::make_unique<CreateTableStmt>();
    s->name = name("a table name");
    expect_symbol("(");
    do {
      if (accept_word("CONSTRAINT")) {
        s->constraints.push_back(table_constraint());
      } else {
        s->columns.push_back(column_spec());
      }
    } while (accept_symbol(","));
    expect_symbol(")");
    if (s->columns.empty()) fail_plain("a table needs at least one column");
    return s;
  }

  std::unique_ptr<AlterTableStmt> alter_body() {
    auto s = std::make_unique<AlterTableStmt>();
    s->table = name("a table name");
    if (peek_word("DROP") || peek_word("ALTER")) unsupported("ALTER TABLE ... " + at().text);
    expect_word("ADD");
    if (peek_word("CONSTRAINT")) unsupported("ALTER TABLE ... ADD CONSTRAINT");
    accept_word("COLUMN");
    s->add_column = column_spec();
    return s;
  }

  // ---- expressions ---------------------------------------------------

  static std::string upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
  }

  // name( args ): an aggregate or a built-in function.
  ExprPtr call(const std::string& written, std::size_t pos) {
    DepthGuard guard(*this);
    std::string fn = upper(written);
    expect_symbol("(");
    static const char* const kAggregates[] = {"COUNT", "SUM", "AVG", "MIN", "MAX", "FIRST",
                                              "LAST", "STDEV", "STDEVP", "VAR", "VARP"};
    bool aggregate = false;
    for (const char* a : kAggregates) aggregate |= fn == a;
    if (aggregate) {
      auto e = make(ExprKind::kAggregate, pos);
      e->name = fn;
      if (fn == "COUNT" && accept_symbol("*")) {
        expect_symbol(")");
        return e;
      }
      if (peek_word("DISTINCT") || peek_word("DISTINCTROW"))
        fail_plain("Jet has no DISTINCT inside " + written + "(): count the rows of a SELECT DISTINCT instead");
      accept_word("ALL");
      e->args.push_back(expr());
      expect_symbol(")");
      return e;
    }
    if (!is_function(fn)) {
      throw Error(ErrorCategory::kNotFound, "Undefined function '" + written + "' in expression" + where_kind() +
                                                " (at " + describe_position(sql_, pos) + ") in: " + excerpt(sql_));
    }
    auto e = make(ExprKind::kFunction, pos);
    e->name = fn;
    if (!accept_symbol(")")) {
      do {
        e->args.push_back(expr());
      } while (accept_symbol(","));
      expect_symbol(")");
    }
    check_arity(*e, written);
    return e;
  }

  void check_arity(const Expr& e, const std::string& written) {
    int lo = 0, hi = 0;
    function_arity(e.name, lo, hi);
    const int n = static_cast<int>(e.args.size());
    if (n < lo || n > hi) {
      std::string want = lo == hi ? std::to_string(lo) : std::to_string(lo) + " to " + std::to_string(hi);
      fail_at(e.pos, "Wrong number of arguments used with function '" + written + "': it takes " + want + ", not " +
                         std::to_string(n));
    }
  }

  ExprPtr make(ExprKind k, std::size_t pos) {
    // Trees are walked recursively; bound their size so that no statement
    // can exhaust the stack.
    if (++nodes_ > 5000) fail_at(pos, "the statement is too complex (more than 5000 terms)");
    auto e = std::make_unique<Expr>();
    e->kind = k;
    e->pos = pos;
    return e;
  }
  ExprPtr binary(BinaryOp op, std::size_t pos, ExprPtr a, ExprPtr b) {
    auto e = make(ExprKind::kBinary, pos);
    e->op = op;
    e->args.push_back(std::move(a));
    e->args.push_back(std::move(b));
    return e;
  }

  struct DepthGuard {
    Parser& p;
    explicit DepthGuard(Parser& parser) : p(parser) {
      if (++p.depth_ > 200) p.fail_plain("the expression is nested too deeply");
    }
    ~DepthGuard() { --p.depth_; }
  };

  ExprPtr expr() {
    DepthGuard guard(*this);
    // A lone literal before ',' or ')' (a VALUES list): no operator of any
    // level follows it, so it is the whole expression.
    const TokenKind k = at().kind;
    if (k == TokenKind::kNumber || k == TokenKind::kText || k == TokenKind::kDate) {
      const Token& n = next_token();
      if (n.kind == TokenKind::kSymbol && (n.text == "," || n.text == ")")) return primary();
    }
    ExprPtr left = and_expr();
    while (peek_word("OR")) {
      std::size_t pos = at().pos;
      advance();
      left = binary(BinaryOp::kOr, pos, std::move(left), and_expr());
    }
    return left;
  }
  ExprPtr and_expr() {
    ExprPtr left = not_expr();
    while (peek_word("AND")) {
      std::size_t pos = at().pos;
      advance();
      left = binary(BinaryOp::kAnd, pos, std::move(left), not_expr());
    }
    return left;
  }
  ExprPtr not_expr() {
    if (peek_word("NOT")) {
      DepthGuard guard(*this);
      std::size_t pos = at().pos;
      advance();
      auto e = make(ExprKind::kNot, pos);
      e->args.push_back(not_expr());
      return e;
    }
    return comparison();
  }
  ExprPtr comparison() {
    ExprPtr left = concat();
    for (;;) {
      std::size_t pos = at().pos;
      if (at().kind == TokenKind::kSymbol) {
        static const std::pair<const char*, BinaryOp> kOps[] = {{"=", BinaryOp::kEq},  {"<>", BinaryOp::kNe},
                                                                {"<", BinaryOp::kLt},  {"<=", BinaryOp::kLe},
                                                                {">", BinaryOp::kGt},  {">=", BinaryOp::kGe}};
        bool matched = false;
        for (const auto& [text, op] : kOps) {
          if (at().text == text) {
            advance();
            left = binary(op, pos, std::move(left), concat());
            matched = true;
            break;
          }
        }
        if (matched) continue;
        return left;
      }
      if (accept_word("IS")) {
        auto e = make(ExprKind::kIsNull, pos);
        e->negated = accept_word("NOT");
        expect_word("NULL");
        e->args.push_back(std::move(left));
        left = std::move(e);
        continue;
      }
      bool negated = false;
      if (peek_word("NOT") && (next_token().kind == TokenKind::kName &&
                               (names_equal(next_token().text, "LIKE") || names_equal(next_token().text, "IN") ||
                                names_equal(next_token().text, "BETWEEN")))) {
        advance();
        negated = true;
      }
      if (accept_word("LIKE")) {
        auto e = make(ExprKind::kLike, pos);
        e->negated = negated;
        e->args.push_back(std::move(left));
        e->args.push_back(concat());
        left = std::move(e);
      } else if (accept_word("IN")) {
        auto e = make(ExprKind::kInList, pos);
        e->negated = negated;
        e->args.push_back(std::move(left));
        expect_symbol("(");
        if (peek_word("SELECT")) unsupported("a subquery");
        do {
          e->args.push_back(concat());
        } while (accept_symbol(","));
        expect_symbol(")");
        left = std::move(e);
      } else if (accept_word("BETWEEN")) {
        auto e = make(ExprKind::kBetween, pos);
        e->negated = negated;
        e->args.push_back(std::move(left));
        e->args.push_back(concat());
        expect_word("AND");
        e->args.push_back(concat());
        left = std::move(e);
      } else {
        return left;
      }
    }
  }
  ExprPtr concat() {
    ExprPtr left = additive();
    while (peek_symbol("&")) {
      std::size_t pos = at().pos;
      advance();
      left = binary(BinaryOp::kConcat, pos, std::move(left), additive());
    }
    return left;
  }
  ExprPtr additive() {
    ExprPtr left = multiplicative();
    for (;;) {
      std::size_t pos = at().pos;
      if (accept_symbol("+")) {
        left = binary(BinaryOp::kAdd, pos, std::move(left), multiplicative());
      } else if (accept_symbol("-")) {
        left = binary(BinaryOp::kSub, pos, std::move(left), multiplicative());
      } else {
        return left;
      }
    }
  }
  ExprPtr multiplicative() {
    ExprPtr left = unary();
    for (;;) {
      std::size_t pos = at().pos;
      if (accept_symbol("*")) {
        left = binary(BinaryOp::kMul, pos, std::move(left), unary());
      } else if (accept_symbol("/")) {
        left = binary(BinaryOp::kDiv, pos, std::move(left), unary());
      } else if (accept_symbol("\\")) {
        left = binary(BinaryOp::kIntDiv, pos, std::move(left), unary());
      } else if (accept_word("MOD")) {
        left = binary(BinaryOp::kMod, pos, std::move(left), unary());
      } else {
        return left;
      }
    }
  }
  ExprPtr unary() {
    std::size_t pos = at().pos;
    if (accept_symbol("-")) {
      DepthGuard guard(*this);
      auto e = make(ExprKind::kNegate, pos);
      e->args.push_back(unary());
      return e;
    }
    if (accept_symbol("+")) {
      DepthGuard guard(*this);
      return unary();
    }
    if (peek_word("NOT")) {  // an operand such as "a = NOT b"
      DepthGuard guard(*this);
      advance();
      auto e = make(ExprKind::kNot, pos);
      e->args.push_back(unary());
      return e;
    }
    return primary();
  }
  ExprPtr primary() {
    const Token& t = at();
    std::size_t pos = t.pos;
    if (t.kind == TokenKind::kNumber) {
      auto e = make(ExprKind::kLiteral, pos);
      const std::string& s = t.text;
      e->number_text = s;
      if (!number_value(s, e->value)) fail_at(pos, "the number " + s + " is out of range");
      advance();
      return e;
    }
    if (t.kind == TokenKind::kText) {
      auto e = make(ExprKind::kLiteral, pos);
      e->value = t.text;
      advance();
      return e;
    }
    if (t.kind == TokenKind::kDate) {
      auto e = make(ExprKind::kLiteral, pos);
      DateTime d;
      bool ok = false;
      try {
        ok = parse_date_text(t.text, d);
      } catch (const Error& x) {
        fail_at(pos, std::string(x.what()) + " in the date literal #" + t.text + "#");
      }
      if (!ok) fail_at(pos, "#" + t.text + "# is not a date (write #m/d/yyyy#, #yyyy-mm-dd# or #yyyy-mm-dd hh:nn:ss#)");
      e->value = d;
      advance();
      return e;
    }
    if (t.kind == TokenKind::kName && names_equal(t.text, "NULL")) {
      advance();
      return make(ExprKind::kLiteral, pos);
    }
    if (t.kind == TokenKind::kName && (names_equal(t.text, "TRUE") || names_equal(t.text, "FALSE"))) {
      auto e = make(ExprKind::kLiteral, pos);
      e->value = names_equal(t.text, "TRUE");
      advance();
      return e;
    }
    if (accept_symbol("(")) {
      if (peek_word("SELECT")) unsupported("a subquery");
      ExprPtr e = expr();
      expect_symbol(")");
      return e;
    }
    if (t.kind == TokenKind::kName && next_token().kind == TokenKind::kSymbol && next_token().text == "(" &&
        (!is_reserved(t.text) || is_function(upper(t.text)))) {
      std::string written = t.text;
      advance();
      return call(written, pos);
    }
    if (at_name()) {
      std::string first = t.text;
      advance();
      auto e = make(ExprKind::kColumn, pos);
      if (accept_symbol(".") || accept_symbol("!")) {
        e->qualifier = std::move(first);
        e->name = name("a column name after '.'");
      } else {
        e->name = std::move(first);
      }
      return e;
    }
    error("a value, a column name or '('");
  }
};

}  // namespace

namespace {

// The statement, and its tokens when `tokens` is given.
Statement parse_keeping_tokens(std::string_view sql, std::vector<Token>* tokens) {
  bool known = false;
  StatementKind guessed = Parser::guess_kind(sql, known);
  std::unique_ptr<Parser> p;
  try {
    p = std::make_unique<Parser>(sql);
  } catch (const Error& e) {
    // A lexer error: name the statement kind from its first word.
    std::string msg = e.what();
    std::string rest = msg.rfind("syntax error", 0) == 0 ? msg.substr(12) : ": " + msg;
    throw Error(ErrorCategory::kSyntax,
                "syntax error" +
                    (known ? std::string(" in ") + statement_kind_name(guessed) + " statement" : std::string()) +
                    rest + " in: " + excerpt(sql));
  }
  Statement st = p->statement();
  if (tokens) *tokens = p->take_tokens();
  return st;
}

// A literal value token of a VALUES list (text, number, date, Null) as the
// parser's primary() makes it. False for any other token, or one the
// parser would refuse (it then reports the fault).
bool literal_expr(const Token& t, ExprPtr& out) {
  auto e = std::make_unique<Expr>();
  e->kind = ExprKind::kLiteral;
  e->pos = t.pos;
  switch (t.kind) {
    case TokenKind::kText:
      e->value = t.text;
      break;
    case TokenKind::kNumber:
      e->number_text = t.text;
      if (!number_value(t.text, e->value)) return false;
      break;
    case TokenKind::kDate: {
      DateTime d;
      try {
        if (!parse_date_text(t.text, d)) return false;
      } catch (const Error&) {
        return false;
      }
      e->value = d;
      break;
    }
    case TokenKind::kName:
      if (!names_equal(t.text, "NULL")) return false;
      break;
    default:
      return false;
  }
  out = std::move(e);
  return true;
}

bool is_symbol(const Token& t, char c) { return t.kind == TokenKind::kSymbol && t.text.size() == 1 && t.text[0] == c; }

// Reads "value, value, ... )" [";"] from `tokens` at `i`, each value a literal
// or minus a number literal. False when the tokens are anything else.
bool literal_values(const std::vector<Token>& tokens, std::size_t i, std::vector<ExprPtr>& values) {
  for (;;) {
    ExprPtr e;
    if (is_symbol(tokens[i], '-') && tokens[i + 1].kind == TokenKind::kNumber) {
      auto negate = std::make_unique<Expr>();
      negate->kind = ExprKind::kNegate;
      negate->pos = tokens[i].pos;
      if (!literal_expr(tokens[i + 1], e)) return false;
      negate->args.push_back(std::move(e));
      e = std::move(negate);
      i += 2;
    } else if (literal_expr(tokens[i], e)) {
      ++i;
    } else {
      return false;
    }
    values.push_back(std::move(e));
    if (is_symbol(tokens[i], ',')) {
      ++i;
      continue;
    }
    if (!is_symbol(tokens[i], ')')) return false;
    ++i;
    if (is_symbol(tokens[i], ';')) ++i;
    return tokens[i].kind == TokenKind::kEnd;
  }
}

}  // namespace

Statement parse_statement(std::string_view sql) { return parse_keeping_tokens(sql, nullptr); }

Statement StatementParser::parse(std::string_view sql) {
  Statement st;
  if (!head_.empty() && sql.size() > head_.size() && sql.compare(0, head_.size(), head_) == 0 && parse_values(sql, st)) {
    ++shortcuts_;
    return st;
  }
  std::vector<Token> tokens;
  st = parse_keeping_tokens(sql, &tokens);
  remember(sql, tokens, st);
  return st;
}

bool StatementParser::parse_values(std::string_view sql, Statement& out) const {
  std::vector<Token> tokens;
  try {
    tokens = tokenize(sql.substr(head_.size()));
  } catch (const Error&) {
    return false;  // the full parse reports it
  }
  for (Token& t : tokens) t.pos += head_.size();
  std::vector<ExprPtr> values;
  values.reserve(value_count_);
  if (!literal_values(tokens, 0, values) || values.size() != value_count_) return false;
  out.kind = StatementKind::kInsert;
  out.text = std::string(sql);
  out.insert = std::make_unique<InsertStmt>();
  out.insert->target = target_;
  out.insert->columns = columns_;
  out.insert->values = std::move(values);
  return true;
}

void StatementParser::remember(std::string_view sql, const std::vector<Token>& tokens, const Statement& st) {
  if (st.kind != StatementKind::kInsert || !st.insert || st.insert->select || st.insert->values.empty()) return;
  // The "(" after VALUES ends the head; everything before it is the table,
  // the columns and any IN clause.
  std::size_t open = 0;
  for (std::size_t i = 0; i + 1 < tokens.size(); ++i) {
    if (tokens[i].kind == TokenKind::kName && names_equal(tokens[i].text, "VALUES") && is_symbol(tokens[i + 1], '(')) {
      open = i + 1;
      break;
    }
  }
  if (open == 0) return;
  std::vector<ExprPtr> values;
  if (!literal_values(tokens, open + 1, values) || values.size() != st.insert->values.size()) return;
  head_ = std::string(sql.substr(0, tokens[open].pos + 1));
  target_ = st.insert->target;
  columns_ = st.insert->columns;
  value_count_ = values.size();
}

ExprPtr parse_criteria(std::string_view criteria) {
  Parser p(criteria);
  return p.criteria();
}

std::vector<std::string> split_statements(std::string_view script) {
  std::vector<std::string> out;
  std::string cur;
  char quote = 0;
  bool bracket = false;
  auto flush = [&]() {
    if (cur.find_first_not_of(" \t\r\n") != std::string::npos) out.push_back(cur);
    cur.clear();
  };
  for (char c : script) {
    if (quote) {
      cur.push_back(c);
      if (c == quote) quote = 0;  // a doubled quote reopens at once
      continue;
    }
    if (bracket) {
      cur.push_back(c);
      if (c == ']') bracket = false;
      continue;
    }
    if (c == '\'' || c == '"') {
      quote = c;
    } else if (c == '[') {
      bracket = true;
    } else if (c == ';') {
      flush();
      continue;
    }
    cur.push_back(c);
  }
  flush();
  return out;
}

}  // namespace jet::sql
