// "Compare Inventory" records: the counted quantity is set beside the
// recorded one in the scanner database's table Compare, one row per item.
#include "jet/dao.h"
#include "jet/value_conversions.h"
#include "app/null_conversions.h"
#include "app/posting/posting.h"
#include "app/posting/posting_internal.h"

namespace tallimo {

using namespace posting;

namespace {

// Adds the record's count to the item's row when the run has one already;
// gives the recordset on Compare for the item, standing on a new row to be
// filled when it had none (nullptr once merged).
std::unique_ptr<jet::dao::Recordset> merge_or_start(Session& session, jet::dao::Database& scanner, jet::dao::Recordset& scanned) {
  auto rs = scanner.open_recordset(std::string("Select * ") + kCrLf + "From Compare" + kCrLf +
                                   "Where  Item_Number  = " + quoted_literal(raw_text(scanned.field("Item_Number"))));
  if (!rs->eof()) {
    rs->edit();
    rs->set_field("Scanner_Qty",
                  jet::Value(jet::currency_add(Null_To_Currency(scanned.field("Qty")), Null_To_Currency(rs->field("Scanner_Qty")))));
    rs->update();
    note_write(session);
    rs->close();
    return nullptr;
  }
  rs->add_new();
  return rs;
}

void save_new_row(Session& session, jet::dao::Recordset& rs) {
  rs.update();
  note_write(session);
  rs.close();
}

}  // namespace

bool Post_Compare_Records(Session& session, jet::dao::Database& scanner, jet::dao::Recordset& scanned, jet::dao::Recordset& product) {
  try {
    auto rs = merge_or_start(session, scanner, scanned);
    if (rs) {
      rs->set_field("Scanner_Qty", jet::Value(Null_To_Currency(scanned.field("Qty"))));
      rs->set_field("Orvex_Qty", jet::Value(Null_To_Currency(product.field("Inventory Qty"))));
      rs->set_field("Item_Number", scanned.field("Item_Number"));
      rs->set_field("Description", product.field("Description One"));
      rs->set_field("Vendor_Code", product.field("Vendor Code"));
      rs->set_field("Standard_Price", jet::Value(Null_To_Currency(product.field("Standard Price"))));
      rs->set_field("Current_Cost", jet::Value(Null_To_Currency(product.field("Current Cost"))));
      rs->set_field("Location", product.field("Location"));
      rs->set_field("List_Price", jet::Value(Null_To_Currency(product.field("List Price"))));
      save_new_row(session, *rs);
    }
    return true;
  } catch (const std::exception& e) {
    report_error(session, e.what(), "Post_Compare_Records");
  }
  return false;
}

bool Post_Compare_Records_No_Product(Session& session, jet::dao::Database& scanner, jet::dao::Recordset& scanned) {
  try {
    auto rs = merge_or_start(session, scanner, scanned);
    if (rs) {
      rs->set_field("Scanner_Qty", jet::Value(Null_To_Currency(scanned.field("Qty"))));
      rs->set_field("Orvex_Qty", jet::Value(jet::Currency{0}));
      rs->set_field("Item_Number", scanned.field("Item_Number"));
      rs->set_field("Description", scanned.field("Description"));
      rs->set_field("Vendor_Code", scanned.field("Vendor_Code"));
      rs->set_field("Standard_Price", jet::Value(Null_To_Currency(scanned.field("Standard_Price"))));
      rs->set_field("Current_Cost", jet::Value(Null_To_Currency(scanned.field("Current_Cost"))));
      rs->set_field("Location", scanned.field("Location"));
      rs->set_field("List_Price", jet::Value(Null_To_Currency(scanned.field("List_Price"))));
      save_new_row(session, *rs);
    }
    return true;
  } catch (const std::exception& e) {
    report_error(session, e.what(), "Post_Compare_Records");
  }
  return false;
}

}  // namespace tallimo
