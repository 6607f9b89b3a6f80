// The rules of each transaction kind, on real databases made by the engine and
// read back with mdb-export.
#include <gtest/gtest.h>

#include <algorithm>

#include "jet/dao.h"
#include "app/posting/posting.h"
#include "app/tests/shop_fixture.h"

namespace tallimo::testing {
namespace {

class PostingRulesTest : public ShopTest {};

TEST_F(PostingRulesTest, SubtractingTheWholeStockLeavesZeroAndOneMoreBreaksAPackage) {
  auto boxed = product("BOXED", 5);
  boxed.bulk_code = "CASE";
  boxed.bulk_qty = 12;
  make_shop({product("A", 5), product("B", 5), boxed, product("CASE", 2)},
            {scan(kSubtractInventory, "A", 5), scan(kSubtractInventory, "B", 6), scan(kSubtractInventory, "BOXED", 5),
             scan(kSubtractInventory, "BOXED", 1)});
  post();
  EXPECT_EQ(stock("A"), "0");
  EXPECT_EQ(stock("B"), "-1");  // no bulk product: plain subtraction
  // 5 - 5 = 0 needed no package; then a shortfall of 1 opened one case.
  EXPECT_EQ(stock("CASE"), "1");
  EXPECT_EQ(stock("BOXED"), "11");
  EXPECT_TRUE(scanner_data().empty());
}

TEST_F(PostingRulesTest, EmptyStockAndEmptyQuantityCountAsZero) {
  make_shop({product("E1", std::nullopt), product("E2", std::nullopt), product("E3", 7), product("E4", 7),
             product("E5", 7), product("E6", std::nullopt)},
            {scan(kAddToInventory, "E1", 4), scan(kSubtractInventory, "E2", std::nullopt),
             scan(kAddToInventory, "E3", std::nullopt), scan(kSubtractInventory, "E4", std::nullopt),
             scan(kReplaceInventory, "E5", std::nullopt), scan(kSubtractInventory, "E6", 2)});
  post();
  EXPECT_EQ(stock("E1"), "4");
  EXPECT_EQ(stock("E2"), "0");  // an empty stock becomes 0
  EXPECT_EQ(stock("E3"), "7");
  EXPECT_EQ(stock("E4"), "7");
  EXPECT_EQ(stock("E5"), "0");
  EXPECT_EQ(stock("E6"), "-2");  // the shortfall counts the empty stock as 0
  EXPECT_TRUE(scanner_data().empty()) << "records with an empty quantity are posted and removed";
}

TEST_F(PostingRulesTest, UnknownProductsLeaveTheirRecordsWithoutANote) {
  make_shop({product("A", 1)}, {scan(kAddToInventory, "NOPE", 1), scan(kSubtractInventory, "NOPE", 1),
                                scan(kReplaceInventory, "NOPE", 1)});
  post();
  auto rows = scanner_data();
  ASSERT_EQ(rows.size(), 3u);
  for (auto& r : rows) EXPECT_EQ(r["Notes"], "");
  EXPECT_EQ(product1().size(), 1u);
}

TEST_F(PostingRulesTest, AddNewItemOnAnExistingCodeGetsTheNoteAndIsInsertedOnceTheCodeIsGone) {
  auto added = scan(kAddNewItem, "X1", std::nullopt);
  added.description = "Fresh";
  make_shop({product("X1", 3, "Old")}, {added});
  post();
  auto rows = scanner_data();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0]["Notes"], "Product Code is not unique");
  EXPECT_EQ(product1()["X1"]["Description One"], "Old");

  {
    jet::dao::OpenOptions o;
    o.connect = ";pwd=qzmvrp";
    auto db = jet::dao::Database::open(products_path(), o);
    db->execute("Delete * From PRODUCT1 Where [Product Code] = \"X1\"");
    db->close();
  }
  post();
  EXPECT_TRUE(scanner_data().empty());
  auto p = product1()["X1"];
  EXPECT_EQ(p["Description One"], "Fresh");
  EXPECT_EQ(p["Standard Price"], "0.0000");  // "Add New Item" stores an empty price as 0
  EXPECT_EQ(p["Inventory Qty"], "");         // neither kind writes the stock
}

