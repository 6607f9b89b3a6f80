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
// Any phone's browser, through the page the program serves on the shop's network.
inline constexpr const char* kScannerPhone = "Phone Scanner";
inline constexpr const char* kDefaultOrvexLocation = "C:\\Ledgra40\\posdata\\products.mdb";

// The baud-rate options (115200, 38400, 19200) and the ports ("COM 1" to
// "COM 8") the two indexes choose from.
inline constexpr int kBaudRateOptions = 3;
inline constexpr int kComPortOptions = 8;

inline constexpr int kDefaultHistoryKeepDays = 365;

struct Settings {
  int16_t Baud_Rate = 0;  // 0 = 115200, 1 = 38400, 2 = 19200
  int16_t Com_Port = 0;   // 0 = "COM 1" .. 7 = "COM 8"
  std::string Orvex_Location = kDefaultOrvexLocation;
  bool Auto_Min = false;
  bool Auto_Print = false;
  std::string Scanner = kScannerOrvexR50;
  // Our own key: posting-history runs older than this many days are pruned
  // (app/history/journal.h); 0 or less keeps every run.
  int History_Keep_Days = kDefaultHistoryKeepDays;
};

// Reads the six keys in order (then our own "History_Keep_Days", a whole
// number of days; anything else reads as the default), each with its default, reading sensibly what
// an older or hand-edited store may hold; start-up never fails on it. An
// index may be any number ("1.0" reads 1) and is clamped to its options
// (Baud_Rate "7" reads 2, Com_Port "-1" reads 0); one that is not a number
// reads 0. A flag reads true for "True" (any letter case) or a non-zero
// number, false for anything else.
void Load_Settings(Settings& settings, QSettings& store);
// Reads the session's settings from the per-user store (application "Tallimo").
void Load_Settings(Session& session);

// Writes the six keys in the same order (then "History_Keep_Days", only when it is not the default): indexes as decimal digits, flags as
// "1" or "0", texts as they are.
void Save_Settings(const Settings& settings, QSettings& store);
void Save_Settings(Session& session);

// The line speed in bit/s of a baud-rate index (115200 for an unknown index).
long baud_rate_of_index(int index);

}  // namespace tallimo
