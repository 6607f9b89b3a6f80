#include "sql/functions.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <limits>

#include "jet/error.h"
#include "text_codec.h"
#include "jet/schema.h"
#include "jet/value_conversions.h"
#include "jet/value_text.h"
#include "sql/values.h"

namespace jet::sql {
namespace {

struct Builtin {
  const char* name;
  int min_args;
  int max_args;
};

// Every built-in function with the number of arguments it takes.
const Builtin kBuiltins[] = {
    {"NZ", 1, 2},       {"IIF", 3, 3},      {"ISNULL", 1, 1},   {"UCASE", 1, 1},    {"LCASE", 1, 1},
    {"TRIM", 1, 1},     {"LTRIM", 1, 1},    {"RTRIM", 1, 1},    {"LEFT", 2, 2},     {"RIGHT", 2, 2},
    {"MID", 2, 3},      {"LEN", 1, 1},      {"INSTR", 2, 4},    {"VAL", 1, 1},      {"STR", 1, 1},
    {"CSTR", 1, 1},     {"CLNG", 1, 1},     {"CINT", 1, 1},     {"CDBL", 1, 1},     {"CCUR", 1, 1},
    {"CDATE", 1, 1},    {"CBOOL", 1, 1},    {"INT", 1, 1},      {"FIX", 1, 1},      {"ABS", 1, 1},
    {"SGN", 1, 1},      {"ROUND", 1, 2},    {"DATE", 0, 0},     {"NOW", 0, 0},      {"TIME", 0, 0},
    {"YEAR", 1, 1},     {"MONTH", 1, 1},    {"DAY", 1, 1},      {"HOUR", 1, 1},     {"MINUTE", 1, 1},
    {"SECOND", 1, 1},   {"WEEKDAY", 1, 1},  {"DATEADD", 3, 3},  {"DATEDIFF", 3, 3}, {"DATESERIAL", 3, 3},
    {"DATEVALUE", 1, 1}, {"FORMAT", 1, 2},  {"SPACE", 1, 1},    {"STRING", 2, 2},   {"ISNUMERIC", 1, 1},
    {"ISDATE", 1, 1},
};

const Builtin* find_builtin(const std::string& name) {
  for (const Builtin& b : kBuiltins) {
    if (name == b.name) return &b;
  }
  return nullptr;
}

[[noreturn]] void invalid_null(const std::string& fn) {
  throw Error(ErrorCategory::kInvalidArgument, "Invalid use of Null: " + fn + "() was given Null");
}
[[noreturn]] void invalid_call(const std::string& fn, const std::string& why) {
  throw Error(ErrorCategory::kInvalidArgument, "Invalid procedure call or argument: " + fn + "(): " + why);
}
[[noreturn]] void mismatch(const std::string& fn, const Value& v) {
  throw Error(ErrorCategory::kConstraint, "type mismatch: " + fn + "() cannot take " + describe_value(v));
}

double number_arg(const std::string& fn, const Value& v) {
  double d;
  if (!to_number(v, d)) mismatch(fn, v);
  return d;
}

int64_t whole_arg(const std::string& fn, const Value& v) {
  double d = number_arg(fn, v);
  double r = std::nearbyint(d);
  if (!(r >= -2147483648.0 && r <= 2147483647.0)) throw_overflow(fn + "() takes a count within the Long range");
  return static_cast<int64_t>(r);
}

// ---- text by characters (UTF-8) ---------------------------------------

std::u32string decode(const std::string& s) { return utf8_to_utf32(s); }
std::string encode(const std::u32string& s) { return utf32_to_utf8(s); }

// Letter case of the Latin letters (ASCII and Latin-1 Supplement).
char32_t to_upper(char32_t c) {
  if (c >= 'a' && c <= 'z') return c - 32;
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return c - 32;
  return c;
}
char32_t to_lower(char32_t c) {
  if (c >= 'A' && c <= 'Z') return c + 32;
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 32;
  return c;
}

std::string text_arg(const Value& v) { return value_as_text(v); }

std::string trim(const std::string& s, bool left, bool right) {
  std::size_t a = 0, b = s.size();
  if (left) {
    while (a < b && s[a] == ' ') ++a;
  }
  if (right) {
    while (b > a && s[b - 1] == ' ') --b;
  }
  return s.substr(a, b - a);
}

// InStr: 1-based position of `needle` in `hay` from `start`, compared
// without regard to letter case (Jet's text comparison); 0 when absent.
int64_t instr(const std::u32string& hay, const std::u32string& needle, int64_t start) {
  if (needle.empty()) return start <= static_cast<int64_t>(hay.size()) ? start : 0;
  for (std::size_t i = static_cast<std::size_t>(start - 1); i + needle.size() <= hay.size(); ++i) {
    bool hit = true;
    for (std::size_t k = 0; k < needle.size() && hit; ++k) hit = to_lower(hay[i + k]) == to_lower(needle[k]);
    if (hit) return static_cast<int64_t>(i) + 1;
  }
  return 0;
}

// Val: the number at the start of a text (blanks inside are skipped, as
// Jet's Val does), 0 when there is none.
double val(const std::string& text) {
  std::string s;
  for (char c : text) {
    if (c != ' ' && c != '\t' && c != '\n' && c != '\r') s.push_back(c);
  }
  std::size_t i = 0;
  std::string num;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) num.push_back(s[i++]);
  bool digits = false, point = false;
  while (i < s.size()) {
    char c = s[i];
    if (c >= '0' && c <= '9') {
      digits = true;
    } else if (c == '.' && !point) {
      point = true;
    } else {
      break;
    }
    num.push_back(c);
    ++i;
  }
  if (digits && i < s.size() && (s[i] == 'e' || s[i] == 'E' || s[i] == 'd' || s[i] == 'D')) {
    std::size_t k = i + 1;
    std::string exp = "e";
    if (k < s.size() && (s[k] == '+' || s[k] == '-')) exp.push_back(s[k++]);
    std::size_t first = k;
    while (k < s.size() && s[k] >= '0' && s[k] <= '9') exp.push_back(s[k++]);
    if (k > first) num += exp;
  }
  if (!digits) return 0;
  double d = std::strtod(num.c_str(), nullptr);
  return checked_number(d, "Val");
}

// ---- numbers -----------------------------------------------------------

// Round half to even at `places` decimals, as Access's Round does.
double round_even(double d, int places) {
  if (places == 0) return std::nearbyint(d);
  double scale = std::pow(10.0, places);
  double scaled = d * scale;
  if (!std::isfinite(scaled)) return d;
  return std::nearbyint(scaled) / scale;
}

Value int_or_fix(const std::string& fn, const Value& v, bool floor_it) {
  if (const auto* c = std::get_if<Currency>(&v)) {
    int64_t t = c->ten_thousandths;
    int64_t q = t / 10000, r = t % 10000;
    if (floor_it && r < 0) --q;
    return Currency{q * 10000};
  }
  if (std::holds_alternative<uint8_t>(v) || std::holds_alternative<int16_t>(v) || std::holds_alternative<int32_t>(v) ||
      std::holds_alternative<bool>(v))
    return v;
  double d = number_arg(fn, v);
  double r = floor_it ? std::floor(d) : std::trunc(d);
  if (std::holds_alternative<DateTime>(v)) return DateTime{r};
  if (std::holds_alternative<float>(v)) return static_cast<float>(r);
  return r;
}

// ---- dates -------------------------------------------------------------

DateTime date_arg(const std::string& fn, const Value& v) {
  if (const auto* t = std::get_if<DateTime>(&v)) return *t;
  if (const auto* s = std::get_if<std::string>(&v)) {
    DateTime t;
    if (parse_date_text(*s, t)) return t;
    mismatch(fn, v);
  }
  double d;
  if (!to_number(v, d) || std::holds_alternative<bool>(v)) mismatch(fn, v);
  return to_date(d);
}

// Seconds since 1899-12-30 00:00 on a straight time line (Jet stores times
// before 1899-12-30 as a negative day with a positive time fraction).
int64_t seconds_of(DateTime t) {
  CivilTime c = to_civil(t);
  CivilTime midnight{c.year, c.month, c.day, 0, 0, 0};
  auto day = static_cast<int64_t>(std::llround(from_civil(midnight).days));
  return day * 86400 + c.hour * 3600 + c.minute * 60 + c.second;
}

DateTime from_seconds(int64_t secs) {
  int64_t day = secs >= 0 ? secs / 86400 : -((-secs + 86399) / 86400);
  int64_t rest = secs - day * 86400;
  double frac = static_cast<double>(rest) / 86400.0;
  double days = day >= 0 ? static_cast<double>(day) + frac : static_cast<double>(day) - frac;
  if (day < 0 && rest == 0) days = static_cast<double>(day);
  return to_date(days);
}

int64_t floor_div(int64_t a, int64_t b) {
  int64_t q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
  return q;
}

// Day of the week, 1 = Sunday.
int weekday_of(DateTime t) {
  int64_t day = floor_div(seconds_of(t), 86400);  // 1899-12-30 was a Saturday
  return static_cast<int>(((day + 6) % 7 + 7) % 7) + 1;
}

std::string lower_ascii(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

DateTime add_months(DateTime t, int64_t months) {
  CivilTime c = to_civil(t);
  int64_t m = static_cast<int64_t>(c.year) * 12 + (c.month - 1) + months;
  int64_t year = floor_div(m, 12);
  if (year < 100 || year > 9999) throw_overflow("DateAdd() leaves the years 100 to 9999");
  c.year = static_cast<int>(year);
  c.month = static_cast<int>(m - year * 12) + 1;
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  int last = kDays[c.month - 1];
  if (c.month == 2 && ((c.year % 4 == 0 && c.year % 100 != 0) || c.year % 400 == 0)) last = 29;
  c.day = std::min(c.day, last);  // 31 January + 1 month = 28/29 February, as Jet
  return to_date(from_civil(c).days);
}

Value date_add(const std::string& interval, int64_t n, DateTime t) {
  const std::string i = lower_ascii(interval);
  if (i == "yyyy") return add_months(t, n * 12);
  if (i == "q") return add_months(t, n * 3);
  if (i == "m") return add_months(t, n);
  int64_t unit;
  if (i == "d" || i == "y" || i == "w") {
    unit = 86400;
  } else if (i == "ww") {
    unit = 7 * 86400;
  } else if (i == "h") {
    unit = 3600;
  } else if (i == "n") {
    unit = 60;
  } else if (i == "s") {
    unit = 1;
  } else {
    invalid_call("DATEADD", "unknown interval '" + interval + "' (yyyy q m y d w ww h n s)");
  }
  __int128 secs = static_cast<__int128>(seconds_of(t)) + static_cast<__int128>(n) * unit;
  // Jet's dates: 100-01-01 (day -657434) up to 10000-01-01 (day 2958466).
  if (secs < static_cast<__int128>(-657434) * 86400 || secs >= static_cast<__int128>(2958466) * 86400)
    throw_overflow("DateAdd() leaves the years 100 to 9999");
  return from_seconds(static_cast<int64_t>(secs));
}

// DateDiff counts the boundaries of the interval crossed between the two
// dates (so DateDiff("yyyy", #12/31/2025#, #1/1/2026#) is 1).
Value date_diff(const std::string& interval, DateTime a, DateTime b) {
  const std::string i = lower_ascii(interval);
  CivilTime ca = to_civil(a), cb = to_civil(b);
  int64_t sa = seconds_of(a), sb = seconds_of(b);
  int64_t r;
  if (i == "yyyy") {
    r = cb.year - ca.year;
  } else if (i == "q") {
    r = (cb.year * 4 + (cb.month - 1) / 3) - (ca.year * 4 + (ca.month - 1) / 3);
  } else if (i == "m") {
    r = (static_cast<int64_t>(cb.year) * 12 + cb.month) - (static_cast<int64_t>(ca.year) * 12 + ca.month);
  } else if (i == "d" || i == "y") {
    r = floor_div(sb, 86400) - floor_div(sa, 86400);
  } else if (i == "w") {
    r = (floor_div(sb, 86400) - floor_div(sa, 86400)) / 7;
  } else if (i == "ww") {  // Sundays crossed
    int64_t da = floor_div(sa, 86400), db = floor_div(sb, 86400);
    // Day 1 (1899-12-31) was a Sunday: weeks counted from there.
    r = floor_div(db - 1, 7) - floor_div(da - 1, 7);
  } else if (i == "h") {
    r = floor_div(sb, 3600) - floor_div(sa, 3600);
  } else if (i == "n") {
    r = floor_div(sb, 60) - floor_div(sa, 60);
  } else if (i == "s") {
    r = sb - sa;
  } else {
    invalid_call("DATEDIFF", "unknown interval '" + interval + "' (yyyy q m y d w ww h n s)");
  }
  if (r < INT32_MIN || r > INT32_MAX) return static_cast<double>(r);
  return static_cast<int32_t>(r);
}

const char* const kMonthNames[] = {"January", "February", "March",     "April",   "May",      "June",
                                   "July",    "August",   "September", "October", "November", "December"};
const char* const kDayNames[] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};

// CStr: the values module's one text form per type ("-0" as "0", dates as
// "m/d/yyyy h:nn:ss AM/PM" without a midnight time or a day-0 date).
std::string cstr(const Value& v) { return value_to_text(v); }

std::string date_text(DateTime t) { return date_to_text(t); }

// ---- Format ------------------------------------------------------------

std::string group_thousands(const std::string& digits) {
  std::string out;
  int n = static_cast<int>(digits.size());
  for (int i = 0; i < n; ++i) {
    if (i > 0 && (n - i) % 3 == 0) out.push_back(',');
    out.push_back(digits[i]);
  }
  return out;
}

// `d` with `decimals` decimals (half away from zero, as Format rounds),
// optionally with thousands separators; "-" kept only when a digit shown is
// not zero.
std::string fixed_text(double d, int decimals, bool thousands) {
  char buf[512];
  std::snprintf(buf, sizeof buf, "%.*f", decimals, std::fabs(d) + 0.0);
  std::string s = buf;
  std::string whole = s.substr(0, s.find('.'));
  std::string frac = s.find('.') == std::string::npos ? "" : s.substr(s.find('.'));
  if (thousands) whole = group_thousands(whole);
  bool nonzero = s.find_first_of("123456789") != std::string::npos;
  return (d < 0 && nonzero ? "-" : "") + whole + frac;
}

// A number pattern of 0, #, "," and "." (one section): "0.00", "#,##0".
std::string number_pattern(double d, const std::string& pattern) {
  std::size_t point = pattern.find('.');
  std::string int_part = pattern.substr(0, point);
  std::string frac_part = point == std::string::npos ? "" : pattern.substr(point + 1);
  int decimals_min = 0, decimals_max = 0;
  for (char c : frac_part) {
    if (c == '0') ++decimals_min, ++decimals_max;
    if (c == '#') ++decimals_max;
  }
  int int_zeros = 0;
  for (char c : int_part) int_zeros += c == '0';
  const bool thousands = int_part.find(',') != std::string::npos;
  std::string s = fixed_text(d, decimals_max, false);
  bool negative = !s.empty() && s[0] == '-';
  if (negative) s.erase(0, 1);
  std::string whole = s.substr(0, s.find('.'));
  std::string frac = s.find('.') == std::string::npos ? "" : s.substr(s.find('.') + 1);
  while (static_cast<int>(frac.size()) > decimals_min && !frac.empty() && frac.back() == '0') frac.pop_back();
  if (whole == "0" && int_zeros == 0) whole.clear();
  while (static_cast<int>(whole.size()) < int_zeros) whole.insert(0, "0");
  if (thousands) whole = group_thousands(whole);
  std::string out = (negative ? "-" : "") + whole;
  if (!frac.empty() || (point != std::string::npos && decimals_min > 0)) out += "." + frac;
  else if (point != std::string::npos && decimals_max == 0 && frac_part.empty()) out += ".";
  return out;
}

bool is_number_pattern(const std::string& p) {
  if (p.empty()) return false;
  for (char c : p) {
    if (c != '0' && c != '#' && c != ',' && c != '.') return false;
  }
  return true;
}

// A date pattern of yyyy yy q m mm mmm mmmm d dd ddd dddd h hh n nn s ss
// AM/PM am/pm / : - and blanks; "c" or "\x" quotes a character.
std::string date_pattern(DateTime t, const std::string& p) {
  CivilTime c = to_civil(t);
  const bool twelve = lower_ascii(p).find("am/pm") != std::string::npos;
  std::string out;
  char buf[16];
  auto two = [&](int v) {
    std::snprintf(buf, sizeof buf, "%02d", v);
    out += buf;
  };
  bool after_hour = false;  // "m" right after an hour means minutes
  for (std::size_t i = 0; i < p.size();) {
    auto run = [&](char ch) {
      std::size_t k = i;
      while (k < p.size() && std::tolower(static_cast<unsigned char>(p[k])) == ch) ++k;
      return k - i;
    };
    char ch = static_cast<char>(std::tolower(static_cast<unsigned char>(p[i])));
    if (lower_ascii(p.substr(i, 5)) == "am/pm") {
      bool upper_case = p[i] == 'A';
      out += c.hour < 12 ? (upper_case ? "AM" : "am") : (upper_case ? "PM" : "pm");
      i += 5;
      continue;
    }
    if (ch == '\\' && i + 1 < p.size()) {
      out.push_back(p[i + 1]);
      i += 2;
      continue;
    }
    if (ch == '"') {
      std::size_t close = p.find('"', i + 1);
      if (close == std::string::npos) close = p.size();
      out += p.substr(i + 1, close - i - 1);
      i = close + 1;
      continue;
    }
    std::size_t n = run(ch);
    if (ch == 'y') {
      if (n >= 3) {
        out += std::to_string(c.year);
      } else if (n == 2) {
        two(c.year % 100);
      } else {  // y: day of the year
        CivilTime jan1{c.year, 1, 1, 0, 0, 0};
        out += std::to_string(static_cast<int>(std::floor(from_civil(CivilTime{c.year, c.month, c.day, 0, 0, 0}).days -
                                                          from_civil(jan1).days)) + 1);
      }
    } else if (ch == 'm') {
      if (after_hour && n <= 2) {
        if (n == 2) two(c.minute); else out += std::to_string(c.minute);
      } else if (n >= 4) {
        out += kMonthNames[c.month - 1];
      } else if (n == 3) {
        out += std::string(kMonthNames[c.month - 1]).substr(0, 3);
      } else if (n == 2) {
        two(c.month);
      } else {
        out += std::to_string(c.month);
      }
    } else if (ch == 'd') {
      if (n >= 4) {
        out += kDayNames[weekday_of(t) - 1];
      } else if (n == 3) {
        out += std::string(kDayNames[weekday_of(t) - 1]).substr(0, 3);
      } else if (n == 2) {
        two(c.day);
      } else {
        out += std::to_string(c.day);
      }
    } else if (ch == 'h') {
      int h = twelve ? (c.hour % 12 == 0 ? 12 : c.hour % 12) : c.hour;
      if (n >= 2) two(h); else out += std::to_string(h);
    } else if (ch == 'n') {
      if (n >= 2) two(c.minute); else out += std::to_string(c.minute);
    } else if (ch == 's') {
      if (n >= 2) two(c.second); else out += std::to_string(c.second);
    } else if (ch == 'q') {
      out += std::to_string((c.month - 1) / 3 + 1);
    } else {
      out.append(p, i, n);
    }
    if (ch == 'h') {
      after_hour = true;
    } else if (ch != ':' && ch != ' ') {
      after_hour = false;
    }
    i += n;
  }
  return out;
}

Value format(const Value& v, const std::string& pattern) {
  const std::string p = lower_ascii(pattern);
  double d = 0;
  const bool numeric = !std::holds_alternative<std::string>(v) && to_number(v, d);
  const DateTime* t = std::get_if<DateTime>(&v);
  DateTime parsed;
  if (!t) {
    if (const auto* s = std::get_if<std::string>(&v)) {
      if (parse_date_text(*s, parsed) && !to_number(v, d)) t = &parsed;
    }
  }
  if (pattern.empty()) return t ? date_text(*t) : cstr(v);
  if (t) {
    if (p == "general date") return date_text(*t);
    if (p == "short date") return date_pattern(*t, "m/d/yyyy");
    if (p == "medium date") return date_pattern(*t, "dd-mmm-yy");
    if (p == "long date") return date_pattern(*t, "dddd, mmmm d, yyyy");
    if (p == "short time") return date_pattern(*t, "hh:nn");
    if (p == "medium time") return date_pattern(*t, "hh:nn AM/PM");
    if (p == "long time") return date_pattern(*t, "h:nn:ss AM/PM");
    if (!is_number_pattern(pattern)) return date_pattern(*t, pattern);
    d = t->days;
  } else if (!numeric) {
    double n;
    if (!to_number(v, n)) return value_as_text(v);  // a text is shown as it is
    d = n;
  }
  if (p == "general number") return cstr(d);
  if (p == "currency") {
    std::string s = fixed_text(d, 2, true);
    if (!s.empty() && s[0] == '-') return "($" + s.substr(1) + ")";
    return "$" + s;
  }
  if (p == "fixed") return fixed_text(d, 2, false);
  if (p == "standard") return fixed_text(d, 2, true);
  if (p == "percent") return fixed_text(d * 100, 2, false) + "%";
  if (p == "scientific") {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.2E", d);
    std::string s = buf;
    // Access writes the exponent with at least two digits: 1.23E+04.
    return s;
  }
  if (p == "yes/no") return std::string(d != 0 ? "Yes" : "No");
  if (p == "true/false") return std::string(d != 0 ? "True" : "False");
  if (p == "on/off") return std::string(d != 0 ? "On" : "Off");
  std::string body = pattern;
  bool percent = !body.empty() && body.back() == '%';
  if (percent) body.pop_back();
  if (is_number_pattern(body)) return number_pattern(percent ? d * 100 : d, body) + (percent ? "%" : "");
  if (t || numeric) return date_pattern(t ? *t : to_date(d), pattern);
  return value_as_text(v);
}

}  // namespace

