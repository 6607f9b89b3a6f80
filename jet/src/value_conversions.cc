#include "jet/value_conversions.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "jet/error.h"
#include "jet/value_text.h"

namespace jet {
namespace {

// 2^63: the first magnitude past the currency range, exactly representable.
constexpr double kTwoTo63 = 9223372036854775808.0;

// Days of 1 Jan 100 and of 1 Jan 10000 since 1899-12-30.
constexpr double kFirstDay = -657434.0;
constexpr double kDayAfterLast = 2958466.0;

std::string number_for_message(double v) {
  if (std::isnan(v)) return "NaN";
  if (std::isinf(v)) return v > 0 ? "infinity" : "-infinity";
  return double_to_text(v);
}

// Round half to even: nearbyint uses the current rounding mode, which the
// engine never changes from round-to-nearest-even.
double round_even(double v) { return std::nearbyint(v); }

template <class T>
T whole_number(double v, double lo, double hi, const char* type) {
  double r = std::isfinite(v) ? round_even(v) : v;
  if (!(r >= lo && r <= hi)) {
    throw_overflow(number_for_message(v) + " is outside the " + type + " range (" + double_to_text(lo) + " to " +
                   double_to_text(hi) + ")");
  }
  return static_cast<T>(r);
}

bool is_blank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

void throw_overflow(const std::string& what) { throw Error(ErrorCategory::kOverflow, "Overflow: " + what); }

Currency currency_from_double(double v) {
  double r = std::isfinite(v) ? round_even(v * 10000.0) : v;
  if (!(r >= -kTwoTo63 && r < kTwoTo63)) {
    throw_overflow(number_for_message(v) + " is outside the currency range (-922337203685477.5808 to "
                                           "922337203685477.5807)");
  }
  return Currency{static_cast<int64_t>(r)};
}

bool parse_currency(std::string_view text, Currency& out) {
  std::size_t i = 0, end = text.size();
  while (i < end && is_blank(text[i])) ++i;
  while (end > i && is_blank(text[end - 1])) --end;
  bool negative = false;
  if (i < end && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  // The significant digits, without leading zeros, and where the point is.
  std::string digits;
  long long point = 0;  // digits before the decimal point, among `digits`
  bool any_digit = false, seen_point = false;
  for (; i < end; ++i) {
    char c = text[i];
    if (c >= '0' && c <= '9') {
      any_digit = true;
      if (digits.empty() && c == '0') {
        if (seen_point) --point;  // a zero right after the point shifts the scale
        continue;
      }
      digits.push_back(c);
      if (!seen_point) ++point;
    } else if (c == '.' && !seen_point) {
      seen_point = true;
    } else {
      break;
    }
  }
  if (!any_digit) return false;
  if (i < end && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    bool exp_negative = false;
    if (i < end && (text[i] == '+' || text[i] == '-')) exp_negative = text[i++] == '-';
    if (i >= end) return false;
    long long e = 0;
    for (; i < end && text[i] >= '0' && text[i] <= '9'; ++i) e = std::min(e * 10 + (text[i] - '0'), 100000LL);
    point += exp_negative ? -e : e;
  }
  if (i != end) return false;

  // Value = 0.digits * 10^point; ten-thousandths keep point + 4 digits.
  const auto overflow = [&] {
    throw_overflow("'" + std::string(text) + "' is outside the currency range (-922337203685477.5808 to "
                                             "922337203685477.5807)");
  };
  long long kept = digits.empty() ? 0 : point + 4;
  if (kept > 19) overflow();
  unsigned __int128 magnitude = 0;
  for (long long k = 0; k < kept; ++k) {
    magnitude = magnitude * 10 + (k < static_cast<long long>(digits.size()) ? digits[k] - '0' : 0);
  }
  // The digits cut off decide the rounding; a run of zeros after them does not count.
  if (kept < static_cast<long long>(digits.size())) {
    long long first_cut = std::max(kept, 0LL);
    char lead = kept >= 0 ? digits[first_cut] : '0';
    bool rest_nonzero = false;
    for (std::size_t k = first_cut + (kept >= 0 ? 1 : 0); k < digits.size(); ++k) rest_nonzero |= digits[k] != '0';
    if (lead > '5' || (lead == '5' && (rest_nonzero || (magnitude & 1) != 0))) ++magnitude;
  }
  const unsigned __int128 limit = negative ? (unsigned __int128)1 << 63 : ((unsigned __int128)1 << 63) - 1;
  if (magnitude > limit) overflow();
  uint64_t m = static_cast<uint64_t>(magnitude);
  out.ten_thousandths = negative ? static_cast<int64_t>(0 - m) : static_cast<int64_t>(m);
  return true;
}

Currency currency_add(Currency a, Currency b) {
  int64_t r;
  if (__builtin_add_overflow(a.ten_thousandths, b.ten_thousandths, &r)) {
    throw_overflow(currency_to_text(a) + " + " + currency_to_text(b) + " is outside the currency range");
  }
  return Currency{r};
}

Currency currency_sub(Currency a, Currency b) {
  int64_t r;
  if (__builtin_sub_overflow(a.ten_thousandths, b.ten_thousandths, &r)) {
    throw_overflow(currency_to_text(a) + " - " + currency_to_text(b) + " is outside the currency range");
  }
  return Currency{r};
}

Currency currency_mul(Currency a, double factor) {
  long double r = static_cast<long double>(a.ten_thousandths) * static_cast<long double>(factor);
  if (std::isfinite(static_cast<double>(r))) r = std::nearbyint(r);
  if (!(r >= -static_cast<long double>(kTwoTo63) && r < static_cast<long double>(kTwoTo63))) {
    throw_overflow(currency_to_text(a) + " * " + number_for_message(factor) + " is outside the currency range");
  }
  return Currency{static_cast<int64_t>(r)};
}

double currency_to_double(Currency c) { return static_cast<double>(c.ten_thousandths) / 10000.0; }

std::string currency_to_text(Currency c) {
  const bool negative = c.ten_thousandths < 0;
  uint64_t mag = negative ? 0 - static_cast<uint64_t>(c.ten_thousandths) : static_cast<uint64_t>(c.ten_thousandths);
  // Digits from the right: the fraction without its trailing zeros, then the
  // whole part.
  char buf[32];
  char* at = buf + sizeof buf;
  unsigned frac = static_cast<unsigned>(mag % 10000);
  mag /= 10000;
  if (frac != 0) {
    int places = 4;
    while (frac % 10 == 0) {
      frac /= 10;
      --places;
    }
    for (; places > 0; --places, frac /= 10) *--at = static_cast<char>('0' + frac % 10);
    *--at = '.';
  }
  do {
    *--at = static_cast<char>('0' + mag % 10);
    mag /= 10;
  } while (mag != 0);
  if (negative) *--at = '-';
  return std::string(at, buf + sizeof buf);
}

uint8_t to_byte(double v) { return whole_number<uint8_t>(v, 0, 255, "Byte"); }
int16_t to_integer(double v) { return whole_number<int16_t>(v, -32768, 32767, "Integer"); }
int32_t to_long(double v) { return whole_number<int32_t>(v, -2147483648.0, 2147483647.0, "Long"); }

double checked_double(double v) {
  if (!std::isfinite(v)) throw_overflow(number_for_message(v) + " is not a finite number");
  return v;
}

float to_single(double v) {
  if (!std::isfinite(v)) throw_overflow(number_for_message(v) + " is not a finite number");
  float f = static_cast<float>(v);
  if (!std::isfinite(f)) throw_overflow(number_for_message(v) + " is outside the Single range");
  return f;
}

bool valid_date(double days) {
  // Before 1899-12-30 the whole part is the day and the fraction's magnitude
  // the time, so day -657434 runs from -657434.0 down to just above -657435.
  return std::isfinite(days) && days > kFirstDay - 1.0 && days < kDayAfterLast;
}

DateTime to_date(double days) {
  if (!valid_date(days)) throw_overflow(number_for_message(days) + " is outside the date range (years 100 to 9999)");
  return DateTime{days};
}

namespace {

// `v` with at most `digits` significant digits, rounded to nearest, trailing
// zeros dropped; fixed-point for decimal exponents from -5 up to below
// `digits`, else "d.dddE+XX".
std::string significant_text(double v, int digits) {
  if (v == 0) return "0";  // also -0
  if (std::isnan(v)) return "NaN";
  if (std::isinf(v)) return v > 0 ? "Infinity" : "-Infinity";
  char buf[64];
  // "-d.ddde+XX": rounding to `digits` may carry into the exponent (9.9999999999999999e14 -> 1e15).
  std::snprintf(buf, sizeof buf, "%.*e", digits - 1, v);
  const std::string sci(buf);
  const std::size_t e_at = sci.find('e');
  const int exponent = std::atoi(sci.c_str() + e_at + 1);
  std::string mantissa;
  for (std::size_t k = 0; k < e_at; ++k) {
    if (sci[k] >= '0' && sci[k] <= '9') mantissa.push_back(sci[k]);
  }
  while (mantissa.size() > 1 && mantissa.back() == '0') mantissa.pop_back();
  std::string out = v < 0 ? "-" : "";
  if (exponent >= -5 && exponent < digits) {
    if (exponent < 0) {
      out += "0." + std::string(static_cast<std::size_t>(-exponent - 1), '0') + mantissa;
    } else if (static_cast<std::size_t>(exponent) + 1 >= mantissa.size()) {
      out += mantissa + std::string(exponent + 1 - mantissa.size(), '0');
    } else {
      out += mantissa.substr(0, exponent + 1) + "." + mantissa.substr(exponent + 1);
    }
    return out;
  }
  out += mantissa.substr(0, 1);
  if (mantissa.size() > 1) out += "." + mantissa.substr(1);
  char exp_text[16];
  std::snprintf(exp_text, sizeof exp_text, "E%c%02d", exponent < 0 ? '-' : '+', std::abs(exponent));
  return out + exp_text;
}

}  // namespace

std::string double_to_text(double v) { return significant_text(v, 15); }

std::string single_to_text(float v) { return significant_text(static_cast<double>(v), 7); }

std::string date_to_text(DateTime d) {
  if (!valid_date(d.days)) return double_to_text(d.days);
  CivilTime c = to_civil(d);
  const bool midnight = c.hour == 0 && c.minute == 0 && c.second == 0;
  const bool day_zero = c.year == 1899 && c.month == 12 && c.day == 30;
  char date[32], time[32];
  std::snprintf(date, sizeof date, "%d/%d/%d", c.month, c.day, c.year);
  std::snprintf(time, sizeof time, "%d:%02d:%02d %s", c.hour % 12 == 0 ? 12 : c.hour % 12, c.minute, c.second,
                c.hour < 12 ? "AM" : "PM");
  if (midnight && !day_zero) return date;
  if (day_zero) return time;
  return std::string(date) + " " + time;
}

std::string value_to_text(const Value& v) {
  return std::visit(
      [&v](const auto& x) -> std::string {
        using T = std::decay_t<decltype(x)>;
        if constexpr (std::is_same_v<T, std::monostate>) {
          return {};
        } else if constexpr (std::is_same_v<T, bool>) {
          return x ? "True" : "False";
        } else if constexpr (std::is_same_v<T, uint8_t> || std::is_same_v<T, int16_t> ||
                             std::is_same_v<T, int32_t>) {
          return std::to_string(x);
        } else if constexpr (std::is_same_v<T, Currency>) {
          return currency_to_text(x);
        } else if constexpr (std::is_same_v<T, float>) {
          return single_to_text(x);
        } else if constexpr (std::is_same_v<T, double>) {
          return double_to_text(x);
        } else if constexpr (std::is_same_v<T, DateTime>) {
          return date_to_text(x);
        } else if constexpr (std::is_same_v<T, std::string>) {
          return x;
        } else {
          return value_text(v);  // bytes, GUID and decimal: the engine's forms
        }
      },
      v);
}

}  // namespace jet
