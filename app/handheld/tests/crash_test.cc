// A Windows Mobile read killed (SIGKILL) at random moments, again and again, then run
// to its end: every scan on the handheld reaches Scanner_Data exactly once.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <map>
#include <random>
#include <thread>

#include "app/data/scanner_database.h"
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
  std::map<std::string, int> expected;  // "kind:item" -> count
  auto rows = [&](const std::string& prefix, int kind, int count) {
    std::vector<HandheldRow> out;
    for (int i = 0; i < count; ++i) {
      out.push_back({prefix + std::to_string(i), 1.0 + i});
      ++expected[std::to_string(kind) + ":" + prefix + std::to_string(i)];
    }
    return out;
  };
  put_device_table("EQTL70100_ADDNEW.PDB", "ADDNEW", rows("N", 4, 150));
  put_device_table("EQTL70100_ITEMLIST.PDB", "ITEMLIST", {});
  put_device_table("EQTL70100_ADDTO.PDB", "ADDTO", rows("A", 0, 150));
  put_device_table("EQTL70100_SUBTRACT.PDB", "SUBTRACT", rows("S", 1, 150));
  put_device_table("EQTL70100_REPLACE.PDB", "REPLACE", rows("R", 3, 150));
  put_device_table("EQTL70100_COMPARE.PDB", "COMPARE", rows("C", 2, 150));

  std::mt19937 random(20261207);
  int kills = 0;
  for (int round = 0; round < 25; ++round) {
    auto delay = std::chrono::milliseconds(std::uniform_int_distribution<int>(5, 1500)(random));
    if (run_child(dir_, device_, delay)) break;  // finished before the kill
    ++kills;
  }
  // And to the end (the handheld then holds nothing new).
  ASSERT_TRUE(run_child(dir_, device_, std::chrono::seconds(120)));
  std::map<std::string, int> seen;
  for (const ExportRow& r : scanner_data()) ++seen[r.at("File_Type") + ":" + r.at("Item_Number")];
  EXPECT_EQ(seen, expected) << "after " << kills << " kills";
  EXPECT_GT(kills, 5) << "the kills should land inside transfers";
  for (const char* table : {"ADDNEW", "ADDTO", "SUBTRACT", "REPLACE", "COMPARE"}) {
    EXPECT_TRUE(device_table(table).rows.empty()) << table;
  }
}

}  // namespace
}  // namespace tallimo::testing
