// Text encodings and the text forms of values.
#include <gtest/gtest.h>

#include "jet/value_text.h"
#include "text_codec.h"

namespace jet {
namespace {

std::string jet_text(std::vector<uint8_t> bytes) {
  std::string out;
  append_jet_text(bytes.data(), bytes.size(), out);
  return out;
}

TEST(TextCodecTest, UncompressedUcs2) {
  EXPECT_EQ(jet_text({'A', 0, 'b', 0}), "Ab");
  EXPECT_EQ(jet_text({0xE9, 0x00, 0xAC, 0x20}), "\xC3\xA9\xE2\x82\xAC");  // é €
  EXPECT_EQ(jet_text({'A', 0, 'b'}), "A");                                // odd byte ignored
  EXPECT_EQ(jet_text({}), "");
}

TEST(TextCodecTest, CompressedRunsSwitchOnZeroBytes) {
  // FF FE, "ab" one byte each, 00 switch, "€" as two bytes, 00 switch, "c".
  EXPECT_EQ(jet_text({0xFF, 0xFE, 'a', 'b', 0x00, 0xAC, 0x20, 0x00, 'c'}), "ab\xE2\x82\xAC" "c");
  // Ending in two-byte mode, and a string that is only the marker.
  EXPECT_EQ(jet_text({0xFF, 0xFE, 'x', 0x00, 0x01, 0x04}), "x\xD0\x81");  // U+0401
  EXPECT_EQ(jet_text({0xFF, 0xFE}), "");
  // A dangling half character at the end is dropped, not read past.
  EXPECT_EQ(jet_text({0xFF, 0xFE, 'x', 0x00, 0x41}), "x");
}

TEST(TextCodecTest, SurrogatePairsAndStrays) {
  // U+1F600 as D83D DE00.
  EXPECT_EQ(jet_text({0x3D, 0xD8, 0x00, 0xDE}), "\xF0\x9F\x98\x80");
  // A lone high surrogate followed by a letter, and a lone low one.
  EXPECT_EQ(jet_text({0x3D, 0xD8, 'a', 0}), "\xEF\xBF\xBD" "a");
  EXPECT_EQ(jet_text({0x00, 0xDE}), "\xEF\xBF\xBD");
}

TEST(TextCodecTest, Utf8ToUtf16RoundTrip) {
  for (std::string s : {std::string("plain"), std::string("\xC3\xA9t\xC3\xA9 \xE2\x82\xAC 5"),
                        std::string("\xF0\x9F\x98\x80!"), std::string()}) {
    std::string utf16;
    append_utf8_as_utf16le(s, utf16);
    EXPECT_EQ(utf16le_to_utf8(reinterpret_cast<const uint8_t*>(utf16.data()), utf16.size()), s);
  }
  std::string bad;
  append_utf8_as_utf16le("a\xC3", bad);  // cut sequence
  EXPECT_EQ(utf16le_to_utf8(reinterpret_cast<const uint8_t*>(bad.data()), bad.size()), "a\xEF\xBF\xBD");
}

TEST(ValueTextTest, NumbersAndMoney) {
  EXPECT_EQ(value_text(Value{}), "");
  EXPECT_EQ(value_text(true), "1");
  EXPECT_EQ(value_text(int16_t{-32768}), "-32768");
  EXPECT_EQ(value_text(uint8_t{255}), "255");
  EXPECT_EQ(value_text(Currency{35000}), "3.5000");
  EXPECT_EQ(value_text(Currency{-1}), "-0.0001");
  EXPECT_EQ(value_text(Currency{INT64_MIN}), "-922337203685477.5808");
  EXPECT_EQ(value_text(444.555), "444.555");
  EXPECT_EQ(value_text(1.5f), "1.5");
}

TEST(ValueTextTest, DecimalsKeepTheirScale) {
  Decimal d;
  d.scale = 3;
  d.magnitude = {12340, 0, 0};
  d.negative = true;
  EXPECT_EQ(value_text(d), "-12.340");
  d.magnitude = {5, 0, 0};
  EXPECT_EQ(value_text(d), "-0.005");
  d.negative = false;
  d.scale = 0;
  d.magnitude = {0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF};
  EXPECT_EQ(value_text(d), "79228162514264337593543950335");
  d.magnitude = {0, 0, 0};
  d.negative = true;
  EXPECT_EQ(value_text(d), "0");
}

TEST(ValueTextTest, DatesCountFrom1899AndRoundToTheSecond) {
  EXPECT_EQ(value_text(DateTime{0}), "1899-12-30 00:00:00");
  EXPECT_EQ(value_text(DateTime{2.25}), "1900-01-01 06:00:00");
  EXPECT_EQ(value_text(DateTime{27293}), "1974-09-21 00:00:00");
  // Before the epoch the fraction is still the time of day.
  EXPECT_EQ(value_text(DateTime{-1.25}), "1899-12-29 06:00:00");
  // 23:59:59.7 rounds up into the next day.
  EXPECT_EQ(value_text(DateTime{1 + 86399.7 / 86400}), "1900-01-01 00:00:00");
  CivilTime c{2023, 11, 18, 22, 13, 20};
  CivilTime back = to_civil(from_civil(c));
  EXPECT_EQ(back.year, 2023);
  EXPECT_EQ(back.day, 18);
  EXPECT_EQ(back.second, 20);
}

TEST(ValueTextTest, GuidAsAccessShowsIt) {
  Guid g;
  for (int i = 0; i < 16; ++i) g.bytes[i] = static_cast<uint8_t>(i);
  EXPECT_EQ(value_text(g), "{03020100-0504-0706-0809-0A0B0C0D0E0F}");
  EXPECT_EQ(value_text(Bytes{{0xAB, 0x01}}), "AB01");
}

}  // namespace
}  // namespace jet
