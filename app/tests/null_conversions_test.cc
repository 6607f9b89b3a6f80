#include "app/null_conversions.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "jet/error.h"
#include "jet/value_conversions.h"

namespace tallimo {
namespace {

using jet::Currency;
using jet::Value;

int64_t cur(const Value& v) { return Null_To_Currency(v).ten_thousandths; }

TEST(NullConversions, CurrencyFromNullEmptyTextAndNumbers) {
  EXPECT_EQ(cur(Value{}), 0);
  EXPECT_EQ(cur(Value{std::string()}), 0);
  EXPECT_EQ(cur(Value{std::string("abc")}), 0);
  EXPECT_EQ(cur(Value{std::string("12abc")}), 0);
  EXPECT_EQ(cur(Value{std::string(" 2.500 ")}), 25000);
  EXPECT_EQ(cur(Value{std::string("-3")}), -30000);
  EXPECT_EQ(cur(Value{std::string("1e3")}), 10000000);
  EXPECT_EQ(cur(Value{2.5}), 25000);
  EXPECT_EQ(cur(Value{int32_t{17}}), 170000);
  EXPECT_EQ(cur(Value{Currency{123456}}), 123456);
  EXPECT_EQ(cur(Value{true}), -10000);
}

TEST(NullConversions, CurrencyRoundsHalvesToEvenAtFourDecimals) {
  EXPECT_EQ(cur(Value{std::string("0.00005")}), 0);
  EXPECT_EQ(cur(Value{std::string("0.00015")}), 2);
  EXPECT_EQ(cur(Value{std::string("0.000151")}), 2);
  EXPECT_EQ(cur(Value{std::string("-0.00025")}), -2);
  EXPECT_EQ(cur(Value{0.12345}), 1234);  // 0.12345 as a double is just below the half
}

jet::ErrorCategory category_of(const std::function<void()>& f) {
  try {
    f();
  } catch (const jet::Error& e) {
    return e.category();
  }
  ADD_FAILURE() << "no error";
  return jet::ErrorCategory::kInvalidArgument;
}

TEST(NullConversions, AmountsBeyondTheCurrencyRangeAreOverflowNotZero) {
  // The edges are amounts; one step past them, in text or as a double, is
  // Jet's overflow error.
  EXPECT_EQ(cur(Value{std::string("922337203685477.5807")}), INT64_MAX);
  EXPECT_EQ(cur(Value{std::string("-922337203685477.5808")}), INT64_MIN);
  for (const Value& v : {Value{std::string("922337203685477.5808")}, Value{std::string("99999999999999999999")},
                         Value{1e15}, Value{-1e16}, Value{5e15f}, Value{std::nan("")}}) {
    EXPECT_EQ(category_of([&] { Null_To_Currency(v); }), jet::ErrorCategory::kOverflow) << value_to_text(v);
  }
  EXPECT_EQ(category_of([] { Null_To_Long(Value{std::string("2147483648")}); }), jet::ErrorCategory::kOverflow);
  EXPECT_EQ(category_of([] { Null_To_Long(Value{std::string("TRUE")}); }), jet::ErrorCategory::kInvalidArgument);
}

TEST(NullConversions, TextTrimsAndFormats) {
  EXPECT_EQ(Null_To_Text(Value{}), "");
  EXPECT_EQ(Null_To_Text(Value{std::string("  RED APPLE  ")}), "RED APPLE");
  EXPECT_EQ(Null_To_Text(Value{Currency{25000}}), "2.5");
  EXPECT_EQ(Null_To_Text(Value{Currency{-1}}), "-0.0001");
  EXPECT_EQ(Null_To_Text(Value{3.0}), "3");
  EXPECT_EQ(Null_To_Text(Value{0.25}), "0.25");
  EXPECT_EQ(Null_To_Text(Value{-0.0}), "0");
  // Numbers as CStr shows them: 15 significant digits for a double, 7 for a single.
  EXPECT_EQ(Null_To_Text(Value{0.1 + 0.2}), "0.3");
  EXPECT_EQ(Null_To_Text(Value{2.0 / 3}), "0.666666666666667");
  EXPECT_EQ(Null_To_Text(Value{1e16}), "1E+16");
  EXPECT_EQ(Null_To_Text(Value{0.1f + 0.2f}), "0.3");
  // ...while the amount of a double is taken from the double, not from its shorter text.
  EXPECT_EQ(Null_To_Currency(Value{123456789012.34567}).ten_thousandths, 1234567890123457);
  EXPECT_EQ(Null_To_Text(Value{false}), "False");
  EXPECT_EQ(Null_To_Text(Value{jet::DateTime{46363.0}}), "12/7/2026");
  EXPECT_EQ(Null_To_Text(Value{jet::DateTime{2.75}}), "1/1/1900 6:00:00 PM");
}

TEST(NullConversions, LongRoundsHalvesAwayAndRefusesNonNumbers) {
  EXPECT_EQ(Null_To_Long(Value{}), 0);
  EXPECT_EQ(Null_To_Long(Value{std::string("  ")}), 0);
  EXPECT_EQ(Null_To_Long(Value{std::string("2.5")}), 3);
  EXPECT_EQ(Null_To_Long(Value{-2.5}), -3);
  EXPECT_EQ(Null_To_Long(Value{Currency{14999}}), 1);
  EXPECT_EQ(Null_To_Long(Value{std::string("2147483647")}), 2147483647);
  EXPECT_THROW(Null_To_Long(Value{std::string("2147483648")}), jet::Error);
  EXPECT_THROW(Null_To_Long(Value{std::string("TRUE")}), jet::Error);
}

}  // namespace
}  // namespace tallimo