TEST_F(PostingRulesTest, DescriptionsSplitAfterTwentyFiveCharacters) {
  const std::string d25 = "ABCDEFGHIJKLMNOPQRSTUVWXY";
  auto n25 = scan(kAddNewItem, "N25", std::nullopt);
  n25.description = d25;
  auto n26 = scan(kAddNewItem, "N26", std::nullopt);
  n26.description = d25 + "Z";
  auto utf = scan(kAddNewItem, "NUTF", std::nullopt);
  utf.description = "Crème brûlée à la façon de Côme";  // characters, not bytes, count
  auto keeps = product("K", 1, "Old one");
  keeps.description_two = "old second line";
  auto edit = scan(kEditProducts, "K", std::nullopt);
  edit.description = "Short";
  make_shop({keeps}, {n25, n26, utf, edit});
  post();
  auto p = product1();
  EXPECT_EQ(p["N25"]["Description One"], d25);
  EXPECT_EQ(p["N25"]["Description Two"], "");
  EXPECT_EQ(p["N26"]["Description One"], d25);
  EXPECT_EQ(p["N26"]["Description Two"], "Z");
  EXPECT_EQ(p["NUTF"]["Description One"], "Crème brûlée à la façon d");
  EXPECT_EQ(p["NUTF"]["Description Two"], "e Côme");
  EXPECT_EQ(p["K"]["Description One"], "Short");
  EXPECT_EQ(p["K"]["Description Two"], "old second line");
}

TEST_F(PostingRulesTest, EditProductsInsertsUnknownCodesAndStoresEmptyPricesEmpty) {
  auto known = product("KNOWN", 4);
  auto edit_known = scan(kEditProducts, "KNOWN", std::nullopt);
  edit_known.description = "Edited";
  edit_known.vendor = "A vendor name longer than sixteen";
  edit_known.current_cost = 99;  // "Edit Products" never writes the cost
  auto edit_new = scan(kEditProducts, "UNKNOWN", std::nullopt);
  edit_new.description = "Inserted by an edit";
  edit_new.list_price = 4.5;
  auto add_new = scan(kAddNewItem, "ADDED", std::nullopt);
  make_shop({known}, {edit_known, edit_new, add_new});
  post();
  auto p = product1();
  EXPECT_EQ(p["KNOWN"]["Description One"], "Edited");
  EXPECT_EQ(p["KNOWN"]["Standard Price"], "");
  EXPECT_EQ(p["KNOWN"]["List Price"], "");
  EXPECT_EQ(p["KNOWN"]["Current Cost"], "1.5000");
  EXPECT_EQ(p["KNOWN"]["Vendor Code"], "A vendor name lo");
  EXPECT_EQ(p["KNOWN"]["Inventory Qty"], "4");
  ASSERT_EQ(p.count("UNKNOWN"), 1u);
  EXPECT_EQ(p["UNKNOWN"]["Standard Price"], "");
  EXPECT_EQ(p["UNKNOWN"]["List Price"], "4.5000");
  EXPECT_EQ(p["UNKNOWN"]["Current Cost"], "");
  EXPECT_EQ(p["ADDED"]["Standard Price"], "0.0000");
  EXPECT_EQ(p["ADDED"]["Current Cost"], "0.0000");
  EXPECT_TRUE(scanner_data().empty());
}

TEST_F(PostingRulesTest, ItemNumbersLongerThanEighteenCharactersNeverMatch) {
  const std::string code18 = "ABCDEFGHIJKLMNOPQR";
  make_shop({product(code18, 5)}, {scan(kAddToInventory, code18 + "S", 1), scan(kEditProducts, "LONGCODE-1234567890XYZ", 1),
                                   scan(kEditProducts, code18 + "T", 1)});
  post();
  auto p = product1();
  EXPECT_EQ(p[code18]["Inventory Qty"], "5");
  EXPECT_EQ(p.count("LONGCODE-123456789"), 1u) << "inserted under the first 18 characters";
  // The third record's first 18 characters name an existing product: the
  // insert is refused as a duplicate, reported, and the record stays.
  auto rows = scanner_data();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0]["Item_Number"], code18 + "S");
  EXPECT_EQ(rows[1]["Item_Number"], code18 + "T");
  EXPECT_EQ(reported_routines(), std::vector<std::string>{"Process_Post_Individual_Item"});
}

TEST_F(PostingRulesTest, ItemNumbersWithDoubleQuotesAreLookedUpExactly) {
  auto pipe = scan(kAddNewItem, "PIPE 3\"", std::nullopt);
  pipe.description = "Pipe";
  make_shop({product("BOLT 1/2\"", 10), product("BOLT 1/2", 10), product("\"QUOTED\"", 1)},
            {scan(kAddToInventory, "BOLT 1/2\"", 5), scan(kSubtractInventory, "\"QUOTED\"", 1), pipe,
             scan(kCompareInventory, "BOLT 1/2\"", 3), scan(kCompareInventory, "BOLT 1/2\"", 1)});
  post();
  EXPECT_EQ(stock("BOLT 1/2\""), "15");
  EXPECT_EQ(stock("BOLT 1/2"), "10");
  EXPECT_EQ(stock("\"QUOTED\""), "0");
  EXPECT_EQ(product1().count("PIPE 3\""), 1u);
  auto c = compare();
  ASSERT_EQ(c.size(), 1u);
  EXPECT_EQ(c["BOLT 1/2\""]["Scanner_Qty"], "4.0000");
  EXPECT_EQ(c["BOLT 1/2\""]["Orvex_Qty"], "15.0000");
  EXPECT_TRUE(scanner_data().empty());
  EXPECT_TRUE(reported_routines().empty());
}

