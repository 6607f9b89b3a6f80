#include "sql/executor.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <map>
#include <set>
#include <unordered_map>

#include "jet/error.h"
#include "jet/schema.h"
#include "jet/transaction.h"
#include "sql/functions.h"
#include "sql/open_files.h"
#include "sql/parser.h"
#include "sql/values.h"
#include "sql/writes.h"

namespace jet::sql {

int ResultSet::find_column(std::string_view name) const {
  for (std::size_t i = 0; i < columns.size(); ++i) {
    if (names_equal(columns[i].name, name)) return static_cast<int>(i);
  }
  return -1;
}

namespace {

// One table a statement reads, with its rows cached when it is joined.
struct Source {
  const TableRef* ref = nullptr;
  Table* table = nullptr;
  bool cached = false;
  std::vector<std::pair<RowId, Row>> rows;
};

struct Tuple {
  std::vector<const Row*> rows;  // null: the outer side of a LEFT JOIN found no row
  std::vector<RowId> ids;
};

void flatten_and(const Expr* e, std::vector<const Expr*>& out) {
  if (e == nullptr) return;
  if (e->kind == ExprKind::kBinary && e->op == BinaryOp::kAnd) {
    flatten_and(e->args[0].get(), out);
    flatten_and(e->args[1].get(), out);
  } else {
    out.push_back(e);
  }
}

// Highest source an expression reads, -1 for a constant.
int max_source(const Expr& e) {
  int m = e.kind == ExprKind::kColumn ? e.bound_source : -1;
  for (const auto& a : e.args) m = std::max(m, max_source(*a));
  return m;
}

// `v` in the value alternative an index key of `column` takes, when an index
// seek with it finds exactly the rows that compare equal.
std::optional<Value> key_value(const Value& v, const ColumnDef& column) {
  if (is_null(v)) return std::nullopt;
  switch (column.type) {
    case ColumnType::kText:
    case ColumnType::kMemo:
      if (std::holds_alternative<std::string>(v)) return v;
      return std::nullopt;
    case ColumnType::kByte:
    case ColumnType::kInteger:
    case ColumnType::kLong: {
      double d;
      if (std::holds_alternative<std::string>(v) || !to_number(v, d)) return std::nullopt;
      int64_t lo = column.type == ColumnType::kByte ? 0 : column.type == ColumnType::kInteger ? INT16_MIN : INT32_MIN;
      int64_t hi = column.type == ColumnType::kByte ? 255 : column.type == ColumnType::kInteger ? INT16_MAX : INT32_MAX;
      if (!(d >= static_cast<double>(lo) && d <= static_cast<double>(hi))) return std::nullopt;
      if (d != static_cast<double>(static_cast<int64_t>(d))) return std::nullopt;
      return static_cast<int32_t>(d);
    }
    case ColumnType::kCurrency:
      if (std::holds_alternative<Currency>(v)) return v;
      if (const auto* i = std::get_if<int32_t>(&v)) return Currency{int64_t{*i} * 10000};
      if (const auto* i = std::get_if<int16_t>(&v)) return Currency{int64_t{*i} * 10000};
      return std::nullopt;
    case ColumnType::kDouble: {
      double d;
      if (std::holds_alternative<std::string>(v) || std::holds_alternative<bool>(v) || !to_number(v, d))
        return std::nullopt;
      if (std::holds_alternative<DateTime>(v)) return std::nullopt;
      return d;
    }
    case ColumnType::kDateTime:
      if (std::holds_alternative<DateTime>(v)) return v;
      return std::nullopt;
    default:
      return std::nullopt;
  }
}

// The index whose first column is column `col` of `table`; primary and
// unique indexes first. -1 when none.
int index_on(const Table& table, int col) {
  const auto& def = table.def();
  int best = -1, best_rank = 99;
  for (std::size_t i = 0; i < def.indexes.size(); ++i) {
    const IndexDef& ix = def.indexes[i];
    if (ix.columns.empty() || ix.foreign_key) continue;
    if (def.find_column(ix.columns[0].column_name) != col) continue;
    int rank = ix.primary_key ? 0 : ix.unique ? 1 : 2 + static_cast<int>(ix.columns.size());
    if (rank < best_rank) {
      best = static_cast<int>(i);
      best_rank = rank;
    }
  }
  return best;
}

// Hashable form of a value for equality joins (Jet equality: texts by their
// General-order key, numbers by value); nullopt for Null.
std::optional<std::string> join_key(const Value& v) {
  if (is_null(v)) return std::nullopt;
  return sort_key(v);
}

}  // namespace

// The running value of one aggregate over one group's rows.
struct AggState {
  int64_t count = 0;          // rows counted (COUNT) or values seen
  bool money_sum = true;      // every value so far was Currency or whole
  bool int_sum = true;        // every value so far was a whole number type
  __int128 sum_units = 0;     // exact sum in ten-thousandths while money_sum
  long double sum = 0;        // the sum as a number
  double mean = 0, m2 = 0;    // Welford's running mean and squared deviations
  Value extreme;              // MIN/MAX so far; FIRST/LAST
  bool has_value = false;

  void add(const Expr& agg, const Value& v) {
    const std::string& fn = agg.name;
    if (fn == "FIRST") {
      if (!has_value) extreme = v;
      has_value = true;
      return;
    }
    if (fn == "LAST") {
      extreme = v;
      has_value = true;
      return;
    }
    if (is_null(v)) return;
    ++count;
    if (fn == "COUNT") return;
    if (fn == "MIN" || fn == "MAX") {
      if (!has_value) {
        extreme = v;
      } else {
        int c = compare_values(v, extreme);
        if (fn == "MIN" ? c < 0 : c > 0) extreme = v;
      }
      has_value = true;
      return;
    }
    double d;
    if (std::holds_alternative<std::string>(v) || !to_number(v, d))
      throw Error(ErrorCategory::kConstraint, "type mismatch: " + fn + "() cannot add up " + describe_value(v));
    has_value = true;
    const bool whole = std::holds_alternative<uint8_t>(v) || std::holds_alternative<int16_t>(v) ||
                       std::holds_alternative<int32_t>(v) || std::holds_alternative<bool>(v);
    if (const auto* c = std::get_if<Currency>(&v)) {
      sum_units += c->ten_thousandths;
      int_sum = false;
    } else if (whole) {
      sum_units += static_cast<__int128>(static_cast<int64_t>(d)) * 10000;
    } else {
      money_sum = int_sum = false;
    }
    sum += d;
    double delta = d - mean;
    mean += delta / static_cast<double>(count);
    m2 += delta * (d - mean);
  }

