// Free space: pages freed by deletes, emptied index and long-value pages and
// pages Access marked free are used again before the file grows; the file's
// page map and usage maps in their reference form (the fixture Access wrote
// that way, and a page map that outgrows page 1); the consistency check
// finds files that were cut short.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <filesystem>
#include <fstream>

#include "binary.h"
#include "check.h"
#include "data_page.h"
#include "independent_readers.h"
#include "jet/database.h"
#include "jet/transaction.h"
#include "page_allocator.h"
#include "pager.h"
#include "test_util.h"
#include "usage_map.h"

namespace jet {
namespace {

namespace fs = std::filesystem;

class SpaceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = test::fresh_test_folder("jet_space_");
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string path(const std::string& name) const { return (dir_ / name).string(); }

  std::string copy_fixture(const std::string& rel) {
    std::string to = path(fs::path(rel).filename().string());
    fs::copy_file(test::fixture(rel), to, fs::copy_options::overwrite_existing);
    fs::permissions(to, fs::perms::owner_read | fs::perms::owner_write);
    return to;
  }

  static std::unique_ptr<Database> open_rw(const std::string& file, const std::string& password = "") {
    OpenOptions o;
    o.password = password;
    o.read_write = true;
    o.durability = Durability::kFast;
    return Database::open(file, o);
  }

  static CheckReport check(const std::string& file, const std::string& password = "") {
    auto db = Database::open(file, OpenOptions{.password = password});
    return check_database(*db);
  }

  static uint64_t size_of(const std::string& file) { return fs::file_size(file); }

