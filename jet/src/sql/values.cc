#include "sql/values.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "index/key_encoding.h"
#include "jet/error.h"
#include "jet/value_conversions.h"
#include "text_codec.h"
#include "jet/value_text.h"
#include "sql/ast.h"

namespace jet::sql {
namespace {

bool is_text(const Value& v) { return std::holds_alternative<std::string>(v); }

bool is_integral(const Value& v) {
  return std::holds_alternative<bool>(v) || std::holds_alternative<uint8_t>(v) ||
         std::holds_alternative<int16_t>(v) || std::holds_alternative<int32_t>(v);
}

int64_t integral(const Value& v) {
  if (const auto* b = std::get_if<bool>(&v)) return *b ? -1 : 0;
  if (const auto* p = std::get_if<uint8_t>(&v)) return *p;
  if (const auto* p = std::get_if<int16_t>(&v)) return *p;
  return std::get<int32_t>(v);
}

bool parse_number(const std::string& s, double& out) {
  std::size_t a = 0, b = s.size();
  while (a < b && (s[a] == ' ' || s[a] == '\t')) ++a;
  while (b > a && (s[b - 1] == ' ' || s[b - 1] == '\t')) --b;
  if (a == b) return false;
  std::string t = s.substr(a, b - a);
  char* end = nullptr;
  double d = std::strtod(t.c_str(), &end);
  if (end != t.c_str() + t.size()) return false;
  if (!std::isfinite(d)) return false;
  // Reject the forms strtod takes that Jet does not: hex, inf, nan.
  for (char c : t) {
    if (!(std::isdigit(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '+' || c == 'e' || c == 'E'))
      return false;
  }
  out = d;
  return true;
}

std::string number_text(double d) {
  char buf[64];
  for (int precision = 15; precision <= 17; ++precision) {
    std::snprintf(buf, sizeof buf, "%.*g", precision, d);
    if (std::strtod(buf, nullptr) == d) break;
  }
  return buf;
}

std::string currency_text(Currency c) {
  std::string s = value_text(Value(c));
  if (s.find('.') != std::string::npos) {
    while (!s.empty() && s.back() == '0') s.pop_back();
    if (!s.empty() && s.back() == '.') s.pop_back();
  }
  return s;
}

[[noreturn]] void mismatch(const Value& a, const Value& b) {
  throw Error(ErrorCategory::kConstraint,
              "type mismatch: cannot compare " + describe_value(a) + " with " + describe_value(b));
}

// Order-preserving bytes of a double.
void append_double_key(double d, std::string& out) {
  uint64_t bits;
  if (d == 0) d = 0;  // -0 sorts as 0
  std::memcpy(&bits, &d, 8);
  if (bits >> 63) {
    bits = ~bits;
  } else {
    bits |= uint64_t{1} << 63;
  }
  for (int i = 7; i >= 0; --i) out.push_back(static_cast<char>(bits >> (8 * i)));
}

int64_t round_half_even(double d) {
  double r = std::nearbyint(d);  // default rounding mode: to nearest, ties to even
  return static_cast<int64_t>(r);
}

const char* type_label(const ColumnDef& c) {
  if (c.auto_number) return "Counter";
  return column_type_name(c.type);
}

}  // namespace

double checked_number(double d, const char* operation) {
  if (std::isnan(d)) throw_overflow(std::string("the result of ") + operation + " is not a number");
  if (std::isinf(d)) throw_overflow(std::string("the result of ") + operation + " is too large for a number");
  return d;
}

namespace {

int days_in_month(int year, int month) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month == 2 && ((year % 4 == 0 && year % 100 != 0) || year % 400 == 0)) return 29;
  return kDays[month - 1];
}

// Reads an unsigned whole number of 1..max_digits digits at s[i].
bool read_number(const std::string& s, std::size_t& i, int max_digits, int& out) {
  std::size_t start = i;
  long v = 0;
  while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i])) && static_cast<int>(i - start) < max_digits) {
    v = v * 10 + (s[i] - '0');
    ++i;
  }
  if (i == start || (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i])))) return false;
  out = static_cast<int>(v);
  return true;
}

