// Compaction (in place and into another file, a kill at any moment leaving
// the old or the new file whole, what it refuses), the share of free space,
// and jetsql's --compact and --import; the version text of ACE files.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

#include "check.h"
#include "independent_readers.h"
#include "jet/database.h"
#include "jet/transaction.h"
#include "jet/value_text.h"
#include "test_util.h"

namespace jet {
namespace {

namespace fs = std::filesystem;

class CompactTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = test::fresh_test_folder("jet_compact_");
  }
  void TearDown() override {
    if (!std::getenv("JET_KEEP_TEST_FILES")) fs::remove_all(dir_);
  }
  std::string path(const std::string& name) const { return (dir_ / name).string(); }

  static std::unique_ptr<Database> open_rw(const std::string& file, const std::string& password = "") {
    OpenOptions o;
    o.password = password;
    o.read_write = true;
    o.durability = Durability::kFast;
    return Database::open(file, o);
  }

  // A file of `keep` live rows in table Items (counter key, indexed code,
  // memo) left after `total` were written.
  void make_sparse(const std::string& file, int total, int keep) {
    CreateOptions co;
    co.durability = Durability::kFast;
    auto db = Database::create(file, co);
    TableSpec s;
    s.name = "Items";
    s.columns.push_back(ColumnSpec{.name = "Id", .type = ColumnType::kLong, .auto_number = true});
    s.columns.push_back(ColumnSpec{.name = "Code", .type = ColumnType::kText, .length = 40});
    s.columns.push_back(ColumnSpec{.name = "Price", .type = ColumnType::kCurrency});
    s.columns.push_back(ColumnSpec{.name = "Note", .type = ColumnType::kMemo});
    s.indexes.push_back(IndexSpec{.name = "PrimaryKey", .columns = {{"Id"}}, .primary_key = true});
    s.indexes.push_back(IndexSpec{.name = "Code", .columns = {{"Code"}}, .unique = true});
    Table& t = db->create_table(s);
    Transaction tx(*db);
    std::vector<RowId> ids;
    for (int i = 0; i < total; ++i) {
      // Memos on rows that go, and on a few that stay.
      const bool memo = i % 10 == 5 || i % 200 == 0;
      ids.push_back(t.insert(Row{Value{}, "C" + std::to_string(100000 + i), Currency{i * 25},
                                 memo ? Value{std::string(3000, char('a' + i % 26))} : Value{}}));
    }
    // Keep every (total/keep)-th row: the counter has gone past the last
    // kept row's number by rows that were deleted.
    const int step = total / keep;
    for (int i = 0; i < total; ++i) {
      if (i % step != 0) t.remove(ids[i]);
    }
    tx.commit();
  }

  static std::vector<std::string> rows_of(const std::string& file, const std::string& table,
                                          const std::string& password = "") {
    auto db = Database::open(file, OpenOptions{.password = password});
    Table& t = db->table(table);
    std::vector<std::string> out;
    for (auto c = t.scan(); c.next();) out.push_back(test::exact_row_text(c.row(), t.def().columns));
    std::sort(out.begin(), out.end());
    return out;
  }

  fs::path dir_;
};

TEST_F(CompactTest, InPlaceKeepsEveryLiveRowAndGivesSpaceBack) {
  const std::string file = path("POS_Scanner.MDB");
  make_sparse(file, 6000, 300);
  double before_free;
  {
    auto db = Database::open(file);
    before_free = db->free_space_fraction();
  }
  EXPECT_GT(before_free, 0.5);
  const auto rows = rows_of(file, "Items");
  ASSERT_EQ(rows.size(), 300u);
  const auto size_before = fs::file_size(file);
  CompactResult r = Database::compact(file);
  EXPECT_EQ(r.tables, 1u);
  EXPECT_EQ(r.rows, 300u);
  EXPECT_LT(fs::file_size(file) * 3, size_before);
  EXPECT_EQ(rows_of(file, "Items"), rows);
  EXPECT_FALSE(fs::exists(file + ".compacting"));
  {
    auto db = Database::open(file);
    EXPECT_LT(db->free_space_fraction(), 0.05);
    EXPECT_TRUE(check_database(*db).ok()) << test::joined_problems(check_database(*db));
  }
  {
    // The counter goes on after the highest number ever handed out.
    auto db = open_rw(file);
    Row stored;
    db->table("Items").insert(Row{Value{}, "NEW", Currency{1}, Value{}}, &stored);
    EXPECT_EQ(std::get<int32_t>(stored[0]), 6001);
  }
  test::expect_independent_readers_agree(file, "");
}

