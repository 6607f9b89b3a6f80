// Every statement the program issues, built with its own line breaks and
// spacing, run on databases shaped like the program's: the scanner database,
// the products database, a report database and a handheld template.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <set>

#include "check.h"
#include "jet/ado.h"
#include "jet/database.h"
#include "jet/dao.h"
#include "jet/error.h"
#include "jet/value_text.h"
#include "sql_test_util.h"

namespace {

using jet::Error;
using jet::Value;
using jet::dao::Database;
using sqltest::kCrLf;

const std::string kQuote = "\"";

// ---- the statements, as the program builds them ---------------------------

std::string scanner_data_definition() {
  return "CREATE TABLE [Scanner_Data] (" + std::string("[Scanner_Data_ID]") + " Counter Constraint PrimaryKey Primary Key, " +
         "[Qty] double, " + "[Item_Number] text (255), " + "[Item_Order] text (255), " + "[Description] text (255), " +
         "[Vendor_Code] text(255), " + "[Standard_Price] currency, " + "[Current_Cost] currency, " +
         "[Location] text(255), " + "[List_Price] currency, " + "[File_Type] Integer, " + "[Notes] text(255) " + ")";
}
std::string compare_definition() {
  return "CREATE TABLE [Compare] (" + std::string("[Scanner_Qty] currency, ") + "[Orvex_Qty] currency, " +
         "[Item_Number] text (255), " + "[Description] text (255), " + "[Vendor_Code] text(255), " +
         "[Standard_Price] currency, " + "[Current_Cost] currency, " + "[Location] text(255), " +
         "[List_Price] currency " + ")";
}
std::string report_definition(const std::string& table) {
  return "CREATE TABLE [" + table + "] (" + "[" + table + "_ID] Counter Constraint PrimaryKey Primary Key, " +
         "[Scanner_Qty] currency, " + "[Orvex_Qty] currency, " + "[Item_Number] text (255), " +
         "[Description] text (255), " + "[Vendor_Code] text(255), " + "[Standard_Price] currency, " +
         "[Current_Cost] currency, " + "[Location] text(255), " + "[List_Price] currency " + ")";
}
std::string product_lookup(const std::string& code) {
  return "Select *" + kCrLf + "From Product1" + kCrLf + "Where [Product Code] = " + kQuote + code + kQuote;
}
std::string unique_test(const std::string& code) {
  return "Select * " + kCrLf + "From PRODUCT1" + kCrLf + "Where  [Product Code]  = " + kQuote + code + kQuote;
}
std::string copy_master_table(const std::string& report) {
  return "INSERT INTO Not_Scanned ( Item_Number, Orvex_Qty, Description, Vendor_Code, Standard_Price, Current_Cost, "
         "Scanner_Qty, Location, List_Price )" +
         kCrLf + "IN '" + report + "'" + kCrLf +
         "SELECT PRODUCT1.[Product Code] AS Item_Number, PRODUCT1.[Inventory Qty] AS Orvex_Qty, "
         "PRODUCT1.[Description One] AS Description, PRODUCT1.[Vendor Code] AS Vendor_Code, PRODUCT1.[Standard Price] "
         "AS Standard_Price, PRODUCT1.[Current Cost] AS Current_Cost, 0 AS Scanner_Qty,  PRODUCT1.Location, "
         "PRODUCT1.[List Price] as List_Price" +
         kCrLf + "FROM PRODUCT1";
}
std::string copy_comparison(const std::string& report) {
  return "INSERT INTO Comparison ( Scanner_Qty, Orvex_Qty, Item_Number, Description, Vendor_Code, Standard_Price, "
         "Current_Cost, Location , List_price )" +
         kCrLf + "IN '" + report + "'" + kCrLf +
         "SELECT Compare.Scanner_Qty, Compare.Orvex_Qty, Compare.Item_Number, Compare.Description, "
         "Compare.Vendor_Code, Compare.Standard_Price, Compare.Current_Cost, Compare.Location, Compare.List_Price" +
         kCrLf + "FROM Compare";
}
std::string item_list(const std::string& templ) {
  return "INSERT INTO VFTable ( ITEMNUMBER, [DESC], QTY, COST, LIST, PRICE, LOCATION, VENDOR )" + kCrLf + "IN '" +
         templ + "'" + kCrLf +
         "SELECT PRODUCT1.[Product Code], PRODUCT1.[Description One] & PRODUCT1.[Description Two], "
         "PRODUCT1.[Inventory Qty], PRODUCT1.[Current Cost], PRODUCT1.[List Price], PRODUCT1.[Standard Price], "
         "PRODUCT1.Location, PRODUCT1.[Vendor Code]" +
         kCrLf + "FROM PRODUCT1" + kCrLf;
}
// The SELECT halves of the two cross-file copies.
std::string select_part(const std::string& insert) { return insert.substr(insert.find("SELECT")); }

std::string text(const Value& v) { return jet::is_null(v) ? std::string() : jet::value_text(v); }
std::string sql_text(const std::string& s) {
  std::string out = "'";
  for (char c : s) {
    out.push_back(c);
    if (c == '\'') out.push_back('\'');
  }
  return out + "'";
}

std::unique_ptr<Database> open_products(const std::string& path, bool read_only) {
  jet::dao::OpenOptions o;
  o.read_only = read_only;
  o.connect = ";pwd=" + sqltest::kProductsPassword;
  return Database::open(path, o);
}

// ---- read-only statements, on the products fixture --------------------------

TEST(ProgramStatements, ProductQueriesOnTheProductsDatabase) {
  auto products = open_products(sqltest::fixture("products_small.mdb"), true);
  auto all = products->open_recordset("Select * " + kCrLf + "From Product1");
  all->move_last();
  EXPECT_EQ(all->record_count(), 500);
  all->move_first();
  std::string code = std::get<std::string>(all->field("Product Code"));

  auto found = products->open_recordset(product_lookup(code));
  ASSERT_FALSE(found->eof());
  EXPECT_EQ(std::get<std::string>(found->field("Product Code")), code);
  EXPECT_EQ(found->plan(), "seek PRODUCT1.PrimaryKey");
  EXPECT_TRUE(products->open_recordset(unique_test("not-a-code"))->eof());
  EXPECT_FALSE(products->open_recordset(unique_test(code))->eof());

  // The rows the cross-file copies take, with their names and values.
  auto master = products->open_recordset(select_part(copy_master_table("x.mdb")));
  std::vector<std::string> names;
  for (std::size_t i = 0; i < master->field_count(); ++i) names.push_back(master->field_name(i));
  EXPECT_EQ(names, (std::vector<std::string>{"Item_Number", "Orvex_Qty", "Description", "Vendor_Code", "Standard_Price",
                                             "Current_Cost", "Scanner_Qty", "Location", "List_Price"}));
  master->move_last();
  EXPECT_EQ(master->record_count(), 500);

  auto items = products->open_recordset(select_part(item_list("x.mdb")));
  auto raw = products->open_recordset("PRODUCT1");
  int n = 0;
  while (!items->eof()) {
    std::string expected = text(raw->field("Description One")) + text(raw->field("Description Two"));
    EXPECT_EQ(text(items->field(1)), expected);
    ++n;
    items->move_next();
    raw->move_next();
  }
  EXPECT_EQ(n, 500);
}

// ---- the whole cycle (needs the engine's write path) ------------------------

// Every file the statements wrote passes the engine's consistency check
// (pages, usage maps, row counts, every index against its rows).
void expect_consistent(const std::string& path, const std::string& password = "") {
  jet::OpenOptions o;
  o.password = password;
  auto db = jet::Database::open(path, o);
  jet::CheckReport report = jet::check_database(*db);
  for (const auto& p : report.problems) ADD_FAILURE() << path << ": " << p;
}

class ProgramCycle : public ::testing::Test {
 protected:
  void TearDown() override {
    if (!scanner_) return;
    scanner_.reset();
    products_.reset();
    expect_consistent(scanner_path_);
    expect_consistent(products_path_, sqltest::kProductsPassword);
  }
  void SetUp() override {
    scanner_path_ = dir_.path("POS_Scanner.MDB").string();
    products_path_ = dir_.copy_fixture("products_small.mdb");
    auto created = Database::create(scanner_path_, ";LANGID=0x0409;CP=1252;COUNTRY=0", 64);
    created->execute(scanner_data_definition());
    created->execute(compare_definition());
    created->close();
    scanner_ = Database::open(scanner_path_, {});
    products_ = open_products(products_path_, false);
  }

