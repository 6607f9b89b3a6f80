// Posting-history benchmark. On a 100,000-product PRODUCT1 (made with our
// engine) with 10,000 scanned records of every kind:
//   1. the same posting run with and without the posting history, each on its
//      own copy of the shop, alternated over ROUNDS rounds (best of each
//      printed) - the history's cost is the ratio (goal: at most 1.25);
//   2. the undo of the journalled run (goal: under 2 s), printed beside the
//      posting time of that same run, its peer.
//
//   history_bench [PRODUCTS] [SCANS] [ROUNDS] [with|without]
//
// With a fourth argument only that posting is run (once, no undo): for
// counting its instructions (`perf stat -e instructions:u`), which other work
// on the machine does not disturb as it does the clock.
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "bench_clock.h"
#include "app/data/demo_shop.h"
#include "app/data/scanner_database.h"
#include "app/history/undo.h"
#include "app/posting/posting.h"
#include "app/session.h"
#include "app/user_interface.h"
#include "jet/dao.h"

namespace {

using bench::cpu_seconds;
using bench::seconds_since;

namespace fs = std::filesystem;

struct Timing {
  double wall = -1;
  double cpu = 0;
};

// Posts the shop in `dir`; gives the run's wall and CPU time (wall negative
// on failure).
Timing post(const std::string& dir, bool keep_history) {
  tallimo::ConsoleUserInterface ui(/*quiet=*/true);
  tallimo::Session session(ui, dir);
  session.settings().Orvex_Location = dir + "/products.mdb";
  session.posting_options().keep_history = keep_history;
  ui.set_command_button_enabled(0, false);
  const double cpu0 = cpu_seconds();
  const auto t0 = std::chrono::steady_clock::now();
  tallimo::Process_Post(session);
  Timing t;
  t.wall = seconds_since(t0);
  t.cpu = cpu_seconds() - cpu0;
  const tallimo::PostingSummary& s = session.last_posting_summary();
  if (!s.completed || s.errors != 0) t.wall = -1;
  return t;
}

}  // namespace

int main(int argc, char** argv) {
  const int products = argc > 1 ? std::atoi(argv[1]) : 100000;
  const int scans = argc > 2 ? std::atoi(argv[2]) : 10000;
  const int rounds = argc > 3 ? std::atoi(argv[3]) : 2;
  const std::string only = argc > 4 ? argv[4] : "";
  if (products < 1 || scans < 1 || rounds < 1 || !(only.empty() || only == "with" || only == "without")) {
    std::fprintf(stderr, "usage: history_bench [PRODUCTS] [SCANS] [ROUNDS] [with|without]\n");
    return 2;
  }
  char tmpl[] = "/tmp/tallimo-history-bench-XXXXXX";
  const std::string dir = ::mkdtemp(tmpl);
  const std::string seed = dir + "/seed";
  fs::create_directories(seed);

  auto t0 = std::chrono::steady_clock::now();
  {
    auto db = tallimo::demo::create_products_database(seed + "/products.mdb");
    tallimo::demo::add_products(*db, tallimo::demo::generated_catalogue(products, 1));
    db->close();
    auto scanner = tallimo::demo::create_scanner_database(seed + "/" + tallimo::kScannerDatabaseName);
    tallimo::demo::add_scans(*scanner, tallimo::demo::generated_scans(scans, products, 2));
    scanner->close();
  }
  std::printf("setup: %d products (+%d cases) and %d scanned records written in %.2f s\n", products, products / 10,
              scans, seconds_since(t0));

  if (!only.empty()) {
    const std::string shop = dir + "/only";
    fs::copy(seed, shop);
    const Timing t = post(shop, only == "with");
    std::printf("posting %s the history: %.3f s wall, %.3f s CPU\n", only.c_str(), t.wall, t.cpu);
    fs::remove_all(dir);
    return t.wall < 0 ? 1 : 0;
  }

  double best_without = 1e9, best_with = 1e9, cpu_without = 1e9, cpu_with = 1e9;
  std::string journalled;
  double journalled_post = 0;
  for (int r = 0; r < rounds; ++r) {
    // Alternate which goes first, so neither always meets a cold cache.
    for (int k = 0; k < 2; ++k) {
      const bool with = (r + k) % 2 == 1;
      const std::string shop = dir + "/round" + std::to_string(r) + (with ? "-with" : "-without");
      fs::copy(seed, shop);
      const Timing t = post(shop, with);
      const double wall = t.wall;
      if (wall < 0) {
        std::fprintf(stderr, "the posting run failed\n");
        return 1;
      }
      std::printf("round %d: posting %s the history: %.3f s wall, %.3f s CPU\n", r + 1, with ? "with   " : "without",
                  wall, t.cpu);
      (with ? cpu_with : cpu_without) = std::min(with ? cpu_with : cpu_without, t.cpu);
      if (with) {
        if (wall < best_with) {
          best_with = wall;
          journalled = shop;
          journalled_post = wall;
        }
      } else {
        best_without = std::min(best_without, wall);
      }
    }
  }
  std::printf("posting %d records: without history %.3f s, with history %.3f s; with / without = %.3f (goal <= 1.25: %s)\n",
              scans, best_without, best_with, best_with / best_without, best_with / best_without <= 1.25 ? "met" : "missed");
  std::printf("CPU time (less disturbed by other work on the machine): without %.3f s, with %.3f s; ratio %.3f\n",
              cpu_without, cpu_with, cpu_with / cpu_without);

  tallimo::ConsoleUserInterface ui(/*quiet=*/true);
  tallimo::Session session(ui, journalled);
  session.settings().Orvex_Location = journalled + "/products.mdb";
  t0 = std::chrono::steady_clock::now();
  const tallimo::history::UndoSummary undo = tallimo::history::Undo_Run(session, 1);
  const double undo_wall = seconds_since(t0);
  if (!undo.completed) {
    std::fprintf(stderr, "the undo did not complete\n");
    return 1;
  }
  std::printf("undo: %s in %.3f s\n", tallimo::history::describe_counts(undo).c_str(), undo_wall);
  std::printf("undo of the %ld-record run: %.3f s (goal < 2 s: %s); peer: posting that run took %.3f s; undo / post = %.3f\n",
              undo.records, undo_wall, undo_wall < 2.0 ? "met" : "missed", journalled_post, undo_wall / journalled_post);
  fs::remove_all(dir);
  return 0;
}
