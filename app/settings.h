// The six user settings, kept in the per-user settings store under the
// application "Tallimo", group "Preferences", every value stored as a string.
#pragma once

#include <cstdint>
#include <string>

class QSettings;

namespace tallimo {

class Session;

inline constexpr const char* kScannerOrvexR50 = "Orvex R50 Scanner";
inline constexpr const char* kScannerPalm = "Palm Barcode Scanner";
inline constexpr const char* kScannerWindowsMobile = "Windows Mobile Scanner";
inline constexpr const char* kDefaultOrvexLocation = "C:\\Ledgra40\\posdata\\products.mdb";

struct Settings {
  int16_t Baud_Rate = 0;  // 0 = 115200, 1 = 38400, 2 = 19200
  int16_t Com_Port = 0;   // 0 = "COM 1" .. 7 = "COM 8"
  std::string Orvex_Location = kDefaultOrvexLocation;
  bool Auto_Min = false;
  bool Auto_Print = false;
  std::string Scanner = kScannerOrvexR50;
};

// Reads the six keys in order, each with its default. An index that is not a
// whole number in 16-bit range reads as its default (start-up never fails on
// a damaged store); a flag reads true when it is a non-zero number.
void Load_Settings(Settings& settings, QSettings& store);
// Reads the session's settings from the per-user store (application "Tallimo").
void Load_Settings(Session& session);

// Writes the six keys in the same order: indexes as decimal digits, flags as
// "1" or "0", texts as they are.
void Save_Settings(const Settings& settings, QSettings& store);
void Save_Settings(Session& session);

// The line speed in bit/s of a baud-rate index (115200 for an unknown index).
long baud_rate_of_index(int index);

}  // namespace tallimo