  void scan(const std::string& item, int kind, double qty) {
    auto rs = scanner_->open_recordset("Select * " + kCrLf + "From Scanner_Data" + kCrLf + "Where (" +
                                       "   (Scanner_Data.Item_Number = " + kQuote + item + kQuote + ")" + kCrLf +
                                       " AND  (Scanner_Data.File_Type = " + std::to_string(kind) + ")" + kCrLf + ")" +
                                       kCrLf);
    if (rs->eof()) {
      rs->add_new();
      rs->set_field("Qty", qty);
    } else {
      rs->edit();
      rs->set_field("Qty", std::get<double>(rs->field("Qty")) + qty);
    }
    rs->set_field("Item_Number", item);
    rs->set_field("File_Type", static_cast<int32_t>(kind));
    rs->update();
    rs->close();
  }

  sqltest::ScratchDir dir_;
  std::string scanner_path_, products_path_;
  std::unique_ptr<Database> scanner_, products_;
};

TEST_F(ProgramCycle, ScannerTablesAreCreatedAndTheOrderColumnAddedOnce) {
  auto rs = scanner_->open_recordset("Scanner_Data");
  EXPECT_EQ(rs->field_count(), 12u);
  EXPECT_EQ(rs->field_name(3), "Item_Order");
  try {
    scanner_->execute("ALTER TABLE Scanner_Data ADD COLUMN Item_Order TEXT(255);");
    ADD_FAILURE() << "the column exists";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("Item_Order"), std::string::npos);
  }
  // An older file whose Scanner_Data lacks the column gets it; its rows keep
  // their data and read Null there.
  std::string older = dir_.path("older.mdb").string();
  {
    auto db = Database::create(older);
    std::string definition = scanner_data_definition();
    std::string without = definition.substr(0, definition.find("[Item_Order]")) +
                          definition.substr(definition.find("[Description]"));
    db->execute(without);
    db->execute("INSERT INTO Scanner_Data (Qty, Item_Number, File_Type) VALUES (2, 'A1', 3)");
  }
  auto db = Database::open(older, {});
  db->execute("ALTER TABLE Scanner_Data ADD COLUMN Item_Order TEXT(255);");
  auto old = db->open_recordset("Select * From Scanner_Data");
  EXPECT_EQ(old->field_name(old->field_count() - 1), "Item_Order");
  EXPECT_EQ(std::get<double>(old->field("Qty")), 2.0);
  EXPECT_EQ(std::get<std::string>(old->field("Item_Number")), "A1");
  EXPECT_EQ(std::get<int16_t>(old->field("File_Type")), 3);
  EXPECT_TRUE(jet::is_null(old->field("Item_Order")));
}

