// The consistency check finds a system catalog changed behind the engine's
// back: a table's catalog row deleted (its definition and pages then belong
// to no name) or its Id pointed elsewhere; files as Access wrote them pass.
#include <gtest/gtest.h>

#include <filesystem>

#include "check.h"
#include "jet/database.h"
#include "jet/error.h"
#include "sql/executor.h"
#include "sql_test_util.h"

namespace {

bool mentions(const jet::CheckReport& r, const std::string& what) {
  for (const std::string& p : r.problems) {
    if (p.find(what) != std::string::npos) return true;
  }
  return false;
}

std::string all_of(const jet::CheckReport& r) {
  std::string s;
  for (const std::string& p : r.problems) s += p + "\n";
  return s;
}

TEST(CatalogCheck, FilesAsWrittenHaveNoCatalogProblems) {
  for (const auto& entry : std::filesystem::directory_iterator(sqltest::fixture(""))) {
    if (entry.path().extension() != ".mdb") continue;
    jet::OpenOptions o;
    const std::string name = entry.path().filename().string();
    if (name.find("with-password") != std::string::npos) o.password = "password";
    if (name.rfind("products_", 0) == 0) o.password = sqltest::kProductsPassword;
    auto db = jet::Database::open(entry.path().string(), o);
    jet::CheckReport r = jet::check_database(*db);
    EXPECT_FALSE(mentions(r, "catalog")) << name << ":\n" << all_of(r);
  }
}

class CatalogDamage : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = dir_.copy_fixture("products_small.mdb");
    jet::OpenOptions o;
    o.password = sqltest::kProductsPassword;
    o.read_write = true;
    db_ = jet::Database::open(path_, o);
    ASSERT_TRUE(jet::check_database(*db_).ok()) << all_of(jet::check_database(*db_));
  }
  // The catalog row of `table`, found by name, changed or removed through
  // the row API (which, unlike statements, does not guard the catalog).
  jet::RowId catalog_row(const std::string& table, jet::Row& row) {
    jet::Table& cat = db_->table("MSysObjects");
    int name = cat.def().find_column("Name");
    for (auto c = cat.scan(); c.next();) {
      if (c.row()[name] == jet::Value(table)) {
        row = c.row();
        return c.id();
      }
    }
    ADD_FAILURE() << "no catalog row for " << table;
    return {};
  }
  jet::CheckReport reopen_and_check() {
    db_.reset();
    jet::OpenOptions o;
    o.password = sqltest::kProductsPassword;
    db_ = jet::Database::open(path_, o);
    return jet::check_database(*db_);
  }

  sqltest::ScratchDir dir_;
  std::string path_;
  std::unique_ptr<jet::Database> db_;
};

TEST_F(CatalogDamage, ADeletedCatalogRowLeavesADefinitionAndPagesOfNoTable) {
  jet::Row row;
  jet::RowId id = catalog_row("PRODUCT1", row);
  db_->table("MSysObjects").remove(id);
  jet::CheckReport r = reopen_and_check();
  EXPECT_FALSE(r.ok());
  EXPECT_TRUE(mentions(r, "has no catalog row")) << all_of(r);
  EXPECT_TRUE(mentions(r, "belong to no table of the catalog")) << all_of(r);
}

TEST_F(CatalogDamage, ACatalogRowPointedAtAnotherPageIsFound) {
  jet::Row row;
  jet::RowId id = catalog_row("PRODUCT1", row);
  jet::Table& cat = db_->table("MSysObjects");
  int c_id = cat.def().find_column("Id");
  // Point the row at the catalog's own page map (page 1, a data page).
  row[c_id] = jet::Value(int32_t{1});
  cat.update(id, row);
  jet::CheckReport r = reopen_and_check();
  EXPECT_TRUE(mentions(r, "which is not a table definition")) << all_of(r);
  EXPECT_TRUE(mentions(r, "has no catalog row")) << all_of(r);
}

}  // namespace