  // SUM of Currency is Currency, of whole numbers Long (Double beyond the
  // Long range), of anything else Double; AVG of Currency is Currency;
  // Null when no value was seen (COUNT gives 0).
  Value result(const Expr& agg) const {
    const std::string& fn = agg.name;
    if (fn == "COUNT") return count <= INT32_MAX ? Value(static_cast<int32_t>(count)) : Value(static_cast<double>(count));
    if (fn == "FIRST" || fn == "LAST" || fn == "MIN" || fn == "MAX") return has_value ? extreme : Value{};
    if (!has_value) return Value{};
    if (fn == "SUM") {
      if (int_sum) {
        __int128 whole = sum_units / 10000;
        if (whole >= INT32_MIN && whole <= INT32_MAX) return static_cast<int32_t>(whole);
        return static_cast<double>(whole);
      }
      if (money_sum) {
        if (sum_units < INT64_MIN || sum_units > INT64_MAX) throw_overflow("the sum leaves the currency range");
        return Currency{static_cast<int64_t>(sum_units)};
      }
      return checked_number(static_cast<double>(sum), "Sum");
    }
    if (fn == "AVG") {
      if (money_sum && !int_sum) {
        // Half to even at the fourth decimal, as the currency type rounds.
        __int128 q = sum_units / count, r = sum_units % count;
        __int128 twice = 2 * (r < 0 ? -r : r);
        if (twice > count || (twice == count && (q % 2 != 0))) q += sum_units < 0 ? -1 : 1;
        return Currency{static_cast<int64_t>(q)};
      }
      return checked_number(static_cast<double>(sum / count), "Avg");
    }
    // Sample (StDev, Var) and population (StDevP, VarP) forms.
    const bool population = fn == "STDEVP" || fn == "VARP";
    if (!population && count < 2) return Value{};
    double var = m2 / static_cast<double>(population ? count : count - 1);
    if (fn == "STDEV" || fn == "STDEVP") return std::sqrt(var);
    return var;
  }
};

bool same_expr(const Expr& a, const Expr& b) {
  if (a.kind != b.kind || a.args.size() != b.args.size()) return false;
  switch (a.kind) {
    case ExprKind::kLiteral:
      if (a.value != b.value) return false;
      break;
    case ExprKind::kColumn:
      if (a.bound_source != b.bound_source || a.bound_column != b.bound_column) return false;
      break;
    case ExprKind::kBinary:
      if (a.op != b.op) return false;
      break;
    case ExprKind::kFunction:
    case ExprKind::kAggregate:
      if (a.name != b.name) return false;
      break;
    default:
      if (a.negated != b.negated) return false;
  }
  for (std::size_t i = 0; i < a.args.size(); ++i) {
    if (!same_expr(*a.args[i], *b.args[i])) return false;
  }
  return true;
}

bool has_aggregate(const Expr* e) {
  if (e == nullptr) return false;
  if (e->kind == ExprKind::kAggregate) return true;
  for (const auto& a : e->args) {
    if (has_aggregate(a.get())) return true;
  }
  return false;
}

std::string expr_text(const Expr& e) {
  switch (e.kind) {
    case ExprKind::kColumn: return e.qualifier.empty() ? e.name : e.qualifier + "." + e.name;
    case ExprKind::kLiteral: return value_as_text(e.value);
    case ExprKind::kFunction:
    case ExprKind::kAggregate: {
      std::string s = e.name + "(";
      for (std::size_t i = 0; i < e.args.size(); ++i) s += (i ? ", " : "") + expr_text(*e.args[i]);
      if (e.args.empty() && e.kind == ExprKind::kAggregate) s += "*";
      return s + ")";
    }
    case ExprKind::kBinary:
      return expr_text(*e.args[0]) + " " + binary_op_text(e.op) + " " + expr_text(*e.args[1]);
    default:
      return e.args.empty() ? std::string("...") : expr_text(*e.args[0]);
  }
}

struct Executor::Impl {
  Database& db;
  std::shared_ptr<OpenFiles> files;
  std::vector<std::shared_ptr<Database>> other_files;
  int expr_counter = 0;
  // The aggregates of the group whose output row is being computed.
  const std::vector<AggState>* current_aggs = nullptr;
  // BEGIN TRANSACTION ... COMMIT/ROLLBACK.
  std::unique_ptr<Transaction> user_tx;
  // The column list of the last INSERT and the columns it named, kept for
  // the next one into the same table (a run of INSERTs names the same
  // columns every time).
  struct InsertColumns {
    const Table* table = nullptr;
    std::vector<ColumnDef> table_columns;  // as they were: a changed table misses
    std::vector<std::string> names;
    std::vector<int> map;
  } last_insert;

  Impl(Database& d, std::shared_ptr<OpenFiles> f) : db(d), files(std::move(f)) {
    if (!files) files = std::make_shared<OpenFiles>();
  }

  Database& open_other(const std::string& path, const std::string& password, bool for_write) {
    OpenOptions o;
    o.read_write = for_write;
    o.password = password;
    other_files.push_back(files->open(path, o));
    return *other_files.back();
  }

  Table& table_of(const TableRef& ref, bool for_write) {
    Database& d = ref.in_path.empty() ? db : open_other(ref.in_path, ref.in_password, for_write);
    return d.table(ref.name);
  }

  // ---- binding -------------------------------------------------------

  void bind(const Expr& e, std::vector<Source>& sources, std::size_t visible) {
    if (e.kind == ExprKind::kColumn) {
      int found_source = -1, found_column = -1;
      for (std::size_t s = 0; s < visible; ++s) {
        const TableRef& ref = *sources[s].ref;
        if (!e.qualifier.empty() && !names_equal(e.qualifier, ref.label()) &&
            !(ref.alias.empty() ? false : false))
          continue;
        int c = sources[s].table->def().find_column(e.name);
        if (c < 0) continue;
        if (found_source >= 0) {
          throw Error(ErrorCategory::kInvalidArgument,
                      "column '" + e.name + "' could belong to '" + sources[found_source].ref->label() + "' or '" +
                          ref.label() + "': qualify it with its table's name");
        }
        found_source = static_cast<int>(s);
        found_column = c;
      }
      if (found_source < 0) {
        if (!e.qualifier.empty()) {
          bool known = false;
          for (std::size_t s = 0; s < visible; ++s) known |= names_equal(e.qualifier, sources[s].ref->label());
          if (!known)
            throw Error(ErrorCategory::kNotFound,
                        "unknown table '" + e.qualifier + "' in '" + e.qualifier + "." + e.name +
                            "': it is not named in FROM");
          throw Error(ErrorCategory::kNotFound, "unknown column '" + e.name + "' in table '" + e.qualifier + "'");
        }
        std::string tables;
        for (std::size_t s = 0; s < visible; ++s) tables += (s ? "', '" : "") + sources[s].ref->name;
        throw Error(ErrorCategory::kNotFound,
                    "unknown column '" + e.name + "' (not a column of '" + tables + "')");
      }
      e.bound_source = found_source;
      e.bound_column = found_column;
      return;
    }
    for (const auto& a : e.args) bind(*a, sources, visible);
  }

