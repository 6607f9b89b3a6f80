// Opening the point-of-sale products database, with the user's help when it
// cannot be found.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "app/data/products_database.h"
#include "jet/dao.h"
#include "app/settings.h"
#include "app/tests/shop_fixture.h"

namespace tallimo::testing {
namespace {

class ProductsDatabaseTest : public ShopTest {
 protected:
  void SetUp() override {
    ShopTest::SetUp();
    make_shop({product("A", 1)}, {});
  }
};

const char* kUnableToLocate = "Unable to locate the Tallimofiles.\r\n\r\nPlease locate it for me.";
const char* kIncorrectlyConfigured = "Program is incorrectly configured. Please contact technical support for help.";

TEST_F(ProductsDatabaseTest, OpensTheFileWithThePassword) {
  ASSERT_TRUE(Open_Orvex_DataBase(session()));
  auto rs = Orvex_Database(session())->open_recordset("Select * From PRODUCT1");
  EXPECT_FALSE(rs->eof());
  rs->close();
  Close_Orvex_DataBase(session());
  EXPECT_EQ(Orvex_Database(session()), nullptr);
  EXPECT_TRUE(ui_.boxes.empty());
}

TEST_F(ProductsDatabaseTest, AMissingFileChosenInThePreferencesIsOpened) {
  session().settings().Orvex_Location = dir_ + "/moved.mdb";
  ui_.on_preferences = [this] { session().settings().Orvex_Location = products_path(); };
  ASSERT_TRUE(Open_Orvex_DataBase(session()));
  EXPECT_EQ(ui_.boxes, std::vector<std::string>{kUnableToLocate});
  EXPECT_EQ(ui_.preferences_shown, 1);
  EXPECT_FALSE(session().program_ended());
  // The settings were saved after the dialog.
  std::ifstream store(dir_ + "/Tallimo/Tallimo.conf");
  std::string text((std::istreambuf_iterator<char>(store)), {});
  EXPECT_NE(text.find("products.mdb"), std::string::npos) << text;
}

TEST_F(ProductsDatabaseTest, AFileStillMissingAfterThePreferencesEndsTheProgram) {
  session().settings().Orvex_Location = dir_ + "/moved.mdb";
  EXPECT_FALSE(Open_Orvex_DataBase(session()));
  EXPECT_EQ(ui_.boxes, (std::vector<std::string>{kUnableToLocate, kIncorrectlyConfigured}));
  EXPECT_TRUE(session().program_ended());
  EXPECT_EQ(Orvex_Database(session()), nullptr);
}

TEST_F(ProductsDatabaseTest, AWrongPasswordOrAFileThatIsNotJetIsReportedOnce) {
  {
    auto other = jet::dao::Database::create(dir_ + "/other.mdb", std::string(jet::dao::kLangGeneral) + ";pwd=secret");
    other->close();
  }
  session().settings().Orvex_Location = dir_ + "/other.mdb";
  EXPECT_FALSE(Open_Orvex_DataBase(session()));
  EXPECT_EQ(Orvex_Database(session()), nullptr);
  { std::ofstream(dir_ + "/text.mdb") << "plain text, not a database"; }
  session().settings().Orvex_Location = dir_ + "/text.mdb";
  EXPECT_FALSE(Open_Orvex_DataBase(session()));
  EXPECT_EQ(reported_routines(), (std::vector<std::string>{"Open_Orvex_DataBase", "Open_Orvex_DataBase"}));
  EXPECT_FALSE(session().program_ended());
}

}  // namespace
}  // namespace tallimo::testing
