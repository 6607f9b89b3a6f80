// Exactly once across crashes: the undo of a posting run of 2,000 mixed
// records on 20,000 products, after the shop changed some of them, killed
// with SIGKILL at 50 moments and started again each time, ends with the
// PRODUCT1 and Scanner_Data of an undo that was never interrupted, every
// record taken back once, and every file sound.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <thread>

#include "app/tests/shop_fixture.h"

namespace tallimo::testing {
namespace {

namespace fs = std::filesystem;

ChildProcess start_undo(const std::string& shop) {
  return start_child({TALLIMO_CLI, "undo", "1", "--yes", "--home", shop, "--products", shop + "/products.mdb",
                      "--records-per-commit", "25"});
}

// The undo's progress through the whole run: its lines read
// "Undo run 1 | Rec: n / remaining".
long progress(const std::string& line, long whole) {
  const auto at = line.find("Undo run 1 | Rec: ");
  long n = 0, remaining = 0;
  if (at == std::string::npos || std::sscanf(line.c_str() + at + 18, "%ld / %ld", &n, &remaining) != 2) return -1;
  return whole - remaining + n;
}

class UndoCrashTest : public ShopTest {};

TEST_F(UndoCrashTest, KilledUndosRestartedTakeEveryRecordBackExactlyOnce) {
  const std::string seed = dir_ + "/seed";
  run(std::string(TALLIMO_CLI) + " generate '" + seed + "' 20000 2000 7");
  const std::string reference = dir_ + "/reference";
  const std::string crashed = dir_ + "/crashed";
  fs::copy(seed, reference);
  fs::copy(seed, crashed);
  // The same run posted in both shops (an undo goes to the products file its
  // run wrote), then the shop goes on: sales, and products moved to another
  // shelf (conflicts where the run edited the location).
  for (const std::string& shop : {reference, crashed}) {
    run(std::string(TALLIMO_CLI) + " post --quiet --home '" + shop + "' --products '" + shop +
        "/products.mdb' 2>/dev/null || true");
    run(std::string(JETSQL) + " '" + shop + "/products.mdb' --password qzmvrp" +
        " 'UPDATE PRODUCT1 SET [Location] = \"MOVED\" WHERE [Inventory Qty] > 50'" +
        " 'UPDATE PRODUCT1 SET [Inventory Qty] = [Inventory Qty] - 1 WHERE [Inventory Qty] > 30'");
  }
  ASSERT_EQ(sorted_rows(crashed + "/products.mdb", "PRODUCT1"), sorted_rows(reference + "/products.mdb", "PRODUCT1"));

  ChildProcess ref = start_undo(reference);
  long whole = 0;
  {
    char line[512];
    while (std::fgets(line, sizeof line, ref.out) != nullptr) {
      const std::string text(line);
      const auto at = text.find("Undo run 1 | Rec: ");
      long n = 0, total = 0;
      if (at != std::string::npos && std::sscanf(text.c_str() + at + 18, "%ld / %ld", &n, &total) == 2) whole = total;
    }
  }
  ASSERT_EQ(finish_child(ref), 0) << run("cat '" + reference + "/ErrorLog.txt' 2>&1 || true");
  ASSERT_GT(whole, 1000);

  std::mt19937 rng(16);
  std::uniform_int_distribution<long> jitter(-10, 10);
  std::uniform_int_distribution<long> delay_us(0, 2000);
  int killed = 0;
  for (int i = 0; i < 50; ++i) {
    const long target = std::clamp<long>((2 * i + 1) * whole / 100 + jitter(rng), 1, whole - 1);
    ChildProcess child = start_undo(crashed);
    char line[512];
    while (std::fgets(line, sizeof line, child.out) != nullptr) {
      if (progress(line, whole) >= target) {
        std::this_thread::sleep_for(std::chrono::microseconds(delay_us(rng)));
        ::kill(child.pid, SIGKILL);
        break;
      }
    }
    const int status = finish_child(child);
    killed += status == -SIGKILL;
    ASSERT_EQ(status, -SIGKILL) << "undo " << i << " was to be killed at record " << target << " of " << whole;
  }
  ChildProcess last = start_undo(crashed);
  EXPECT_EQ(finish_child(last), 0);
  EXPECT_EQ(killed, 50);
  // Once finished, it cannot be applied again.
  ChildProcess again = start_undo(crashed);
  EXPECT_EQ(finish_child(again), 1);

  EXPECT_EQ(sorted_rows(crashed + "/products.mdb", "PRODUCT1"), sorted_rows(reference + "/products.mdb", "PRODUCT1"));
  EXPECT_EQ(sorted_rows(crashed + "/POS_Scanner.MDB", "Scanner_Data", {"Scanner_Data_ID"}),
            sorted_rows(reference + "/POS_Scanner.MDB", "Scanner_Data", {"Scanner_Data_ID"}));
  // The journal: the undo run took back each of the run's records once.
  std::multiset<std::string> sources;
  for (const auto& r : mdb_export(crashed + "/PostingHistory.mdb", "History_Records")) {
    if (r.at("Run_ID") == "2") sources.insert(r.at("Source_Record"));
  }
  EXPECT_EQ(static_cast<long>(sources.size()), whole);
  EXPECT_EQ(std::set<std::string>(sources.begin(), sources.end()).size(), sources.size());
  EXPECT_EQ(sorted_rows(crashed + "/PostingHistory.mdb", "History_Changes", {"Run_ID", "Record_No", "Change_No"}),
            sorted_rows(reference + "/PostingHistory.mdb", "History_Changes", {"Run_ID", "Record_No", "Change_No"}));
  for (const std::string& file :
       {crashed + "/products.mdb", crashed + "/POS_Scanner.MDB", crashed + "/PostingHistory.mdb"}) {
    const std::string check = run(std::string(JETSQL) + " --check '" + file + "' --password qzmvrp 2>&1");
    EXPECT_NE(check.find(": 0 problems"), std::string::npos) << check;
  }
}

}  // namespace
}  // namespace tallimo::testing
