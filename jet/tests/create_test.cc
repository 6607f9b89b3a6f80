// New databases and tables made by this engine: the system tables and
// permissions the Jet engine itself creates (compared with adox_jet4.mdb,
// a file the Jet engine wrote), tables with every column type, counters,
// indexes, a column added to a table that holds rows, and constraint
// errors that leave nothing behind. Every file is read back through
// mdb-export and mdb-reader.
#include <gtest/gtest.h>

#include <filesystem>

#include "independent_readers.h"
#include "jet/database.h"
#include "jet/error.h"
#include "jet/value_text.h"
#include "test_util.h"

namespace jet {
namespace {

namespace fs = std::filesystem;

// Tests commit every statement without fsync: durability is the journal's
// business and has its own tests.
CreateOptions fast() {
  CreateOptions o;
  o.durability = Durability::kFast;
  return o;
}

class CreateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("jet_create_" + std::to_string(::getpid()) + "_" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string path(const std::string& name) const { return (dir_ / name).string(); }
  fs::path dir_;
};

// Rows of a system table as text, minus the columns that hold dates.
std::vector<std::string> catalog_rows(Database& db, const std::string& table, std::vector<std::string> columns) {
  Table& t = db.table(table);
  std::vector<std::string> out;
  for (auto c = t.scan(); c.next();) {
    std::string line;
    for (const auto& name : columns) line += value_text(c.row()[t.def().find_column(name)]) + "|";
    out.push_back(line);
  }
  std::sort(out.begin(), out.end());
  return out;
}

TEST_F(CreateTest, NewDatabaseHoldsTheSystemTablesJetCreates) {
  const std::string file = path("new.mdb");
  {
    CreateOptions o;
    o.locale = ";LANGID=0x0409;CP=1252;COUNTRY=0";
    o.format_options = 64;
    auto db = Database::create(file, o);
    EXPECT_EQ(db->info().sort_order, 0x0409u);
    EXPECT_EQ(db->info().code_page, 0x04E4);
  }
  auto ours = Database::open(file);
  auto jet = Database::open(test::fixture("adox_jet4.mdb"));
  std::vector<std::string> a, b;
  for (const auto& t : ours->tables(true)) a.push_back(t.name);
  for (const auto& t : jet->tables(true)) b.push_back(t.name);
  EXPECT_EQ(a, b);
  const std::vector<std::string> object_cols{"Id", "ParentId", "Name", "Type", "Owner", "Flags"};
  EXPECT_EQ(catalog_rows(*ours, "MSysObjects", object_cols), catalog_rows(*jet, "MSysObjects", object_cols));
  const std::vector<std::string> ace_cols{"ObjectId", "SID", "ACM", "FInheritable"};
  EXPECT_EQ(catalog_rows(*ours, "MSysACEs", ace_cols), catalog_rows(*jet, "MSysACEs", ace_cols));
  for (const char* name : {"MSysObjects", "MSysACEs", "MSysQueries", "MSysRelationships"}) {
    SCOPED_TRACE(name);
    const TableDef& x = ours->table(name).def();
    const TableDef& y = jet->table(name).def();
    EXPECT_EQ(x.tdef_page, y.tdef_page);
    ASSERT_EQ(x.columns.size(), y.columns.size());
    for (std::size_t i = 0; i < x.columns.size(); ++i) {
      EXPECT_EQ(x.columns[i].name, y.columns[i].name);
      EXPECT_EQ(x.columns[i].type, y.columns[i].type);
      EXPECT_EQ(x.columns[i].number, y.columns[i].number);
      EXPECT_EQ(x.columns[i].fixed_length, y.columns[i].fixed_length) << x.columns[i].name;
      // Access leaves the other field of the pair as it happens to be.
      if (x.columns[i].fixed_length) {
        EXPECT_EQ(x.columns[i].fixed_offset, y.columns[i].fixed_offset) << x.columns[i].name;
      } else {
        EXPECT_EQ(x.columns[i].variable_index, y.columns[i].variable_index) << x.columns[i].name;
      }
    }
    ASSERT_EQ(x.indexes.size(), y.indexes.size());
  }
  // Index lookups work on the new catalog (its Id index).
  std::vector<Value> key{int32_t(2)};
  EXPECT_EQ(ours->table("MSysObjects").seek("Id", key).size(), 1u);
  test::expect_independent_readers_agree(file, "");
  EXPECT_EQ(test::run_command("mdb-tables -1 " + test::shell_quote(file)), "");
}

TEST_F(CreateTest, PasswordIsStoredMaskedAndRequired) {
  const std::string file = path("secret.mdb");
  CreateOptions o;
  o.password = "qzmvrp";
  Database::create(file, o).reset();
  EXPECT_THROW(Database::open(file), Error);
  auto db = Database::open(file, OpenOptions::from_connect_string(";pwd=qzmvrp"));
  EXPECT_TRUE(db->info().has_password);
  // The password is not in the file as plain UCS-2.
  auto bytes = test::read_file(file);
  const char plain[] = {'q', 0, 'z', 0, 'm', 0, 'v', 0};
  EXPECT_EQ(std::search(bytes.begin(), bytes.end(), plain, plain + 8), bytes.end());
  test::expect_independent_readers_agree(file, "qzmvrp");
}

TEST_F(CreateTest, RefusesBadOptionsAndExistingFiles) {
  CreateOptions o;
  o.format_options = 32;
  EXPECT_THROW(Database::create(path("a.mdb"), o), Error);
  o = {};
  o.locale = ";LANGID=0x0407;CP=1252;COUNTRY=0";
  EXPECT_THROW(Database::create(path("a.mdb"), o), Error);
  o = {};
  o.locale = ";LANGID=zz";
  EXPECT_THROW(Database::create(path("a.mdb"), o), Error);
  EXPECT_FALSE(fs::exists(path("a.mdb")));
  Database::create(path("b.mdb")).reset();
  try {
    Database::create(path("b.mdb"));
    FAIL() << "created over an existing file";
  } catch (const Error& e) {
    EXPECT_EQ(e.category(), ErrorCategory::kInvalidArgument);
  }
}

// Appends a column to `t` and returns it for further settings.
ColumnSpec& add_column(TableSpec& t, const std::string& name, ColumnType type, uint16_t length = 0,
                       bool compressed_unicode = false) {
  ColumnSpec c;
  c.name = name;
  c.type = type;
  c.length = length;
  c.compressed_unicode = compressed_unicode;
  t.columns.push_back(c);
  return t.columns.back();
}

// An ascending primary key over one column.
IndexSpec primary_key_on(const std::string& column) { return IndexSpec{"PrimaryKey", {{column, true}}, true}; }

TableSpec scanner_data() {
  TableSpec t;
  t.name = "Scanner_Data";
  auto col = [&](const char* n, ColumnType ty, uint16_t len = 0) { add_column(t, n, ty, len); };
  add_column(t, "Scanner_Data_ID", ColumnType::kLong).auto_number = true;
  col("Qty", ColumnType::kDouble);
  col("Item_Number", ColumnType::kText, 255);
  col("Description", ColumnType::kText, 255);
  col("Standard_Price", ColumnType::kCurrency);
  col("File_Type", ColumnType::kInteger);
  col("Notes", ColumnType::kText, 255);
  t.indexes.push_back(primary_key_on("Scanner_Data_ID"));
  return t;
}

TEST_F(CreateTest, CounterKeyedTableAndAddedColumn) {
  const std::string file = path("POS_Scanner.MDB");
  std::vector<Row> want;
  {
    auto db = Database::create(file, fast());
    Table& t = db->create_table(scanner_data());
    for (int i = 0; i < 300; ++i) {
      Row r{std::monostate{}, double(i) / 4, "ITEM" + std::to_string(i), std::string(i % 7 ? "desc" : ""),
            Currency{int64_t(i) * 12345}, int16_t(i % 6), std::monostate{}};
      Row stored;
      t.insert(r, &stored);
      EXPECT_EQ(std::get<int32_t>(stored[0]), i + 1);
      want.push_back(stored);
    }
    EXPECT_EQ(t.row_count(), 300u);
    db->add_column("Scanner_Data", ColumnSpec{"Item_Order", ColumnType::kText, 255});
    Table& t2 = db->table("Scanner_Data");
    ASSERT_EQ(t2.columns().size(), 8u);
    for (Row& r : want) r.push_back(std::monostate{});
    try {
      db->add_column("Scanner_Data", ColumnSpec{"item_order", ColumnType::kText, 255});
      FAIL() << "added a column twice";
    } catch (const Error& e) {
      EXPECT_EQ(e.category(), ErrorCategory::kConstraint);
    }
    // New rows carry the new column; counters go on.
    Row r{std::monostate{}, 1.5, std::string("NEW"), std::monostate{}, Currency{0}, int16_t(4),
          std::string("note"), std::string("0001")};
    Row stored;
    t2.insert(r, &stored);
    EXPECT_EQ(std::get<int32_t>(stored[0]), 301);
    want.push_back(stored);
  }
  test::expect_independent_readers_agree(file, "", {{"Scanner_Data", want}});
  auto db = Database::open(file);
  std::vector<Value> key{int32_t(150)};
  auto hit = db->table("Scanner_Data").seek("PrimaryKey", key);
  ASSERT_EQ(hit.size(), 1u);
  Row r;
  db->table("Scanner_Data").read_row(hit[0], r);
  EXPECT_EQ(std::get<std::string>(r[2]), "ITEM149");
  EXPECT_TRUE(is_null(r[7]));
}

// A table of fixed-length columns only stores its rows without a variable
// section; the first variable column added later must leave them readable by
// every reader, and updatable.
TEST_F(CreateTest, FirstVariableColumnAddedToAllFixedTable) {
  const std::string file = path("old.mdb");
  std::vector<Row> want;
  {
    auto db = Database::create(file, fast());
    TableSpec spec;
    spec.name = "Old";
    add_column(spec, "Old_ID", ColumnType::kLong).auto_number = true;
    add_column(spec, "Qty", ColumnType::kDouble);
    spec.indexes.push_back(primary_key_on("Old_ID"));
    Table& t = db->create_table(spec);
    for (int i = 0; i < 400; ++i) {
      Row stored;
      t.insert(Row{std::monostate{}, double(i) / 2}, &stored);
      want.push_back(stored);
    }
    db->add_column("Old", ColumnSpec{"Item_Order", ColumnType::kText, 255});
    for (Row& r : want) r.push_back(std::monostate{});
    Table& grown = db->table("Old");
    // An old row takes a value in the new column.
    std::vector<Value> key{int32_t(7)};
    auto hit = grown.seek("PrimaryKey", key);
    ASSERT_EQ(hit.size(), 1u);
    want[6][2] = std::string("0007");
    grown.update(hit[0], want[6]);
  }
  test::expect_independent_readers_agree(file, "", {{"Old", want}});
}

TableSpec every_type() {
  TableSpec t;
  t.name = "Every Type";
  auto col = [&](const char* n, ColumnType ty, uint16_t len = 0) -> ColumnSpec& {
    return add_column(t, n, ty, len, /*compressed_unicode=*/true);
  };
  col("Id", ColumnType::kLong).auto_number = true;
  col("Flag", ColumnType::kBoolean);
  col("Small", ColumnType::kByte);
  col("Int", ColumnType::kInteger);
  col("Long", ColumnType::kLong);
  col("Money", ColumnType::kCurrency);
  col("Single", ColumnType::kSingle);
  col("Double", ColumnType::kDouble);
  col("When", ColumnType::kDateTime);
  col("Bin", ColumnType::kBinary, 16);
  col("Text", ColumnType::kText, 50);
  col("Memo", ColumnType::kMemo);
  col("Ole", ColumnType::kOle);
  col("Guid", ColumnType::kGuid);
  ColumnSpec& dec = col("Dec", ColumnType::kNumeric);
  dec.precision = 18;
  dec.scale = 2;
  IndexSpec pk = primary_key_on("Id");
  IndexSpec text{"ByText", {{"Text", true}, {"Money", false}}, false, true};
  IndexSpec when{"ByWhen", {{"When", true}}};
  t.indexes = {pk, text, when};
  return t;
}

TEST_F(CreateTest, EveryColumnTypeRoundTrips) {
  const std::string file = path("types.mdb");
  std::vector<Row> want;
  {
    auto db = Database::create(file, fast());
    Table& t = db->create_table(every_type());
    Guid g;
    for (int i = 0; i < 16; ++i) g.bytes[i] = uint8_t(i * 17);
    Decimal d;
    d.negative = true;
    d.scale = 2;
    d.magnitude = {123456, 0, 0};
    std::string long_memo;
    for (int i = 0; i < 3000; ++i) long_memo += "line " + std::to_string(i) + " é€\n";
    std::vector<uint8_t> big(20000);
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = uint8_t(i * 7);
    std::vector<Row> rows = {
        {std::monostate{}, true, uint8_t(255), int16_t(-32768), int32_t(-5), Currency{-123456789},
         float(1.5f), 2.25, DateTime{45000.5}, Bytes{{1, 2, 3}}, std::string("Grüße"), std::string("short memo"),
         Bytes{{9, 8, 7}}, g, d},
        {std::monostate{}, false, std::monostate{}, std::monostate{}, std::monostate{}, std::monostate{},
         std::monostate{}, std::monostate{}, std::monostate{}, std::monostate{}, std::string(""), std::string(""),
         std::monostate{}, std::monostate{}, std::monostate{}},
        {std::monostate{}, true, uint8_t(0), int16_t(0), int32_t(0), Currency{0}, 0.0f, 0.0, DateTime{0},
         Bytes{}, std::string("\xce\xa9mega \xe2\x82\xac"), long_memo, Bytes{big}, g, Decimal{}},
        {std::monostate{}, false, uint8_t(7), int16_t(7), int32_t(7), Currency{70000}, 7.0f, 7.0,
         DateTime{36526.25}, Bytes{std::vector<uint8_t>(16, 0xAB)}, std::string(50, 'x'),
         std::string(5000, 'y'), Bytes{std::vector<uint8_t>(4000, 1)}, std::monostate{}, std::monostate{}},
    };
    for (Row& r : rows) {
      Row stored;
      t.insert(r, &stored);
      want.push_back(stored);
    }
    // Errors refused before anything is written: the file stays byte for
    // byte as it was.
    const auto before = test::read_file(file);
    Row too_long = rows[3];
    too_long[0] = std::monostate{};
    too_long[10] = std::string(51, 'x');
    EXPECT_THROW(t.insert(too_long), Error);
    Row wrong_type = rows[3];
    wrong_type[0] = std::monostate{};
    wrong_type[4] = std::string("seven");
    EXPECT_THROW(t.insert(wrong_type), Error);
    Row duplicate = rows[0];
    duplicate[0] = std::monostate{};  // same Text and Money: the unique ByText index refuses it
    try {
      t.insert(duplicate);
      FAIL() << "duplicate key accepted";
    } catch (const Error& e) {
      EXPECT_EQ(e.category(), ErrorCategory::kConstraint);
    }
    Row short_row(3);
    EXPECT_THROW(t.insert(short_row), Error);
    EXPECT_EQ(t.row_count(), 4u);
    EXPECT_TRUE(test::read_file(file) == before) << "a refused insert changed the file";
    // Updates: grow a row past its page (a long text and memo), shrink one.
    std::vector<RowId> ids;
    for (auto c = t.scan(); c.next();) ids.push_back(c.id());
    Row grown = want[1];
    grown[10] = std::string(50, 'g');
    grown[11] = std::string(2000, 'G');
    t.update(ids[1], grown);
    want[1] = grown;
    Row shrunk = want[2];
    shrunk[11] = std::string("now short");
    shrunk[12] = std::monostate{};
    t.update(ids[2], shrunk);
    want[2] = shrunk;
    t.remove(ids[3]);
    want.pop_back();
  }
  test::expect_independent_readers_agree(file, "", {{"Every Type", want}});
  auto db = Database::open(file);
  auto by_when = db->table("Every Type").scan_index("ByWhen");
  EXPECT_EQ(by_when.size(), 3u);
}

TEST_F(CreateTest, ManyRowsSpreadOverPagesAndMoveWhenTheyGrow) {
  const std::string file = path("many.mdb");
  std::vector<Row> want;
  {
    auto db = Database::create(file, fast());
    Table& t = db->create_table(scanner_data());
    std::vector<RowId> ids;
    for (int i = 0; i < 2000; ++i) {
      Row r{std::monostate{}, double(i), "I" + std::to_string(i), std::string("d"), Currency{i}, int16_t(1),
            std::monostate{}};
      Row stored;
      ids.push_back(t.insert(r, &stored));
      want.push_back(stored);
    }
    // Grow every third row to full-width text: most no longer fit their page.
    for (int i = 0; i < 2000; i += 3) {
      want[i][3] = std::string(255, 'D');
      want[i][6] = std::string(255, 'N');
      t.update(ids[i], want[i]);
    }
    for (int i = 1; i < 2000; i += 10) t.remove(ids[i]);
    std::vector<Row> kept;
    for (int i = 0; i < 2000; ++i)
      if (i % 10 != 1) kept.push_back(want[i]);
    want = kept;
    Row got;
    t.read_row(ids[0], got);
    EXPECT_EQ(std::get<std::string>(got[3]), std::string(255, 'D'));
  }
  test::expect_independent_readers_agree(file, "", {{"Scanner_Data", want}});
}

}  // namespace
}  // namespace jet

