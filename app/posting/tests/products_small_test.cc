// Posting into a copy of a products database written by another Jet writer:
// afterwards the independent readers read it exactly as our engine does, and
// the consistency check finds every index in step with its table.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "independent_readers.h"
#include "jet/dao.h"
#include "app/posting/posting.h"
#include "app/tests/shop_fixture.h"

namespace tallimo::testing {
namespace {

class ProductsSmallTest : public ShopTest {};

TEST_F(ProductsSmallTest, PostingLeavesAFileTheIndependentReadersReadWithConsistentIndexes) {
  std::filesystem::copy_file(std::string(TALLIMO_FIXTURES) + "/products_small.mdb", products_path());
  ::chmod(products_path().c_str(), 0644);
  const auto before = product1();
  ASSERT_EQ(before.size(), 500u);

  auto fresh = scan(kAddNewItem, "NEW \"QUOTE\" 01", std::nullopt);
  fresh.description = "A description that is longer than twenty-five characters";
  fresh.vendor = "NEWVENDOR";
  fresh.standard_price = 12.5;
  auto edit = scan(kEditProducts, "001480", std::nullopt);
  edit.description = "Renamed through an edit";
  edit.vendor = "ZZZ TOP";  // moves the row in the [Vendor Code] index
  edit.location = "Q7";
  std::vector<demo::Scan> scans = {fresh, edit,
                                   scan(kAddToInventory, "000037", 7),
                                   scan(kSubtractInventory, "000999", 50),  // breaks cases of 000481
                                   scan(kReplaceInventory, "000074", 3),
                                   scan(kCompareInventory, "b00000", 2),
                                   scan(kCompareInventory, "NOT-THERE", 1),
                                   scan(kAddToInventory, "NOT-THERE", 1)};
  for (int i = 0; i < 40; ++i) {  // enough new rows to fill pages and split index pages
    auto s = scan(kAddNewItem, "BULK-NEW-" + std::to_string(i), std::nullopt);
    s.description = "New item number " + std::to_string(i);
    s.vendor = "V" + std::to_string(i % 7);
    scans.push_back(s);
  }
  auto scanner = demo::create_scanner_database(scanner_path());
  demo::add_scans(*scanner, scans);
  scanner->close();

  post();
  EXPECT_TRUE(reported_routines().empty());
  ASSERT_EQ(scanner_data().size(), 1u);  // the unknown code's addition stays

  auto after = product1();
  EXPECT_EQ(after.size(), 500u + 41u);
  EXPECT_EQ(after["000037"]["Inventory Qty"], "150");  // 143 + 7
  EXPECT_EQ(after["000074"]["Inventory Qty"], "3");
  EXPECT_EQ(after["001480"]["Vendor Code"], "ZZZ TOP");
  EXPECT_EQ(after["001480"]["Description One"], "Renamed through an edit");
  EXPECT_EQ(after["001480"]["Memo"], before.at("001480").at("Memo")) << "columns the program does not use stay";
  EXPECT_EQ(after["NEW \"QUOTE\" 01"]["Description Two"], "ger than twenty-five characters");
  // 000999 held 20 with 12 a case of 000481 (23 cases): 30 short, 3 cases.
  EXPECT_EQ(after["000481"]["Inventory Qty"], "20");
  EXPECT_EQ(after["000999"]["Inventory Qty"], "6");  // 36 - 30
  auto c = compare();
  EXPECT_EQ(c["b00000"]["Orvex_Qty"], "0.0000");  // its stock is empty
  EXPECT_EQ(c["b00000"]["Description"], "Item 0 O'Brien's");

  const std::string check = run(std::string(JETSQL) + " --check '" + products_path() + "' --password qzmvrp 2>&1");
  EXPECT_NE(check.find(": 0 problems"), std::string::npos) << check;
  const std::string check_scanner = run(std::string(JETSQL) + " --check '" + scanner_path() + "' 2>&1");
  EXPECT_NE(check_scanner.find(": 0 problems"), std::string::npos) << check_scanner;
  jet::test::expect_independent_readers_agree(products_path(), "qzmvrp");
  jet::test::expect_independent_readers_agree(scanner_path(), "");
}

}  // namespace
}  // namespace tallimo::testing