TEST_F(PostingRulesTest, ARecordThatFailsIsAppliedToNoProductAndStays) {
  auto zero = product("ZERO-K", 1);
  zero.bulk_code = "ZCASE";
  zero.bulk_qty = 0;  // a breakdown quantity of 0 cannot be divided by
  auto empty_k = product("NULL-K", 1);
  empty_k.bulk_code = "ZCASE";
  make_shop({product("P", 10), zero, empty_k, product("ZCASE", 5)},
            {scan(kSubtractInventory, "P", 1), scan(kSubtractInventory, "ZERO-K", 5),
             scan(kSubtractInventory, std::nullopt, 3), scan(kSubtractInventory, "NULL-K", 4),
             scan(kSubtractInventory, "P", 2)});
  post();
  EXPECT_EQ(stock("P"), "7") << "no failing record reaches the product looked up before it";
  EXPECT_EQ(stock("ZERO-K"), "1");
  EXPECT_EQ(stock("NULL-K"), "1");
  EXPECT_EQ(stock("ZCASE"), "5");
  auto rows = scanner_data();
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0]["Item_Number"], "ZERO-K");
  EXPECT_EQ(rows[1]["Item_Number"], "");
  EXPECT_EQ(rows[2]["Item_Number"], "NULL-K");
  EXPECT_EQ(reported_routines(), (std::vector<std::string>{"Process_Post_Individual_Item", "Process_Post_Individual_Item",
                                                           "Process_Post_Individual_Item"}));
  // The run still ends normally, telling the user that records remain.
  ASSERT_EQ(ui_.boxes.size(), 4u);
  EXPECT_EQ(ui_.boxes.back(), "Not all the Items Scanned were able to be processed. \r\n");
  EXPECT_EQ(ui_.status.back(), "Processing - Complete");
}

TEST_F(PostingRulesTest, MoneyArithmeticKeepsFourDecimals) {
  make_shop({product("M", 1.5), product("R", 1)}, {scan(kAddToInventory, "M", 0.33333), scan(kReplaceInventory, "R", 2.71828)});
  post();
  EXPECT_EQ(stock("M"), "1.8333");  // 1.5 + 0.3333
  EXPECT_EQ(stock("R"), "2.7183");
}

TEST_F(PostingRulesTest, AmountsPastTheCurrencyRangeAreReportedAndTheRecordsStay) {
  // Each of these once posted silently: the quantity read as 0, or the sum
  // wrapped. Now each is Jet's overflow error, reported, with nothing written
  // for the record and the record kept.
  make_shop({product("ADD", 1), product("REPL", 4), product("CMP", 2), product("SUM", 9e14), product("OK", 1)},
            {scan(kAddToInventory, "ADD", 1e15), scan(kReplaceInventory, "REPL", 1e16),
             scan(kCompareInventory, "CMP", 5e15), scan(kCompareInventory, "CMP", 9e14),
             scan(kCompareInventory, "CMP", 9e14), scan(kAddToInventory, "SUM", 9e14),
             scan(kAddToInventory, "OK", 2)});
  post();
  EXPECT_EQ(stock("ADD"), "1");
  EXPECT_EQ(stock("REPL"), "4");
  EXPECT_EQ(stock("SUM"), "900000000000000");
  EXPECT_EQ(stock("OK"), "3") << "the other records post";
  // The second count of 9e14 would take the merged count past the range.
  auto c = compare();
  ASSERT_EQ(c.size(), 1u);
  EXPECT_EQ(c["CMP"]["Scanner_Qty"], "900000000000000.0000");
  std::vector<std::string> left;
  for (auto& row : scanner_data()) left.push_back(row["Item_Number"] + " " + row["Qty"]);
  EXPECT_EQ(left, (std::vector<std::string>{"ADD 1000000000000000", "REPL 1e+16", "CMP 5000000000000000",
                                              "CMP 900000000000000", "SUM 900000000000000"}));
  auto routines = reported_routines();
  EXPECT_EQ(routines.size(), 5u);
  EXPECT_EQ(std::count(routines.begin(), routines.end(), "Post_Compare_Records"), 1);
  for (const std::string& box : ui_.boxes) {
    if (box.find("Error") != std::string::npos) {
      EXPECT_NE(box.find("Overflow"), std::string::npos) << box;
    }
  }
  EXPECT_EQ(session().last_posting_summary().errors, 5);
}

}  // namespace
}  // namespace tallimo::testing