bool is_function(const std::string& upper_name) { return find_builtin(upper_name) != nullptr; }

void function_arity(const std::string& upper_name, int& min_args, int& max_args) {
  const Builtin* b = find_builtin(upper_name);
  min_args = b ? b->min_args : 0;
  max_args = b ? b->max_args : 0;
}

Value call_function(const std::string& fn, const std::vector<Value>& a) {
  auto null_at = [&](std::size_t i) { return i < a.size() && is_null(a[i]); };
  // ---- Null-aware ----
  if (fn == "NZ") {
    if (!is_null(a[0])) return a[0];
    return a.size() > 1 ? a[1] : Value(std::string());
  }
  if (fn == "IIF") {
    auto b = truth(a[0]);
    return b && *b ? a[1] : a[2];
  }
  if (fn == "ISNULL") return is_null(a[0]);
  if (fn == "ISNUMERIC") {
    if (is_null(a[0])) return false;
    double d;
    return !std::holds_alternative<DateTime>(a[0]) && to_number(a[0], d);
  }
  if (fn == "ISDATE") {
    DateTime t;
    if (std::holds_alternative<DateTime>(a[0])) return true;
    const auto* s = std::get_if<std::string>(&a[0]);
    try {
      return s != nullptr && parse_date_text(*s, t);
    } catch (const Error&) {
      return false;
    }
  }
  if (fn == "DATE" || fn == "NOW" || fn == "TIME") {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    CivilTime c{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec};
    if (fn == "DATE") c.hour = c.minute = c.second = 0;
    if (fn == "TIME") c.year = 1899, c.month = 12, c.day = 30;
    return from_civil(c);
  }
  // ---- conversions: Null is an error ----
  if (fn == "CSTR" || fn == "CLNG" || fn == "CINT" || fn == "CDBL" || fn == "CCUR" || fn == "CDATE" ||
      fn == "CBOOL" || fn == "VAL") {
    if (is_null(a[0])) invalid_null(fn);
    const Value& v = a[0];
    if (fn == "CSTR") return cstr(v);
    if (fn == "VAL") return val(value_as_text(v));
    if (fn == "CDATE") {
      if (const auto* s = std::get_if<std::string>(&v)) {
        DateTime t;
        if (parse_date_text(*s, t)) return t;
      }
      return date_arg(fn, v);
    }
    if (fn == "CBOOL") {
      if (const auto* b = std::get_if<bool>(&v)) return *b;
      if (const auto* s = std::get_if<std::string>(&v)) {
        if (names_equal(*s, "true")) return true;
        if (names_equal(*s, "false")) return false;
      }
      return number_arg(fn, v) != 0;
    }
    if (fn == "CCUR") {
      if (const auto* c = std::get_if<Currency>(&v)) return *c;
      if (const auto* s = std::get_if<std::string>(&v)) {
        Currency c;
        if (parse_currency(*s, c)) return c;
        mismatch(fn, v);
      }
      return currency_from_double(number_arg(fn, v));
    }
    double d = number_arg(fn, v);
    if (fn == "CDBL") return checked_number(d, "CDbl");
    // CInt and CLng round half to even and refuse what their type cannot hold.
    double r = std::nearbyint(d);
    if (fn == "CINT") {
      if (!(r >= -32768.0 && r <= 32767.0)) throw_overflow("CInt() of " + describe_value(v) + " leaves the Integer range");
      return static_cast<int16_t>(r);
    }
    if (!(r >= -2147483648.0 && r <= 2147483647.0)) throw_overflow("CLng() of " + describe_value(v) + " leaves the Long range");
    return static_cast<int32_t>(r);
  }
  // ---- everything else: Null in, Null out ----
  for (std::size_t i = 0; i < a.size(); ++i) {
    // InStr's optional compare argument and Format's pattern may be Null
    // without making the result Null only in VBA; Jet's queries return Null.
    if (null_at(i)) return Value{};
  }
  if (fn == "UCASE" || fn == "LCASE") {
    std::u32string s = decode(text_arg(a[0]));
    for (char32_t& c : s) c = fn == "UCASE" ? to_upper(c) : to_lower(c);
    return encode(s);
  }
  if (fn == "TRIM") return trim(text_arg(a[0]), true, true);
  if (fn == "LTRIM") return trim(text_arg(a[0]), true, false);
  if (fn == "RTRIM") return trim(text_arg(a[0]), false, true);
  if (fn == "LEN") {
    if (std::holds_alternative<std::string>(a[0])) return static_cast<int32_t>(decode(std::get<std::string>(a[0])).size());
    return static_cast<int32_t>(decode(cstr(a[0])).size());
  }
  if (fn == "LEFT" || fn == "RIGHT") {
    std::u32string s = decode(text_arg(a[0]));
    int64_t n = whole_arg(fn, a[1]);
    if (n < 0) invalid_call(fn, "a negative length");
    std::size_t k = std::min<std::size_t>(static_cast<std::size_t>(n), s.size());
    return encode(fn == "LEFT" ? s.substr(0, k) : s.substr(s.size() - k));
  }
  if (fn == "MID") {
    std::u32string s = decode(text_arg(a[0]));
    int64_t start = whole_arg(fn, a[1]);
    if (start < 1) invalid_call(fn, "the start must be 1 or more");
    int64_t len = a.size() > 2 ? whole_arg(fn, a[2]) : static_cast<int64_t>(s.size());
    if (len < 0) invalid_call(fn, "a negative length");
    if (static_cast<std::size_t>(start) > s.size()) return std::string();
    return encode(s.substr(static_cast<std::size_t>(start - 1), static_cast<std::size_t>(len)));
  }
  if (fn == "INSTR") {
    // InStr([start,] text, sought [, compare])
    std::size_t first = 0;
    int64_t start = 1;
    if (a.size() >= 3) {
      start = whole_arg(fn, a[0]);
      if (start < 1) invalid_call(fn, "the start must be 1 or more");
      first = 1;
    }
    std::u32string hay = decode(text_arg(a[first])), needle = decode(text_arg(a[first + 1]));
    if (start > static_cast<int64_t>(hay.size()) + 1) return int32_t{0};
    if (a.size() == 4 && whole_arg(fn, a[3]) == 0) {  // binary compare: exact characters
      if (needle.empty()) return static_cast<int32_t>(start);
      std::size_t at = hay.find(needle, static_cast<std::size_t>(start - 1));
      return static_cast<int32_t>(at == std::u32string::npos ? 0 : at + 1);
    }
    return static_cast<int32_t>(instr(hay, needle, start));
  }
  if (fn == "STR") {
    double d = number_arg(fn, a[0]);
    std::string s = cstr(a[0]);
    if (std::holds_alternative<std::string>(a[0])) s = cstr(d);
    return d >= 0 ? " " + s : s;
  }
  if (fn == "SPACE") {
    int64_t n = whole_arg(fn, a[0]);
    if (n < 0) invalid_call(fn, "a negative length");
    if (n > 65535) invalid_call(fn, "more than 65535 characters");
    return std::string(static_cast<std::size_t>(n), ' ');
  }
  if (fn == "STRING") {
    int64_t n = whole_arg(fn, a[0]);
    if (n < 0) invalid_call(fn, "a negative length");
    if (n > 65535) invalid_call(fn, "more than 65535 characters");
    std::u32string ch;
    if (std::holds_alternative<std::string>(a[1])) {
      ch = decode(std::get<std::string>(a[1]));
      if (ch.empty()) invalid_call(fn, "an empty text");
    } else {
      int64_t code = whole_arg(fn, a[1]);
      if (code < 0 || code > 255) invalid_call(fn, "a character code outside 0 to 255");
      ch.push_back(static_cast<char32_t>(code));
    }
    return encode(std::u32string(static_cast<std::size_t>(n), ch[0]));
  }
  if (fn == "INT" || fn == "FIX") return int_or_fix(fn, a[0], fn == "INT");
  if (fn == "ABS") {
    const Value& v = a[0];
    if (const auto* c = std::get_if<Currency>(&v)) {
      if (c->ten_thousandths == INT64_MIN) throw_overflow("Abs() of the smallest currency value");
      return Currency{c->ten_thousandths < 0 ? -c->ten_thousandths : c->ten_thousandths};
    }
    if (const auto* i = std::get_if<int32_t>(&v)) {
      if (*i == INT32_MIN) return 2147483648.0;
      return static_cast<int32_t>(*i < 0 ? -*i : *i);
    }
    if (const auto* i = std::get_if<int16_t>(&v)) return static_cast<int32_t>(*i < 0 ? -*i : *i);
    if (std::holds_alternative<uint8_t>(v)) return v;
    return std::fabs(number_arg(fn, v));
  }
  if (fn == "SGN") {
    double d = number_arg(fn, a[0]);
    return static_cast<int16_t>(d > 0 ? 1 : d < 0 ? -1 : 0);
  }
  if (fn == "ROUND") {
    int64_t places = a.size() > 1 ? whole_arg(fn, a[1]) : 0;
    if (places < 0) invalid_call(fn, "a negative number of decimals");
    const Value& v = a[0];
    if (const auto* c = std::get_if<Currency>(&v)) {
      if (places >= 4) return *c;
      int64_t unit = 1;
      for (int64_t k = places; k < 4; ++k) unit *= 10;
      int64_t q = c->ten_thousandths / unit, r = c->ten_thousandths % unit;
      int64_t twice = 2 * (r < 0 ? -r : r);
      if (twice > unit || (twice == unit && (q % 2 != 0))) q += c->ten_thousandths < 0 ? -1 : 1;
      return Currency{q * unit};
    }
    if (std::holds_alternative<uint8_t>(v) || std::holds_alternative<int16_t>(v) || std::holds_alternative<int32_t>(v))
      return v;
    double d = number_arg(fn, v);
    double r = round_even(d, static_cast<int>(std::min<int64_t>(places, 15)));
    if (std::holds_alternative<float>(v)) return static_cast<float>(r);
    return r;
  }
  if (fn == "YEAR" || fn == "MONTH" || fn == "DAY" || fn == "HOUR" || fn == "MINUTE" || fn == "SECOND") {
    CivilTime c = to_civil(date_arg(fn, a[0]));
    int v = fn == "YEAR" ? c.year : fn == "MONTH" ? c.month : fn == "DAY" ? c.day : fn == "HOUR" ? c.hour
            : fn == "MINUTE" ? c.minute : c.second;
    return static_cast<int16_t>(v);
  }
  if (fn == "WEEKDAY") return static_cast<int16_t>(weekday_of(date_arg(fn, a[0])));
  if (fn == "DATEVALUE") {
    DateTime t = date_arg(fn, a[0]);
    CivilTime c = to_civil(t);
    return from_civil(CivilTime{c.year, c.month, c.day, 0, 0, 0});
  }
  if (fn == "DATESERIAL") {
    int64_t y = whole_arg(fn, a[0]), m = whole_arg(fn, a[1]), d = whole_arg(fn, a[2]);
    if (y >= 0 && y < 30) y += 2000;  // Jet's two-digit years: 0-29 are 2000-2029
    else if (y >= 30 && y < 100) y += 1900;
    if (y < 100 || y > 9999) throw_overflow("DateSerial() year " + std::to_string(y) + " lies outside 100 to 9999");
    DateTime first = from_civil(CivilTime{static_cast<int>(y), 1, 1, 0, 0, 0});
    DateTime month = add_months(first, m - 1);
    return date_add("d", d - 1, month);
  }
  if (fn == "DATEADD") {
    if (!std::holds_alternative<std::string>(a[0])) mismatch(fn, a[0]);
    return date_add(std::get<std::string>(a[0]), whole_arg(fn, a[1]), date_arg(fn, a[2]));
  }
  if (fn == "DATEDIFF") {
    if (!std::holds_alternative<std::string>(a[0])) mismatch(fn, a[0]);
    return date_diff(std::get<std::string>(a[0]), date_arg(fn, a[1]), date_arg(fn, a[2]));
  }
  if (fn == "FORMAT") return format(a[0], a.size() > 1 ? value_as_text(a[1]) : std::string());
  invalid_call(fn, "not a built-in function");
}

}  // namespace jet::sql