  // ---- evaluation ----------------------------------------------------

  const std::string& key_of(const Expr& operand, const std::string& text, std::string& scratch) {
    if (operand.kind == ExprKind::kLiteral) {
      if (!operand.cached_key) operand.cached_key = text_key(text);
      return *operand.cached_key;
    }
    scratch = text_key(text);
    return scratch;
  }

  int compare_operands(const Expr& e, const Value& a, const Value& b) {
    if (std::holds_alternative<std::string>(a) && std::holds_alternative<std::string>(b)) {
      std::string s1, s2;
      const std::string& ka = key_of(*e.args[0], std::get<std::string>(a), s1);
      const std::string& kb = key_of(*e.args[1], std::get<std::string>(b), s2);
      int c = ka.compare(kb);
      return c < 0 ? -1 : c > 0 ? 1 : 0;
    }
    return compare_values(a, b);
  }

  Value eval(const Expr& e, const Tuple& t) {
    switch (e.kind) {
      case ExprKind::kLiteral:
        return e.value;
      case ExprKind::kColumn: {
        if (e.bound_source < 0 || static_cast<std::size_t>(e.bound_source) >= t.rows.size())
          throw Error(ErrorCategory::kInvalidArgument, "column '" + e.name + "' cannot be used here");
        const Row* r = t.rows[e.bound_source];
        if (r == nullptr) return Value{};
        return (*r)[e.bound_column];
      }
      case ExprKind::kNot: {
        auto b = truth(eval(*e.args[0], t));
        if (!b) return Value{};
        return !*b;
      }
      case ExprKind::kNegate:
        return negate(eval(*e.args[0], t));
      case ExprKind::kIsNull: {
        bool n = is_null(eval(*e.args[0], t));
        return e.negated ? !n : n;
      }
      case ExprKind::kLike: {
        Value a = eval(*e.args[0], t), p = eval(*e.args[1], t);
        if (is_null(a) || is_null(p)) return Value{};
        bool m = like_match(value_as_text(a), value_as_text(p));
        return e.negated ? !m : m;
      }
      case ExprKind::kInList: {
        Value a = eval(*e.args[0], t);
        if (is_null(a)) return Value{};
        bool saw_null = false;
        for (std::size_t i = 1; i < e.args.size(); ++i) {
          Value b = eval(*e.args[i], t);
          if (is_null(b)) {
            saw_null = true;
            continue;
          }
          if (compare_values(a, b) == 0) return !e.negated;
        }
        if (saw_null) return Value{};
        return e.negated;
      }
      case ExprKind::kBetween: {
        Value a = eval(*e.args[0], t), lo = eval(*e.args[1], t), hi = eval(*e.args[2], t);
        if (is_null(a) || is_null(lo) || is_null(hi)) return Value{};
        bool in = compare_values(a, lo) >= 0 && compare_values(a, hi) <= 0;
        return e.negated ? !in : in;
      }
      case ExprKind::kFunction: {
        if (e.name == "IIF") {  // only the branch chosen is evaluated
          auto b = truth(eval(*e.args[0], t));
          return eval(*e.args[b && *b ? 1 : 2], t);
        }
        std::vector<Value> args;
        args.reserve(e.args.size());
        for (const auto& a : e.args) args.push_back(eval(*a, t));
        return call_function(e.name, args);
      }
      case ExprKind::kAggregate:
        if (current_aggs == nullptr || e.slot < 0 || static_cast<std::size_t>(e.slot) >= current_aggs->size())
          throw Error(ErrorCategory::kInvalidArgument,
                      "Cannot have aggregate function in this part of the statement (" + e.name + ")");
        return (*current_aggs)[e.slot].result(e);
      case ExprKind::kBinary:
        break;
    }
    if (e.op == BinaryOp::kAnd || e.op == BinaryOp::kOr) {
      auto a = truth(eval(*e.args[0], t));
      const bool is_and = e.op == BinaryOp::kAnd;
      if (a && *a != is_and) return *a;  // false AND x, true OR x
      auto b = truth(eval(*e.args[1], t));
      if (b && *b != is_and) return *b;
      if (!a || !b) return Value{};
      return is_and;
    }
    Value a = eval(*e.args[0], t);
    Value b = eval(*e.args[1], t);
    switch (e.op) {
      case BinaryOp::kEq:
      case BinaryOp::kNe:
      case BinaryOp::kLt:
      case BinaryOp::kLe:
      case BinaryOp::kGt:
      case BinaryOp::kGe: {
        if (is_null(a) || is_null(b)) return Value{};
        int c = compare_operands(e, a, b);
        switch (e.op) {
          case BinaryOp::kEq: return c == 0;
          case BinaryOp::kNe: return c != 0;
          case BinaryOp::kLt: return c < 0;
          case BinaryOp::kLe: return c <= 0;
          case BinaryOp::kGt: return c > 0;
          default: return c >= 0;
        }
      }
      default:
        return arithmetic(static_cast<int>(e.op), a, b);
    }
  }

  bool passes(const Expr* cond, const Tuple& t) {
    if (cond == nullptr) return true;
    auto b = truth(eval(*cond, t));
    return b && *b;
  }

  // ---- row production ------------------------------------------------

  struct Plan {
    std::vector<Source> sources;
    const FromClause* from = nullptr;
    const Expr* where = nullptr;
    std::string text;
  };

  void open_sources(Plan& p, const FromClause& from, bool for_write) {
    p.from = &from;
    auto add = [&](const TableRef& ref) {
      Source s;
      s.ref = &ref;
      s.table = &table_of(ref, false);
      p.sources.push_back(std::move(s));
    };
    add(from.first);
    for (const Join& j : from.joins) {
      for (const Source& earlier : p.sources) {
        if (names_equal(earlier.ref->label(), j.table.label()))
          throw Error(ErrorCategory::kInvalidArgument,
                      "the name '" + j.table.label() + "' stands for two tables; give one of them an alias (AS)");
      }
      if (j.kind == JoinKind::kRight)
        throw Error(ErrorCategory::kUnsupported, "RIGHT JOIN is not supported (write it as a LEFT JOIN)");
      add(j.table);
    }
    for (std::size_t i = 0; i < from.joins.size(); ++i) {
      if (from.joins[i].on) bind(*from.joins[i].on, p.sources, i + 2);
    }
    (void)for_write;
  }

  void load(Source& s) {
    if (s.cached) return;
    for (auto c = s.table->scan(); c.next();) s.rows.emplace_back(c.id(), c.row());
    s.cached = true;
  }

