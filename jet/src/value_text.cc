#include "jet/value_text.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace jet {
namespace {

// Days from 1970-01-01 to y-m-d, proleptic Gregorian (H. Hinnant's algorithm).
int64_t days_from_civil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void civil_from_days(int64_t z, int& y, int& m, int& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t yy = static_cast<int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(yy + (m <= 2));
}

const int64_t kJetEpoch = days_from_civil(1899, 12, 30);

template <class T>
void append_number(T v, std::string& out) {
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, r.ptr);
}

void append_u96(std::array<uint32_t, 3> m, std::string& digits) {
  // Repeated division by 10 of the 96-bit magnitude.
  char buf[40];
  int n = 0;
  do {
    uint64_t rem = 0;
    for (int i = 2; i >= 0; --i) {
      uint64_t cur = (rem << 32) | m[i];
      m[i] = static_cast<uint32_t>(cur / 10);
      rem = cur % 10;
    }
    buf[n++] = static_cast<char>('0' + rem);
  } while (m[0] | m[1] | m[2]);
  while (n > 0) digits.push_back(buf[--n]);
}

}  // namespace

CivilTime to_civil(DateTime t) {
  double days = t.days;
  if (!std::isfinite(days) || days > 3e6 || days < -3e6) days = 0;
  double whole = std::trunc(days);
  double frac = std::fabs(days - whole);
  int64_t secs = std::llround(frac * 86400.0);
  int64_t day = static_cast<int64_t>(whole);
  if (secs >= 86400) {
    secs -= 86400;
    day += days < 0 ? -1 : 1;
  }
  CivilTime c;
  civil_from_days(kJetEpoch + day, c.year, c.month, c.day);
  c.hour = static_cast<int>(secs / 3600);
  c.minute = static_cast<int>(secs / 60 % 60);
  c.second = static_cast<int>(secs % 60);
  return c;
}

DateTime from_civil(const CivilTime& c) {
  int64_t day = days_from_civil(c.year, c.month, c.day) - kJetEpoch;
  double frac = (c.hour * 3600.0 + c.minute * 60.0 + c.second) / 86400.0;
  return DateTime{day >= 0 ? day + frac : day - frac};
}

std::string decimal_text(const Decimal& d) {
  std::string digits;
  append_u96(d.magnitude, digits);
  std::string out;
  if (d.negative && digits != "0") out.push_back('-');
  if (d.scale > 0) {
    if (digits.size() <= d.scale) digits.insert(0, d.scale + 1 - digits.size(), '0');
    out.append(digits, 0, digits.size() - d.scale);
    out.push_back('.');
    out.append(digits, digits.size() - d.scale, std::string::npos);
  } else {
    out += digits;
  }
  return out;
}

void append_value_text(const Value& v, std::string& out) {
  std::visit(
      [&out](const auto& x) {
        using T = std::decay_t<decltype(x)>;
        if constexpr (std::is_same_v<T, std::monostate>) {
        } else if constexpr (std::is_same_v<T, bool>) {
          out.push_back(x ? '1' : '0');
        } else if constexpr (std::is_same_v<T, uint8_t> || std::is_same_v<T, int16_t> ||
                             std::is_same_v<T, int32_t>) {
          append_number(static_cast<int64_t>(x), out);
        } else if constexpr (std::is_same_v<T, Currency>) {
          int64_t v = x.ten_thousandths;
          uint64_t mag = v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
          if (v < 0) out.push_back('-');
          append_number(mag / 10000, out);
          char frac[8];
          std::snprintf(frac, sizeof frac, ".%04u", static_cast<unsigned>(mag % 10000));
          out += frac;
        } else if constexpr (std::is_same_v<T, float> || std::is_same_v<T, double>) {
          append_number(x, out);
        } else if constexpr (std::is_same_v<T, DateTime>) {
          CivilTime c = to_civil(x);
          char buf[48];
          std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", c.year, c.month, c.day, c.hour, c.minute,
                        c.second);
          out += buf;
        } else if constexpr (std::is_same_v<T, std::string>) {
          out += x;
        } else if constexpr (std::is_same_v<T, Bytes>) {
          static const char kHex[] = "0123456789ABCDEF";
          for (uint8_t b : x.data) {
            out.push_back(kHex[b >> 4]);
            out.push_back(kHex[b & 15]);
          }
        } else if constexpr (std::is_same_v<T, Guid>) {
          // Access shows the first three groups as little-endian numbers.
          const auto& b = x.bytes;
          char buf[48];
          std::snprintf(buf, sizeof buf, "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                        b[3], b[2], b[1], b[0], b[5], b[4], b[7], b[6], b[8], b[9], b[10], b[11], b[12], b[13],
                        b[14], b[15]);
          out += buf;
        } else if constexpr (std::is_same_v<T, Decimal>) {
          out += decimal_text(x);
        }
      },
      v);
}

std::string value_text(const Value& v) {
  std::string s;
  append_value_text(v, s);
  return s;
}

}  // namespace jet
