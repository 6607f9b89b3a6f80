#include "app/null_conversions.h"

#include <gtest/gtest.h>

#include "jet/error.h"

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
  EXPECT_EQ(cur(Value{std::string("99999999999999999999")}), 0);  // beyond range: not a money amount
}

TEST(NullConversions, TextTrimsAndFormats) {
  EXPECT_EQ(Null_To_Text(Value{}), "");
  EXPECT_EQ(Null_To_Text(Value{std::string("  RED APPLE  ")}), "RED APPLE");
  EXPECT_EQ(Null_To_Text(Value{Currency{25000}}), "2.5");
  EXPECT_EQ(Null_To_Text(Value{Currency{-1}}), "-0.0001");
  EXPECT_EQ(Null_To_Text(Value{3.0}), "3");
  EXPECT_EQ(Null_To_Text(Value{0.1 + 0.2}), "0.3");
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
