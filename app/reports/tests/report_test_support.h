// Shared by the report tests: a shop whose Compare table is filled directly
// (as the compare posting leaves it) and a user interface that records the
// status steps.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "app/tests/shop_fixture.h"

namespace tallimo::testing {

struct Counted {
  std::string item;
  double scanner_qty;
  double orvex_qty = 0;
  std::string description = "Counted";
  double cost = 1.5;
  std::string location = "A12";
};

class StatusUi : public RecordingUi {
 public:
  void Update_Status(const std::string& msg, long count, long total) override {
    steps.push_back(msg + " " + std::to_string(count) + "/" + std::to_string(total));
  }
  std::vector<std::string> steps;
};

class ReportShopTest : public ShopTest {
 protected:
  void SetUp() override;
  // products.mdb with `products`, POS_Scanner.MDB with `counted` in Compare,
  // and the scanner database open as the program holds it.
  void make_report_shop(const std::vector<demo::Product>& products, const std::vector<Counted>& counted);
  // Item_Number values of a table of the report database, sorted.
  std::vector<std::string> items(const std::string& report, const std::string& table) const;

  StatusUi status_ui_;
};

}  // namespace tallimo::testing
