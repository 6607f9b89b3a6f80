// Breaking bulk packages open for a subtraction that exceeds the stock.
#include <gtest/gtest.h>

#include "jet/error.h"
#include "app/posting/posting.h"
#include "app/tests/shop_fixture.h"

namespace tallimo::testing {
namespace {

demo::Product single(const std::string& code, std::optional<double> stock, const std::string& bulk,
                     std::optional<double> per_package) {
  auto p = product(code, stock);
  p.bulk_code = bulk;
  p.bulk_qty = per_package;
  return p;
}

class BulkBreakdownTest : public ShopTest {};

TEST_F(BulkBreakdownTest, WorkedExampleAndTheListedShortfalls) {
  make_shop({single("WORKED", 3, "WCASE", 12), product("WCASE", 2),        // 3 - 5: one case
             single("THIRTEEN", 0, "TCASE", 12), product("TCASE", 5),      // S 13: N 2
             single("ONE-PACK", 0, "OCASE", 12), product("OCASE", 3),      // S = K: N 1
             single("EXACT", 0, "ECASE", 12), product("ECASE", 2),         // B = N
             single("SHORT", 0, "SCASE", 12), product("SCASE", 1),         // B 1, N 2
             single("PLAIN", 3, "", std::nullopt)},
            {scan(kSubtractInventory, "WORKED", 5), scan(kSubtractInventory, "THIRTEEN", 13),
             scan(kSubtractInventory, "ONE-PACK", 12), scan(kSubtractInventory, "EXACT", 13),
             scan(kSubtractInventory, "SHORT", 20), scan(kSubtractInventory, "PLAIN", 5)});
  post();
  auto p = product1();
  EXPECT_EQ(p["WCASE"]["Inventory Qty"], "1");
  EXPECT_EQ(p["WORKED"]["Inventory Qty"], "10");  // 3 + 12 - 5
  EXPECT_EQ(p["TCASE"]["Inventory Qty"], "3");
  EXPECT_EQ(p["THIRTEEN"]["Inventory Qty"], "11");  // 24 - 13
  EXPECT_EQ(p["OCASE"]["Inventory Qty"], "2");
  EXPECT_EQ(p["ONE-PACK"]["Inventory Qty"], "0");
  EXPECT_EQ(p["ECASE"]["Inventory Qty"], "0");
  EXPECT_EQ(p["EXACT"]["Inventory Qty"], "11");  // N x K - S
  EXPECT_EQ(p["SCASE"]["Inventory Qty"], "0");
  EXPECT_EQ(p["SHORT"]["Inventory Qty"], "-8");  // 12 - 20
  EXPECT_EQ(p["PLAIN"]["Inventory Qty"], "-2");
  EXPECT_TRUE(scanner_data().empty());
}

TEST_F(BulkBreakdownTest, ABulkCodeNamingNoProductStillSubtracts) {
  make_shop({single("ORPHAN", 3, "GONE", 12), single("SELF", 2, "SELF", 6)},
            {scan(kSubtractInventory, "ORPHAN", 5), scan(kSubtractInventory, "SELF", 3)});
  post();
  EXPECT_EQ(stock("ORPHAN"), "-2");
  EXPECT_EQ(stock("SELF"), "-1");  // a product that is its own bulk product
  EXPECT_TRUE(scanner_data().empty());
  EXPECT_TRUE(reported_routines().empty());
}

TEST_F(BulkBreakdownTest, DeeperLevelsBreakTheirOwnBulkProducts) {
  // A pallet holds 10 cases, a case 12 singles.
  make_shop({single("SINGLE", 0, "CASE", 12), single("CASE", 0, "PALLET", 10), product("PALLET", 3)},
            {scan(kSubtractInventory, "SINGLE", 5)});
  post();
  EXPECT_EQ(stock("PALLET"), "2");
  EXPECT_EQ(stock("CASE"), "9");     // 10 made, 1 broken
  EXPECT_EQ(stock("SINGLE"), "7");   // 12 - 5
}

TEST_F(BulkBreakdownTest, ALoopingChainOfBulkProductsEnds) {
  make_shop({single("LOOP-A", 0, "LOOP-B", 12), single("LOOP-B", 0, "loop-a", 1),  // codes compare without case
             single("RING-A", 0, "RING-B", 12), single("RING-B", 0, "RING-C", 2), single("RING-C", 0, "RING-B", 3)},
            {scan(kSubtractInventory, "LOOP-A", 5), scan(kSubtractInventory, "RING-A", 5)});
  post();
  EXPECT_EQ(stock("LOOP-B"), "0");
  EXPECT_EQ(stock("LOOP-A"), "-5");
  EXPECT_EQ(stock("RING-B"), "0");
  EXPECT_EQ(stock("RING-C"), "0");
  EXPECT_EQ(stock("RING-A"), "-5");
  EXPECT_TRUE(scanner_data().empty());
}

TEST_F(BulkBreakdownTest, EmptyBulkStockIsReportedAndWritesNothing) {
  make_shop({single("ITEM", 1, "NOSTOCK", 12), product("NOSTOCK", std::nullopt)}, {scan(kSubtractInventory, "ITEM", 4)});
  post();
  EXPECT_EQ(stock("ITEM"), "1");
  EXPECT_EQ(stock("NOSTOCK"), "");
  EXPECT_EQ(scanner_data().size(), 1u);
  EXPECT_EQ(reported_routines(), std::vector<std::string>{"Process_Post_Individual_Item"});
}

TEST(NearestMultipleTest, RoundsUpToWholeSteps) {
  EXPECT_EQ(Nearest_Multiple(jet::Value(4.0), 1, true), 4);
  EXPECT_EQ(Nearest_Multiple(jet::Value(4.2), 1, true), 5);
  EXPECT_EQ(Nearest_Multiple(jet::Value(0.0), 1, true), 0);
  EXPECT_EQ(Nearest_Multiple(jet::Value(13.0 / 12.0), 1, true), 2);
  EXPECT_EQ(Nearest_Multiple(jet::Value(4.7), 1, false), 4);
  EXPECT_EQ(Nearest_Multiple(jet::Value(7.0), 5, true), 10);
  EXPECT_EQ(Nearest_Multiple(jet::Value(std::string("2.5")), 1, true), 3);
  EXPECT_EQ(Nearest_Multiple(jet::Value(std::string("twelve")), 1, true), 0);
  EXPECT_EQ(Nearest_Multiple(jet::Value(), 1, true), 0);
  EXPECT_EQ(Nearest_Multiple(jet::Value(32766.5), 1, true), 32767);
  EXPECT_THROW(Nearest_Multiple(jet::Value(40000.0), 1, true), jet::Error);
}

}  // namespace
}  // namespace tallimo::testing