void skip_blanks(const std::string& s, std::size_t& i) {
  while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
}

}  // namespace

bool parse_date_text(const std::string& text, DateTime& out) {
  const std::string& s = text;
  std::size_t i = 0;
  skip_blanks(s, i);
  CivilTime c{1899, 12, 30, 0, 0, 0};
  bool have_date = false, have_time = false;
  // A date part: three numbers split by '-' or '/'.
  {
    std::size_t j = i;
    int a, b, d;
    if (read_number(s, j, 5, a) && j < s.size() && (s[j] == '-' || s[j] == '/')) {
      char sep = s[j++];
      if (!read_number(s, j, 2, b) || j >= s.size() || s[j] != sep) return false;
      ++j;
      if (!read_number(s, j, 5, d)) return false;
      std::size_t first_len = 0;
      for (std::size_t k = i; k < s.size() && std::isdigit(static_cast<unsigned char>(s[k])); ++k) ++first_len;
      if (first_len >= 3) {  // yyyy-mm-dd or yyyy/mm/dd
        c.year = a;
        c.month = b;
        c.day = d;
      } else {  // m/d/yyyy or m-d-yyyy
        c.month = a;
        c.day = b;
        c.year = d;
        std::size_t year_len = 0;
        for (std::size_t k = j; k > 0 && std::isdigit(static_cast<unsigned char>(s[k - 1])); --k) ++year_len;
        if (year_len < 3) return false;  // two-digit years are ambiguous: refuse them
      }
      if (c.month < 1 || c.month > 12) return false;
      if (c.year < 100 || c.year > 9999)
        throw_overflow("the year " + std::to_string(c.year) + " lies outside the years 100 to 9999");
      if (c.day < 1 || c.day > days_in_month(c.year, c.month)) return false;
      have_date = true;
      i = j;
    }
  }
  skip_blanks(s, i);
  if (i < s.size()) {
    int h, m, sec = 0;
    if (!read_number(s, i, 2, h) || i >= s.size() || s[i] != ':') return false;
    ++i;
    if (!read_number(s, i, 2, m)) return false;
    if (i < s.size() && s[i] == ':') {
      ++i;
      if (!read_number(s, i, 2, sec)) return false;
    }
    skip_blanks(s, i);
    if (i < s.size()) {
      std::string rest = s.substr(i);
      while (!rest.empty() && (rest.back() == ' ' || rest.back() == '\t')) rest.pop_back();
      bool pm = names_equal(rest, "PM"), am = names_equal(rest, "AM");
      if (!pm && !am) return false;
      if (h < 1 || h > 12) return false;
      if (h == 12) h = 0;
      if (pm) h += 12;
      i = s.size();
    }
    if (h > 23 || m > 59 || sec > 59) return false;
    c.hour = h;
    c.minute = m;
    c.second = sec;
    have_time = true;
  }
  skip_blanks(s, i);
  if (i != s.size() || (!have_date && !have_time)) return false;
  out = from_civil(c);
  return true;
}

std::string text_key(const std::string& text) {
  static const index::KeyColumn kColumn = [] {
    index::KeyColumn c;
    c.type = ColumnType::kText;
    c.fixed_length = false;
    return c;
  }();
  std::vector<uint8_t> out;
  try {
    index::append_column_key(kColumn, Value(text), out);
  } catch (const Error&) {
    // A character the General order cannot express: compare such texts by
    // their bytes, after every text it can express.
    std::string raw("\xFF", 1);
    return raw + text;
  }
  return std::string(out.begin() + 1, out.end());  // without the flag byte
}

