// Benchmark (not a test): open products_20k.mdb and read every row of
// PRODUCT1, and time mdb-export on the same file in the same run.
//
//   jet_read_bench [FILE] [TABLE] [PASSWORD]
//
// Prints the best of several runs for: open + read all rows into values;
// open + read + format as CSV (the work mdb-export does); mdb-export to
// /dev/null; 10,000 primary-key seeks with row reads. Ratio = mdb-export
// time / ours; the goal is at least 5.
#include <fcntl.h>
#include <sys/wait.h>
#include <spawn.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "jet/database.h"
#include "jet/error.h"
#include "jet/value_text.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

template <class F>
double best_ms(int runs, F&& f) {
  double best = 1e300;
  for (int i = 0; i < runs; ++i) {
    auto t0 = Clock::now();
    f();
    best = std::min(best, std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
  }
  return best;
}

std::size_t read_rows(const std::string& file, const std::string& table, const std::string& password) {
  auto db = jet::Database::open(file, jet::OpenOptions{.password = password});
  std::size_t n = 0;
  for (auto c = db->table(table).scan(); c.next();) n += c.row().size();
  return n;
}

std::size_t export_csv(const std::string& file, const std::string& table, const std::string& password) {
  auto db = jet::Database::open(file, jet::OpenOptions{.password = password});
  std::string out;
  std::size_t total = 0;
  for (auto c = db->table(table).scan(); c.next();) {
    for (const jet::Value& v : c.row()) {
      jet::append_value_text(v, out);
      out.push_back(',');
    }
    out.push_back('\n');
    if (out.size() > (1 << 16)) {
      total += out.size();
      out.clear();
    }
  }
  return total + out.size();
}

void run_mdb_export(const std::string& file, const std::string& table) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  std::vector<char*> argv = {const_cast<char*>("mdb-export"), const_cast<char*>(file.c_str()),
                             const_cast<char*>(table.c_str()), nullptr};
  pid_t pid;
  if (posix_spawnp(&pid, "mdb-export", &actions, nullptr, argv.data(), environ) != 0) {
    std::fprintf(stderr, "cannot run mdb-export\n");
    std::exit(1);
  }
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "mdb-export failed\n");
    std::exit(1);
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::string file = argc > 1 ? argv[1] : std::string(TALLIMO_FIXTURES) + "/products_20k.mdb";
  std::string table = argc > 2 ? argv[2] : "PRODUCT1";
  std::string password = argc > 3 ? argv[3] : "qzmvrp";
  try {
    std::size_t rows = 0;
    {
      auto db = jet::Database::open(file, jet::OpenOptions{.password = password});
      for (auto c = db->table(table).scan(); c.next();) ++rows;
    }
    const int runs = 7;
    double ours = best_ms(runs, [&] { read_rows(file, table, password); });
    double ours_csv = best_ms(runs, [&] { export_csv(file, table, password); });
    double theirs = best_ms(3, [&] { run_mdb_export(file, table); });

    // Seeks through the primary key, as posting does for each scanned item.
    double seek_ms = -1;
    std::size_t seeks = 0;
    {
      auto db = jet::Database::open(file, jet::OpenOptions{.password = password});
      jet::Table& t = db->table(table);
      int pk = -1;
      for (std::size_t i = 0; i < t.indexes().size(); ++i) {
        if (t.indexes()[i].primary_key && t.indexes()[i].columns.size() == 1) pk = static_cast<int>(i);
      }
      if (pk >= 0) {
        const auto& ix = t.indexes()[pk];
        int col = t.def().find_column(ix.columns[0].column_name);
        std::vector<jet::Value> keys;
        for (auto c = t.scan(); c.next() && keys.size() < 10000;) keys.push_back(c.row()[col]);
        while (!keys.empty() && keys.size() < 10000) keys.push_back(keys[keys.size() % rows]);
        jet::Row row;
        seek_ms = best_ms(3, [&] {
          seeks = 0;
          for (const jet::Value& k : keys) {
            for (jet::RowId id : t.seek(ix.name, std::span<const jet::Value>(&k, 1))) {
              t.read_row(id, row);
              ++seeks;
            }
          }
        });
      }
    }

    std::printf("file: %s, table %s, %zu rows\n", file.c_str(), table.c_str(), rows);
    std::printf("jet open + read all rows          %9.2f ms\n", ours);
    std::printf("jet open + read + format CSV      %9.2f ms\n", ours_csv);
    std::printf("mdb-export (same file, /dev/null) %9.2f ms\n", theirs);
    std::printf("ratio mdb-export / jet read       %9.1f x\n", theirs / ours);
    std::printf("ratio mdb-export / jet CSV        %9.1f x  (goal >= 5)\n", theirs / ours_csv);
    if (seek_ms >= 0) {
      std::printf("10000 primary-key seeks + row reads %7.2f ms (%zu rows found)\n", seek_ms, seeks);
    }
  } catch (const jet::Error& e) {
    std::fprintf(stderr, "jet_read_bench: %s\n", e.what());
    return 1;
  }
  return 0;
}
