// Test support for the handheld transfers: a shop with a Windows Mobile / Palm device
// folder holding the forms application's tables.
#pragma once

#include <string>
#include <vector>

#include "app/handheld/pdb_file.h"
#include "app/tests/shop_fixture.h"

namespace tallimo::testing {

// One handheld row of the forms application's columns.
struct HandheldRow {
  std::string item{};
  double qty = 0;
  std::string desc{};
  bool edit = false;
  double cost = 0, list = 0, price = 0;
  std::string location{}, vendor{};
};

// A table as the handheld holds it (ITEMLIST gets the Edit column).
handheld::PdbTable handheld_table(const std::string& table, const std::vector<HandheldRow>& rows);

class HandheldShopTest : public ShopTest {
 protected:
  void SetUp() override;

  // The device's table folder ("My Documents/Tallimo", in that case).
  std::string device_tables() const { return device_ + "/My Documents/Tallimo"; }
  // Writes a device table under the file name given.
  void put_device_table(const std::string& file_name, const std::string& table, const std::vector<HandheldRow>& rows);
  // Reads the device table of that name (found without regard to case).
  handheld::PdbTable device_table(const std::string& table) const;
  // The items of a table's rows, in order.
  std::vector<std::string> items(const handheld::PdbTable& table) const;
  // Rows of a template's VFTable as mdb-export reads them.
  std::vector<ExportRow> template_rows(const std::string& template_file) const;
  // A complete device: every transaction table with the rows below, the item list with
  // two rows (A1 edited, B2 not).
  void standard_device();

  std::string device_;
};

}  // namespace tallimo::testing
