#include "app/settings.h"

#include "app/session.h"

#include <QSettings>

#include <algorithm>
#include <cmath>
#include <QString>

namespace tallimo {
namespace {

QString key(const char* name) { return QStringLiteral("Preferences/") + QString::fromLatin1(name); }

QString read(QSettings& store, const char* name, const char* fallback) {
  return store.value(key(name), QString::fromUtf8(fallback)).toString();
}

// An index as an older store may hold it: a whole number, or any number
// ("1.0", "2.5" rounded half to even as a conversion to an integer does),
// clamped to the options 0 .. option_count - 1; anything else reads as 0.
int16_t read_index(QSettings& store, const char* name, int option_count) {
  bool ok = false;
  const double value = read(store, name, "0").trimmed().toDouble(&ok);
  if (!ok || !std::isfinite(value)) return 0;
  const double whole = std::nearbyint(value);  // default mode: halves to even
  return static_cast<int16_t>(std::clamp(whole, 0.0, static_cast<double>(option_count - 1)));
}

// A flag: "True" / "False" in any letter case, or a number (non-zero is
// true); anything else reads as false.
bool read_flag(QSettings& store, const char* name) {
  const QString text = read(store, name, "0").trimmed();
  if (text.compare(QStringLiteral("True"), Qt::CaseInsensitive) == 0) return true;
  if (text.compare(QStringLiteral("False"), Qt::CaseInsensitive) == 0) return false;
  bool ok = false;
  const double value = text.toDouble(&ok);
  return ok && value != 0.0;
}

}  // namespace

void Load_Settings(Settings& settings, QSettings& store) {
  settings.Baud_Rate = read_index(store, "Baud_Rate", kBaudRateOptions);
  settings.Com_Port = read_index(store, "Com_Port", kComPortOptions);
  settings.Orvex_Location = read(store, "Orvex_Location", kDefaultOrvexLocation).toStdString();
  settings.Auto_Min = read_flag(store, "Auto_Min");
  settings.Auto_Print = read_flag(store, "Auto_Print");
  settings.Scanner = read(store, "Scanner", kScannerOrvexR50).toStdString();
  bool ok = false;
  const int days = read(store, "History_Keep_Days", "").trimmed().toInt(&ok);
  settings.History_Keep_Days = ok ? days : kDefaultHistoryKeepDays;
}

void Save_Settings(const Settings& settings, QSettings& store) {
  store.setValue(key("Baud_Rate"), QString::number(settings.Baud_Rate));
  store.setValue(key("Com_Port"), QString::number(settings.Com_Port));
  store.setValue(key("Orvex_Location"), QString::fromStdString(settings.Orvex_Location));
  store.setValue(key("Auto_Min"), QString::fromLatin1(settings.Auto_Min ? "1" : "0"));
  store.setValue(key("Auto_Print"), QString::fromLatin1(settings.Auto_Print ? "1" : "0"));
  store.setValue(key("Scanner"), QString::fromStdString(settings.Scanner));
  // Our own key is written only when it differs from its default, so the
  // group holds the six documented keys unless the user chose otherwise.
  if (settings.History_Keep_Days == kDefaultHistoryKeepDays) {
    store.remove(key("History_Keep_Days"));
  } else {
    store.setValue(key("History_Keep_Days"), QString::number(settings.History_Keep_Days));
  }
  store.sync();
}

void Load_Settings(Session& session) {
  QSettings store(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Tallimo"), QStringLiteral("Tallimo"));
  Load_Settings(session.settings(), store);
}

void Save_Settings(Session& session) {
  QSettings store(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Tallimo"), QStringLiteral("Tallimo"));
  Save_Settings(session.settings(), store);
}

long baud_rate_of_index(int index) {
  switch (index) {
    case 1: return 38400;
    case 2: return 19200;
    default: return 115200;
  }
}

}  // namespace tallimo