TEST_F(CompactTest, IntoAnotherFileKeepsPasswordIndexesAndRows) {
  const std::string src = path("products.mdb"), out = path("products-compact.mdb");
  fs::copy_file(test::fixture("products_small.mdb"), src);
  fs::permissions(src, fs::perms::owner_read | fs::perms::owner_write);
  const auto before = fs::file_size(src);
  Database::compact(src, out, CompactOptions{.password = "qzmvrp"});
  EXPECT_EQ(fs::file_size(src), before);
  EXPECT_EQ(rows_of(out, "PRODUCT1", "qzmvrp"), rows_of(src, "PRODUCT1", "qzmvrp"));
  EXPECT_EQ(test::error_of([&] { Database::open(out); }).category(), ErrorCategory::kPassword);
  auto a = Database::open(src, OpenOptions{.password = "qzmvrp"});
  auto b = Database::open(out, OpenOptions{.password = "qzmvrp"});
  const TableDef& da = a->table("PRODUCT1").def();
  const TableDef& db = b->table("PRODUCT1").def();
  ASSERT_EQ(da.indexes.size(), db.indexes.size());
  for (std::size_t i = 0; i < da.indexes.size(); ++i) {
    EXPECT_EQ(da.indexes[i].name, db.indexes[i].name);
    EXPECT_EQ(da.indexes[i].unique, db.indexes[i].unique);
    EXPECT_EQ(da.indexes[i].columns.size(), db.indexes[i].columns.size());
  }
  EXPECT_EQ(b->info().sort_order, a->info().sort_order);
  EXPECT_EQ(b->info().code_page, a->info().code_page);
  EXPECT_TRUE(check_database(*b).ok()) << test::joined_problems(check_database(*b));
  test::expect_independent_readers_agree(out, "qzmvrp");
}

TEST_F(CompactTest, RefusesWhatTheCopyWouldLoseAndLeavesTheFile) {
  const std::string src = path("queries.mdb");
  fs::copy_file(test::fixture("queryTestV2000.mdb"), src);
  fs::permissions(src, fs::perms::owner_read | fs::perms::owner_write);
  const auto bytes = test::read_file(src);
  Error e = test::error_of([&] { Database::compact(src); });
  EXPECT_EQ(e.category(), ErrorCategory::kUnsupported);
  EXPECT_NE(std::string(e.what()).find("query"), std::string::npos) << e.what();
  EXPECT_EQ(test::read_file(src), bytes);
}

TEST_F(CompactTest, AnotherUserKeepsTheFile) {
  const std::string file = path("held.mdb");
  make_sparse(file, 100, 10);
  const auto bytes = test::read_file(file);
  {
    OpenOptions o;
    o.read_write = true;
    o.user_name = "Clerk";
    auto holder = Database::open(file, o);
    Error e = test::error_of([&] { Database::compact(file); });
    EXPECT_EQ(e.category(), ErrorCategory::kLocked);
    EXPECT_NE(std::string(e.what()).find("/Clerk"), std::string::npos) << e.what();
  }
  EXPECT_EQ(test::read_file(file), bytes);
  Database::compact(file);  // once it is closed
}

