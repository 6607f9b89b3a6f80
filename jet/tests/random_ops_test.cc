// 10,000 random inserts, updates and deletes on a table with four indexes
// (text, long, currency, date), against a model of the table:
//   - every index scan holds each row with a key once, in key order:
//     numbers, currency and dates by value (Null first, the descending
//     currency index from high to low), text by its General sort order key;
//   - a seek with each row's value finds that row;
//   - a duplicate in the unique text index and text the sort order cannot
//     express are refused and leave no trace;
//   - after reopening the file, the same; and `jetsql --check` (when built)
//     finds nothing wrong.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "check.h"
#include "index/key_encoding.h"
#include "jet/database.h"
#include "jet/error.h"
#include "jet/schema.h"
#include "jet/table.h"
#include "jet/transaction.h"
#include "table_def.h"
#include "test_util.h"

namespace jet {
namespace {

namespace fs = std::filesystem;

// Column positions in the table.
constexpr std::size_t kId = 0, kCode = 1, kQty = 2, kPrice = 3, kCounted = 4, kNote = 5;

struct IndexUnderTest {
  const char* name;
  std::size_t column;
};
const IndexUnderTest kIndexes[] = {{"ByCode", kCode}, {"ByQty", kQty}, {"ByPrice", kPrice}, {"ByCounted", kCounted}};

TableSpec stock_spec() {
  TableSpec spec;
  spec.name = "Stock";
  ColumnSpec id{"ID", ColumnType::kLong};
  id.auto_number = true;
  ColumnSpec code{"Code", ColumnType::kText};
  code.length = 40;
  ColumnSpec qty{"Qty", ColumnType::kLong};
  ColumnSpec price{"Price", ColumnType::kCurrency};
  ColumnSpec counted{"Counted", ColumnType::kDateTime};
  ColumnSpec note{"Note", ColumnType::kText};
  note.length = 255;
  spec.columns = {id, code, qty, price, counted, note};
  IndexSpec by_code{"ByCode", {{"Code", true}}};
  by_code.unique = true;
  IndexSpec by_qty{"ByQty", {{"Qty", true}}};
  IndexSpec by_price{"ByPrice", {{"Price", false}}};
  IndexSpec by_counted{"ByCounted", {{"Counted", true}}};
  spec.indexes = {by_code, by_qty, by_price, by_counted};
  return spec;
}

std::string random_code(std::mt19937& rng) {
  // Mixed case, digits, spaces, hyphens and accented letters: the General
  // sort order folds case and weighs hyphens and accents apart.
  static const char* const kParts[] = {"a", "B", "c", "D", "e", "0", "7", " ", "-", "\xC3\xA9", "\xC3\x84", "z", "Q"};
  std::string s;
  const int n = 1 + static_cast<int>(rng() % 12);
  for (int i = 0; i < n; ++i) s += kParts[rng() % (sizeof kParts / sizeof kParts[0])];
  return s;
}

Row random_row(std::mt19937& rng) {
  Row r(6);
  r[kId] = std::monostate{};
  if (rng() % 15 == 0) {
    r[kCode] = std::monostate{};
  } else {
    r[kCode] = random_code(rng);
  }
  if (rng() % 20 == 0) {
    r[kQty] = std::monostate{};
  } else {
    r[kQty] = static_cast<int32_t>(static_cast<int32_t>(rng() % 2000) - 500);
  }
  r[kPrice] = Currency{static_cast<int64_t>(rng() % 2000000) - 100000};
  if (rng() % 25 == 0) {
    r[kCounted] = std::monostate{};
  } else {
    r[kCounted] = DateTime{36000.0 + static_cast<double>(rng() % 5000) + static_cast<double>(rng() % 86400) / 86400.0};
  }
  // Sometimes long notes, so that updates move rows to other pages.
  r[kNote] = std::string(rng() % 4 == 0 ? 200 + rng() % 50 : rng() % 20, 'n');
  return r;
}

// Value order of a column's values (Null first), for the number indexes.
double numeric(const Value& v) {
  if (std::holds_alternative<int32_t>(v)) return std::get<int32_t>(v);
  if (std::holds_alternative<Currency>(v)) return static_cast<double>(std::get<Currency>(v).ten_thousandths);
  if (std::holds_alternative<DateTime>(v)) return std::get<DateTime>(v).days;
  ADD_FAILURE() << "unexpected value type";
  return 0;
}

struct Fixture {
  std::string path;
  std::map<std::pair<uint32_t, uint8_t>, Row> model;  // RowId -> row as stored
};

void verify(Database& db, const Fixture& f) {
  Table& t = db.table("Stock");
  ASSERT_EQ(t.row_count(), f.model.size());
  for (const IndexUnderTest& ix : kIndexes) {
    SCOPED_TRACE(ix.name);
    std::vector<RowId> scanned = t.scan_index(ix.name);
    ASSERT_EQ(scanned.size(), f.model.size()) << "every row has an entry";
    std::set<std::pair<uint32_t, uint8_t>> seen;
    const index::IndexLayout* layout = nullptr;
    index::IndexLayout code_layout;
    if (ix.column == kCode) {
      code_layout = make_index_layout(t.def(), t.def().indexes[static_cast<std::size_t>(t.def().find_index(ix.name))]);
      layout = &code_layout;
    }
    for (std::size_t i = 0; i < scanned.size(); ++i) {
      auto id = std::make_pair(scanned[i].page, scanned[i].row);
      ASSERT_TRUE(f.model.count(id)) << "entry " << i << " names a row that is not there";
      ASSERT_TRUE(seen.insert(id).second) << "row listed twice";
      if (i == 0) continue;
      const Value& a = f.model.at({scanned[i - 1].page, scanned[i - 1].row})[ix.column];
      const Value& b = f.model.at(id)[ix.column];
      if (ix.column == kCode) {
        auto ka = index::encode_key(*layout, {&a, 1});
        auto kb = index::encode_key(*layout, {&b, 1});
        ASSERT_LE(index::compare_keys(ka, kb), 0) << "entry " << i << " out of order";
      } else if (is_null(a) || is_null(b)) {
        ASSERT_TRUE(is_null(a)) << "entry " << i << ": Null sorts first";
      } else if (ix.column == kPrice) {
        ASSERT_GE(numeric(a), numeric(b)) << "entry " << i << " out of order (descending)";
      } else {
        ASSERT_LE(numeric(a), numeric(b)) << "entry " << i << " out of order";
      }
    }
    // A seek with each row's value finds it.
    for (const auto& [id, row] : f.model) {
      const Value& v = row[ix.column];
      std::vector<RowId> found = t.seek(ix.name, {&v, 1});
      ASSERT_TRUE(std::find(found.begin(), found.end(), RowId{id.first, id.second}) != found.end())
          << "seek misses row " << id.first << ":" << int(id.second);
    }
  }
}

TEST(RandomTableWork, TenThousandInsertsUpdatesAndDeletesKeepEveryIndex) {
  Fixture f;
  fs::path dir = fs::temp_directory_path() / ("jet_random_ops_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  f.path = (dir / "stock.mdb").string();
  fs::remove(f.path);
  std::mt19937 rng(20261207);
  int refused_duplicates = 0;
  {
    CreateOptions create;
    create.durability = Durability::kFast;
    auto db = Database::create(f.path, create);
    Table* t = &db->create_table(stock_spec());
    std::vector<std::pair<uint32_t, uint8_t>> live;
    for (int batch = 0; batch < 10; ++batch) {
      Transaction tx(*db);
      for (int step = 0; step < 1000; ++step) {
        const unsigned op = live.size() < 50 ? 0 : rng() % 100;
        if (op < 55) {
          Row r = random_row(rng);
          Row stored;
          RowId id;
          try {
            id = t->insert(r, &stored);
          } catch (const Error& e) {
            ASSERT_EQ(e.category(), ErrorCategory::kConstraint) << e.what();
            ASSERT_NE(std::string(e.what()).find("ByCode"), std::string::npos) << e.what();
            ++refused_duplicates;
            continue;
          }
          ASSERT_FALSE(f.model.count({id.page, id.row}));
          f.model[{id.page, id.row}] = stored;
          live.push_back({id.page, id.row});
        } else if (op < 85) {
          const std::size_t k = rng() % live.size();
          Row r = random_row(rng);
          r[kId] = f.model[live[k]][kId];
          if (rng() % 3 == 0) r[kCode] = f.model[live[k]][kCode];  // keep its own unique key
          try {
            t->update(RowId{live[k].first, live[k].second}, r);
          } catch (const Error& e) {
            ASSERT_EQ(e.category(), ErrorCategory::kConstraint) << e.what();
            ++refused_duplicates;
            continue;
          }
          f.model[live[k]] = r;
        } else {
          const std::size_t k = rng() % live.size();
          t->remove(RowId{live[k].first, live[k].second});
          f.model.erase(live[k]);
          live[k] = live.back();
          live.pop_back();
        }
      }
      tx.commit();
      if (batch % 3 == 2) {
        verify(*db, f);
        if (::testing::Test::HasFatalFailure()) return;
      }
    }
    EXPECT_GT(refused_duplicates, 0) << "the run never tried a duplicate code";
    EXPECT_GT(f.model.size(), 2000u) << "the table should end up with thousands of rows";

    // Text the General sort order cannot express: refused, nothing written.
    Row bad = random_row(rng);
    bad[kCode] = std::string("box \xF0\x9F\x93\xA6");
    const uint32_t before = t->row_count();
    try {
      t->insert(bad);
      ADD_FAILURE() << "unencodable text accepted";
    } catch (const Error& e) {
      EXPECT_EQ(e.category(), ErrorCategory::kConstraint) << e.what();
    }
    EXPECT_EQ(t->row_count(), before);
    verify(*db, f);
  }
  // Everything again from the file.
  OpenOptions options;
  auto db = Database::open(f.path, options);
  verify(*db, f);
  db.reset();
  // The consistency check agrees (a jetsql without --check prints its usage).
  const std::string jetsql = std::string(TALLIMO_BINARY_DIR) + "/tools/jetsql/jetsql";
  ASSERT_TRUE(fs::exists(jetsql)) << jetsql;
  const std::string out = (dir / "check.txt").string();
  const int rc = std::system((test::shell_quote(jetsql) + " --check " + test::shell_quote(f.path) + " > " +
                              test::shell_quote(out) + " 2>&1")
                                 .c_str());
  const std::vector<uint8_t> text = test::read_file(out);
  const std::string report(text.begin(), text.end());
  if (report.find("usage:") == std::string::npos) {
    EXPECT_EQ(rc, 0) << "jetsql --check on " << f.path << ":\n" << report;
  } else {
    RecordProperty("jetsql_check", "not available in this build");
  }
  fs::remove_all(dir);
}

// Every index of `table` against `model`: entries in encoded-key order (ties
// by row pointer, as Access orders them), one per row (ignore-nulls indexes
// skip all-Null keys), and a seek finds each row.
void verify_all_indexes(Table& table, const std::map<std::pair<uint32_t, uint8_t>, Row>& model) {
  std::set<uint32_t> roots;
  for (const IndexDef& ix : table.indexes()) {
    if (!roots.insert(ix.first_page).second) continue;
    SCOPED_TRACE(ix.name);
    const index::IndexLayout layout = make_index_layout(table.def(), ix);
    std::vector<int> cols;
    for (const IndexColumnDef& c : ix.columns) cols.push_back(table.def().find_column(c.column_name));
    std::vector<std::pair<std::vector<uint8_t>, std::pair<uint32_t, uint8_t>>> expected;
    for (const auto& [id, row] : model) {
      std::vector<Value> values;
      bool all_null = true;
      for (int c : cols) {
        values.push_back(row[static_cast<std::size_t>(c)]);
        all_null = all_null && is_null(values.back());
      }
      if (ix.ignore_nulls && all_null) continue;
      expected.push_back({index::encode_key(layout, values), id});
    }
    std::sort(expected.begin(), expected.end());
    std::vector<RowId> scanned = table.scan_index(ix.name);
    ASSERT_EQ(scanned.size(), expected.size());
    for (std::size_t i = 0; i < scanned.size(); ++i) {
      ASSERT_EQ(std::make_pair(scanned[i].page, scanned[i].row), expected[i].second) << "entry " << i;
    }
    for (std::size_t i = 0; i < expected.size(); i += 7) {
      std::vector<Value> values;
      for (int c : cols) values.push_back(model.at(expected[i].second)[static_cast<std::size_t>(c)]);
      std::vector<RowId> found = table.seek(ix.name, values);
      const RowId want{expected[i].second.first, expected[i].second.second};
      ASSERT_TRUE(std::find(found.begin(), found.end(), want) != found.end()) << "seek misses entry " << i;
    }
  }
}

// The same kind of work on the products table Access wrote: its own
// two-level indexes with shared prefixes and tail pages are split, emptied
// and rejoined by our writer.
TEST(RandomTableWork, AccessWrittenProductsTableKeepsItsIndexes) {
  fs::path dir = fs::temp_directory_path() / ("jet_random_products_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const std::string path = (dir / "products_20k.mdb").string();
  fs::remove(path);
  fs::copy_file(test::fixture("products_20k.mdb"), path);
  OpenOptions options;
  options.password = test::fixture_password("products_20k.mdb");
  options.read_write = true;
  options.durability = Durability::kFast;
  std::map<std::pair<uint32_t, uint8_t>, Row> model;
  std::mt19937 rng(99);
  {
    auto db = Database::open(path, options);
    Table& t = db->table("PRODUCT1");
    for (RowCursor c = t.scan(); c.next();) model[{c.id().page, c.id().row}] = c.row();
    std::vector<std::pair<uint32_t, uint8_t>> live;
    for (const auto& [id, row] : model) live.push_back(id);
    const int code = t.def().find_column("Product Code");
    const int desc = t.def().find_column("Description One");
    const int dept = t.def().find_column("Department");
    const int vendor = t.def().find_column("Vendor Code");
    ASSERT_TRUE(code >= 0 && desc >= 0 && dept >= 0 && vendor >= 0);
    int next_code = 0;
    for (int batch = 0; batch < 4; ++batch) {
      Transaction tx(*db);
      for (int step = 0; step < 1000; ++step) {
        const unsigned op = rng() % 100;
        const std::size_t k = rng() % live.size();
        if (op < 40) {
          // A copy of a row under a new product code.
          Row r = model[live[k]];
          r[static_cast<std::size_t>(code)] = "N" + std::to_string(next_code++);
          r[static_cast<std::size_t>(desc)] = random_code(rng);
          Row stored;
          RowId id = t.insert(r, &stored);
          model[{id.page, id.row}] = stored;
          live.push_back({id.page, id.row});
        } else if (op < 75) {
          Row r = model[live[k]];
          r[static_cast<std::size_t>(desc)] = random_code(rng);
          r[static_cast<std::size_t>(dept)] = static_cast<int32_t>(rng() % 60);
          if (rng() % 4 == 0) r[static_cast<std::size_t>(vendor)] = std::monostate{};
          t.update(RowId{live[k].first, live[k].second}, r);
          model[live[k]] = r;
        } else {
          t.remove(RowId{live[k].first, live[k].second});
          model.erase(live[k]);
          live[k] = live.back();
          live.pop_back();
        }
      }
      tx.commit();
    }
    verify_all_indexes(t, model);
  }
  auto db = Database::open(path, options);
  verify_all_indexes(db->table("PRODUCT1"), model);
  const CheckReport report = check_database(*db);
  for (const std::string& problem : report.problems) ADD_FAILURE() << "check: " << problem;
  fs::remove_all(dir);
}

}  // namespace
}  // namespace jet