  using Sink = std::function<void(const Tuple&)>;

  void produce(Plan& p, const Sink& sink) {
    Tuple t;
    t.rows.assign(p.sources.size(), nullptr);
    t.ids.assign(p.sources.size(), RowId{});
    std::vector<const Expr*> where_terms;
    flatten_and(p.where, where_terms);

    // The first table: an index seek when WHERE holds first_col = constant.
    Source& base = p.sources[0];
    for (const Expr* term : where_terms) {
      if (term->kind != ExprKind::kBinary || term->op != BinaryOp::kEq) continue;
      for (int side = 0; side < 2; ++side) {
        const Expr& col = *term->args[side];
        const Expr& other = *term->args[1 - side];
        if (col.kind != ExprKind::kColumn || col.bound_source != 0 || max_source(other) >= 0) continue;
        int ix = index_on(*base.table, col.bound_column);
        if (ix < 0) continue;
        Value v = eval(other, t);
        auto key = key_value(v, base.table->columns()[col.bound_column]);
        if (!key) continue;
        const std::string& ix_name = base.table->indexes()[ix].name;
        p.text = "seek " + base.table->name() + "." + ix_name;
        plan_joins(p);
        Value k = *key;
        std::vector<RowId> ids = base.table->seek(ix_name, std::span<const Value>(&k, 1));
        Row row;
        for (RowId id : ids) {
          base.table->read_row(id, row);
          t.rows[0] = &row;
          t.ids[0] = id;
          join_level(p, 1, t, sink);
        }
        return;
      }
    }
    p.text = "scan " + base.table->name();
    plan_joins(p);
    for (auto c = base.table->scan(); c.next();) {
      t.rows[0] = &c.row();
      t.ids[0] = c.id();
      join_level(p, 1, t, sink);
    }
  }

  // How each joined table finds its rows: an index seek, a hash on an
  // equality, or every row.
  struct JoinPlan {
    int mode = 0;  // 0 every row, 1 seek, 2 hash
    const Expr* outer = nullptr;  // expression over earlier tables
    int column = -1;
    std::string index;
    std::unordered_map<std::string, std::vector<std::size_t>> hash;
  };
  std::vector<JoinPlan> join_plans;

  void plan_joins(Plan& p) {
    join_plans.assign(p.sources.size(), JoinPlan{});
    for (std::size_t k = 1; k < p.sources.size(); ++k) {
      const Join& j = p.from->joins[k - 1];
      std::vector<const Expr*> terms;
      flatten_and(j.on.get(), terms);
      // A table joined by "," takes its equality from WHERE (the full WHERE
      // is still checked on every combination).
      if (j.kind == JoinKind::kCross) flatten_and(p.where, terms);
      JoinPlan& jp = join_plans[k];
      Source& s = p.sources[k];
      for (const Expr* term : terms) {
        if (term->kind != ExprKind::kBinary || term->op != BinaryOp::kEq) continue;
        for (int side = 0; side < 2 && jp.mode == 0; ++side) {
          const Expr& col = *term->args[side];
          const Expr& other = *term->args[1 - side];
          if (col.kind != ExprKind::kColumn || col.bound_source != static_cast<int>(k)) continue;
          int m = max_source(other);
          if (m >= static_cast<int>(k) || m < 0) continue;
          jp.outer = &other;
          jp.column = col.bound_column;
          int ix = index_on(*s.table, col.bound_column);
          if (ix >= 0) {
            jp.mode = 1;
            jp.index = s.table->indexes()[ix].name;
            p.text += "; seek " + s.table->name() + "." + jp.index;
          } else {
            jp.mode = 2;
            p.text += "; hash " + s.table->name() + "." + s.table->columns()[col.bound_column].name;
            load(s);
            for (std::size_t r = 0; r < s.rows.size(); ++r) {
              auto key = join_key(s.rows[r].second[col.bound_column]);
              if (key) jp.hash[*key].push_back(r);
            }
          }
        }
        if (jp.mode != 0) break;
      }
      if (jp.mode == 0) {
        p.text += "; scan " + s.table->name();
        load(s);
      }
    }
  }

  // Combinations of rows a statement may look at before it gives up: a join
  // without a usable equality over large tables would otherwise run for
  // hours and hold its result in memory.
  static constexpr uint64_t kMaxCombinations = 20'000'000;
  uint64_t combinations = 0;

  void count_combination(const Plan& p) {
    if (++combinations > kMaxCombinations) {
      std::string names;
      for (const Source& s : p.sources) names += (names.empty() ? "" : ", ") + s.ref->label();
      throw Error(ErrorCategory::kUnsupported,
                  "the statement would look at more than " + std::to_string(kMaxCombinations) +
                      " combinations of rows of " + names + "; join the tables on an equality (ON a.x = b.y)");
    }
  }

  void join_level(Plan& p, std::size_t k, Tuple& t, const Sink& sink) {
    count_combination(p);
    if (k == p.sources.size()) {
      if (passes(p.where, t)) sink(t);
      return;
    }
    const Join& j = p.from->joins[k - 1];
    Source& s = p.sources[k];
    JoinPlan& jp = join_plans[k];
    bool any = false;
    auto visit = [&](const Row& row, RowId id) {
      t.rows[k] = &row;
      t.ids[k] = id;
      if (j.on && !passes(j.on.get(), t)) return;
      any = true;
      join_level(p, k + 1, t, sink);
    };
    if (jp.mode == 1) {
      Value v = eval(*jp.outer, t);
      auto key = key_value(v, s.table->columns()[jp.column]);
      if (key) {
        Value kv = *key;
        std::vector<RowId> ids = s.table->seek(jp.index, std::span<const Value>(&kv, 1));
        Row row;
        for (RowId id : ids) {
          s.table->read_row(id, row);
          visit(row, id);
        }
      } else if (!is_null(v)) {
        // A value of another type than the column: compare row by row.
        load(s);
        for (auto& [id, row] : s.rows) visit(row, id);
      }
    } else if (jp.mode == 2) {
      auto key = join_key(eval(*jp.outer, t));
      if (key) {
        auto it = jp.hash.find(*key);
        if (it != jp.hash.end()) {
          for (std::size_t r : it->second) visit(s.rows[r].second, s.rows[r].first);
        }
      }
    } else {
      for (auto& [id, row] : s.rows) visit(row, id);
    }
    if (!any && j.kind == JoinKind::kLeft) {
      t.rows[k] = nullptr;
      t.ids[k] = RowId{};
      join_level(p, k + 1, t, sink);
    }
    t.rows[k] = nullptr;
  }

  // ---- grouping ------------------------------------------------------

