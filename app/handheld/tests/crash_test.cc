// A Windows Mobile read killed (SIGKILL) at random moments, again and again, then run
// to its end: every scan on the handheld reaches Scanner_Data exactly once.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <random>
#include <thread>

#include "app/data/scanner_database.h"
#include "app/handheld/pdb_convert.h"
#include "app/handheld/tests/handheld_support.h"

extern char** environ;

namespace tallimo::testing {
namespace {

class HandheldCrashTest : public HandheldShopTest {};

// Starts the child; kills it after `delay` unless it ended first. True when it ended
// by itself with exit code 0.
bool run_child(const std::string& shop, const std::string& device, std::chrono::milliseconds delay) {
  std::vector<std::string> words = {SYNC_CHILD, shop, device};
  std::vector<char*> argv;
  for (auto& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (::posix_spawn(&pid, SYNC_CHILD, nullptr, nullptr, argv.data(), environ) != 0) return false;
  auto deadline = std::chrono::steady_clock::now() + delay;
  int status = 0;
  while (::waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() >= deadline) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST_F(HandheldCrashTest, KilledReadsLoseNoScanAndCountNoneTwice) {
  make_shop({product("A1", 10)}, {});
  const std::vector<std::pair<std::string, int>> tables = {
      {"ADDNEW", 4}, {"ADDTO", 0}, {"SUBTRACT", 1}, {"REPLACE", 3}, {"COMPARE", 2}};
  put_device_table("EQTL70100_ITEMLIST.PDB", "ITEMLIST", {});
  for (const auto& [table, kind] : tables) put_device_table("EQTL70100_" + table + ".PDB", table, {});
  std::map<std::string, int> expected;  // "kind:item" -> count
  // The clerk scans between transfers: new rows after whatever the handheld holds.
  auto clerk_scans = [&](int round, int count) {
    for (const auto& [table, kind] : tables) {
      handheld::PdbTable t = device_table(table);
      for (int i = 0; i < count; ++i) {
        std::string item = table.substr(0, 2) + std::to_string(round) + "-" + std::to_string(i);
        t.rows.push_back(handheld_table(table, {{item, 1.0 + i}}).rows[0]);
        ++expected[std::to_string(kind) + ":" + item];
      }
      handheld::write_pdb_file(device_tables() + "/EQTL70100_" + table + ".PDB", t);
    }
  };

  // One transfer to its end (it also makes the templates), then one like
  // those of the rounds below, timed: the kills land inside that span.
  clerk_scans(0, 100);
  ASSERT_TRUE(run_child(dir_, device_, std::chrono::seconds(120)));
  clerk_scans(21, 40);
  auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(run_child(dir_, device_, std::chrono::seconds(120)));
  int span = static_cast<int>(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count());

  std::mt19937 random(20261207);
  int kills = 0;
  for (int round = 1; round <= 20; ++round) {
    if (round % 3 == 1) clerk_scans(round, 40);
    auto delay = std::chrono::milliseconds(std::uniform_int_distribution<int>(5, span)(random));
    const auto began = std::chrono::steady_clock::now();
    if (!run_child(dir_, device_, delay)) {
      ++kills;
    } else {
      // A transfer that ended before its kill was shorter than the span (fewer
      // new scans, a faster moment of a loaded machine): later kills aim
      // inside that shorter time.
      span = std::max(6, static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                              std::chrono::steady_clock::now() - began)
                                              .count()));
    }
  }
  // And to the end: the handheld then holds nothing new.
  ASSERT_TRUE(run_child(dir_, device_, std::chrono::seconds(120)));
  std::map<std::string, int> seen;
  for (const ExportRow& r : scanner_data()) ++seen[r.at("File_Type") + ":" + r.at("Item_Number")];
  EXPECT_EQ(seen, expected) << "after " << kills << " kills (a transfer takes " << span << " ms)";
  EXPECT_GE(kills, 10) << "the kills should land inside transfers (" << kills << " of 20; a transfer takes " << span
                       << " ms)";
  for (const auto& [table, kind] : tables) EXPECT_TRUE(device_table(table).rows.empty()) << table;
}

}  // namespace
}  // namespace tallimo::testing
