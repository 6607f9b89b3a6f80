#include "jet/value_conversions.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>

#include "jet/error.h"

namespace jet {
namespace {

constexpr int64_t kMaxTenThousandths = std::numeric_limits<int64_t>::max();
constexpr int64_t kMinTenThousandths = std::numeric_limits<int64_t>::min();

// Runs `f`, expects the overflow error, returns its text.
template <class F>
std::string overflow_text(F f) {
  try {
    f();
  } catch (const Error& e) {
    EXPECT_EQ(e.category(), ErrorCategory::kOverflow) << e.what();
    return e.what();
  }
  ADD_FAILURE() << "no overflow raised";
  return {};
}

Currency parsed(std::string_view text) {
  Currency c{12345};
  EXPECT_TRUE(parse_currency(text, c)) << text;
  return c;
}

TEST(CurrencyRounding, HalvesGoToTheEvenNeighbour) {
  EXPECT_EQ(currency_from_double(0.00005).ten_thousandths, 0);
  EXPECT_EQ(currency_from_double(0.00035).ten_thousandths, 4);
  // A double is rounded as its product with 10000: 0.00015 * 10000 is
  // 1.4999999999999998, below the half.
  EXPECT_EQ(currency_from_double(0.00015).ten_thousandths, 1);
  EXPECT_EQ(currency_from_double(-0.00025).ten_thousandths, -2);
  EXPECT_EQ(currency_from_double(2.5).ten_thousandths, 25000);
  EXPECT_EQ(currency_from_double(-1.23456).ten_thousandths, -12346);
  // Text is rounded exactly, digit by digit.
  EXPECT_EQ(parsed("0.00005").ten_thousandths, 0);
  EXPECT_EQ(parsed("0.00015").ten_thousandths, 2);
  EXPECT_EQ(parsed("0.000250000").ten_thousandths, 2);
  EXPECT_EQ(parsed("0.0002500001").ten_thousandths, 3);
  EXPECT_EQ(parsed("-0.00035").ten_thousandths, -4);
  EXPECT_EQ(parsed("0.00004999").ten_thousandths, 0);
  EXPECT_EQ(parsed("0.000009").ten_thousandths, 0);
  EXPECT_EQ(currency_mul(Currency{5}, 0.5).ten_thousandths, 2);
  EXPECT_EQ(currency_mul(Currency{7}, 0.5).ten_thousandths, 4);
  EXPECT_EQ(currency_mul(Currency{30000}, -2.5).ten_thousandths, -75000);
}

TEST(CurrencyText, ReadsTheFormsPeopleWrite) {
  EXPECT_EQ(parsed("12.5").ten_thousandths, 125000);
  EXPECT_EQ(parsed("  -3 ").ten_thousandths, -30000);
  EXPECT_EQ(parsed("+.5").ten_thousandths, 5000);
  EXPECT_EQ(parsed("7.").ten_thousandths, 70000);
  EXPECT_EQ(parsed("007.0100").ten_thousandths, 70100);
  EXPECT_EQ(parsed("1e3").ten_thousandths, 10000000);
  EXPECT_EQ(parsed("15E-1").ten_thousandths, 15000);
  EXPECT_EQ(parsed("0e999").ten_thousandths, 0);
  EXPECT_EQ(parsed("1e-99999999").ten_thousandths, 0);
  EXPECT_EQ(parsed("-0").ten_thousandths, 0);
  for (const char* bad : {"", "  ", "abc", "1,5", "0x10", "1e", "1e+", "--1", ".", "1.2.3", "12a", "- 1", "$5"}) {
    Currency c{99};
    EXPECT_FALSE(parse_currency(bad, c)) << bad;
    EXPECT_EQ(c.ten_thousandths, 99) << "a refused text leaves the target alone: " << bad;
  }
}

TEST(CurrencyRange, EdgesHoldAndOneStepBeyondOverflows) {
  EXPECT_EQ(parsed("922337203685477.5807").ten_thousandths, kMaxTenThousandths);
  EXPECT_EQ(parsed("-922337203685477.5808").ten_thousandths, kMinTenThousandths);
  EXPECT_EQ(parsed("922337203685477.58074999").ten_thousandths, kMaxTenThousandths);
  std::string t = overflow_text([] { parsed("922337203685477.5808"); });
  EXPECT_EQ(t.rfind("Overflow", 0), 0u) << t;
  EXPECT_NE(t.find("922337203685477.5808"), std::string::npos) << "names the value: " << t;
  overflow_text([] { parsed("922337203685477.58075"); });  // rounds up past the top
  overflow_text([] { parsed("-922337203685477.5809"); });
  overflow_text([] { parsed("1e15"); });
  overflow_text([] { parsed("99999999999999999999999"); });
  overflow_text([] { parsed("1e100000000"); });

  // The figures from the field: 1e15 and 5e15 must not become 0.
  overflow_text([] { currency_from_double(1e15); });
  overflow_text([] { currency_from_double(-5e15); });
  overflow_text([] { currency_from_double(1e16); });
  overflow_text([] { currency_from_double(std::nan("")); });
  overflow_text([] { currency_from_double(INFINITY); });
  overflow_text([] { currency_from_double(-INFINITY); });
  EXPECT_EQ(currency_from_double(9.2e14).ten_thousandths, 9200000000000000000);
  overflow_text([] { currency_from_double(922337203685477.5807); });  // the double is 2^63 / 10^4

  // Sums of stock values: 9e14 + 9e14 is an overflow, not a negative amount.
  Currency big = currency_from_double(9e14);
  overflow_text([&] { currency_add(big, big); });
  overflow_text([&] { currency_sub(Currency{-big.ten_thousandths}, big); });
  overflow_text([] { currency_sub(Currency{0}, Currency{kMinTenThousandths}); });
  EXPECT_EQ(currency_add(Currency{kMaxTenThousandths}, Currency{kMinTenThousandths}).ten_thousandths, -1);
  EXPECT_EQ(currency_sub(Currency{-1}, Currency{kMaxTenThousandths}).ten_thousandths, kMinTenThousandths);
  overflow_text([&] { currency_mul(big, 2.0); });
  overflow_text([] { currency_mul(Currency{1}, std::nan("")); });
  overflow_text([] { currency_mul(Currency{kMinTenThousandths}, -1.0); });
}

TEST(CurrencyText, WritesWithoutTrailingZeros) {
  EXPECT_EQ(currency_to_text(Currency{25000}), "2.5");
  EXPECT_EQ(currency_to_text(Currency{-30000}), "-3");
  EXPECT_EQ(currency_to_text(Currency{1}), "0.0001");
  EXPECT_EQ(currency_to_text(Currency{-1}), "-0.0001");
  EXPECT_EQ(currency_to_text(Currency{0}), "0");
  EXPECT_EQ(currency_to_text(Currency{kMinTenThousandths}), "-922337203685477.5808");
  EXPECT_EQ(currency_to_text(Currency{kMaxTenThousandths}), "922337203685477.5807");
  for (int64_t v : {int64_t{1}, int64_t{-99999}, int64_t{123456789}, kMaxTenThousandths, kMinTenThousandths}) {
    EXPECT_EQ(parsed(currency_to_text(Currency{v})).ten_thousandths, v);
  }
  EXPECT_DOUBLE_EQ(currency_to_double(Currency{-25000}), -2.5);
}

TEST(WholeNumbers, RoundHalfToEvenThenCheckTheRange) {
  EXPECT_EQ(to_byte(254.5), 254);
  EXPECT_EQ(to_byte(-0.5), 0);
  EXPECT_EQ(to_byte(255.4), 255);
  overflow_text([] { to_byte(255.5); });
  overflow_text([] { to_byte(-0.6); });
  EXPECT_EQ(to_integer(32767.4), 32767);
  EXPECT_EQ(to_integer(-32768.5), -32768);
  EXPECT_EQ(to_integer(1.5), 2);
  EXPECT_EQ(to_integer(2.5), 2);
  overflow_text([] { to_integer(32767.5); });
  overflow_text([] { to_integer(-32769); });
  EXPECT_EQ(to_long(-2147483648.5), -2147483648);
  EXPECT_EQ(to_long(2147483647.0), 2147483647);
  std::string t = overflow_text([] { to_long(2147483647.5); });
  EXPECT_NE(t.find("Long"), std::string::npos) << t;
  overflow_text([] { to_long(1e300); });
  overflow_text([] { to_long(std::nan("")); });
  overflow_text([] { to_integer(-INFINITY); });
}

TEST(FloatingPoint, NonFiniteAndOversizedValuesOverflow) {
  EXPECT_EQ(checked_double(-1.5), -1.5);
  overflow_text([] { checked_double(std::nan("")); });
  overflow_text([] { checked_double(INFINITY); });
  EXPECT_EQ(to_single(3.4e38), 3.4e38f);
  EXPECT_EQ(to_single(1e-50), 0.0f);  // underflow is not an overflow
  overflow_text([] { to_single(3.5e38); });
  overflow_text([] { to_single(-1e300); });
  overflow_text([] { to_single(std::nan("")); });
}

TEST(Dates, YearsOneHundredToNineThousandNineHundredNinetyNine) {
  EXPECT_TRUE(valid_date(-657434.0));          // 1 Jan 100
  EXPECT_TRUE(valid_date(-657434.99));         // 1 Jan 100, late evening
  EXPECT_FALSE(valid_date(-657435.0));         // 31 Dec 99
  EXPECT_TRUE(valid_date(2958465.999));        // 31 Dec 9999
  EXPECT_FALSE(valid_date(2958466.0));         // 1 Jan 10000
  EXPECT_FALSE(valid_date(std::nan("")));
  EXPECT_EQ(to_date(45000.25).days, 45000.25);
  overflow_text([] { to_date(3e6); });
  overflow_text([] { to_date(-INFINITY); });
}

TEST(ValueText, OneFormPerType) {
  EXPECT_EQ(value_to_text(Value{}), "");
  EXPECT_EQ(value_to_text(Value{true}), "True");
  EXPECT_EQ(value_to_text(Value{false}), "False");
  EXPECT_EQ(value_to_text(Value{uint8_t{255}}), "255");
  EXPECT_EQ(value_to_text(Value{int16_t{-32768}}), "-32768");
  EXPECT_EQ(value_to_text(Value{int32_t{-7}}), "-7");
  EXPECT_EQ(value_to_text(Value{Currency{-12500}}), "-1.25");
  EXPECT_EQ(value_to_text(Value{std::string("a b ")}), "a b ");

  EXPECT_EQ(value_to_text(Value{-0.0}), "0");
  EXPECT_EQ(value_to_text(Value{0.1}), "0.1");
  EXPECT_EQ(value_to_text(Value{0.1 + 0.2}), "0.3");  // 15 significant digits, as CStr shows it
  EXPECT_EQ(value_to_text(Value{1.0 / 3}), "0.333333333333333");
  EXPECT_EQ(value_to_text(Value{-2.0 / 3}), "-0.666666666666667");  // rounded, not cut
  EXPECT_EQ(value_to_text(Value{100000.0}), "100000");
  EXPECT_EQ(value_to_text(Value{-444.555}), "-444.555");
  EXPECT_EQ(value_to_text(Value{1.1 * 3}), "3.3");
  EXPECT_EQ(value_to_text(Value{123456789.12345678}), "123456789.123457");
  EXPECT_EQ(value_to_text(Value{999999999999999.0}), "999999999999999");
  EXPECT_EQ(value_to_text(Value{999999999999999.9}), "1E+15");  // the rounding carries into the exponent
  EXPECT_EQ(value_to_text(Value{1e15}), "1E+15");
  EXPECT_EQ(value_to_text(Value{123456789012345678.0}), "1.23456789012346E+17");
  EXPECT_EQ(value_to_text(Value{-1.5e300}), "-1.5E+300");
  EXPECT_EQ(value_to_text(Value{0.00001}), "0.00001");
  EXPECT_EQ(value_to_text(Value{0.000012345678901234567}), "0.0000123456789012346");
  EXPECT_EQ(value_to_text(Value{1.5e-7}), "1.5E-07");
  EXPECT_EQ(value_to_text(Value{5e-324}), "4.94065645841247E-324");
  EXPECT_EQ(value_to_text(Value{0.1f}), "0.1");  // 7 digits of the single
  EXPECT_EQ(value_to_text(Value{1.1f * 3}), "3.3");
  EXPECT_EQ(value_to_text(Value{-0.0f}), "0");
  EXPECT_EQ(value_to_text(Value{1234567.0f}), "1234567");
  EXPECT_EQ(value_to_text(Value{12345678.0f}), "1.234568E+07");
  EXPECT_EQ(value_to_text(Value{16777216.0f}), "1.677722E+07");
  EXPECT_EQ(value_to_text(Value{3.4028235e38f}), "3.402823E+38");
  // Values of 15 significant digits or fewer read back exactly.
  for (double d : {0.1, 1e-300, 123456.789e10, -2.2250738585072e-308, 1.79769313486231e308}) {
    EXPECT_EQ(std::strtod(value_to_text(Value{d}).c_str(), nullptr), d) << value_to_text(Value{d});
  }

  EXPECT_EQ(value_to_text(Value{DateTime{45000.0}}), "3/15/2023");
  EXPECT_EQ(value_to_text(Value{DateTime{45000.75}}), "3/15/2023 6:00:00 PM");
  EXPECT_EQ(value_to_text(Value{DateTime{45000.0 + 1.0 / 24}}), "3/15/2023 1:00:00 AM");
  EXPECT_EQ(value_to_text(Value{DateTime{45000.5}}), "3/15/2023 12:00:00 PM");
  EXPECT_EQ(value_to_text(Value{DateTime{0.5208333333333334}}), "12:30:00 PM");
  EXPECT_EQ(value_to_text(Value{DateTime{-1.25}}), "12/29/1899 6:00:00 AM");
  EXPECT_EQ(value_to_text(Value{DateTime{-657434.0}}), "1/1/100");
  EXPECT_EQ(value_to_text(Value{DateTime{2958465.0}}), "12/31/9999");
}

}  // namespace
}  // namespace jet
