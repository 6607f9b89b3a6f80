#include "app/settings.h"

#include <gtest/gtest.h>

#include <QSettings>
#include <QTemporaryDir>

namespace tallimo {
namespace {

class SettingsTest : public ::testing::Test {
 protected:
  QTemporaryDir dir_;
  QString path() const { return dir_.filePath("tallimo.ini"); }
};

TEST_F(SettingsTest, EmptyStoreGivesDefaultsAndSavingWritesAllSixKeys) {
  QSettings store(path(), QSettings::IniFormat);
  Settings s;
  s.Baud_Rate = 2;
  s.Auto_Min = true;
  Load_Settings(s, store);
  EXPECT_EQ(s.Baud_Rate, 0);
  EXPECT_EQ(baud_rate_of_index(s.Baud_Rate), 115200);
  EXPECT_EQ(s.Com_Port, 0);
  EXPECT_EQ(s.Orvex_Location, "C:\\Ledgra40\\posdata\\products.mdb");
  EXPECT_FALSE(s.Auto_Min);
  EXPECT_FALSE(s.Auto_Print);
  EXPECT_EQ(s.Scanner, "Orvex R50 Scanner");

  Save_Settings(s, store);
  QSettings reread(path(), QSettings::IniFormat);
  reread.beginGroup("Preferences");
  EXPECT_EQ(reread.childKeys().size(), 6);
  EXPECT_EQ(reread.value("Baud_Rate").toString(), "0");
  EXPECT_EQ(reread.value("Auto_Print").toString(), "0");
  EXPECT_EQ(reread.value("Scanner").toString(), "Orvex R50 Scanner");
}

TEST_F(SettingsTest, RoundTripAndStoredForms) {
  {
    QSettings store(path(), QSettings::IniFormat);
    Settings s;
    s.Baud_Rate = 1;
    s.Com_Port = 7;
    s.Orvex_Location = "/srv/pos/products.mdb";
    s.Auto_Min = true;
    s.Auto_Print = true;
    s.Scanner = "Windows Mobile Scanner";
    Save_Settings(s, store);
  }
  QSettings store(path(), QSettings::IniFormat);
  EXPECT_EQ(store.value("Preferences/Com_Port").toString(), "7");
  EXPECT_EQ(store.value("Preferences/Auto_Min").toString(), "1");
  Settings s;
  Load_Settings(s, store);
  EXPECT_EQ(s.Baud_Rate, 1);
  EXPECT_EQ(s.Com_Port, 7);
  EXPECT_EQ(s.Orvex_Location, "/srv/pos/products.mdb");
  EXPECT_TRUE(s.Auto_Min);
  EXPECT_TRUE(s.Auto_Print);
  EXPECT_EQ(s.Scanner, "Windows Mobile Scanner");
}

TEST_F(SettingsTest, DamagedValuesNeverStopStartUp) {
  QSettings store(path(), QSettings::IniFormat);
  store.setValue("Preferences/Baud_Rate", "fast");
  store.setValue("Preferences/Com_Port", "99999");
  store.setValue("Preferences/Auto_Min", "-1");
  store.setValue("Preferences/Auto_Print", "yes");
  Settings s;
  Load_Settings(s, store);
  EXPECT_EQ(s.Baud_Rate, 0);
  EXPECT_EQ(s.Com_Port, 0);
  EXPECT_TRUE(s.Auto_Min);     // a non-zero number reads as true
  EXPECT_FALSE(s.Auto_Print);  // not a number: the default
}

}  // namespace
}  // namespace tallimo
