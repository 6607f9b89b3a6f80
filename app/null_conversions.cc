#include "app/null_conversions.h"

#include <cmath>
#include <cstdio>
#include <limits>

#include "jet/error.h"

namespace tallimo {
namespace {

std::string trim_blanks(const std::string& text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  const auto last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

// Rounds a double to ten-thousandths, halves to even. False when out of range.
bool double_to_currency(double value, jet::Currency& out) {
  if (!std::isfinite(value)) return false;
  const double scaled = value * 10000.0;
  if (std::fabs(scaled) >= 9.2e18) return false;
  out.ten_thousandths = static_cast<int64_t>(std::nearbyint(scaled));  // default mode: to even
  return true;
}

std::string double_to_text(double value) {
  // Fifteen significant digits, as the language runtime shows a double.
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%.15G", value);
  std::string text = buffer;
  if (text.find('E') == std::string::npos && text.find('.') != std::string::npos) {
    while (text.back() == '0') text.pop_back();
    if (text.back() == '.') text.pop_back();
  }
  return text;
}

}  // namespace

bool parse_currency(const std::string& raw, jet::Currency& out) {
  const std::string text = trim_blanks(raw);
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  // Digits before and after the point, kept exactly as decimal digits.
  std::string digits;
  int fraction_digits = 0;
  bool seen_point = false;
  bool any_digit = false;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (c >= '0' && c <= '9') {
      digits += c;
      any_digit = true;
      if (seen_point) ++fraction_digits;
    } else if (c == '.' && !seen_point) {
      seen_point = true;
    } else {
      break;
    }
  }
  if (!any_digit) return false;
  int exponent = 0;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    size_t j = i + 1;
    bool exp_negative = false;
    if (j < text.size() && (text[j] == '+' || text[j] == '-')) exp_negative = text[j++] == '-';
    if (j >= text.size()) return false;
    int e = 0;
    for (; j < text.size() && text[j] >= '0' && text[j] <= '9'; ++j) {
      e = e * 10 + (text[j] - '0');
      if (e > 400) return false;
    }
    exponent = exp_negative ? -e : e;
    i = j;
  }
  if (i != text.size()) return false;
  // value = digits * 10^(exponent - fraction_digits); we want it * 10^4.
  int shift = exponent - fraction_digits + 4;
  const size_t first = digits.find_first_not_of('0');
  digits = first == std::string::npos ? "0" : digits.substr(first);
  std::string whole = digits;
  std::string dropped;
  if (shift >= 0) {
    if (whole != "0") whole.append(static_cast<size_t>(shift), '0');
  } else {
    const size_t cut = static_cast<size_t>(-shift);
    if (cut >= whole.size()) {
      dropped = std::string(cut - whole.size(), '0') + whole;
      whole = "0";
    } else {
      dropped = whole.substr(whole.size() - cut);
      whole = whole.substr(0, whole.size() - cut);
    }
  }
  if (whole.size() > 19) return false;
  unsigned long long magnitude = 0;
  for (char c : whole) {
    const unsigned long long d = static_cast<unsigned long long>(c - '0');
    if (magnitude > (std::numeric_limits<unsigned long long>::max() - d) / 10) return false;
    magnitude = magnitude * 10 + d;
  }
  if (!dropped.empty()) {
    const bool above_half = dropped[0] > '5' || (dropped[0] == '5' && dropped.find_first_not_of('0', 1) != std::string::npos);
    const bool exactly_half = dropped[0] == '5' && dropped.find_first_not_of('0', 1) == std::string::npos;
    if (above_half || (exactly_half && (magnitude & 1U) != 0)) ++magnitude;
  }
  const unsigned long long limit = negative ? 9223372036854775808ULL : 9223372036854775807ULL;
  if (magnitude > limit) return false;
  out.ten_thousandths = negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
  return true;
}

std::string currency_to_text(jet::Currency amount) {
  const bool negative = amount.ten_thousandths < 0;
  const unsigned long long magnitude =
      negative ? 0ULL - static_cast<unsigned long long>(amount.ten_thousandths)
               : static_cast<unsigned long long>(amount.ten_thousandths);
  std::string text = std::to_string(magnitude / 10000);
  unsigned long long fraction = magnitude % 10000;
  if (fraction != 0) {
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "%04llu", fraction);
    std::string digits = buffer;
    while (digits.back() == '0') digits.pop_back();
    text += "." + digits;
  }
  return negative ? "-" + text : text;
}