  // The column type an aggregate gives, for a result with no row to show it.
  ColumnType aggregate_type(const Expr& e, const Plan& p) {
    if (e.name == "COUNT") return ColumnType::kLong;
    if (e.name == "AVG" || e.name == "STDEV" || e.name == "STDEVP" || e.name == "VAR" || e.name == "VARP") {
      if (e.name == "AVG" && e.args[0]->kind == ExprKind::kColumn &&
          p.sources[e.args[0]->bound_source].table->columns()[e.args[0]->bound_column].type == ColumnType::kCurrency)
        return ColumnType::kCurrency;
      return ColumnType::kDouble;
    }
    if (e.args[0]->kind != ExprKind::kColumn) return ColumnType::kDouble;
    ColumnType t = p.sources[e.args[0]->bound_source].table->columns()[e.args[0]->bound_column].type;
    if (e.name == "SUM") {
      if (t == ColumnType::kByte || t == ColumnType::kInteger || t == ColumnType::kLong || t == ColumnType::kBoolean)
        return ColumnType::kLong;
      if (t == ColumnType::kCurrency) return ColumnType::kCurrency;
      return ColumnType::kDouble;
    }
    return t;
  }

  // Numbers the aggregates of a grouped query; refuses one inside another.
  static void collect_aggregates(const Expr& e, bool inside, std::vector<const Expr*>& out) {
    if (e.kind == ExprKind::kAggregate) {
      if (inside)
        throw Error(ErrorCategory::kInvalidArgument,
                    "Cannot have aggregate function in expression (" + expr_text(e) + " inside another aggregate)");
      e.slot = static_cast<int>(out.size());
      out.push_back(&e);
      for (const auto& a : e.args) collect_aggregates(*a, true, out);
      return;
    }
    for (const auto& a : e.args) collect_aggregates(*a, inside, out);
  }

  // Every column a grouped query shows must be grouped on or aggregated.
  static void check_grouped(const Expr& e, const SelectStmt& s) {
    if (e.kind == ExprKind::kAggregate) return;
    for (const ExprPtr& g : s.group_by) {
      if (same_expr(e, *g)) return;
    }
    if (e.kind == ExprKind::kColumn)
      throw Error(ErrorCategory::kInvalidArgument,
                  "You tried to execute a query that does not include the specified expression '" + expr_text(e) +
                      "' as part of an aggregate function (group on it or aggregate it)");
    for (const auto& a : e.args) check_grouped(*a, s);
  }

  struct Group {
    std::vector<std::string> keys;  // sort keys of the GROUP BY values
    std::vector<Row> rows;          // the group's first combination of rows
    Tuple first;
    std::vector<AggState> aggs;
  };

  // Rows of a grouped query: one per group (one in all without GROUP BY,
  // even over no rows), in the order of the GROUP BY values, after HAVING.
  void produce_groups(Plan& p, const SelectStmt& s, const std::vector<const Expr*>& outputs, const Sink& emit) {
    std::vector<const Expr*> aggs;
    for (const Expr* e : outputs) collect_aggregates(*e, false, aggs);
    if (s.having) collect_aggregates(*s.having, false, aggs);
    for (const OrderItem& o : s.order_by) collect_aggregates(*o.expr, false, aggs);
    for (const Expr* e : outputs) check_grouped(*e, s);
    if (s.having) check_grouped(*s.having, s);
    for (const OrderItem& o : s.order_by) check_grouped(*o.expr, s);

    const std::size_t n = p.sources.size();
    std::vector<std::unique_ptr<Group>> groups;
    std::unordered_map<std::string, std::size_t> index;
    std::string key;
    std::vector<std::string> parts(s.group_by.size());
    auto new_group = [&](const Tuple* t) {
      auto g = std::make_unique<Group>();
      g->keys = parts;
      g->rows.resize(n);
      g->first.rows.assign(n, nullptr);
      g->first.ids.assign(n, RowId{});
      for (std::size_t i = 0; t != nullptr && i < n; ++i) {
        if (t->rows[i] == nullptr) continue;
        g->rows[i] = *t->rows[i];
        g->first.rows[i] = &g->rows[i];
        g->first.ids[i] = t->ids[i];
      }
      g->aggs.resize(aggs.size());
      groups.push_back(std::move(g));
    };
    produce(p, [&](const Tuple& t) {
      key.clear();
      for (std::size_t k = 0; k < s.group_by.size(); ++k) {
        parts[k] = sort_key(eval(*s.group_by[k], t));
        const uint32_t len = static_cast<uint32_t>(parts[k].size());
        key.append(reinterpret_cast<const char*>(&len), sizeof len);
        key += parts[k];
      }
      auto [it, inserted] = index.try_emplace(key, groups.size());
      if (inserted) new_group(&t);
      Group& g = *groups[it->second];
      for (std::size_t k = 0; k < aggs.size(); ++k) {
        const Expr& a = *aggs[k];
        if (a.args.empty()) {
          ++g.aggs[k].count;  // COUNT(*)
        } else {
          g.aggs[k].add(a, eval(*a.args[0], t));
        }
      }
    });
    if (s.group_by.empty() && groups.empty()) new_group(nullptr);
    std::vector<Group*> order;
    for (auto& g : groups) order.push_back(g.get());
    std::stable_sort(order.begin(), order.end(), [](const Group* a, const Group* b) { return a->keys < b->keys; });
    struct Reset {
      const std::vector<AggState>*& slot;
      ~Reset() { slot = nullptr; }
    } reset{current_aggs};
    for (Group* g : order) {
      current_aggs = &g->aggs;
      if (s.having && !passes(s.having.get(), g->first)) continue;
      emit(g->first);
    }
  }

  // ---- SELECT --------------------------------------------------------

