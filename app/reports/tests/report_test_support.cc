#include "report_test_support.h"

#include <algorithm>

#include "app/data/scanner_database.h"
#include "jet/dao.h"

namespace tallimo::testing {

void ReportShopTest::SetUp() {
  ShopTest::SetUp();
  session().set_ui(status_ui_);
}

void ReportShopTest::make_report_shop(const std::vector<demo::Product>& products, const std::vector<Counted>& counted) {
  make_shop(products, {});
  {
    auto scanner = jet::dao::Database::open(scanner_path());
    auto rs = scanner->open_recordset("Compare");
    for (const Counted& c : counted) {
      rs->add_new();
      rs->set_field("Scanner_Qty", jet::Value(c.scanner_qty));
      rs->set_field("Orvex_Qty", jet::Value(c.orvex_qty));
      rs->set_field("Item_Number", c.item);
      rs->set_field("Description", c.description);
      rs->set_field("Vendor_Code", "ACME");
      rs->set_field("Standard_Price", jet::Value(2.5));
      rs->set_field("Current_Cost", jet::Value(c.cost));
      rs->set_field("Location", c.location);
      rs->set_field("List_Price", jet::Value(3.0));
      rs->update();
    }
    rs->close();
    scanner->close();
  }
  ASSERT_TRUE(Open_Scanner_Data_File(session()));
}

std::vector<std::string> ReportShopTest::items(const std::string& report, const std::string& table) const {
  std::vector<std::string> out;
  for (auto& row : mdb_export(report, table)) out.push_back(row["Item_Number"]);
  std::sort(out.begin(), out.end());
  return out;
}

}  // namespace tallimo::testing
