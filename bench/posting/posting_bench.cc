// Posting benchmark: 10,000 scanned records of every kind posted into a
// 100,000-product PRODUCT1 (both files made with our engine), whole run timed
// as the user sees it: open, every kind, Compare, durable commits, close.
// Peer measured in the same run: mdb-export reading the same PRODUCT1 once.
//
//   posting_bench [PRODUCTS] [SCANS] [RECORDS_PER_COMMIT] [SECONDS_PER_COMMIT]
//
// A group also commits once it is SECONDS_PER_COMMIT old (the window gets
// events only between groups); comparing 0.1 with 1 shows what that costs.
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "bench_clock.h"
#include "app/data/demo_shop.h"
#include "app/data/scanner_database.h"
#include "app/posting/posting.h"
#include "app/session.h"
#include "app/user_interface.h"
#include "jet/dao.h"

namespace {

using bench::cpu_seconds;
using bench::seconds_since;

}  // namespace

int main(int argc, char** argv) {
  const int products = argc > 1 ? std::atoi(argv[1]) : 100000;
  const int scans = argc > 2 ? std::atoi(argv[2]) : 10000;
  const int per_commit = argc > 3 ? std::atoi(argv[3]) : tallimo::PostingOptions{}.records_per_commit;
  const double seconds_per_commit = argc > 4 ? std::atof(argv[4]) : tallimo::PostingOptions{}.seconds_per_commit;
  if (products < 1 || scans < 1 || per_commit < 1 || !(seconds_per_commit > 0)) {
    std::fprintf(stderr, "usage: posting_bench [PRODUCTS] [SCANS] [RECORDS_PER_COMMIT] [SECONDS_PER_COMMIT]\n");
    return 2;
  }
  char tmpl[] = "/tmp/tallimo-posting-bench-XXXXXX";
  const std::string dir = ::mkdtemp(tmpl);
  const std::string products_path = dir + "/products.mdb";

  auto t0 = std::chrono::steady_clock::now();
  {
    auto db = tallimo::demo::create_products_database(products_path);
    tallimo::demo::add_products(*db, tallimo::demo::generated_catalogue(products, 1));
    db->close();
    auto scanner = tallimo::demo::create_scanner_database(dir + "/" + tallimo::kScannerDatabaseName);
    tallimo::demo::add_scans(*scanner, tallimo::demo::generated_scans(scans, products, 2));
    scanner->close();
  }
  std::printf("setup: %d products (+%d cases) and %d scanned records written in %.2f s\n", products, products / 10,
              scans, seconds_since(t0));

  tallimo::ConsoleUserInterface ui(/*quiet=*/true);
  tallimo::Session session(ui, dir);
  session.settings().Orvex_Location = products_path;
  session.posting_options().records_per_commit = per_commit;
  session.posting_options().seconds_per_commit = seconds_per_commit;
  ui.set_command_button_enabled(0, false);

  const double cpu0 = cpu_seconds();
  t0 = std::chrono::steady_clock::now();
  tallimo::Process_Post(session);
  const double wall = seconds_since(t0);
  const double cpu = cpu_seconds() - cpu0;
  const tallimo::PostingSummary& s = session.last_posting_summary();
  if (!s.completed || s.errors != 0) {
    std::fprintf(stderr, "the posting run failed (%ld errors)\n", s.errors);
    return 1;
  }

  t0 = std::chrono::steady_clock::now();
  const std::string export_cmd = "mdb-export '" + products_path + "' PRODUCT1 > /dev/null";
  const int rc = std::system(export_cmd.c_str());
  const double peer = seconds_since(t0);

  std::printf("posting: %ld records handled, %ld posted, %ld left in Scanner_Data, commits of %d records or %.2f s\n",
              s.records_at_start, s.records_posted, s.records_remaining, per_commit, seconds_per_commit);
  std::printf("posting: %.3f s wall (%.3f s CPU), %.0f records/s\n", wall, cpu, s.records_at_start / wall);
  std::printf("goal: under 2 s for the whole run: %s (%.2fx of the goal)\n", wall < 2.0 ? "met" : "missed", wall / 2.0);
  if (rc == 0) {
    std::printf("peer: mdb-export reads the same PRODUCT1 once in %.3f s; posting / peer = %.2f\n", peer, wall / peer);
  }
  std::filesystem::remove_all(dir);
  return 0;
}