  ResultSet select(const SelectStmt& s) {
    combinations = 0;
    Plan p;
    open_sources(p, s.from, false);
    const std::size_t n = p.sources.size();
    p.where = s.where.get();
    if (s.where) bind(*s.where, p.sources, n);
    bool grouped = !s.group_by.empty() || s.having != nullptr;
    for (const SelectItem& item : s.items) grouped |= has_aggregate(item.expr.get());
    for (const OrderItem& o : s.order_by) grouped |= has_aggregate(o.expr.get());
    if (has_aggregate(s.where.get()))
      throw Error(ErrorCategory::kInvalidArgument,
                  "Cannot have aggregate function in WHERE clause (" + expr_text(*s.where) + "); use HAVING");
    for (const ExprPtr& g : s.group_by) {
      bind(*g, p.sources, n);
      if (has_aggregate(g.get()))
        throw Error(ErrorCategory::kInvalidArgument,
                    "Cannot have aggregate function in GROUP BY clause (" + expr_text(*g) + ")");
    }
    if (s.having) bind(*s.having, p.sources, n);

    ResultSet rs;
    std::vector<ExprPtr> star_exprs;
    std::vector<const Expr*> outputs;
    std::set<std::string> used;
    auto add_column = [&](const Expr& e, std::string name) {
      ResultColumn c;
      if (e.kind == ExprKind::kColumn) {
        const ColumnDef& cd = p.sources[e.bound_source].table->columns()[e.bound_column];
        c.type = cd.type;
        c.auto_number = cd.auto_number;
        if (n == 1) c.base_column = e.bound_column;
        if (name.empty()) name = cd.name;
      } else if (e.kind == ExprKind::kAggregate) {
        c.type = aggregate_type(e, p);
      } else if (e.kind == ExprKind::kLiteral) {
        c.type = std::holds_alternative<std::string>(e.value) ? ColumnType::kText
                 : std::holds_alternative<double>(e.value)    ? ColumnType::kDouble
                 : std::holds_alternative<bool>(e.value)      ? ColumnType::kBoolean
                                                              : ColumnType::kLong;
      }
      if (name.empty()) name = "Expr" + std::to_string(1000 + expr_counter++);
      c.name = name;
      rs.columns.push_back(std::move(c));
      outputs.push_back(&e);
    };
    for (const SelectItem& item : s.items) {
      if (item.star) {
        if (grouped)
          throw Error(ErrorCategory::kInvalidArgument,
                      "Cannot group on fields selected with '*'" +
                          std::string(item.star_table.empty() ? "" : " (" + item.star_table + ".*)") +
                          ": name the columns");
        bool matched = false;
        for (std::size_t src = 0; src < n; ++src) {
          if (!item.star_table.empty() && !names_equal(item.star_table, p.sources[src].ref->label())) continue;
          matched = true;
          const auto& cols = p.sources[src].table->columns();
          for (std::size_t c = 0; c < cols.size(); ++c) {
            auto e = std::make_unique<Expr>();
            e->kind = ExprKind::kColumn;
            e->name = cols[c].name;
            e->bound_source = static_cast<int>(src);
            e->bound_column = static_cast<int>(c);
            std::string name = cols[c].name;
            if (n > 1) {
              bool clash = false;
              for (std::size_t o = 0; o < n; ++o) {
                if (o != src && p.sources[o].table->def().find_column(name) >= 0) clash = true;
              }
              if (clash) name = p.sources[src].ref->label() + "." + name;
            }
            add_column(*e, name);
            star_exprs.push_back(std::move(e));
          }
        }
        if (!matched)
          throw Error(ErrorCategory::kNotFound, "unknown table '" + item.star_table + "' in '" + item.star_table +
                                                    ".*': it is not named in FROM");
      } else {
        bind(*item.expr, p.sources, n);
        add_column(*item.expr, item.alias);
      }
    }
    for (const OrderItem& o : s.order_by) bind(*o.expr, p.sources, n);

    const bool updatable = n == 1 && s.from.first.in_path.empty() && !s.distinct && !grouped;
    std::vector<std::vector<std::string>> order_keys;
    std::vector<RowId> ids;
    auto emit = [&](const Tuple& t) {
      Row out;
      out.reserve(outputs.size());
      for (const Expr* e : outputs) out.push_back(eval(*e, t));
      if (!s.order_by.empty()) {
        std::vector<std::string> keys;
        for (const OrderItem& o : s.order_by) keys.push_back(sort_key(eval(*o.expr, t)));
        order_keys.push_back(std::move(keys));
      }
      rs.rows.push_back(std::move(out));
      if (updatable) ids.push_back(t.ids[0]);
    };
    if (grouped) {
      produce_groups(p, s, outputs, emit);
    } else {
      produce(p, emit);
    }
    rs.plan = p.text;

    // Expression columns take the type of their first non-Null value.
    for (std::size_t c = 0; c < rs.columns.size(); ++c) {
      if (outputs[c]->kind == ExprKind::kColumn) continue;
      for (const Row& r : rs.rows) {
        const Value& v = r[c];
        if (is_null(v)) continue;
        static const ColumnType kByIndex[] = {ColumnType::kText,     ColumnType::kBoolean, ColumnType::kByte,
                                              ColumnType::kInteger,  ColumnType::kLong,    ColumnType::kCurrency,
                                              ColumnType::kSingle,   ColumnType::kDouble,  ColumnType::kDateTime,
                                              ColumnType::kText,     ColumnType::kBinary,  ColumnType::kGuid,
                                              ColumnType::kNumeric};
        rs.columns[c].type = kByIndex[v.index()];
        break;
      }
    }

    std::vector<std::size_t> order(rs.rows.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    if (!s.order_by.empty()) {
      std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        for (std::size_t k = 0; k < s.order_by.size(); ++k) {
          int c = order_keys[a][k].compare(order_keys[b][k]);
          if (c != 0) return s.order_by[k].descending ? c > 0 : c < 0;
        }
        return false;
      });
    }
    std::vector<Row> rows;
    std::vector<RowId> row_ids;
    std::set<std::vector<std::string>> seen;
    for (std::size_t i : order) {
      if (s.top && rows.size() >= *s.top) break;
      if (s.distinct) {
        std::vector<std::string> key;
        for (const Value& v : rs.rows[i]) key.push_back(sort_key(v));
        if (!seen.insert(std::move(key)).second) continue;
      }
      rows.push_back(std::move(rs.rows[i]));
      if (updatable) row_ids.push_back(ids[i]);
    }
    rs.rows = std::move(rows);
    if (updatable) {
      rs.base_table = p.sources[0].table;
      rs.row_ids = std::move(row_ids);
    }
    return rs;
  }

  // ---- changes -------------------------------------------------------

