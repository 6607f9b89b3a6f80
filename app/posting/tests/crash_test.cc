// Exactly once across crashes: a posting run of 5,000 mixed records against
// 20,000 products, killed with SIGKILL at 50 random moments and started again
// each time, ends with the PRODUCT1, Compare and Scanner_Data of a run that
// was never interrupted, and with the same posting history.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <random>
#include <thread>
#include <cstdio>
#include <map>

#include "app/tests/shop_fixture.h"

namespace tallimo::testing {
namespace {

namespace fs = std::filesystem;

using Child = testing::ChildProcess;

// A posting run of the command line; its status lines come through `out`.
Child start_post(const std::string& shop, bool quiet) {
  std::vector<std::string> argv = {TALLIMO_CLI, "post", "--home", shop, "--products", shop + "/products.mdb",
                                   "--records-per-commit", "50"};
  if (quiet) argv.push_back("--quiet");
  return testing::start_child(argv);
}

int finish(Child& child) { return testing::finish_child(child); }

// Follows a run's status lines ("Processing  | <kind>", "<kind> | Rec: n / total")
// and tells how far through the whole posting (records of every kind, in the
// posting order) the run has come.
class Progress {
 public:
  explicit Progress(std::map<std::string, long> kind_totals) : totals_(std::move(kind_totals)) {}
  // Feeds a line; gives the position in records, or -1 when it is no record line.
  long feed(const std::string& line) {
    const auto rec = line.find(" | Rec: ");
    if (rec == std::string::npos) return -1;
    const std::string kind = line.substr(0, rec);
    long n = 0, total = 0;
    if (std::sscanf(line.c_str() + rec + 8, "%ld / %ld", &n, &total) != 2) return -1;
    long before = 0;
    for (const char* k : kOrder) {
      if (kind == k) break;
      before += totals_[k];
    }
    // Records of this kind posted by earlier runs no longer show in `total`.
    return before + (totals_[kind] - total) + n;
  }
  long whole() const {
    long sum = 0;
    for (const auto& [k, t] : totals_) sum += t;
    return sum;
  }

 private:
  static constexpr const char* kOrder[6] = {"Add New Item",       "Edit Products",     "Add to Inventory",
                                            "Subtract Inventory", "Replace Inventory", "Compare Inventory"};
  std::map<std::string, long> totals_;
};

class PostingCrashTest : public ShopTest {};

TEST_F(PostingCrashTest, KilledRunsRestartedPostEveryRecordExactlyOnce) {
  const std::string seed_shop = dir_ + "/seed";
  run(std::string(TALLIMO_CLI) + " generate '" + seed_shop + "' 20000 5000 42");
  const std::string reference = dir_ + "/reference";
  const std::string crashed = dir_ + "/crashed";
  fs::copy(seed_shop, reference);
  fs::copy(seed_shop, crashed);

  // The uninterrupted run, whose status lines give each kind's record count.
  std::map<std::string, long> totals;
  {
    Child ref = start_post(reference, /*quiet=*/false);
    char line[512];
    while (std::fgets(line, sizeof line, ref.out) != nullptr) {
      std::string text(line);
      const auto rec = text.find(" | Rec: ");
      long n = 0, total = 0;
      if (rec != std::string::npos && std::sscanf(text.c_str() + rec + 8, "%ld / %ld", &n, &total) == 2) {
        totals[text.substr(0, rec)] = total;
      }
    }
    const int status = finish(ref);
    ASSERT_TRUE(status == 0 || status == 3) << status;
  }
  ASSERT_EQ(totals.size(), 6u);
  Progress progress(totals);
  const long whole = progress.whole();

  // Kill i lands near the (i + 0.5) / 50 point of the whole posting, plus a
  // random part of a record and a random delay, so kills fall in every kind,
  // between records, inside records and inside commits.
  std::mt19937 rng(20261207);
  std::uniform_int_distribution<long> jitter(-20, 20);
  std::uniform_int_distribution<long> delay_us(0, 3000);
  int killed_mid_run = 0;
  for (int i = 0; i < 50; ++i) {
    const long target = std::clamp<long>((2 * i + 1) * whole / 100 + jitter(rng), 1, whole - 1);
    Child child = start_post(crashed, /*quiet=*/false);
    char line[512];
    while (std::fgets(line, sizeof line, child.out) != nullptr) {
      if (progress.feed(line) >= target) {
        std::this_thread::sleep_for(std::chrono::microseconds(delay_us(rng)));
        ::kill(child.pid, SIGKILL);
        break;
      }
    }
    const int status = finish(child);
    if (status == -SIGKILL) ++killed_mid_run;
    ASSERT_TRUE(status == -SIGKILL) << "run " << i << " was to be killed at record " << target << " of " << whole
                                    << " but ended with " << status;
  }
  Child last = start_post(crashed, /*quiet=*/true);
  const int final_status = finish(last);
  EXPECT_TRUE(final_status == 0 || final_status == 3) << final_status;
  EXPECT_EQ(killed_mid_run, 50);

  EXPECT_EQ(sorted_rows(crashed + "/products.mdb", "PRODUCT1"), sorted_rows(reference + "/products.mdb", "PRODUCT1"));
  EXPECT_EQ(sorted_rows(crashed + "/POS_Scanner.MDB", "Compare"), sorted_rows(reference + "/POS_Scanner.MDB", "Compare"));
  EXPECT_EQ(sorted_rows(crashed + "/POS_Scanner.MDB", "Scanner_Data"),
            sorted_rows(reference + "/POS_Scanner.MDB", "Scanner_Data"));
  EXPECT_FALSE(sorted_rows(reference + "/POS_Scanner.MDB", "Compare").empty());
  // The posting history agrees: one run, continued by every restart, holding
  // each posted record and each change once, as the uninterrupted run's does.
  const auto runs = mdb_export(crashed + "/PostingHistory.mdb", "History_Runs");
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(runs[0].at("Records"), mdb_export(reference + "/PostingHistory.mdb", "History_Runs")[0].at("Records"));
  EXPECT_FALSE(runs[0].at("Ended").empty());
  for (const char* table : {"History_Records", "History_Changes"}) {
    EXPECT_EQ(sorted_rows(crashed + "/PostingHistory.mdb", table), sorted_rows(reference + "/PostingHistory.mdb", table))
        << table;
  }
  for (const std::string& file :
       {crashed + "/products.mdb", crashed + "/POS_Scanner.MDB", crashed + "/PostingHistory.mdb"}) {
    const std::string check = run(std::string(JETSQL) + " --check '" + file + "' --password qzmvrp 2>&1");
    EXPECT_NE(check.find(": 0 problems"), std::string::npos) << check;
  }
}

}  // namespace
}  // namespace tallimo::testing