bool to_number(const Value& v, double& out) {
  if (is_integral(v)) {
    out = static_cast<double>(integral(v));
    return true;
  }
  if (const auto* c = std::get_if<Currency>(&v)) {
    out = static_cast<double>(c->ten_thousandths) / 10000.0;
    return true;
  }
  if (const auto* f = std::get_if<float>(&v)) {
    out = *f;
    return true;
  }
  if (const auto* d = std::get_if<double>(&v)) {
    out = *d;
    return true;
  }
  if (const auto* t = std::get_if<DateTime>(&v)) {
    out = t->days;
    return true;
  }
  if (const auto* d = std::get_if<Decimal>(&v)) {
    out = std::strtod(decimal_text(*d).c_str(), nullptr);
    return true;
  }
  if (const auto* s = std::get_if<std::string>(&v)) return parse_number(*s, out);
  return false;
}

int compare_values(const Value& a, const Value& b) {
  if (is_text(a) && is_text(b)) {
    std::string ka = text_key(std::get<std::string>(a));
    std::string kb = text_key(std::get<std::string>(b));
    int c = ka.compare(kb);
    return c < 0 ? -1 : c > 0 ? 1 : 0;
  }
  if (is_integral(a) && is_integral(b)) {
    int64_t x = integral(a), y = integral(b);
    return x < y ? -1 : x > y ? 1 : 0;
  }
  if (std::holds_alternative<Currency>(a) && std::holds_alternative<Currency>(b)) {
    int64_t x = std::get<Currency>(a).ten_thousandths, y = std::get<Currency>(b).ten_thousandths;
    return x < y ? -1 : x > y ? 1 : 0;
  }
  if (const auto* x = std::get_if<Bytes>(&a)) {
    const auto* y = std::get_if<Bytes>(&b);
    if (!y) mismatch(a, b);
    return x->data < y->data ? -1 : x->data == y->data ? 0 : 1;
  }
  if (const auto* x = std::get_if<Guid>(&a)) {
    const auto* y = std::get_if<Guid>(&b);
    if (!y) mismatch(a, b);
    return x->bytes < y->bytes ? -1 : x->bytes == y->bytes ? 0 : 1;
  }
  double x, y;
  if (!to_number(a, x) || !to_number(b, y)) mismatch(a, b);
  // A NaN a file may hold (statements never store one) equals only itself
  // and sorts after every number, rather than comparing equal to all.
  if (std::isnan(x) || std::isnan(y)) return std::isnan(x) && std::isnan(y) ? 0 : std::isnan(x) ? 1 : -1;
  return x < y ? -1 : x > y ? 1 : 0;
}

std::optional<bool> truth(const Value& v) {
  if (is_null(v)) return std::nullopt;
  if (const auto* b = std::get_if<bool>(&v)) return *b;
  double d;
  if (to_number(v, d)) return d != 0;
  throw Error(ErrorCategory::kConstraint, "type mismatch: " + describe_value(v) + " is not a condition");
}

std::string value_as_text(const Value& v) {
  if (is_null(v)) return {};
  if (const auto* s = std::get_if<std::string>(&v)) return *s;
  if (const auto* b = std::get_if<bool>(&v)) return *b ? "True" : "False";
  if (const auto* c = std::get_if<Currency>(&v)) return currency_text(*c);
  if (const auto* d = std::get_if<double>(&v)) return number_text(*d);
  if (const auto* f = std::get_if<float>(&v)) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.7g", static_cast<double>(*f));
    return buf;
  }
  return value_text(v);
}

std::string describe_value(const Value& v) {
  if (is_null(v)) return "Null";
  if (const auto* s = std::get_if<std::string>(&v)) {
    std::string t = s->size() > 60 ? s->substr(0, 57) + "..." : *s;
    return "the text '" + t + "'";
  }
  if (std::holds_alternative<bool>(v)) return std::string("the truth value ") + (std::get<bool>(v) ? "True" : "False");
  if (std::holds_alternative<DateTime>(v)) return "the date " + value_text(v);
  if (std::holds_alternative<Bytes>(v)) return "a binary value";
  if (std::holds_alternative<Guid>(v)) return "the GUID " + value_text(v);
  return "the number " + value_as_text(v);
}

