#include "app/null_conversions.h"

#include <cmath>

#include "jet/error.h"
#include "jet/value_conversions.h"

namespace tallimo {
namespace {

std::string trim_blanks(const std::string& text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  const auto last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

}  // namespace

jet::Currency Null_To_Currency(const jet::Value& value) {
  if (jet::is_null(value)) return {};
  if (const auto* c = std::get_if<jet::Currency>(&value)) return *c;
  if (const auto* d = std::get_if<double>(&value)) return jet::currency_from_double(*d);
  if (const auto* f = std::get_if<float>(&value)) return jet::currency_from_double(static_cast<double>(*f));
  if (const auto* b = std::get_if<bool>(&value)) return jet::Currency{*b ? -10000 : 0};
  if (std::holds_alternative<jet::DateTime>(value) || std::holds_alternative<jet::Guid>(value) ||
      std::holds_alternative<jet::Bytes>(value)) {
    return {};
  }
  // Whole numbers, decimals and text go through their text form.
  jet::Currency amount;
  if (!jet::parse_currency(jet::value_to_text(value), amount)) return {};
  return amount;
}

std::string Null_To_Text(const jet::Value& value) {
  if (jet::is_null(value)) return {};
  return trim_blanks(jet::value_to_text(value));
}

int32_t Null_To_Long(const jet::Value& value) {
  if (jet::is_null(value)) return 0;
  const std::string text = jet::value_to_text(value);
  if (trim_blanks(text).empty()) return 0;
  double number = 0;
  if (const auto* b = std::get_if<bool>(&value)) {
    number = *b ? -1 : 0;
  } else if (const auto* d = std::get_if<double>(&value)) {
    number = *d;
  } else if (const auto* f = std::get_if<float>(&value)) {
    number = *f;
  } else {
    jet::Currency amount;
    if (!jet::parse_currency(text, amount)) {
      throw jet::Error(jet::ErrorCategory::kInvalidArgument, "Type mismatch: \"" + text + "\" is not a whole number");
    }
    number = jet::currency_to_double(amount);
  }
  const double rounded = std::round(number);  // halves away from zero
  if (!(rounded >= -2147483648.0 && rounded <= 2147483647.0)) {
    jet::throw_overflow(text + " does not fit a 32-bit whole number");
  }
  return static_cast<int32_t>(rounded);
}

}  // namespace tallimo