namespace jet {
namespace {

TEST_F(CreateTest, ReadOnlyDatabaseRefusesWrites) {
  const std::string file = path("ro.mdb");
  Database::create(file, fast())->create_table(scanner_data());
  auto db = Database::open(file);
  Table& t = db->table("Scanner_Data");
  try {
    t.insert(Row{std::monostate{}, 1.0, std::string("x"), std::monostate{}, Currency{1}, int16_t(0), std::monostate{}});
    FAIL() << "a read-only database took a row";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find(file), std::string::npos) << e.what();
  }
  EXPECT_THROW(db->create_table(every_type()), Error);
  EXPECT_EQ(t.row_count(), 0u);
}

TEST_F(CreateTest, KeyConstraintsNameWhatIsWrong) {
  const std::string file = path("keys.mdb");
  auto db = Database::create(file, fast());
  TableSpec spec;
  spec.name = "Products";
  spec.columns = {ColumnSpec{"Code", ColumnType::kText, 20}, ColumnSpec{"Qty", ColumnType::kLong}};
  spec.indexes = {primary_key_on("Code")};
  Table& t = db->create_table(spec);
  RowId a = t.insert(Row{std::string("A1"), int32_t(1)});
  RowId b = t.insert(Row{std::string("B2"), int32_t(2)});
  auto expect_constraint = [](auto&& f, const std::string& needle) {
    try {
      f();
      ADD_FAILURE() << "accepted";
    } catch (const Error& e) {
      EXPECT_EQ(e.category(), ErrorCategory::kConstraint) << e.what();
      EXPECT_NE(std::string(e.what()).find(needle), std::string::npos) << e.what();
    }
  };
  expect_constraint([&] { t.insert(Row{std::monostate{}, int32_t(3)}); }, "PrimaryKey");
  expect_constraint([&] { t.insert(Row{std::string("a1"), int32_t(3)}); }, "PrimaryKey");  // General order ignores case
  expect_constraint([&] { t.update(b, Row{std::string("A1"), int32_t(2)}); }, "PrimaryKey");
  expect_constraint([&] { t.insert(Row{std::string(21, 'x'), int32_t(3)}); }, "Code");
  // The refused update left the row as it was; its own key is no clash.
  t.update(a, Row{std::string("A1"), int32_t(10)});
  Row r;
  t.read_row(b, r);
  EXPECT_EQ(std::get<std::string>(r[0]), "B2");
  EXPECT_EQ(t.seek("PrimaryKey", std::vector<Value>{std::string("A1")}).size(), 1u);
  EXPECT_EQ(t.row_count(), 2u);
  db.reset();
  test::expect_independent_readers_agree(file, "", {{"Products", {Row{std::string("A1"), int32_t(10)},
                                                                  Row{std::string("B2"), int32_t(2)}}}});
}

TEST_F(CreateTest, WideDefinitionSpansSeveralPages) {
  const std::string file = path("wide.mdb");
  TableSpec t;
  t.name = "Wide";
  for (int i = 0; i < 120; ++i) {
    add_column(t, "A rather long column name number " + std::to_string(i),
               i % 3 == 0 ? ColumnType::kLong : i % 3 == 1 ? ColumnType::kText : ColumnType::kDouble, 20);
  }
  for (int i = 0; i < 6; ++i) {
    IndexSpec ix;
    ix.name = "Index over column " + std::to_string(i * 3);
    ix.columns.push_back({t.columns[i * 3].name, i % 2 == 0});
    t.indexes.push_back(ix);
  }
  std::vector<Row> want;
  {
    auto db = Database::create(file, fast());
    Table& w = db->create_table(t);
    for (int r = 0; r < 30; ++r) {
      Row row(120);
      for (int i = 0; i < 120; ++i) {
        if ((r + i) % 7 == 0) continue;
        if (i % 3 == 0) row[i] = int32_t(r * 1000 + i);
        else if (i % 3 == 1) row[i] = "r" + std::to_string(r) + "c" + std::to_string(i);
        else row[i] = r + i / 10.0;
      }
      w.insert(row);
      want.push_back(row);
    }
    db->add_column("Wide", ColumnSpec{"Added Later", ColumnType::kCurrency});
    for (Row& r : want) r.push_back(std::monostate{});
  }
  // The definition really is a chain of pages.
  auto db = Database::open(file);
  const uint32_t tdef = db->table("Wide").def().tdef_page;
  auto bytes = test::read_file(file);
  EXPECT_NE(bytes[std::size_t(tdef) * 4096 + 4] | bytes[std::size_t(tdef) * 4096 + 5], 0) << "no next page";
  EXPECT_EQ(db->table("Wide").columns().size(), 121u);
  test::expect_independent_readers_agree(file, "", {{"Wide", want}});
}

// Columns added to tables Access wrote: a table that spans two definition
// pages (test2V2000) and one that lost a column (delColTestV2000).
TEST_F(CreateTest, ColumnsAddedToAccessTables) {
  for (const char* name : {"test2V2000.mdb", "delColTestV2000.mdb"}) {
    SCOPED_TRACE(name);
    const std::string file = path(name);
    fs::copy_file(test::fixture(name), file, fs::copy_options::overwrite_existing);
    fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write);
    std::map<std::string, std::vector<Row>> want;
    {
      OpenOptions o;
      o.read_write = true;
      o.durability = Durability::kFast;
      auto db = Database::open(file, o);
      for (const auto& e : db->tables()) {
        std::vector<Row>& rows = want[e.name];
        for (auto c = db->table(e.name).scan(); c.next();) rows.push_back(c.row());
        db->add_column(e.name, ColumnSpec{"Added Text", ColumnType::kText, 40});
        db->add_column(e.name, ColumnSpec{"Added Long", ColumnType::kLong});
        Table& t = db->table(e.name);
        for (Row& r : rows) {
          r.push_back(std::monostate{});
          r.push_back(std::monostate{});
        }
        // A new row using the new columns (a copy of the first, if any, with
        // its unique keys left Null or changed).
        Row fresh(t.columns().size());
        fresh[fresh.size() - 2] = std::string("new text");
        fresh[fresh.size() - 1] = int32_t(42);
        bool keyed = false;
        for (const auto& ix : t.indexes()) keyed = keyed || ix.required || ix.primary_key;
        if (!keyed) {
          Row stored;
          t.insert(fresh, &stored);
          rows.push_back(stored);
        }
      }
    }
    test::expect_independent_readers_agree(file, "", want);
  }
}

}  // namespace
}  // namespace jet