std::string value_to_text(const jet::Value& value) {
  struct Visitor {
    std::string operator()(std::monostate) const { return {}; }
    std::string operator()(bool b) const { return b ? "True" : "False"; }
    std::string operator()(uint8_t v) const { return std::to_string(v); }
    std::string operator()(int16_t v) const { return std::to_string(v); }
    std::string operator()(int32_t v) const { return std::to_string(v); }
    std::string operator()(jet::Currency v) const { return currency_to_text(v); }
    std::string operator()(float v) const {
      char buffer[32];
      std::snprintf(buffer, sizeof buffer, "%.7G", static_cast<double>(v));
      return double_to_text(std::strtod(buffer, nullptr));
    }
    std::string operator()(double v) const { return double_to_text(v); }
    std::string operator()(jet::DateTime v) const {
      // Days since 1899-12-30; the fraction is the time of day.
      const double whole_days = std::floor(v.days);
      long long seconds_of_day = std::llround((v.days - whole_days) * 86400.0);
      long long days = static_cast<long long>(whole_days);
      if (v.days < 0) {
        // Negative dates keep the time as a positive fraction of the day.
        days = static_cast<long long>(std::ceil(v.days));
        seconds_of_day = std::llround((days - v.days) * 86400.0);
      }
      if (seconds_of_day >= 86400) {
        seconds_of_day -= 86400;
        ++days;
      }
      // Civil date from days since 1899-12-30 (which is day 693959 after 0000-03-01 shifting).
      long long z = days + 693899;  // days since 0000-03-01
      const long long era = (z >= 0 ? z : z - 146096) / 146097;
      const long long doe = z - era * 146097;
      const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
      long long y = yoe + era * 400;
      const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
      const long long mp = (5 * doy + 2) / 153;
      const long long d = doy - (153 * mp + 2) / 5 + 1;
      const long long m = mp < 10 ? mp + 3 : mp - 9;
      if (m <= 2) ++y;
      char buffer[96];
      const long long h = seconds_of_day / 3600;
      const long long min = (seconds_of_day / 60) % 60;
      const long long s = seconds_of_day % 60;
      if (seconds_of_day == 0) {
        std::snprintf(buffer, sizeof buffer, "%lld/%lld/%lld", m, d, y);
      } else {
        std::snprintf(buffer, sizeof buffer, "%lld/%lld/%lld %lld:%02lld:%02lld %s", m, d, y,
                      h % 12 == 0 ? 12 : h % 12, min, s, h < 12 ? "AM" : "PM");
      }
      return buffer;
    }
    std::string operator()(const std::string& v) const { return v; }
    std::string operator()(const jet::Bytes& v) const { return std::string(v.data.begin(), v.data.end()); }
    std::string operator()(const jet::Guid& v) const {
      static const char* hex = "0123456789ABCDEF";
      // Stored as Data1 (LE 32), Data2 (LE 16), Data3 (LE 16), Data4 (8 bytes).
      const int order[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
      std::string text = "{";
      for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) text += '-';
        text += hex[v.bytes[order[i]] >> 4];
        text += hex[v.bytes[order[i]] & 15];
      }
      return text + "}";
    }
    std::string operator()(const jet::Decimal& v) const {
      // 96-bit magnitude to decimal digits by repeated division.
      std::array<uint32_t, 3> m = v.magnitude;
      std::string digits;
      while (m[0] != 0 || m[1] != 0 || m[2] != 0) {
        uint64_t rest = 0;
        for (int i = 2; i >= 0; --i) {
          const uint64_t cur = (rest << 32) | m[static_cast<size_t>(i)];
          m[static_cast<size_t>(i)] = static_cast<uint32_t>(cur / 10);
          rest = cur % 10;
        }
        digits.insert(digits.begin(), static_cast<char>('0' + rest));
      }
      if (digits.empty()) digits = "0";
      if (v.scale > 0) {
        if (digits.size() <= v.scale) digits.insert(0, v.scale - digits.size() + 1, '0');
        digits.insert(digits.size() - v.scale, ".");
        while (digits.back() == '0') digits.pop_back();
        if (digits.back() == '.') digits.pop_back();
      }
      return (v.negative && digits != "0") ? "-" + digits : digits;
    }
  };
  return std::visit(Visitor{}, value);
}

jet::Currency Null_To_Currency(const jet::Value& value) {
  jet::Currency amount;
  if (jet::is_null(value)) return amount;
  if (const auto* c = std::get_if<jet::Currency>(&value)) return *c;
  if (const auto* d = std::get_if<double>(&value)) {
    if (!double_to_currency(*d, amount)) amount = {};
    return amount;
  }
  if (const auto* f = std::get_if<float>(&value)) {
    if (!double_to_currency(static_cast<double>(*f), amount)) amount = {};
    return amount;
  }
  if (const auto* b = std::get_if<bool>(&value)) return jet::Currency{*b ? -10000 : 0};
  if (std::holds_alternative<jet::DateTime>(value) || std::holds_alternative<jet::Guid>(value) ||
      std::holds_alternative<jet::Bytes>(value)) {
    return amount;
  }
  if (!parse_currency(value_to_text(value), amount)) amount = {};
  return amount;
}

std::string Null_To_Text(const jet::Value& value) {
  if (jet::is_null(value)) return {};
  return trim_blanks(value_to_text(value));
}

int32_t Null_To_Long(const jet::Value& value) {
  if (jet::is_null(value)) return 0;
  const std::string text = value_to_text(value);
  if (trim_blanks(text).empty()) return 0;
  double number = 0;
  if (const auto* b = std::get_if<bool>(&value)) {
    number = *b ? -1 : 0;
  } else if (const auto* d = std::get_if<double>(&value)) {
    number = *d;
  } else {
    jet::Currency amount;
    if (!parse_currency(text, amount)) {
      throw jet::Error(jet::ErrorCategory::kInvalidArgument, "Type mismatch: \"" + text + "\" is not a whole number");
    }
    number = static_cast<double>(amount.ten_thousandths) / 10000.0;
  }
  const double rounded = std::round(number);  // halves away from zero
  if (!(rounded >= -2147483648.0 && rounded <= 2147483647.0)) {
    throw jet::Error(jet::ErrorCategory::kInvalidArgument, "Overflow: " + text + " does not fit a 32-bit whole number");
  }
  return static_cast<int32_t>(rounded);
}

}  // namespace tallimo