TEST_F(ProgramCycle, ReadScansMergePerItemAndKindAndTheGridFiltersByKind) {
  scanner_->execute("Delete * From Scanner_Data");
  scan("000037", 2, 2);
  scan("000037", 2, 3);
  scan("000037", 0, 1);
  scan("NEW-1", 4, 1);
  auto grid = Database::open(scanner_path_, {});
  auto compare = grid->open_recordset("Select * " + kCrLf + "From Scanner_Data" + kCrLf + "Where File_Type = 2");
  compare->move_last();
  EXPECT_EQ(compare->record_count(), 1);
  EXPECT_EQ(std::get<double>(compare->field("Qty")), 5.0);
  auto every = grid->open_recordset("Select * " + kCrLf + "From Scanner_Data" + kCrLf);
  every->move_last();
  EXPECT_EQ(every->record_count(), 3);

  int id = std::get<int32_t>(compare->field("Scanner_Data_ID"));
  std::string table = "Scanner_Data";
  auto editor = grid->open_recordset("Select *" + kCrLf + "From [" + table + "]" + kCrLf + "Where (" + kCrLf +
                                     "      ((" + table + "_ID) = " + std::to_string(id) + ")" + kCrLf + ")" + kCrLf);
  ASSERT_FALSE(editor->eof());
  editor->edit();
  editor->set_field("Standard_Price", jet::Currency{12345});
  editor->update();
  every->requery();
  ASSERT_TRUE(every->find_first("Scanner_Data_ID = " + std::to_string(id)));
  EXPECT_EQ(std::get<jet::Currency>(every->field("Standard_Price")).ten_thousandths, 12345);
}