Value negate(const Value& v) {
  if (is_null(v)) return v;
  if (is_integral(v)) {
    int64_t x = -integral(v);
    if (x >= INT32_MIN && x <= INT32_MAX) return static_cast<int32_t>(x);
    return static_cast<double>(x);
  }
  if (const auto* c = std::get_if<Currency>(&v)) {
    if (c->ten_thousandths == INT64_MIN) throw_overflow("the negated currency value is outside the currency range");
    return Currency{-c->ten_thousandths};
  }
  if (const auto* t = std::get_if<DateTime>(&v)) return to_date(-t->days);
  double d;
  if (!to_number(v, d)) throw Error(ErrorCategory::kConstraint, "type mismatch: cannot negate " + describe_value(v));
  return -d;
}

Value arithmetic(int op_int, const Value& a, const Value& b) {
  const auto op = static_cast<BinaryOp>(op_int);
  if (op == BinaryOp::kConcat) {
    if (is_null(a) && is_null(b)) return Value{};
    return value_as_text(a) + value_as_text(b);
  }
  if (is_null(a) || is_null(b)) return Value{};
  if (op == BinaryOp::kAdd && is_text(a) && is_text(b)) return std::get<std::string>(a) + std::get<std::string>(b);
  auto fail = [&]() -> Value {
    throw Error(ErrorCategory::kConstraint, std::string("type mismatch: cannot apply '") + binary_op_text(op) +
                                                "' to " + describe_value(a) + " and " + describe_value(b));
  };
  double x, y;
  if (!to_number(a, x) || !to_number(b, y)) return fail();
  const bool ints = is_integral(a) && is_integral(b);
  const bool money = (std::holds_alternative<Currency>(a) || is_integral(a)) &&
                     (std::holds_alternative<Currency>(b) || is_integral(b)) && !ints;
  const bool date = std::holds_alternative<DateTime>(a) || std::holds_alternative<DateTime>(b);
  auto fit = [](int64_t r) -> Value {
    if (r >= INT32_MIN && r <= INT32_MAX) return static_cast<int32_t>(r);
    return static_cast<double>(r);
  };
  auto as_money = [](const Value& v) -> int64_t {
    if (const auto* c = std::get_if<Currency>(&v)) return c->ten_thousandths;
    return integral(v) * 10000;
  };
  switch (op) {
    case BinaryOp::kAdd:
    case BinaryOp::kSub: {
      const int sign = op == BinaryOp::kAdd ? 1 : -1;
      if (ints) return fit(integral(a) + sign * integral(b));
      if (money) {
        return sign > 0 ? currency_add(Currency{as_money(a)}, Currency{as_money(b)})
                        : currency_sub(Currency{as_money(a)}, Currency{as_money(b)});
      }
      double r = checked_number(op == BinaryOp::kAdd ? x + y : x - y, binary_op_text(op));
      if (date && !(op == BinaryOp::kSub && std::holds_alternative<DateTime>(a) && std::holds_alternative<DateTime>(b)))
        return to_date(r);
      return r;
    }
    case BinaryOp::kMul:
      if (ints) {
        __int128 r = static_cast<__int128>(integral(a)) * integral(b);
        if (r >= INT32_MIN && r <= INT32_MAX) return static_cast<int32_t>(r);
        return static_cast<double>(r);
      }
      if (money && (std::holds_alternative<Currency>(a) != std::holds_alternative<Currency>(b))) {
        if (const auto* c = std::get_if<Currency>(&a)) return currency_mul(*c, y);
        return currency_mul(std::get<Currency>(b), x);
      }
      return checked_number(x * y, "*");
    case BinaryOp::kDiv:
      if (y == 0) throw Error(ErrorCategory::kInvalidArgument, "division by zero: " + describe_value(a) + " / 0");
      return checked_number(x / y, "/");
    case BinaryOp::kIntDiv:
    case BinaryOp::kMod: {
      // Both operands are rounded to Long integers first, as Jet does.
      if (!(std::fabs(x) <= 2147483647.0) || !(std::fabs(y) <= 2147483647.0))
        throw_overflow(std::string("'") + binary_op_text(op) + "' takes numbers within the Long range, not " +
                       describe_value(std::fabs(x) > 2147483647.0 ? a : b));
      int64_t p = round_half_even(x), q = round_half_even(y);
      if (q == 0) throw Error(ErrorCategory::kInvalidArgument, "division by zero: " + describe_value(a) + " by 0");
      return fit(op == BinaryOp::kIntDiv ? p / q : p % q);
    }
    default:
      return fail();
  }
}