TEST_F(CompactTest, AKillAtAnyMomentLeavesTheOldOrTheNewFileWhole) {
  const std::string file = path("scan.mdb");
  make_sparse(file, 4000, 400);
  const auto rows = rows_of(file, "Items");
  std::mt19937 rng(12345);
  int killed_early = 0, finished = 0;
  for (int round = 0; round < 8; ++round) {
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      try {
        Database::compact(file);
      } catch (...) {
        ::_exit(1);
      }
      ::_exit(0);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(rng() % 250));
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    (WIFEXITED(status) && WEXITSTATUS(status) == 0) ? ++finished : ++killed_early;
    SCOPED_TRACE("round " + std::to_string(round));
    EXPECT_EQ(rows_of(file, "Items"), rows);
    auto db = Database::open(file);
    CheckReport r = check_database(*db);
    EXPECT_TRUE(r.ok()) << test::joined_problems(r);
  }
  // The next compaction clears what a killed one left behind.
  Database::compact(file);
  EXPECT_FALSE(fs::exists(file + ".compacting"));
  EXPECT_EQ(rows_of(file, "Items"), rows);
  std::printf("compactions killed: %d, finished: %d\n", killed_early, finished);
}

// ---- jetsql ----

int run(const std::string& cmd, std::string* err = nullptr) {
  std::string full = cmd + " 2>" + test::shell_quote(fs::temp_directory_path() / "jetsql_err.txt");
  int rc = std::system(full.c_str());
  if (err) {
    std::ifstream in(fs::temp_directory_path() / "jetsql_err.txt");
    err->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

class ImportTest : public CompactTest {
 protected:
  void SetUp() override {
    CompactTest::SetUp();
    file_ = path("shop.mdb");
    make_sparse(file_, 10, 10);
  }
  std::string csv(const std::string& text) {
    std::string p = path("in.csv");
    std::ofstream(p, std::ios::binary) << text;
    return p;
  }
  int import(const std::string& csv_path, std::string* err) {
    return run(std::string(JETSQL) + " " + test::shell_quote(file_) + " --import Items " + test::shell_quote(csv_path), err);
  }
  std::string file_;
};

TEST_F(ImportTest, RowsConvertByColumnTypeInOneTransaction) {
  std::string err;
  const auto before = rows_of(file_, "Items");
  ASSERT_EQ(import(csv("Code,Price,Note\r\nA1,12.5,\"two\nlines, and \"\"quotes\"\"\"\nA2,,\"\"\nA3,7,plain\n"), &err), 0)
      << err;
  auto db = Database::open(file_);
  Table& t = db->table("Items");
  EXPECT_EQ(t.row_count(), before.size() + 3);
  std::map<std::string, Row> by_code;
  for (auto c = t.scan(); c.next();) by_code[std::get<std::string>(c.row()[1])] = c.row();
  ASSERT_EQ(by_code.count("A1"), 1u);
  EXPECT_EQ(std::get<Currency>(by_code["A1"][2]).ten_thousandths, 125000);
  EXPECT_EQ(std::get<std::string>(by_code["A1"][3]), "two\nlines, and \"quotes\"");
  EXPECT_TRUE(is_null(by_code["A2"][2]));                      // empty field: Null
  EXPECT_EQ(std::get<std::string>(by_code["A2"][3]), "");      // "": empty text
  EXPECT_FALSE(is_null(by_code["A3"][0]));                     // the counter filled
  EXPECT_TRUE(check_database(*db).ok());
}

TEST_F(ImportTest, ABadRowNamesItsLineAndChangesNothing) {
  const auto bytes = rows_of(file_, "Items");
  std::string err;
  // Line 4 (the quoted field spans lines 2-3) has a price that is no number.
  EXPECT_EQ(import(csv("Code,Price\n\"B\n1\",1\nB2,cheap\nB3,4\n"), &err), 1);
  EXPECT_NE(err.find("line 4"), std::string::npos) << err;
  EXPECT_NE(err.find("Price"), std::string::npos) << err;
  EXPECT_EQ(rows_of(file_, "Items"), bytes);
  // A duplicate key of the unique index on Code, against a row already there.
  EXPECT_EQ(import(csv("Code,Price\nB1,1\nC100000,2\n"), &err), 1);
  EXPECT_NE(err.find("line 3"), std::string::npos) << err;
  EXPECT_EQ(rows_of(file_, "Items"), bytes);
  // An unknown column, a short row.
  EXPECT_EQ(import(csv("Code,Colour\nB1,red\n"), &err), 1);
  EXPECT_NE(err.find("line 1: table 'Items' has no column 'Colour'"), std::string::npos) << err;
  EXPECT_EQ(import(csv("Code,Price\nB1\n"), &err), 1);
  EXPECT_NE(err.find("line 2: the row has 1 fields"), std::string::npos) << err;
  EXPECT_EQ(rows_of(file_, "Items"), bytes);
}

TEST_F(ImportTest, CompactFromTheShell) {
  std::string err;
  make_sparse(path("big.mdb"), 3000, 30);
  EXPECT_EQ(run(std::string(JETSQL) + " --compact " + test::shell_quote(path("big.mdb")) + " " +
                    test::shell_quote(path("small.mdb")),
                &err),
            0)
      << err;
  EXPECT_NE(err.find("compacted 1 tables, 30 rows"), std::string::npos) << err;
  EXPECT_EQ(rows_of(path("small.mdb"), "Items"), rows_of(path("big.mdb"), "Items"));
  EXPECT_EQ(run(std::string(JETSQL) + " --check " + test::shell_quote(path("small.mdb")) + " >/dev/null"), 0);
  EXPECT_EQ(run(std::string(JETSQL) + " --compact " + test::shell_quote(path("missing.mdb")), &err), 1);
  EXPECT_NE(err.find("missing.mdb"), std::string::npos) << err;
}

// ---- Many rows into empty indexes (what compaction uses) ----

class BulkLoadTest : public CompactTest {
 protected:
  // Parts: counter key, unique code (long enough for compressed pages),
  // repeated price, and an ignore-nulls index on a mostly empty note.
  static TableSpec parts_spec(const std::string& name) {
    TableSpec s;
    s.name = name;
    s.columns.push_back(ColumnSpec{.name = "Id", .type = ColumnType::kLong, .auto_number = true});
    s.columns.push_back(ColumnSpec{.name = "Code", .type = ColumnType::kText, .length = 60});
    s.columns.push_back(ColumnSpec{.name = "Price", .type = ColumnType::kCurrency});
    s.columns.push_back(ColumnSpec{.name = "Tag", .type = ColumnType::kText, .length = 20});
    s.indexes.push_back(IndexSpec{.name = "PrimaryKey", .columns = {{"Id"}}, .primary_key = true});
    s.indexes.push_back(IndexSpec{.name = "Code", .columns = {{"Code"}}, .unique = true});
    s.indexes.push_back(IndexSpec{.name = "Price", .columns = {{"Price", false}}});
    s.indexes.push_back(IndexSpec{.name = "Tag", .columns = {{"Tag"}}, .ignore_nulls = true});
    return s;
  }
  static std::vector<Row> parts_rows(int n) {
    std::vector<Row> rows;
    std::mt19937 rng(7);
    for (int i = 0; i < n; ++i) {
      rows.push_back(Row{Value{}, "Spare part for shelf unit number " + std::to_string(rng() % 1000000) + "-" +
                                      std::to_string(i),
                         Currency{int64_t(rng() % 500) * 100}, i % 13 == 0 ? Value{"tag" + std::to_string(i % 7)} : Value{}});
    }
    return rows;
  }
  static std::size_t load(Table& t, const std::vector<Row>& rows) {
    std::size_t next = 0;
    return t.insert_rows([&](Row& r) {
      if (next == rows.size()) return false;
      r = rows[next++];
      return true;
    });
  }
  // The table's rows in the order of each index.
  static std::vector<std::vector<std::string>> index_orders(Table& t) {
    std::vector<std::vector<std::string>> out;
    Row row;
    for (const IndexDef& ix : t.def().indexes) {
      out.emplace_back();
      for (RowId id : t.scan_index(ix.name)) {
        t.read_row(id, row);
        out.back().push_back(test::exact_row_text(row, t.def().columns));
      }
    }
    return out;
  }
};

TEST_F(BulkLoadTest, IndexesBuiltWholeMatchRowByRowInserts) {
  const std::string file = path("parts.mdb");
  const auto rows = parts_rows(6000);
  {
    CreateOptions co;
    co.durability = Durability::kFast;
    auto db = Database::create(file, co);
    Table& bulk = db->create_table(parts_spec("Bulk"));
    Table& single = db->create_table(parts_spec("Single"));
    EXPECT_EQ(load(bulk, rows), rows.size());
    Transaction tx(*db);
    for (const Row& r : rows) single.insert(r);
    tx.commit();
    EXPECT_EQ(bulk.row_count(), rows.size());
    EXPECT_EQ(bulk.def().next_auto_number, rows.size());
    EXPECT_EQ(index_orders(bulk), index_orders(single));
    // The ignore-nulls index holds only the tagged rows.
    EXPECT_EQ(bulk.scan_index("Tag").size(), (rows.size() + 12) / 13);
    // Unique checks and index upkeep go on as usual afterwards.
    EXPECT_EQ(test::error_of([&] { bulk.insert(rows[500]); }).category(), ErrorCategory::kConstraint);
    bulk.insert(Row{Value{}, "ZZ new", Currency{1}, Value{"tag"}});
    EXPECT_TRUE(check_database(*db).ok()) << test::joined_problems(check_database(*db));
  }
  std::string err;
  EXPECT_EQ(run(std::string(JETSQL) + " --check " + test::shell_quote(file), &err), 0) << err;
  test::expect_independent_readers_agree(file, "");
}

TEST_F(BulkLoadTest, ABadRowLeavesNothingAndAFilledTableTakesRowsOneByOne) {
  const std::string file = path("parts.mdb");
  CreateOptions co;
  co.durability = Durability::kFast;
  auto db = Database::create(file, co);
  Table& t = db->create_table(parts_spec("Parts"));
  auto rows = parts_rows(3000);
  // A code twice: found when the unique index is built, after every row
  // was written; the call leaves no trace.
  rows[2500][1] = rows[100][1];
  Error e = test::error_of([&] { load(t, rows); });
  EXPECT_EQ(e.category(), ErrorCategory::kConstraint);
  EXPECT_NE(std::string(e.what()).find("unique index 'Code' of table 'Parts'"), std::string::npos) << e.what();
  EXPECT_EQ(t.row_count(), 0u);
  EXPECT_FALSE(t.scan().next());
  rows[2500][1] = "unique again";
  EXPECT_TRUE(check_database(*db).ok()) << test::joined_problems(check_database(*db));
  // Into a table that has rows: the same result, row by row.
  const std::vector<Row> first(rows.begin(), rows.begin() + 1000), rest(rows.begin() + 1000, rows.end());
  EXPECT_EQ(load(t, first), first.size());
  EXPECT_EQ(load(t, rest), rest.size());
  EXPECT_EQ(t.row_count(), rows.size());
  EXPECT_EQ(t.scan_index("Code").size(), rows.size());
  Error dup = test::error_of([&] { load(t, {Row{Value{}, rows[5][1], Currency{1}, Value{}}}); });
  EXPECT_EQ(dup.category(), ErrorCategory::kConstraint);
  EXPECT_EQ(t.row_count(), rows.size());
  EXPECT_TRUE(check_database(*db).ok()) << test::joined_problems(check_database(*db));
}

// ---- ACE files ----

TEST(AceVersion, TheErrorNamesTheAccessRelease) {
  const auto good = test::read_file(test::fixture("empty2000.mdb"));
  const fs::path file = fs::temp_directory_path() / ("jet_ace_" + std::to_string(::getpid()) + ".accdb");
  struct Case {
    uint8_t version;
    uint8_t next;
    const char* text;
  };
  for (Case c : {Case{2, 0, "Access 2007 (ACE 12"}, Case{3, 1, "Access 2010 (ACE 14"}, Case{4, 1, "Access 2013"},
                 Case{5, 1, "Access 2016"}, Case{6, 1, "Access 2019"}}) {
    auto b = good;
    std::memcpy(b.data() + 4, "Standard ACE DB", 15);
    b[0x14] = c.version;
    b[0x15] = c.next;
    std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
    Error e = test::error_of([&] { Database::open(file.string()); });
    EXPECT_EQ(e.category(), ErrorCategory::kUnsupported);
    EXPECT_NE(std::string(e.what()).find(c.text), std::string::npos) << e.what();
  }
  fs::remove(file);
}

}  // namespace
}  // namespace jet
