// The posting history as mdb-export reads it, and the undo of a run against
// a products file the shop kept changing after the run.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <set>

#include "app/data/products_database.h"
#include "app/history/journal.h"
#include "app/history/undo.h"
#include "app/posting/posting.h"
#include "app/tests/shop_fixture.h"
#include "jet/dao.h"
#include "jet/database.h"
#include "jet/error.h"
#include "jet/table.h"

namespace tallimo::testing {
namespace {

using history::UndoOptions;

class HistoryTest : public ShopTest {
 protected:
  std::string journal() const { return dir_ + "/PostingHistory.mdb"; }
  // A change made by the shop after the run (a sale, an edit at the till).
  void shop_sets(const std::string& code, const std::string& assignment) {
    auto db = jet::dao::Database::open(products_path(), {.connect = ";pwd=qzmvrp"});
    db->execute("UPDATE PRODUCT1 SET " + assignment + " WHERE [Product Code] = \"" + code + "\"");
    db->close();
  }
  history::UndoSummary undo(long run, bool apply = true) {
    UndoOptions options;
    options.apply = apply;
    return history::Undo_Run(session(), run, options);
  }
  std::vector<ExportRow> changes_of(long run, long record) const {
    std::vector<ExportRow> out;
    for (auto& row : mdb_export(journal(), history::kChangesTable)) {
      if (row["Run_ID"] == std::to_string(run) && row["Record_No"] == std::to_string(record)) out.push_back(row);
    }
    return out;
  }
};

demo::Product bulk_item(const std::string& code, double stock, const std::string& bulk, double per_package) {
  demo::Product p = product(code, stock);
  p.bulk_code = bulk;
  p.bulk_qty = per_package;
  return p;
}

demo::Scan edit_scan(const std::string& code, const std::string& description, const std::string& location,
                     double price) {
  demo::Scan s = scan(kEditProducts, code, std::nullopt);
  s.description = description;
  s.location = location;
  s.standard_price = price;
  s.vendor = "VEND";
  s.list_price = price;
  return s;
}

TEST_F(HistoryTest, EveryPostedRecordAndChangeIsInTheJournalAsMdbExportReadsIt) {
  make_shop({product("ADD", 10), product("SUB", 5), bulk_item("SINGLE", 3, "CASE", 12), product("CASE", 2),
             product("REP", 4), product("EDIT", 1, "Old name")},
            {scan(kAddToInventory, "ADD", 5), scan(kSubtractInventory, "SUB", 2), scan(kSubtractInventory, "SINGLE", 5),
             scan(kReplaceInventory, "REP", 9), edit_scan("EDIT", "New name", "B7", 2.5),
             scan(kAddNewItem, "NEWONE", std::nullopt), scan(kAddToInventory, "MISSING", 1),
             scan(kCompareInventory, "ADD", 3)});
  post();

  const auto runs = mdb_export(journal(), history::kRunsTable);
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(runs[0].at("Run_Kind"), "Post");
  EXPECT_EQ(runs[0].at("Records"), "7");  // MISSING stays in Scanner_Data, unjournalled
  EXPECT_EQ(runs[0].at("Kinds"), "4,5,0,1,3,2");
  EXPECT_FALSE(runs[0].at("Ended").empty());
  EXPECT_EQ(runs[0].at("Products_File"), std::filesystem::weakly_canonical(products_path()).string());

  const auto records = mdb_export(journal(), history::kRecordsTable);
  ASSERT_EQ(records.size(), 7u);
  std::map<std::string, ExportRow> by_item;
  for (const auto& r : records) by_item[r.at("Item_Number") + "/" + r.at("File_Type")] = r;
  EXPECT_EQ(by_item.count("MISSING/0"), 0u);
  EXPECT_EQ(by_item.at("ADD/0").at("Qty"), "5");
  EXPECT_EQ(by_item.at("ADD/2").at("Qty"), "3");  // compare records change no product

  std::map<std::string, std::vector<ExportRow>> changes;
  for (const auto& c : mdb_export(journal(), history::kChangesTable)) changes[c.at("Product_Code")].push_back(c);
  ASSERT_EQ(changes["ADD"].size(), 1u);
  EXPECT_EQ(changes["ADD"][0].at("Change_Kind"), "Quantity");
  EXPECT_EQ(changes["ADD"][0].at("Old_Value"), "10");
  EXPECT_EQ(changes["ADD"][0].at("New_Value"), "15");
  EXPECT_EQ(changes["ADD"][0].at("Qty_Delta"), "5");
  EXPECT_EQ(changes["SUB"][0].at("Qty_Delta"), "-2");
  // 3 - 5 breaks one case of 12 open: the case goes 2 -> 1 (12 units), the single 3 -> 10.
  ASSERT_EQ(changes["CASE"].size(), 1u);
  EXPECT_EQ(changes["CASE"][0].at("Change_Kind"), "Package");
  EXPECT_EQ(changes["CASE"][0].at("Qty_Delta"), "-1");
  EXPECT_EQ(changes["CASE"][0].at("Units"), "12");
  EXPECT_EQ(changes["SINGLE"][0].at("New_Value"), "10");
  EXPECT_EQ(changes["REP"][0].at("Change_Kind"), "Replace");
  std::map<std::string, ExportRow> edit;
  for (const auto& c : changes["EDIT"]) edit[c.at("Column_Name")] = c;
  EXPECT_EQ(edit.at("Description One").at("Old_Value"), "Old name");
  EXPECT_EQ(edit.at("Description One").at("New_Value"), "New name");
  EXPECT_EQ(edit.at("Location").at("New_Value"), "B7");
  EXPECT_EQ(edit.count("Inventory Qty"), 0u);  // unchanged columns are not listed
  std::map<std::string, ExportRow> added;
  for (const auto& c : changes["NEWONE"]) added[c.at("Column_Name")] = c;
  EXPECT_EQ(added.at("Product Code").at("Change_Kind"), "New Item");
  EXPECT_EQ(added.at("Standard Price").at("New_Value"), "0.0000");
}

TEST_F(HistoryTest, UndoKeepsSalesMadeSinceAndLeavesConflictsAlone) {
  make_shop({product("ADD", 10), bulk_item("SINGLE", 3, "CASE", 12), product("CASE", 2), product("REP", 4),
             product("REP2", 4), product("EDIT", 1, "Old name"), product("EDIT2", 1, "Other")},
            {scan(kAddToInventory, "ADD", 5), scan(kSubtractInventory, "SINGLE", 5), scan(kReplaceInventory, "REP", 9),
             scan(kReplaceInventory, "REP2", 9), edit_scan("EDIT", "New name", "B7", 2.5),
             edit_scan("EDIT2", "Renamed", "C1", 4), scan(kAddNewItem, "KEEPME", std::nullopt),
             scan(kAddNewItem, "DROPME", std::nullopt), scan(kAddToInventory, "DROPME", 6)});
  post();
  ASSERT_EQ(stock("ADD"), "15");
  ASSERT_TRUE(scanner_data().empty());

  // The shop goes on: sales, a recount, an edit at the till, a new item priced.
  shop_sets("ADD", "[Inventory Qty] = 12");
  shop_sets("SINGLE", "[Inventory Qty] = 8");
  shop_sets("REP2", "[Inventory Qty] = 7");
  shop_sets("EDIT", "[Location] = \"Z9\"");
  shop_sets("KEEPME", "[Standard Price] = 3");

  const auto preview = undo(1, /*apply=*/false);
  EXPECT_EQ(stock("ADD"), "12");  // a preview changes nothing
  EXPECT_EQ(mdb_export(journal(), history::kRunsTable).size(), 1u);

  const auto done = undo(1);
  EXPECT_TRUE(done.completed);
  EXPECT_EQ(done.records, 9);
  EXPECT_EQ(done.conflicts.size(), preview.conflicts.size());
  EXPECT_EQ(done.records, preview.records);

  const auto p = product1();
  EXPECT_EQ(p.at("ADD").at("Inventory Qty"), "7");      // 10 +5 -3 sold, -5 undone
  EXPECT_EQ(p.at("SINGLE").at("Inventory Qty"), "1");   // 3 -> 10 by the run, 8 now: -7
  EXPECT_EQ(p.at("CASE").at("Inventory Qty"), "2");     // the case broken open comes back
  EXPECT_EQ(p.at("REP").at("Inventory Qty"), "4");      // unchanged since: restored
  EXPECT_EQ(p.at("REP2").at("Inventory Qty"), "7");     // recounted since: conflict
  EXPECT_EQ(p.at("EDIT").at("Description One"), "Old name");
  EXPECT_EQ(p.at("EDIT").at("Location"), "Z9");         // changed at the till: conflict
  EXPECT_EQ(p.at("EDIT2").at("Description One"), "Other");
  EXPECT_EQ(p.count("KEEPME"), 1u);                     // priced since: stays
  EXPECT_EQ(p.count("DROPME"), 0u);                     // its stock came back to empty first

  std::set<std::string> conflicts;
  for (const auto& c : done.conflicts) conflicts.insert(c.product_code + "/" + c.column);
  EXPECT_EQ(conflicts, (std::set<std::string>{"REP2/Inventory Qty", "EDIT/Location", "KEEPME/Standard Price"}));

  // The records are back, with their kinds, ready to be corrected.
  std::multiset<std::string> back;
  for (const auto& r : scanner_data()) back.insert(r.at("Item_Number") + "/" + r.at("File_Type") + "/" + r.at("Qty"));
  EXPECT_EQ(back, (std::multiset<std::string>{"ADD/0/5", "SINGLE/1/5", "REP/3/9", "REP2/3/9", "EDIT/5/", "EDIT2/5/",
                                               "KEEPME/4/", "DROPME/4/", "DROPME/0/6"}));

  // The undo is a run of its own; the conflicts are in it.
  const auto runs = mdb_export(journal(), history::kRunsTable);
  ASSERT_EQ(runs.size(), 2u);
  EXPECT_EQ(runs[1].at("Undoes_Run"), "1");
  EXPECT_EQ(runs[0].at("Undone_By"), "2");
  long conflict_rows = 0;
  for (const auto& c : mdb_export(journal(), history::kChangesTable)) conflict_rows += c.at("Change_Kind") == "Conflict";
  EXPECT_EQ(conflict_rows, 3);

  try {
    undo(1);
    FAIL() << "a second undo was applied";
  } catch (const jet::Error& e) {
    EXPECT_NE(std::string(e.what()).find("undone already, by run 2"), std::string::npos) << e.what();
  }
  EXPECT_EQ(stock("ADD"), "7");
  EXPECT_THROW(undo(2), jet::Error);   // an undo cannot be undone
  EXPECT_THROW(undo(42), jet::Error);  // no such run
}

TEST_F(HistoryTest, RepostedRecordsMakeANewRunThatUndoesOnItsOwn) {
  make_shop({product("A", 10)}, {scan(kAddToInventory, "A", 5)});
  post();
  undo(1);
  EXPECT_EQ(stock("A"), "10");
  post();  // the returned record, posted again
  EXPECT_EQ(stock("A"), "15");
  const auto second = undo(3);
  EXPECT_TRUE(second.completed);
  EXPECT_EQ(stock("A"), "10");
  EXPECT_EQ(scanner_data().size(), 1u);
}

TEST_F(HistoryTest, UndoRefusesAnotherProductsFileAndAnInterruptedRun) {
  make_shop({product("A", 10)}, {scan(kAddToInventory, "A", 5)});
  post();
  std::filesystem::copy_file(products_path(), dir_ + "/other.mdb");
  session().settings().Orvex_Location = dir_ + "/other.mdb";
  EXPECT_THROW(undo(1), jet::Error);
  session().settings().Orvex_Location = products_path();
  EXPECT_EQ(stock("A"), "15");

  // A run that did not end (killed) cannot be undone until it is completed.
  {
    auto j = history::Journal::open(session());
    j->add_run(history::kRunPost, "0", products_path());
    j->close();
  }
  try {
    undo(2);
    FAIL();
  } catch (const jet::Error& e) {
    EXPECT_NE(std::string(e.what()).find("did not finish"), std::string::npos) << e.what();
  }
}

TEST_F(HistoryTest, RunsOlderThanTheSettingArePrunedAndTheFileCompacted) {
  make_shop({product("A", 10)}, {scan(kAddToInventory, "A", 5)});
  post();
  add_scans({scan(kAddToInventory, "A", 1)});
  post();
  {
    // Run 1 started 400 days ago.
    auto j = history::Journal::open(session());
    jet::Table& runs = j->engine().table(history::kRunsTable);
    const jet::Value key[] = {jet::Value(int32_t{1})};
    const auto at = runs.seek("PrimaryKey", key).front();
    jet::Row row;
    runs.read_row(at, row);
    std::get<jet::DateTime>(row[2]).days -= 400;
    runs.update(at, row);
    j->close();
  }
  session().settings().History_Keep_Days = 365;
  add_scans({scan(kAddToInventory, "A", 1)});
  post();  // prunes after the run
  const auto runs = mdb_export(journal(), history::kRunsTable);
  ASSERT_EQ(runs.size(), 2u);
  EXPECT_EQ(runs[0].at("Run_ID"), "2");
  for (const auto& r : mdb_export(journal(), history::kRecordsTable)) EXPECT_NE(r.at("Run_ID"), "1");
  const std::string check = run(std::string(JETSQL) + " --check '" + journal() + "' 2>&1");
  EXPECT_NE(check.find(": 0 problems"), std::string::npos) << check;
  EXPECT_THROW(undo(1), jet::Error);
}

TEST_F(HistoryTest, ADamagedHistoryStopsThePostingRatherThanPostWithoutIt) {
  make_shop({product("A", 10)}, {scan(kAddToInventory, "A", 5)});
  {
    FILE* f = std::fopen(journal().c_str(), "wb");
    std::fputs("not a database", f);
    std::fclose(f);
  }
  post();
  EXPECT_EQ(stock("A"), "10");
  EXPECT_EQ(scanner_data().size(), 1u);
  EXPECT_EQ(reported_routines(), (std::vector<std::string>{"Process_Post"}));
  EXPECT_FALSE(session().last_posting_summary().completed);
  EXPECT_NE(run("cat '" + dir_ + "/ErrorLog.txt'").find("move it away"), std::string::npos);
}

}  // namespace
}  // namespace tallimo::testing