namespace {

char32_t fold(char32_t c) {
  if (c >= 'A' && c <= 'Z') return c + 32;
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 32;
  return c;
}

std::u32string utf32(const std::string& s) {
  std::u32string out = utf8_to_utf32(s);
  for (char32_t& c : out) c = fold(c);
  return out;
}

// A LIKE pattern compiled into runs of one-character matchers separated by
// "*". Every matcher takes exactly one character, so the runs have fixed
// lengths and a greedy leftmost placement of each run between the stars is
// exact: matching takes time proportional to the text times the pattern
// length at worst, never exponential time however many stars there are.
struct LikeElement {
  enum Kind : uint8_t { kChar, kAny, kDigit, kSet } kind = kChar;
  bool negated = false;   // kSet: [!...]
  char32_t c = 0;         // kChar (folded)
  std::u32string ranges;  // kSet: pairs of first and last character (folded)
};
using LikeRun = std::vector<LikeElement>;

bool element_matches(const LikeElement& e, char32_t ch) {
  switch (e.kind) {
    case LikeElement::kChar: return ch == e.c;
    case LikeElement::kAny: return true;
    case LikeElement::kDigit: return ch >= '0' && ch <= '9';
    case LikeElement::kSet: {
      bool hit = false;
      for (std::size_t k = 0; k + 1 < e.ranges.size() && !hit; k += 2) hit = ch >= e.ranges[k] && ch <= e.ranges[k + 1];
      return hit != e.negated;
    }
  }
  return false;
}

// The pattern's runs: runs[0] before the first star, runs.back() after the
// last; one run when the pattern has no star.
std::vector<LikeRun> compile_like(const std::u32string& p) {
  std::vector<LikeRun> runs(1);
  for (std::size_t i = 0; i < p.size();) {
    char32_t c = p[i];
    if (c == '*') {
      if (!runs.back().empty() || runs.size() == 1) runs.emplace_back();
      ++i;
      continue;
    }
    LikeElement e;
    if (c == '?') {
      e.kind = LikeElement::kAny;
      ++i;
    } else if (c == '#') {
      e.kind = LikeElement::kDigit;
      ++i;
    } else if (c == '[') {
      std::size_t close = p.find(']', i + 1);
      if (close == std::u32string::npos) throw Error(ErrorCategory::kSyntax, "LIKE pattern: '[' without ']'");
      e.kind = LikeElement::kSet;
      std::size_t k = i + 1;
      if (k < close && p[k] == '!') {
        e.negated = true;
        ++k;
      }
      for (; k < close; ++k) {
        if (k + 2 < close && p[k + 1] == '-') {
          if (p[k + 2] < p[k])
            throw Error(ErrorCategory::kSyntax, "LIKE pattern: the range in '[...]' runs backwards");
          e.ranges.push_back(p[k]);
          e.ranges.push_back(p[k + 2]);
          k += 2;
        } else {
          e.ranges.push_back(p[k]);
          e.ranges.push_back(p[k]);
        }
      }
      i = close + 1;
    } else {
      e.c = c;
      ++i;
    }
    runs.back().push_back(std::move(e));
  }
  return runs;
}

bool run_matches_at(const LikeRun& run, const std::u32string& t, std::size_t at) {
  if (at + run.size() > t.size()) return false;
  for (std::size_t k = 0; k < run.size(); ++k) {
    if (!element_matches(run[k], t[at + k])) return false;
  }
  return true;
}

bool like_runs(const std::vector<LikeRun>& runs, const std::u32string& t) {
  if (runs.size() == 1) return runs[0].size() == t.size() && run_matches_at(runs[0], t, 0);
  const LikeRun& first = runs.front();
  const LikeRun& last = runs.back();
  if (first.size() + last.size() > t.size()) return false;
  if (!run_matches_at(first, t, 0)) return false;
  const std::size_t tail = t.size() - last.size();
  if (!run_matches_at(last, t, tail)) return false;
  std::size_t pos = first.size();
  for (std::size_t r = 1; r + 1 < runs.size(); ++r) {
    const LikeRun& run = runs[r];
    bool placed = false;
    for (; pos + run.size() <= tail; ++pos) {
      if (run_matches_at(run, t, pos)) {
        placed = true;
        break;
      }
    }
    if (!placed) return false;
    pos += run.size();
  }
  return true;
}

}  // namespace

