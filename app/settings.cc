#include "app/settings.h"

#include "app/session.h"

#include <QSettings>
#include <QString>

namespace tallimo {
namespace {

QString key(const char* name) { return QStringLiteral("Preferences/") + QString::fromLatin1(name); }

QString read(QSettings& store, const char* name, const char* fallback) {
  return store.value(key(name), QString::fromUtf8(fallback)).toString();
}

int16_t read_index(QSettings& store, const char* name) {
  bool ok = false;
  const int value = read(store, name, "0").trimmed().toInt(&ok);
  if (!ok || value < INT16_MIN || value > INT16_MAX) return 0;
  return static_cast<int16_t>(value);
}

bool read_flag(QSettings& store, const char* name) {
  bool ok = false;
  const double value = read(store, name, "0").trimmed().toDouble(&ok);
  return ok && value != 0.0;
}

}  // namespace

void Load_Settings(Settings& settings, QSettings& store) {
  settings.Baud_Rate = read_index(store, "Baud_Rate");
  settings.Com_Port = read_index(store, "Com_Port");
  settings.Orvex_Location = read(store, "Orvex_Location", kDefaultOrvexLocation).toStdString();
  settings.Auto_Min = read_flag(store, "Auto_Min");
  settings.Auto_Print = read_flag(store, "Auto_Print");
  settings.Scanner = read(store, "Scanner", kScannerOrvexR50).toStdString();
}

void Save_Settings(const Settings& settings, QSettings& store) {
  store.setValue(key("Baud_Rate"), QString::number(settings.Baud_Rate));
  store.setValue(key("Com_Port"), QString::number(settings.Com_Port));
  store.setValue(key("Orvex_Location"), QString::fromStdString(settings.Orvex_Location));
  store.setValue(key("Auto_Min"), QString::fromLatin1(settings.Auto_Min ? "1" : "0"));
  store.setValue(key("Auto_Print"), QString::fromLatin1(settings.Auto_Print ? "1" : "0"));
  store.setValue(key("Scanner"), QString::fromStdString(settings.Scanner));
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
