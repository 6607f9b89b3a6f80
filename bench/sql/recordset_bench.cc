// A grid's first and last screens on a 100,000-row Scanner_Data: open a
// recordset on the table and read every field of rows 0-39 and
// 99,960-99,999 by absolute position (goal: under 50 ms), beside two peers
// measured in the same run on the same file: the engine's plain table scan
// of every row, and mdb-export of the table (when mdbtools is installed).
//
//   jet_recordset_bench [FOLDER]     (default: the system's temporary folder)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <unistd.h>

#include "app/data/scanner_database.h"
#include "jet/dao.h"
#include "jet/database.h"
#include "jet/error.h"
#include "jet/table.h"
#include "jet/transaction.h"

namespace {

using Clock = std::chrono::steady_clock;
double ms_since(Clock::time_point t) { return std::chrono::duration<double, std::milli>(Clock::now() - t).count(); }

constexpr int kRows = 100000;
constexpr int kScreen = 40;
constexpr int kRuns = 5;

void fill(const std::string& path) {
  jet::dao::Workspace workspace;
  jet::dao::OpenOptions fast;
  fast.durability = jet::Durability::kFast;
  { workspace.create_database(path)->execute(tallimo::scanner_data_table_sql()); }
  auto db = workspace.open_database(path, fast);
  jet::Table& t = db->engine().table("Scanner_Data");
  jet::Transaction tx(db->engine());
  for (int i = 0; i < kRows; ++i) {
    char item[32];
    std::snprintf(item, sizeof item, "%012d", 400000000 + i * 7);
    jet::Row row(t.columns().size());
    row[1] = double(i % 50 + 1);
    row[2] = std::string(item);
    row[4] = "Scanned item number " + std::to_string(i);
    row[5] = std::string("V") + std::to_string(i % 300);
    row[6] = jet::Currency{(i % 9000) * 100 + 99};
    row[7] = jet::Currency{(i % 9000) * 60};
    row[8] = std::string("Aisle ") + std::to_string(i % 40);
    row[9] = jet::Currency{(i % 9000) * 120};
    row[10] = int16_t(i % 6);
    t.insert(row);
  }
  tx.commit();
}

// Opens the file afresh and reads both screens; returns the milliseconds and
// a checksum of what was read.
double grid_screens(const std::string& path, std::size_t& fields_read) {
  auto t0 = Clock::now();
  jet::dao::Workspace workspace;
  auto db = workspace.open_database(path);
  auto rs = db->open_recordset("Scanner_Data");
  if (rs->row_count() != kRows) throw jet::Error(jet::ErrorCategory::kCorruption, "unexpected row count");
  fields_read = 0;
  for (int64_t start : {int64_t{0}, int64_t{kRows - kScreen}}) {
    for (int64_t p = start; p < start + kScreen; ++p) {
      rs->set_absolute_position(p);
      for (std::size_t c = 0; c < rs->field_count(); ++c) fields_read += !jet::is_null(rs->field(c));
    }
  }
  return ms_since(t0);
}

double plain_scan(const std::string& path, std::size_t& rows) {
  auto t0 = Clock::now();
  jet::OpenOptions o;
  o.read_write = false;
  auto db = jet::Database::open(path, o);
  rows = 0;
  for (auto c = db->table("Scanner_Data").scan(); c.next();) ++rows;
  return ms_since(t0);
}

double mdb_export(const std::string& path) {
  std::string cmd = "mdb-export '" + path + "' Scanner_Data > /dev/null 2>&1";
  auto t0 = Clock::now();
  int rc = std::system(cmd.c_str());
  double ms = ms_since(t0);
  return rc == 0 ? ms : -1;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  try {
    std::filesystem::path folder = argc > 1 ? std::filesystem::path(argv[1]) : std::filesystem::temp_directory_path();
    std::string path = (folder / ("recordset_bench_" + std::to_string(::getpid()) + ".mdb")).string();
    auto t0 = Clock::now();
    fill(path);
    std::printf("Scanner_Data with %d rows built in %.0f ms\n", kRows, ms_since(t0));

    std::vector<double> grid, scan, exported;
    std::size_t fields = 0, rows = 0;
    for (int run = 0; run < kRuns; ++run) {
      grid.push_back(grid_screens(path, fields));
      scan.push_back(plain_scan(path, rows));
      double e = mdb_export(path);
      if (e >= 0) exported.push_back(e);
    }
    const double g = median(grid), s = median(scan);
    std::printf("open recordset, read rows 0-39 and 99960-99999 (%zu fields): %8.2f ms  goal < 50 ms\n", fields, g);
    std::printf("plain table scan of all %zu rows                            : %8.2f ms  ratio grid/scan %.3f\n", rows, s,
                g / s);
    if (!exported.empty()) {
      const double e = median(exported);
      std::printf("mdb-export of Scanner_Data                                   : %8.2f ms  ratio grid/mdb-export %.3f\n", e,
                  g / e);
    } else {
      std::printf("mdb-export of Scanner_Data                                   : not run (mdbtools missing)\n");
    }
    std::printf("(medians of %d runs, each opening the file afresh)\n", kRuns);
    std::filesystem::remove(path);
    return 0;
  } catch (const jet::Error& e) {
    std::fprintf(stderr, "jet_recordset_bench: %s\n", e.what());
    return 1;
  }
}