  uint64_t insert(const InsertStmt& s) {
    Database* target_db = &db;
    if (!s.target.in_path.empty()) target_db = &open_other(s.target.in_path, s.target.in_password, true);
    // The write unit first (see update()): an INSERT ... SELECT reads its
    // rows while it holds the writer's lock.
    writes::Unit unit({target_db});
    Table& target = target_db->table(s.target.name);
    const auto& cols = target.columns();
    std::vector<int> map;
    if (s.columns.empty()) {
      for (std::size_t i = 0; i < cols.size(); ++i) map.push_back(static_cast<int>(i));
    } else if (last_insert.table == &target && last_insert.names == s.columns && same_columns(last_insert.table_columns, cols)) {
      map = last_insert.map;
    } else {
      for (const std::string& name : s.columns) {
        int c = target.def().find_column(name);
        if (c < 0)
          throw Error(ErrorCategory::kNotFound, "unknown column '" + name + "' in INSERT INTO '" + target.name() + "'");
        if (std::find(map.begin(), map.end(), c) != map.end())
          throw Error(ErrorCategory::kInvalidArgument,
                      "column '" + name + "' is named twice in INSERT INTO '" + target.name() + "'");
        map.push_back(c);
      }
      last_insert = InsertColumns{&target, cols, s.columns, map};
    }
    std::vector<Row> new_rows;
    auto build = [&](const std::vector<Value>& values) {
      Row r(cols.size());
      for (std::size_t i = 0; i < map.size(); ++i) r[map[i]] = convert_for_column(values[i], cols[map[i]], target.name());
      new_rows.push_back(std::move(r));
    };
    if (s.select) {
      ResultSet rs = select(*s.select);
      if (rs.columns.size() != map.size())
        throw Error(ErrorCategory::kInvalidArgument,
                    "INSERT INTO '" + target.name() + "' names " + std::to_string(map.size()) +
                        " columns but its SELECT gives " + std::to_string(rs.columns.size()));
      for (const Row& r : rs.rows) build(r);
    } else {
      if (s.values.size() != map.size())
        throw Error(ErrorCategory::kInvalidArgument,
                    "INSERT INTO '" + target.name() + "' has " + std::to_string(map.size()) + " columns but " +
                        std::to_string(s.values.size()) + " values");
      std::vector<Value> values;
      Tuple none;
      for (std::size_t i = 0; i < s.values.size(); ++i) {
        const Expr& e = *s.values[i];
        if (max_source(e) >= 0 || contains_column(e))
          throw Error(ErrorCategory::kInvalidArgument, "a VALUES list cannot name columns ('" + first_column(e) + "')");
        values.push_back(exact_for_column(e, eval(e, none), cols[map[i]]));
      }
      build(values);
    }
    for (const Row& r : new_rows) writes::insert_row(target, r);
    unit.commit();
    return new_rows.size();
  }

  static bool same_columns(const std::vector<ColumnDef>& a, const std::vector<ColumnDef>& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
      if (a[i].name != b[i].name || a[i].number != b[i].number) return false;
    }
    return true;
  }

  // A number written in the statement, going into a Currency column: its
  // digits as written, so that the column gets the exact amount rather than
  // the nearest double (922337203685477.5807 has no exact double).
  static Value exact_for_column(const Expr& e, Value v, const ColumnDef& column) {
    if (column.type != ColumnType::kCurrency) return v;
    const Expr* lit = &e;
    std::string sign;
    while (lit->kind == ExprKind::kNegate) {
      sign = sign.empty() ? "-" : "";
      lit = lit->args[0].get();
    }
    if (lit->kind == ExprKind::kLiteral && !lit->number_text.empty()) return sign + lit->number_text;
    return v;
  }

  static bool contains_column(const Expr& e) {
    if (e.kind == ExprKind::kColumn) return true;
    for (const auto& a : e.args) {
      if (contains_column(*a)) return true;
    }
    return false;
  }
  static std::string first_column(const Expr& e) {
    if (e.kind == ExprKind::kColumn) return e.qualifier.empty() ? e.name : e.qualifier + "." + e.name;
    for (const auto& a : e.args) {
      std::string s = first_column(*a);
      if (!s.empty()) return s;
    }
    return {};
  }

  static bool same_id(RowId a, RowId b) { return a == b; }
  struct IdLess {
    bool operator()(RowId a, RowId b) const { return a.page != b.page ? a.page < b.page : a.row < b.row; }
  };

  uint64_t update(const UpdateStmt& s) {
    combinations = 0;
    // The write unit (and with it the writer's lock on a shared file)
    // comes before the rows are read: no other writer can change them
    // between their reading and their writing.
    writes::Unit unit({&db});
    Plan p;
    open_sources(p, s.tables, true);
    const std::size_t n = p.sources.size();
    for (std::size_t i = 0; i < n; ++i) {
      if (!p.sources[i].ref->in_path.empty())
        throw Error(ErrorCategory::kUnsupported, "UPDATE of a table in another file (IN) is not supported");
    }
    p.where = s.where.get();
    if (s.where) bind(*s.where, p.sources, n);
    for (const Assignment& a : s.assignments) {
      bind(*a.column, p.sources, n);
      bind(*a.value, p.sources, n);
    }
    // Pending new rows per table and row; later matches of the same row win.
    std::vector<std::map<RowId, Row, IdLess>> pending(n);
    produce(p, [&](const Tuple& t) {
      std::vector<std::pair<const Assignment*, Value>> values;
      for (const Assignment& a : s.assignments) values.emplace_back(&a, eval(*a.value, t));
      for (auto& [a, v] : values) {
        int src = a->column->bound_source;
        if (t.rows[src] == nullptr) continue;  // outer side of a LEFT JOIN without a row
        auto& rows = pending[src];
        auto it = rows.find(t.ids[src]);
        if (it == rows.end()) it = rows.emplace(t.ids[src], *t.rows[src]).first;
        Table& table = *p.sources[src].table;
        const ColumnDef& cd = table.columns()[a->column->bound_column];
        if (cd.auto_number)
          throw Error(ErrorCategory::kConstraint, "column '" + cd.name + "' of table '" + table.name() +
                                                      "' is a Counter and cannot be updated");
        it->second[a->column->bound_column] = convert_for_column(exact_for_column(*a->value, v, cd), cd, table.name());
      }
    });
    uint64_t count = 0;
    for (const auto& rows : pending) count = std::max<uint64_t>(count, rows.size());
    if (count == 0) return 0;
    for (std::size_t src = 0; src < n; ++src) {
      for (const auto& [id, row] : pending[src]) writes::update_row(*p.sources[src].table, id, row);
    }
    unit.commit();
    return count;
  }

  uint64_t remove(const DeleteStmt& s) {
    combinations = 0;
    writes::Unit unit({&db});  // before the rows are read, as in update()
    Plan p;
    open_sources(p, s.from, true);
    const std::size_t n = p.sources.size();
    if (!s.from.first.in_path.empty())
      throw Error(ErrorCategory::kUnsupported, "DELETE from a table in another file (IN) is not supported");
    p.where = s.where.get();
    if (s.where) bind(*s.where, p.sources, n);
    int target = -1;
    if (s.target_table.empty()) {
      if (n > 1)
        throw Error(ErrorCategory::kInvalidArgument,
                    "DELETE over several tables must name the table to delete from (DELETE t.* FROM ...)");
      target = 0;
    } else {
      for (std::size_t i = 0; i < n; ++i) {
        if (names_equal(s.target_table, p.sources[i].ref->label())) target = static_cast<int>(i);
      }
      if (target < 0)
        throw Error(ErrorCategory::kNotFound, "DELETE names table '" + s.target_table + "', which FROM does not");
    }
    if (n == 1 && !s.where) {
      // Every row: the table is emptied whole (pages freed, indexes reset)
      // rather than row by row.
      Table& table = *p.sources[0].table;
      if (!table.scan().next()) return 0;
      const uint64_t count = writes::remove_all_rows(table);
      unit.commit();
      return count;
    }
    std::set<RowId, IdLess> ids;
    produce(p, [&](const Tuple& t) {
      if (t.rows[target] != nullptr) ids.insert(t.ids[target]);
    });
    if (ids.empty()) return 0;
    for (RowId id : ids) writes::remove_row(*p.sources[target].table, id);
    unit.commit();
    return ids.size();
  }

  void check_column_spec(const ColumnSpec& c, const std::string& table) {
    if (c.name.size() > 64 || c.name.empty())
      throw Error(ErrorCategory::kInvalidArgument, "column name '" + c.name + "' of table '" + table +
                                                       "' must be 1 to 64 characters long");
  }

  void create(const CreateTableStmt& s) {
    if (db.has_table(s.name)) throw Error(ErrorCategory::kConstraint, "table '" + s.name + "' already exists");
    std::set<std::string> names;
    int keys = 0;
    for (const ColumnSpec& c : s.columns) {
      check_column_spec(c, s.name);
      std::string lower;
      for (char ch : c.name) lower.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(ch))));
      if (!names.insert(lower).second)
        throw Error(ErrorCategory::kInvalidArgument, "column '" + c.name + "' is defined twice in table '" + s.name + "'");
      keys += c.primary_key;
    }
    for (const ConstraintSpec& k : s.constraints) {
      keys += k.primary_key;
      for (const std::string& col : k.columns) {
        bool found = false;
        for (const ColumnSpec& c : s.columns) found |= names_equal(c.name, col);
        if (!found)
          throw Error(ErrorCategory::kNotFound, "constraint '" + k.name + "' names unknown column '" + col + "'");
      }
    }
    if (keys > 1) throw Error(ErrorCategory::kInvalidArgument, "table '" + s.name + "' has more than one primary key");
    writes::Unit unit({&db});
    writes::create_table(db, s);
    unit.commit();
  }

  void alter(const AlterTableStmt& s) {
    Table& t = db.table(s.table);
    if (t.def().find_column(s.add_column.name) >= 0)
      throw Error(ErrorCategory::kConstraint,
                  "column '" + s.add_column.name + "' already exists in table '" + t.name() + "'");
    check_column_spec(s.add_column, t.name());
    if (s.add_column.primary_key)
      throw Error(ErrorCategory::kUnsupported, "ALTER TABLE ... ADD COLUMN with PRIMARY KEY is not supported");
    writes::Unit unit({&db});
    writes::add_column(db, t.name(), s.add_column);
    unit.commit();
  }
};

