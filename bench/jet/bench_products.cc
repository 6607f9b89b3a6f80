#include "bench_products.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <vector>

#include "jet/database.h"
#include "jet/error.h"
#include "jet/transaction.h"

extern char** environ;

namespace bench {

double seconds_since(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

double time_mdb_export(const std::string& file, const std::string& table) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  std::vector<char*> argv = {const_cast<char*>("mdb-export"), const_cast<char*>(file.c_str()),
                             const_cast<char*>(table.c_str()), nullptr};
  const auto t0 = Clock::now();
  pid_t pid;
  if (posix_spawnp(&pid, "mdb-export", &actions, nullptr, argv.data(), environ) != 0) {
    posix_spawn_file_actions_destroy(&actions);
    throw jet::Error(jet::ErrorCategory::kIo, "cannot run mdb-export (Debian package mdbtools)");
  }
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  waitpid(pid, &status, 0);
  const double s = seconds_since(t0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    throw jet::Error(jet::ErrorCategory::kIo, "mdb-export failed on " + file + " table " + table);
  }
  return s;
}

std::string product_code(int i) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "%06d%04d", (i * 7919) % 1000000, i % 10000);
  return buf;
}

jet::TableSpec product_spec() {
  using jet::ColumnType;
  jet::TableSpec spec;
  spec.name = "PRODUCT1";
  auto text = [](const char* name, uint16_t length) {
    jet::ColumnSpec c{name, ColumnType::kText};
    c.length = length;
    c.compressed_unicode = true;
    return c;
  };
  spec.columns = {
      text("Product Code", 18),
      text("Description One", 25),
      text("Description Two", 50),
      {"Department", ColumnType::kLong},
      {"Inventory Qty", ColumnType::kDouble},
      {"Standard Price", ColumnType::kCurrency},
      {"Current Cost", ColumnType::kCurrency},
      {"List Price", ColumnType::kCurrency},
      text("Vendor Code", 16),
      text("Location", 16),
      text("Bulk Product Code", 18),
      {"Bulk Brkdwn Qty", ColumnType::kDouble},
      {"Taxable", ColumnType::kBoolean},
      {"Last Sold", ColumnType::kDateTime},
      {"Memo", ColumnType::kMemo},
  };
  jet::IndexSpec pk{"PrimaryKey", {{"Product Code", true}}};
  pk.primary_key = true;
  spec.indexes = {pk,
                  {"Description One", {{"Description One", true}}},
                  {"Vendor Code", {{"Vendor Code", true}}},
                  {"Department", {{"Department", true}}}};
  return spec;
}

jet::Row product_row(int i, std::mt19937& rng) {
  static const char* const kWords[] = {"WIDGET", "BOLT", "NUT", "SCREW", "HINGE", "PAINT", "BRUSH", "TAPE", "GLUE"};
  jet::Row r(15);
  r[0] = product_code(i);
  r[1] = std::string(kWords[rng() % 9]) + " " + std::to_string(rng() % 1000);
  r[2] = std::string("Description of item ") + std::to_string(i);
  r[3] = static_cast<int32_t>(rng() % 40);
  r[4] = static_cast<double>(rng() % 500);
  r[5] = jet::Currency{static_cast<int64_t>(rng() % 1000000)};
  r[6] = jet::Currency{static_cast<int64_t>(rng() % 1000000)};
  r[7] = jet::Currency{static_cast<int64_t>(rng() % 1000000)};
  r[8] = std::string("V") + std::to_string(rng() % 300);
  r[9] = std::string("A") + std::to_string(rng() % 50);
  r[10] = std::monostate{};
  r[11] = std::monostate{};
  r[12] = (rng() & 1) != 0;
  r[13] = jet::DateTime{43000.0 + static_cast<double>(rng() % 1000)};
  r[14] = std::monostate{};
  return r;
}

std::string build_products(const std::filesystem::path& folder, const std::string& name, int count) {
  const std::string path = (folder / name).string();
  std::filesystem::remove(path);
  jet::CreateOptions create;
  create.password = kProductsPassword;
  create.durability = jet::Durability::kFast;
  auto db = jet::Database::create(path, create);
  jet::Table& products = db->create_table(product_spec());
  std::mt19937 rng(kProductsSeed);
  jet::Transaction tx(*db);
  for (int i = 0; i < count; ++i) products.insert(product_row(i, rng));
  tx.commit();
  return path;
}

}  // namespace bench
