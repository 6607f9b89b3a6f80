// The consistency check: quiet on every fixture, and it finds the damage in
// deliberately broken copies (a dropped index entry, a wrong row count, a
// usage-map bit cleared), through the API and through `jetsql --check`.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <filesystem>

#include "binary.h"
#include "check.h"
#include "index/index_writer.h"
#include "index/key_encoding.h"
#include "jet/database.h"
#include "jet/error.h"
#include "page_allocator.h"
#include "pager.h"
#include "table_def.h"
#include "test_util.h"
#include "usage_map.h"

namespace jet {
namespace {

namespace fs = std::filesystem;

class CheckFixture : public ::testing::TestWithParam<std::string> {};

TEST_P(CheckFixture, AccessWrittenFilesAreConsistent) {
  auto db = Database::open(test::fixture(GetParam()), OpenOptions{.password = test::fixture_password(GetParam())});
  CheckReport r = check_database(*db);
  EXPECT_TRUE(r.ok()) << test::joined_problems(r);
  EXPECT_GT(r.tables, 3u);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, CheckFixture, ::testing::ValuesIn(test::fixture_files()),
                         [](const auto& info) {
                           std::string s = info.param;
                           for (char& c : s)
                             if (!isalnum(static_cast<unsigned char>(c))) c = '_';
                           return s;
                         });

class BrokenCopy : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("jet_check_" + std::to_string(::getpid()) + "_" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
    file_ = (dir_ / "products.mdb").string();
    fs::copy_file(test::fixture("products_small.mdb"), file_, fs::copy_options::overwrite_existing);
    fs::permissions(file_, fs::perms::owner_read | fs::perms::owner_write);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::unique_ptr<Database> open_rw() {
    OpenOptions o;
    o.password = "qzmvrp";
    o.read_write = true;
    o.durability = Durability::kFast;
    return Database::open(file_, o);
  }
  CheckReport check() {
    auto db = Database::open(file_, OpenOptions{.password = "qzmvrp"});
    return check_database(*db);
  }
  // Runs jetsql --check on the file; returns its exit status.
  int jetsql_check() {
    std::string cmd = std::string(JETSQL) + " --check " + test::shell_quote(file_) + " --password qzmvrp >/dev/null 2>&1";
    int rc = std::system(cmd.c_str());
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  }

  fs::path dir_;
  std::string file_;
};

TEST_F(BrokenCopy, IntactCopyPasses) {
  EXPECT_TRUE(check().ok()) << test::joined_problems(check());
  EXPECT_EQ(jetsql_check(), 0);
}

TEST_F(BrokenCopy, FindsADroppedIndexEntry) {
  std::string index_name;
  {
    auto db = open_rw();
    Table& t = db->table("PRODUCT1");
    const TableDef& def = t.def();
    ASSERT_FALSE(def.indexes.empty());
    const IndexDef& ix = def.indexes.back();
    index_name = ix.name;
    index::IndexLayout layout = make_index_layout(def, ix);
    auto c = t.scan();
    for (int i = 0; i < 10; ++i) ASSERT_TRUE(c.next());
    std::vector<Value> vals;
    for (const auto& ic : ix.columns) vals.push_back(c.row()[def.find_column(ic.column_name)]);
    Pager& pager = db->pager();
    WriteScope scope(pager);
    PagerIndexStore store(pager);
    PageAllocator alloc(pager);
    index::IndexWriter w(pager, store, alloc, layout);
    w.remove(index::encode_key(layout, vals), index::RowPointer{c.id().page, c.id().row});
    scope.commit();
  }
  CheckReport r = check();
  ASSERT_FALSE(r.ok());
  EXPECT_NE(test::joined_problems(r).find("index '" + index_name + "': no entry for row"), std::string::npos) << test::joined_problems(r);
  EXPECT_EQ(jetsql_check(), 3);
}

TEST_F(BrokenCopy, FindsAWrongRowCount) {
  {
    auto db = open_rw();
    Table& t = db->table("PRODUCT1");
    WriteScope scope(db->pager());
    uint8_t* p = db->pager().page_for_write(t.def().tdef_page);
    put_le32(p + 0x10, le32(p + 0x10) + 5);
    scope.commit();
  }
  CheckReport r = check();
  ASSERT_FALSE(r.ok());
  EXPECT_NE(test::joined_problems(r).find("table 'PRODUCT1': its definition records 505 rows, but 500 were found"), std::string::npos)
      << test::joined_problems(r);
  EXPECT_EQ(jetsql_check(), 3);
}

TEST_F(BrokenCopy, FindsAClearedUsageMapBit) {
  uint32_t page = 0;
  {
    auto db = open_rw();
    Table& t = db->table("PRODUCT1");
    auto c = t.scan();
    ASSERT_TRUE(c.next());
    page = c.id().page;
    WriteScope scope(db->pager());
    PageAllocator alloc(db->pager());
    alloc.map_remove(t.def().usage_map, page, "test");
    scope.commit();
  }
  CheckReport r = check();
  ASSERT_FALSE(r.ok());
  EXPECT_NE(test::joined_problems(r).find("data page " + std::to_string(page) + " holds its rows but its usage map does not list it"),
            std::string::npos)
      << test::joined_problems(r);
  EXPECT_EQ(jetsql_check(), 3);
}

TEST_F(BrokenCopy, WritesKeepTheFileConsistent) {
  {
    auto db = open_rw();
    Table& t = db->table("PRODUCT1");
    std::vector<std::pair<RowId, Row>> rows;
    for (auto c = t.scan(); c.next();) rows.emplace_back(c.id(), c.row());
    const int code = t.def().find_column("Product Code");
    ASSERT_GE(code, 0);
    for (std::size_t i = 0; i < rows.size(); i += 5) t.remove(rows[i].first);
    for (std::size_t i = 0; i < rows.size(); i += 5) {
      Row r = rows[i].second;
      r[code] = std::get<std::string>(r[code]) + "-NEW";
      t.insert(r);
    }
    for (std::size_t i = 1; i < rows.size(); i += 5) {
      Row r = rows[i].second;
      for (std::size_t k = 0; k < r.size(); ++k) {
        if (t.columns()[k].type == ColumnType::kText && int(k) != code) r[k] = std::string(t.columns()[k].length / 2, 'Z');
      }
      t.update(rows[i].first, r);
    }
  }
  CheckReport r = check();
  EXPECT_TRUE(r.ok()) << test::joined_problems(r);
  EXPECT_EQ(r.rows >= 500, true);
}

}  // namespace
}  // namespace jet