TEST_F(ProgramCycle, StagedProductListComesBackInByteOrderOfItsHexKeys) {
  // Staging writes the program's own file: commits need not be synced.
  scanner_.reset();
  jet::dao::OpenOptions fast;
  fast.durability = jet::Durability::kFast;
  scanner_ = Database::open(scanner_path_, fast);
  scanner_->execute("Delete * From Scanner_Data");
  auto rs = products_->open_recordset("Select * " + kCrLf + "From Product1");
  int staged = 0;
  while (!rs->eof()) {
    std::string code = text(rs->field("Product Code"));
    auto money = [&](const char* f) {
      Value v = rs->field(f);
      return jet::is_null(v) ? std::string("0") : jet::value_text(v);
    };
    scanner_->execute("INSERT INTO Scanner_Data (Item_Number,Item_Order,Description,Qty,Standard_Price," +
                      std::string("Vendor_Code,Current_Cost,Location,List_Price) VALUES (") + sql_text(code) + "," +
                      sql_text(sqltest::hex_of(code)) + "," + sql_text(text(rs->field("Description One"))) + "," +
                      money("Inventory Qty") + "," + money("Standard Price") + "," +
                      sql_text(text(rs->field("Vendor Code"))) + "," + money("Current Cost") + "," +
                      sql_text(text(rs->field("Location"))) + "," + money("List Price") + ")");
    ++staged;
    rs->move_next();
  }
  auto ordered = scanner_->open_recordset("Select * " + std::string("From Scanner_Data") + " Order By Item_Order");
  ordered->move_last();
  EXPECT_EQ(ordered->record_count(), staged);
  ordered->move_first();
  std::string last;
  int n = 0;
  while (!ordered->eof()) {
    std::string key = text(ordered->field("Item_Order"));
    EXPECT_LT(last, key);  // plain byte order
    EXPECT_EQ(sqltest::hex_of(text(ordered->field("Item_Number"))), key);
    last = key;
    ++n;
    ordered->move_next();
  }
  EXPECT_EQ(n, staged);
  auto obrien = scanner_->open_recordset("Select * From Scanner_Data Where Description = \"Item 0 O'Brien's\"");
  EXPECT_FALSE(obrien->eof());  // a quote doubled in VALUES was stored once
}

TEST_F(ProgramCycle, PostingStatementsAddToStockAndCollectCompareRows) {
  scan("000037", 0, 2);
  scan("000037", 2, 5);
  scan("NOPE", 2, 1);
  scanner_->execute("Delete * " + kCrLf + "from Compare" + kCrLf);
  // Add to Inventory.
  auto kind0 = scanner_->open_recordset("Select * " + kCrLf + "from Scanner_Data" + kCrLf + "Where File_Type = 0");
  while (!kind0->eof()) {
    auto product = products_->open_recordset(product_lookup(text(kind0->field("Item_Number"))));
    ASSERT_FALSE(product->eof());
    product->edit();
    product->set_field("Inventory Qty", std::get<double>(product->field("Inventory Qty")) +
                                            std::get<double>(kind0->field("Qty")));
    product->update();
    kind0->delete_current();
    kind0->move_next();
  }
  auto check = products_->open_recordset(product_lookup("000037"));
  EXPECT_EQ(std::get<double>(check->field("Inventory Qty")), 145.0);
  // Compare Inventory.
  auto kind2 = scanner_->open_recordset("Select * " + kCrLf + "from Scanner_Data" + kCrLf + "Where File_Type = 2");
  while (!kind2->eof()) {
    std::string item = text(kind2->field("Item_Number"));
    auto row = scanner_->open_recordset("Select * " + kCrLf + "From Compare" + kCrLf + "Where  Item_Number  = " + kQuote +
                                        item + kQuote);
    EXPECT_TRUE(row->eof());
    row->add_new();
    row->set_field("Scanner_Qty", kind2->field("Qty"));
    row->set_field("Item_Number", item);
    row->update();
    kind2->delete_current();
    kind2->move_next();
  }
  auto left = scanner_->open_recordset("Select * " + kCrLf + "from Scanner_Data" + kCrLf);
  EXPECT_TRUE(left->eof());
  auto compare = scanner_->open_recordset("Compare");
  EXPECT_EQ(compare->record_count(), 2);
}