  fs::path dir_;
};

// The staging table of the scanner database, as its CREATE TABLE makes it.
TableSpec staging_spec() {
  TableSpec s;
  s.name = "Scanner_Data";
  auto col = [&](const std::string& n, ColumnType t, uint16_t len = 0) {
    ColumnSpec c;
    c.name = n;
    c.type = t;
    c.length = len;
    s.columns.push_back(c);
  };
  col("Scanner_Data_ID", ColumnType::kLong);
  s.columns.back().auto_number = true;
  col("Qty", ColumnType::kDouble);
  col("Item_Number", ColumnType::kText, 255);
  col("Item_Order", ColumnType::kText, 255);
  col("Description", ColumnType::kText, 255);
  col("Vendor_Code", ColumnType::kText, 255);
  col("Standard_Price", ColumnType::kCurrency);
  col("Current_Cost", ColumnType::kCurrency);
  col("Location", ColumnType::kText, 255);
  col("List_Price", ColumnType::kCurrency);
  col("File_Type", ColumnType::kInteger);
  col("Notes", ColumnType::kText, 255);
  IndexSpec pk;
  pk.name = "PrimaryKey";
  pk.primary_key = true;
  pk.columns.push_back({"Scanner_Data_ID"});
  s.indexes.push_back(pk);
  return s;
}

Row staging_row(int i) {
  return Row{Value{},
             double(i % 17),
             "ITEM" + std::to_string(100000 + i),
             Value{},
             "Product number " + std::to_string(i) + " of the shop's list",
             "V" + std::to_string(i % 50),
             Currency{int64_t(i % 1000) * 10000},
             Currency{int64_t(i % 700) * 10000},
             "A" + std::to_string(i % 9),
             Currency{int64_t(i % 1300) * 10000},
             int16_t(i % 3),
             Value{}};
}

void stage(Database& db, int rows, int first) {
  Table& t = db.table("Scanner_Data");
  Transaction tx(db);
  std::vector<RowId> ids;
  for (auto c = t.scan(); c.next();) ids.push_back(c.id());
  for (RowId id : ids) t.remove(id);
  for (int i = 0; i < rows; ++i) t.insert(staging_row(first + i));
  tx.commit();
}

TEST_F(SpaceTest, RestagingTheSameRowsKeepsTheFileSize) {
  const std::string file = path("POS_Scanner.MDB");
  {
    CreateOptions o;
    o.durability = Durability::kFast;
    auto db = Database::create(file, o);
    db->create_table(staging_spec());
  }
  std::vector<uint64_t> sizes;
  for (int round = 0; round < 4; ++round) {
    auto db = open_rw(file);
    stage(*db, 20000, round * 20000);
    db.reset();
    sizes.push_back(size_of(file));
  }
  std::printf("file size after each staging of 20,000 rows: %llu, %llu, %llu, %llu bytes\n",
              (unsigned long long)sizes[0], (unsigned long long)sizes[1], (unsigned long long)sizes[2],
              (unsigned long long)sizes[3]);
  for (std::size_t i = 1; i < sizes.size(); ++i) {
    EXPECT_LE(double(sizes[i]), double(sizes[0]) * 1.10) << "staging " << i + 1 << ": " << sizes[i] << " bytes against "
                                                          << sizes[0] << " after the first";
  }
  std::vector<Row> want;
  {
    auto db = open_rw(file);
    for (int i = 0; i < 20000; ++i) {
      Row r = staging_row(60000 + i);
      r[0] = int32_t(60001 + i);
      want.push_back(r);
    }
  }
  test::expect_independent_readers_agree(file, "", {{"Scanner_Data", want}});
}

TEST_F(SpaceTest, PartlyEmptiedPagesTakeNewRowsBeforeNewPages) {
  const std::string file = path("scan.mdb");
  {
    CreateOptions o;
    o.durability = Durability::kFast;
    auto db = Database::create(file, o);
    db->create_table(staging_spec());
    stage(*db, 3000, 0);
  }
  const uint64_t before = size_of(file);
  {
    auto db = open_rw(file);
    Table& t = db->table("Scanner_Data");
    Transaction tx(*db);
    std::vector<RowId> ids;
    for (auto c = t.scan(); c.next();) ids.push_back(c.id());
    // Every other row: no page empties, every page gets room.
    for (std::size_t i = 0; i < ids.size(); i += 2) t.remove(ids[i]);
    for (int i = 0; i < 1500; ++i) t.insert(staging_row(5000 + i));
    tx.commit();
  }
  EXPECT_LE(size_of(file), before + 4 * kPageSize);
  CheckReport r = check(file);
  EXPECT_TRUE(r.ok()) << test::joined_problems(r);
  EXPECT_EQ(Database::open(file)->table("Scanner_Data").row_count(), 3000u);
  test::expect_independent_readers_agree(file, "");
}

TEST_F(SpaceTest, PagesAccessMarkedFreeAreUsedFirst) {
  // indexTestV2000 holds pages Access freed (set bits inside the file).
  const std::string file = copy_fixture("indexTestV2000.mdb");
  auto free_pages = [&](uint32_t below) {
    auto db = Database::open(file);
    FreePageMap m = read_free_page_map(db->pages());
    std::vector<uint32_t> out;
    for (uint32_t p = 2; p < below; ++p)
      if (m.is_free(p)) out.push_back(p);
    return out;
  };
  const uint32_t pages_before = uint32_t(size_of(file) / kPageSize);
  ASSERT_GE(free_pages(pages_before).size(), 3u);
  {
    auto db = open_rw(file);
    Table& t = db->create_table(staging_spec());
    Transaction tx(*db);
    for (int i = 0; i < 100; ++i) t.insert(staging_row(i));
    tx.commit();
  }
  // The file grew only after every page Access had freed was taken.
  EXPECT_GT(size_of(file) / kPageSize, pages_before);
  EXPECT_EQ(free_pages(pages_before), std::vector<uint32_t>{});
  CheckReport r = check(file);
  EXPECT_TRUE(r.ok()) << test::joined_problems(r);
  test::expect_independent_readers_agree(file, "");
}

TEST_F(SpaceTest, LongValuePagesAndIndexPagesAreFreedWithTheirRows) {
  const std::string file = path("memo.mdb");
  TableSpec spec;
  spec.name = "Notes";
  spec.columns.push_back(ColumnSpec{.name = "Id", .type = ColumnType::kLong});
  spec.columns.push_back(ColumnSpec{.name = "Code", .type = ColumnType::kText, .length = 200});
  spec.columns.push_back(ColumnSpec{.name = "Body", .type = ColumnType::kMemo});
  IndexSpec ix;
  ix.name = "Code";
  ix.columns.push_back({"Code"});
  spec.indexes.push_back(ix);
  auto fill = [&](Database& db, int round) {
    Table& t = db.table("Notes");
    Transaction tx(db);
    std::vector<RowId> ids;
    for (auto c = t.scan(); c.next();) ids.push_back(c.id());
    for (RowId id : ids) t.remove(id);
    for (int i = 0; i < 600; ++i) {
      t.insert(Row{int32_t(i), std::string(150, char('a' + i % 26)) + std::to_string(round * 1000 + i),
                   std::string(3000 + i, char('A' + (i + round) % 26))});
    }
    tx.commit();
  };
  {
    CreateOptions o;
    o.durability = Durability::kFast;
    auto db = Database::create(file, o);
    db->create_table(spec);
    fill(*db, 0);
  }
  const uint64_t first = size_of(file);
  for (int round = 1; round < 4; ++round) {
    auto db = open_rw(file);
    fill(*db, round);
  }
  EXPECT_LE(double(size_of(file)), double(first) * 1.10);
  CheckReport r = check(file);
  EXPECT_TRUE(r.ok()) << test::joined_problems(r);
  test::expect_independent_readers_agree(file, "");
}

TEST_F(SpaceTest, ADroppedTablesPagesHoldTheNextTable) {
  const std::string file = path("drop.mdb");
  TableSpec spec = staging_spec();
  spec.columns.push_back(ColumnSpec{.name = "Picture", .type = ColumnType::kOle});
  auto fill = [&](Database& db, const std::string& name) {
    spec.name = name;
    Table& t = db.create_table(spec);
    Transaction tx(db);
    for (int i = 0; i < 3000; ++i) {
      Row r = staging_row(i);
      r.push_back(i % 5 == 0 ? Value{Bytes{std::vector<uint8_t>(2500, uint8_t(i))}} : Value{});
      t.insert(r);
    }
    tx.commit();
  };
  {
    CreateOptions o;
    o.durability = Durability::kFast;
    auto db = Database::create(file, o);
    fill(*db, "Staging1");
  }
  const uint64_t first = size_of(file);
  for (int round = 2; round <= 4; ++round) {
    auto db = open_rw(file);
    db->drop_table("Staging" + std::to_string(round - 1));
    EXPECT_FALSE(db->has_table("Staging" + std::to_string(round - 1)));
    fill(*db, "Staging" + std::to_string(round));
  }
  EXPECT_LE(double(size_of(file)), double(first) * 1.05);
  {
    auto db = Database::open(file);
    EXPECT_EQ(db->tables().size(), 1u);
    CheckReport r = check_database(*db);
    EXPECT_TRUE(r.ok()) << test::joined_problems(r);
  }
  {
    auto db = open_rw(file);
    EXPECT_EQ(test::error_of([&] { db->drop_table("MSysACEs"); }).category(), ErrorCategory::kInvalidArgument);
    EXPECT_EQ(test::error_of([&] { db->drop_table("Nothing"); }).category(), ErrorCategory::kNotFound);
  }
  test::expect_independent_readers_agree(file, "");
}

TEST_F(SpaceTest, RemovingEveryRowAtOnceFreesThePagesAndEmptiesEachIndex) {
  const std::string file = path("all.mdb");
  TableSpec spec = staging_spec();
  spec.columns.push_back(ColumnSpec{.name = "Body", .type = ColumnType::kMemo});
  IndexSpec item;
  item.name = "Item_Number";
  item.unique = true;
  item.columns.push_back({"Item_Number"});
  spec.indexes.push_back(item);
  auto fill = [&](Database& db, int first) {
    Table& t = db.table("Scanner_Data");
    Transaction tx(db);
    std::vector<RowId> ids;
    for (int i = 0; i < 4000; ++i) {
      Row r = staging_row(first + i);
      r.push_back(i % 7 == 0 ? Value{std::string(2500 + i, char('a' + i % 26))} : Value{});
      ids.push_back(t.insert(r));
    }
    // Some rows outgrow their page and move behind a lookup row.
    for (int i = 0; i < 4000; i += 40) {
      Row r;
      t.read_row(ids[i], r);
      r[0] = Value{};
      r[4] = std::string(250, 'x');
      r[11] = std::string(250, 'y');
      t.update(ids[i], r);
    }
    tx.commit();
  };
  {
    CreateOptions o;
    o.durability = Durability::kFast;
    auto db = Database::create(file, o);
    db->create_table(spec);
    fill(*db, 0);
  }
  const uint64_t first = size_of(file);
  for (int round = 1; round <= 3; ++round) {
    auto db = open_rw(file);
    Table& t = db->table("Scanner_Data");
    Transaction tx(*db);
    EXPECT_EQ(t.remove_all(), 4000u) << "every live row counted once, moved ones included";
    EXPECT_EQ(t.row_count(), 0u);
    EXPECT_FALSE(t.scan().next());
    EXPECT_TRUE(t.scan_index("PrimaryKey").empty());
    EXPECT_TRUE(t.scan_index("Item_Number").empty());
    EXPECT_EQ(t.remove_all(), 0u);
    tx.commit();
    fill(*db, round * 4000);
  }
  EXPECT_LE(double(size_of(file)), double(first) * 1.10);
  auto db = Database::open(file);
  Table& t = db->table("Scanner_Data");
  EXPECT_EQ(t.row_count(), 4000u);
  EXPECT_EQ(t.scan_index("Item_Number").size(), 4000u);
  int32_t lowest = INT32_MAX;
  for (auto c = t.scan(); c.next();) lowest = std::min(lowest, std::get<int32_t>(c.row()[0]));
  EXPECT_EQ(lowest, 3 * 4000 + 1) << "the counter goes on from where it was";
  db.reset();
  test::expect_independent_readers_agree(file, "");
}

// ---- reference-form maps ----

TEST_F(SpaceTest, ReferenceFormPageMapOfTheFixtureIsWrittenAndChecked) {
  const std::string file = copy_fixture("../jet4-reference-maps/testRefGlobalV2000.mdb");
  {
    auto db = Database::open(file);
    EXPECT_TRUE(read_free_page_map(db->pages()).reference);
  }
  const uint64_t before = size_of(file);
  {
    auto db = open_rw(file);
    db->create_table(staging_spec());
    stage(*db, 2000, 0);
  }
  const uint64_t grown = size_of(file);
  EXPECT_GT(grown, before);
  {
    auto db = open_rw(file);
    stage(*db, 2000, 5000);
  }
  // The second staging reuses what the first one's rows freed.
  EXPECT_LE(double(size_of(file)), double(before) + double(grown - before) * 1.10);
  CheckReport r = check(file);
  EXPECT_TRUE(r.ok()) << test::joined_problems(r);
  test::expect_independent_readers_agree(file, "");
}

// Fills page 1 beside the page map so that the inline bitmap cannot grow.
void crowd_page_one(Database& db) {
  Pager& pager = db.pager();
  WriteScope scope(pager);
  uint8_t* p = pager.page_for_write(1);
  std::size_t room = data_page::gap(p);
  ASSERT_GT(room, 40u);
  data_page::add_row(p, std::vector<uint8_t>(room - 2 - 8, 0));
  scope.commit();
}

TEST_F(SpaceTest, PageMapTakesTheReferenceFormWhenPageOneIsFull) {
  const std::string file = path("big.mdb");
  {
    CreateOptions o;
    o.durability = Durability::kFast;
    auto db = Database::create(file, o);
    db->create_table(staging_spec());
    crowd_page_one(*db);
    EXPECT_FALSE(read_free_page_map(db->pages()).reference);
  }
  {
    auto db = open_rw(file);
    stage(*db, 20000, 0);  // about 700 pages: past what the 64-byte bitmap covers
    EXPECT_TRUE(read_free_page_map(db->pages()).reference);
  }
  const uint64_t first = size_of(file);
  CheckReport r = check(file);
  EXPECT_TRUE(r.ok()) << test::joined_problems(r);
  {
    auto db = open_rw(file);
    stage(*db, 20000, 30000);
  }
  EXPECT_LE(double(size_of(file)), double(first) * 1.10);
  r = check(file);
  EXPECT_TRUE(r.ok()) << test::joined_problems(r);
  {
    auto db = Database::open(file);
    EXPECT_TRUE(read_free_page_map(db->pages()).reference);
    // The table's own maps outgrew their inline form too.
    auto row = [&](uint32_t ptr) {
      const uint8_t* pg = db->pages().page(row_pointer_page(ptr));
      return data_page::row_bytes(pg, row_pointer_row(ptr))[0];
    };
    EXPECT_EQ(row(db->table("Scanner_Data").def().usage_map), kMapTypeReference);
  }
  test::expect_independent_readers_agree(file, "");
}

// ---- cut files ----

class CutFile : public SpaceTest {
 protected:
  void SetUp() override {
    SpaceTest::SetUp();
    file_ = copy_fixture("products_small.mdb");
  }
  int jetsql_check() {
    std::string cmd = std::string(JETSQL) + " --check " + test::shell_quote(file_) + " --password qzmvrp >/dev/null 2>&1";
    int rc = std::system(cmd.c_str());
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  }
  std::string problems() {
    try {
      return test::joined_problems(check(file_, "qzmvrp"));
    } catch (const Error& e) {
      return std::string("open failed: ") + e.what();
    }
  }
  std::string file_;
};

TEST_F(CutFile, APartialLastPageIsReported) {
  fs::resize_file(file_, size_of(file_) - 1000);
  EXPECT_NE(problems().find("partial page (3096 bytes"), std::string::npos) << problems();
  EXPECT_EQ(jetsql_check(), 3);
}

TEST_F(CutFile, PagesCutOffTheEndAreReported) {
  // Cutting pages off the end leaves maps that still list them.
  for (uint64_t cut : {1u, 5u, 20u}) {
    fs::copy_file(test::fixture("products_small.mdb"), file_, fs::copy_options::overwrite_existing);
    fs::resize_file(file_, size_of(file_) - cut * kPageSize);
    std::string p = problems();
    EXPECT_NE(p, "") << "cut " << cut;
    EXPECT_NE(p.find("cut short"), std::string::npos) << "cut " << cut << ": " << p;
    EXPECT_EQ(jetsql_check(), 3) << "cut " << cut;
  }
}

TEST_F(CutFile, SystemTableThatLostRowsIsReported) {
  // MSysObjects recording more rows than it holds.
  {
    auto db = open_rw(file_, "qzmvrp");
    Table& t = db->table("MSysObjects");
    WriteScope scope(db->pager());
    uint8_t* p = db->pager().page_for_write(t.def().tdef_page);
    put_le32(p + 0x10, le32(p + 0x10) + 3);
    scope.commit();
  }
  EXPECT_NE(problems().find("table 'MSysObjects': its definition records"), std::string::npos) << problems();
}

}  // namespace
}  // namespace jet
