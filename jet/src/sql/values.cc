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
  if (const auto* c = std::get_if<Currency>(&v)) return Currency{-c->ten_thousandths};
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
      double r = op == BinaryOp::kAdd ? x + y : x - y;
      if (date && !(op == BinaryOp::kSub && std::holds_alternative<DateTime>(a) && std::holds_alternative<DateTime>(b)))
        return DateTime{r};
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
      return x * y;
    case BinaryOp::kDiv:
      if (y == 0) throw Error(ErrorCategory::kInvalidArgument, "division by zero: " + describe_value(a) + " / 0");
      return x / y;
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
  std::u32string out;
  for (std::size_t i = 0; i < s.size();) {
    unsigned char c = s[i];
    char32_t cp;
    int n;
    if (c < 0x80) {
      cp = c;
      n = 1;
    } else if ((c & 0xE0) == 0xC0) {
      cp = c & 0x1F;
      n = 2;
    } else if ((c & 0xF0) == 0xE0) {
      cp = c & 0x0F;
      n = 3;
    } else {
      cp = c & 0x07;
      n = 4;
    }
    for (int k = 1; k < n && i + k < s.size(); ++k) cp = (cp << 6) | (s[i + k] & 0x3F);
    out.push_back(fold(cp));
    i += n;
  }
  return out;
}

bool like_at(const std::u32string& t, std::size_t ti, const std::u32string& p, std::size_t pi, int depth) {
  if (depth > 10000) return false;
  while (pi < p.size()) {
    char32_t c = p[pi];
    if (c == '*') {
      while (pi < p.size() && p[pi] == '*') ++pi;
      if (pi == p.size()) return true;
      for (std::size_t k = ti; k <= t.size(); ++k) {
        if (like_at(t, k, p, pi, depth + 1)) return true;
      }
      return false;
    }
    if (ti >= t.size()) return false;
    if (c == '?') {
      ++ti;
      ++pi;
    } else if (c == '#') {
      if (t[ti] < '0' || t[ti] > '9') return false;
      ++ti;
      ++pi;
    } else if (c == '[') {
      std::size_t close = p.find(']', pi + 1);
      if (close == std::u32string::npos) {
        throw Error(ErrorCategory::kSyntax, "LIKE pattern: '[' without ']'");
      }
      std::size_t k = pi + 1;
      bool negate_set = k < close && p[k] == '!';
      if (negate_set) ++k;
      bool hit = false;
      for (; k < close; ++k) {
        if (k + 2 < close && p[k + 1] == '-') {
          if (t[ti] >= p[k] && t[ti] <= p[k + 2]) hit = true;
          k += 2;
        } else if (t[ti] == p[k]) {
          hit = true;
        }
      }
      if (hit == negate_set) return false;
      ++ti;
      pi = close + 1;
    } else {
      if (t[ti] != c) return false;
      ++ti;
      ++pi;
    }
  }
  return ti == t.size();
}

}  // namespace

bool like_match(const std::string& text, const std::string& pattern) {
  return like_at(utf32(text), 0, utf32(pattern), 0, 0);
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
  const bool numeric = to_number(v, d);
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
      if (!numeric) return fail("type mismatch");
      if (const auto* s = std::get_if<std::string>(&v)) {
        // Text is rounded exactly, not through a double.
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
      return d;
    case ColumnType::kDateTime: {
      if (const auto* t = std::get_if<DateTime>(&v)) return *t;
      if (const auto* s = std::get_if<std::string>(&v)) {
        CivilTime c{};
        int n = std::sscanf(s->c_str(), "%d-%d-%d %d:%d:%d", &c.year, &c.month, &c.day, &c.hour, &c.minute,
                            &c.second);
        if ((n == 3 || n == 6) && c.month >= 1 && c.month <= 12 && c.day >= 1 && c.day <= 31 && c.hour >= 0 &&
            c.hour < 24 && c.minute >= 0 && c.minute < 60 && c.second >= 0 && c.second < 60)
          return from_civil(c);
        return fail("type mismatch (dates are written YYYY-MM-DD [HH:MM:SS])");
      }
      if (!numeric) return fail("type mismatch");
      return in_range([&] { return to_date(d); });
    }
    case ColumnType::kNumeric: {
      if (!numeric) return fail("type mismatch");
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