bool like_match(const std::string& text, const std::string& pattern) {
  return like_runs(compile_like(utf32(pattern)), utf32(text));
}

Value convert_for_column(const Value& v, const ColumnDef& column, const std::string& table) {
  if (is_null(v)) return v;
  auto fail = [&](const std::string& why) -> Value {
    throw Error(ErrorCategory::kConstraint, "column '" + column.name + "' (" + type_label(column) + ") of table '" +
                                                table + "' cannot take " + describe_value(v) + ": " + why);
  };
  // Range errors of the value conversions, with the column and value named.
  auto in_range = [&](auto convert) {
    try {
      return convert();
    } catch (const Error& e) {
      if (e.category() != ErrorCategory::kOverflow) throw;
      throw_overflow("column '" + column.name + "' (" + type_label(column) + ") of table '" + table +
                     "' cannot take " + describe_value(v) + ": out of range");
    }
  };
  double d = 0;
  // Number text going into a Currency column is read exactly by
  // parse_currency; text it takes is a number to to_number as well, so the
  // double is needed only when it does not.
  Currency exact{};
  bool exact_ok = false;
  if (const auto* s = std::get_if<std::string>(&v); s && column.type == ColumnType::kCurrency) {
    try {
      exact_ok = parse_currency(*s, exact);
    } catch (const Error&) {
      // Out of range: reported below, as for any other value.
    }
  }
  // Text columns take any value as text: no number is needed for them.
  const bool numeric =
      exact_ok || (column.type != ColumnType::kText && column.type != ColumnType::kMemo && to_number(v, d));
  switch (column.type) {
    case ColumnType::kText:
    case ColumnType::kMemo: {
      std::string s = value_as_text(v);
      if (column.type == ColumnType::kText && column.length > 0) {
        std::size_t units = 0;
        for (std::size_t i = 0; i < s.size(); ++i) {
          unsigned char c = s[i];
          if ((c & 0xC0) != 0x80) units += (c >= 0xF0) ? 2 : 1;
        }
        if (units > column.length / 2u)
          return fail("type mismatch or too long: " + std::to_string(units) + " characters, the column holds " +
                      std::to_string(column.length / 2));
      }
      return s;
    }
    case ColumnType::kBoolean:
      if (!numeric) {
        if (const auto* s = std::get_if<std::string>(&v)) {
          if (names_equal(*s, "true") || names_equal(*s, "yes") || names_equal(*s, "on")) return true;
          if (names_equal(*s, "false") || names_equal(*s, "no") || names_equal(*s, "off")) return false;
        }
        return fail("type mismatch");
      }
      return d != 0;
    case ColumnType::kByte:
    case ColumnType::kInteger:
    case ColumnType::kLong: {
      if (!numeric) return fail("type mismatch");
      if (column.type == ColumnType::kByte) return in_range([&] { return to_byte(d); });
      if (column.type == ColumnType::kInteger) return in_range([&] { return to_integer(d); });
      return in_range([&] { return to_long(d); });
    }
    case ColumnType::kCurrency: {
      if (const auto* c = std::get_if<Currency>(&v)) return *c;
      if (exact_ok) return exact;
      if (!numeric) return fail("type mismatch");
      if (const auto* s = std::get_if<std::string>(&v)) {
        // Number text parse_currency did not take above: read again so that
        // an amount out of range is reported with the column named.
        Currency c;
        if (in_range([&] { return parse_currency(*s, c); })) return c;
      }
      if (is_integral(v)) return Currency{integral(v) * 10000};
      return in_range([&] { return currency_from_double(d); });
    }
    case ColumnType::kSingle:
      if (!numeric) return fail("type mismatch");
      return in_range([&] { return to_single(d); });
    case ColumnType::kDouble:
      if (!numeric) return fail("type mismatch");
      return in_range([&] { return checked_double(d); });
    case ColumnType::kDateTime: {
      try {
        if (const auto* t = std::get_if<DateTime>(&v)) return to_date(t->days);
        if (const auto* s = std::get_if<std::string>(&v)) {
          DateTime t;
          if (parse_date_text(*s, t)) return t;
          return fail("type mismatch (not a date that exists, written yyyy-mm-dd or m/d/yyyy [h:nn:ss])");
        }
        if (!numeric) return fail("type mismatch");
        return to_date(d);
      } catch (const Error& e) {
        if (e.category() != ErrorCategory::kOverflow) throw;
        throw_overflow(describe_value(v) + " is not a date Jet can hold (years 100 to 9999) for column '" +
                       column.name + "' of table '" + table + "'");
      }
    }
    case ColumnType::kNumeric: {
      if (!numeric) return fail("type mismatch");
      if (!std::isfinite(d))
        throw_overflow(describe_value(v) + " does not fit column '" + column.name + "' (Decimal) of table '" + table + "'");
      Decimal out;
      out.precision = column.precision ? column.precision : 18;
      out.scale = column.scale;
      out.negative = d < 0;
      long double m = std::fabs(static_cast<long double>(d)) * std::pow(10.0L, column.scale);
      m = std::nearbyint(m);
      if (m >= std::pow(10.0L, out.precision)) return fail("more digits than the column's precision");
      unsigned __int128 mag = static_cast<unsigned __int128>(m);
      out.magnitude = {static_cast<uint32_t>(mag), static_cast<uint32_t>(mag >> 32), static_cast<uint32_t>(mag >> 64)};
      if (mag == 0) out.negative = false;
      return out;
    }
    case ColumnType::kBinary:
    case ColumnType::kOle:
      if (std::holds_alternative<Bytes>(v)) return v;
      return fail("type mismatch");
    case ColumnType::kGuid:
      if (std::holds_alternative<Guid>(v)) return v;
      return fail("type mismatch");
    default:
      return fail("columns of this type cannot be written by statements");
  }
}

std::string sort_key(const Value& v) {
  std::string out;
  if (is_null(v)) {
    out.push_back('\0');
    return out;
  }
  if (const auto* s = std::get_if<std::string>(&v)) {
    out.push_back('\2');
    out += text_key(*s);
    return out;
  }
  if (const auto* b = std::get_if<Bytes>(&v)) {
    out.push_back('\3');
    out.append(b->data.begin(), b->data.end());
    return out;
  }
  if (const auto* g = std::get_if<Guid>(&v)) {
    out.push_back('\3');
    out.append(g->bytes.begin(), g->bytes.end());
    return out;
  }
  double d = 0;
  to_number(v, d);
  out.push_back('\1');
  append_double_key(d, out);
  return out;
}

}  // namespace jet::sql