Executor::Executor(Database& db, std::shared_ptr<OpenFiles> files)
    : db_(db), impl_(std::make_unique<Impl>(db, std::move(files))) {}
Executor::~Executor() = default;

ExecResult Executor::execute(std::string_view sql) { return run(parse_statement(sql)); }

ExecResult Executor::run(const Statement& st) {
  ExecResult r;
  impl_->expr_counter = 0;
  try {
    switch (st.kind) {
      case StatementKind::kSelect:
        r.has_rows = true;
        r.result = impl_->select(*st.select);
        r.records_affected = r.result.rows.size();
        break;
      case StatementKind::kInsert:
        r.records_affected = impl_->insert(*st.insert);
        break;
      case StatementKind::kUpdate:
        r.records_affected = impl_->update(*st.update);
        break;
      case StatementKind::kDelete:
        r.records_affected = impl_->remove(*st.del);
        break;
      case StatementKind::kCreateTable:
        impl_->create(*st.create);
        break;
      case StatementKind::kAlterTable:
        impl_->alter(*st.alter);
        break;
      case StatementKind::kDropTable:
        db_.table(st.drop->table);
        writes::drop_table(db_, st.drop->table);
        break;
      case StatementKind::kBeginTransaction:
        if (impl_->user_tx)
          throw Error(ErrorCategory::kInvalidArgument,
                      "a transaction is already open: COMMIT or ROLLBACK it before the next BEGIN TRANSACTION");
        impl_->user_tx = std::make_unique<Transaction>(db_);
        break;
      case StatementKind::kCommit: {
        if (!impl_->user_tx) throw Error(ErrorCategory::kInvalidArgument, "COMMIT without BEGIN TRANSACTION");
        auto tx = std::move(impl_->user_tx);
        tx->commit();
        break;
      }
      case StatementKind::kRollback: {
        if (!impl_->user_tx) throw Error(ErrorCategory::kInvalidArgument, "ROLLBACK without BEGIN TRANSACTION");
        auto tx = std::move(impl_->user_tx);
        tx->rollback();
        break;
      }
    }
  } catch (const Error& e) {
    impl_->other_files.clear();
    std::string text = st.text;
    for (char& c : text) {
      if (c == '\r' || c == '\n' || c == '\t') c = ' ';
    }
    text.erase(0, text.find_first_not_of(' '));
    if (text.size() > 300) text = text.substr(0, 297) + "...";
    throw Error(e.category(), std::string(e.what()) + " (in " + statement_kind_name(st.kind) + " statement: " + text + ")");
  }
  impl_->other_files.clear();
  return r;
}

ResultSet Executor::select(const SelectStmt& select) { return impl_->select(select); }

bool Executor::in_transaction() const { return impl_->user_tx != nullptr; }

ResultSet Executor::table_rows(std::string_view table) {
  Table& t = db_.table(table);
  ResultSet rs;
  for (std::size_t c = 0; c < t.columns().size(); ++c) {
    const ColumnDef& cd = t.columns()[c];
    rs.columns.push_back(ResultColumn{cd.name, cd.type, cd.auto_number, static_cast<int>(c)});
  }
  for (auto c = t.scan(); c.next();) {
    rs.rows.push_back(c.row());
    rs.row_ids.push_back(c.id());
  }
  rs.base_table = &t;
  rs.plan = "scan " + t.name();
  return rs;
}

namespace {
void bind_to_result(const Expr& e, const ResultSet& rs) {
  if (e.kind == ExprKind::kColumn) {
    int c = rs.find_column(e.name);
    if (c < 0 && !e.qualifier.empty()) c = rs.find_column(e.qualifier + "." + e.name);
    if (c < 0) throw Error(ErrorCategory::kNotFound, "unknown column '" + e.name + "' in the criteria");
    e.bound_source = 0;
    e.bound_column = c;
  }
  for (const auto& a : e.args) bind_to_result(*a, rs);
}
}  // namespace

bool Executor::matches(const Expr& criteria, const ResultSet& result, const Row& row) {
  if (criteria.kind == ExprKind::kColumn ? criteria.bound_source < 0 : true) bind_to_result(criteria, result);
  Tuple t;
  t.rows.push_back(&row);
  t.ids.push_back(RowId{});
  return impl_->passes(&criteria, t);
}

}  // namespace jet::sql