TEST_F(ProgramCycle, ReportDatabaseSeparatesCountedUnknownAndUncountedItems) {
  scanner_->execute("INSERT INTO Compare (Scanner_Qty, Orvex_Qty, Item_Number) VALUES (3, 143, '000037')");
  scanner_->execute("INSERT INTO Compare (Scanner_Qty, Orvex_Qty, Item_Number) VALUES (1, 0, 'UNKNOWN-9')");
  std::string report = dir_.path("12062026143005.mdb").string();
  Database::create(report, ";LANGID=0x0409;CP=1252;COUNTRY=0", 64)->close();
  // The report database stays open while the other two write into it.
  auto rdb = Database::open(report, {});
  for (const char* t : {"Comparison", "Not_In_Inventory", "Not_Scanned"}) rdb->execute(report_definition(t));
  products_->execute(copy_master_table(report));
  EXPECT_EQ(products_->records_affected(), 500u);
  scanner_->execute(copy_comparison(report));
  EXPECT_EQ(scanner_->records_affected(), 2u);

  auto not_in = rdb->open_recordset("Not_In_Inventory");
  auto comparison = rdb->open_recordset("Comparison");
  while (!comparison->eof()) {
    auto q = rdb->open_recordset("SELECT Not_Scanned.Description" + kCrLf + "From Not_Scanned" + kCrLf +
                                 "WHERE (((Not_Scanned.Item_Number)=" + kQuote + text(comparison->field("Item_Number")) +
                                 kQuote + "));");
    if (q->eof()) {
      not_in->add_new();
      for (const char* f : {"Scanner_Qty", "Orvex_Qty", "Item_Number", "Description", "Vendor_Code", "Standard_Price",
                            "Current_Cost", "Location", "List_Price"})
        not_in->set_field(f, comparison->field(f));
      not_in->update();
      comparison->delete_current();
    }
    q->close();
    comparison->move_next();
  }
  rdb->execute("UPDATE Comparison INNER JOIN Not_Scanned ON Comparison.Item_Number = Not_Scanned.Item_Number SET "
               "Not_Scanned.Description = 'Compare-Delete'");
  EXPECT_EQ(rdb->records_affected(), 1u);
  rdb->execute("DELETE Not_Scanned.Description" + kCrLf + "FROM Not_Scanned" + kCrLf +
               "Where Not_Scanned.Description = 'Compare-Delete'");
  EXPECT_EQ(rdb->records_affected(), 1u);

  auto count = [&](const std::string& t) { return rdb->open_recordset(t)->record_count(); };
  EXPECT_EQ(count("Comparison"), 1);
  EXPECT_EQ(count("Not_In_Inventory"), 1);
  EXPECT_EQ(count("Not_Scanned"), 499);
  EXPECT_TRUE(rdb->open_recordset("Select * From Not_Scanned Where Item_Number = '000037'")->eof());
  auto unknown = rdb->open_recordset("Not_In_Inventory");
  EXPECT_EQ(text(unknown->field("Item_Number")), "UNKNOWN-9");
  auto scanned0 = rdb->open_recordset("Select * From Not_Scanned Where Item_Number = '000074'");
  EXPECT_EQ(std::get<jet::Currency>(scanned0->field("Scanner_Qty")).ten_thousandths, 0);
  EXPECT_EQ(std::get<jet::Currency>(scanned0->field("Orvex_Qty")).ten_thousandths, 640000);
  scanned0.reset();
  unknown.reset();
  not_in.reset();
  comparison.reset();
  rdb.reset();
  expect_consistent(report);
}

TEST_F(ProgramCycle, HandheldTemplateIsReadEmptiedAndRefilledThroughAdo) {
  std::string templ = dir_.path("ItemList.MDB").string();
  {
    auto created = Database::create(templ, ";LANGID=0x0409;CP=1252;COUNTRY=0", 64);
    created->execute("CREATE TABLE VFTable (ITEMNUMBER text(18), [DESC] text(100), QTY double, COST currency, "
                     "LIST currency, PRICE currency, LOCATION text(16), VENDOR text(16), Edit bit)");
    created->execute("INSERT INTO VFTable (ITEMNUMBER, [DESC], Edit) VALUES ('000037', 'changed', True)");
    created->execute("INSERT INTO VFTable (ITEMNUMBER, [DESC], Edit) VALUES ('000074', 'same', False)");
  }
  jet::ado::Connection c;
  c.set_connection_string("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + templ + ";");
  c.open("", "");
  auto rows = c.execute("SELECT * FROM VFTable");
  ASSERT_FALSE(rows->bof());
  int edited = 0;
  while (!rows->eof()) {
    if (std::get<bool>(rows->field("Edit"))) {
      ++edited;
      EXPECT_EQ(text(rows->field("Desc")), "changed");
    }
    rows->move_next();
  }
  EXPECT_EQ(edited, 1);
  rows->close();
  c.execute("DELETE * FROM VFTable");
  c.close();

  products_->execute(item_list(templ));
  auto filled = Database::open(templ, {});
  auto list = filled->open_recordset("VFTable");
  EXPECT_EQ(list->record_count(), 500);
  // Both description lines joined without a separator; one line alone when
  // the second is Null.
  auto two_lines = filled->open_recordset("Select * From VFTable Where ITEMNUMBER = 'b00000'");
  EXPECT_EQ(text(two_lines->field("DESC")), "Item 0 O'Brien'ssecond line 0");
  auto one_line = filled->open_recordset("Select * From VFTable Where ITEMNUMBER = '000037'");
  EXPECT_EQ(text(one_line->field("DESC")), "Item 1");
  EXPECT_EQ(std::get<double>(one_line->field("QTY")), 143.0);
  EXPECT_EQ(text(one_line->field("VENDOR")), "BOLT & NUT");
  one_line.reset();
  two_lines.reset();
  list.reset();
  filled.reset();
  expect_consistent(templ);
}

}  // namespace
