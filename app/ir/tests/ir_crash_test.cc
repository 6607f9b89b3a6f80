// Exactly once across crashes: `tallimo-cli read` against the simulator (a process
// of its own, so the scanner outlives the reader) is killed with SIGKILL at 30
// moments, half of them just after a file's last record (where its rows are
// committed and the file is deleted on the scanner), and started again each time.
// At the end every scan is in Scanner_Data exactly once and the scanner's
// transaction files are empty.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <thread>

#include "jet/dao.h"
#include "app/tests/shop_fixture.h"
#include "simulator_process.h"

namespace tallimo {
namespace {

using Child = testing::ChildProcess;

Child start_read(const std::string& shop) {
  return testing::start_child({TALLIMO_CLI, "read", "--home", shop, "--com", "3", "--corvia", CORVIA_LIBRARY_FILE, "--yes"});
}

int finish(Child& child) { return testing::finish_child(child); }

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// One scanner's worth of scans: 50 in each of files 0 to 4 over 12 items per file,
// so rows merge. Fills `expected` ("kind item" -> quantity in tenths).
std::string scanner_contents(std::mt19937& rng, std::map<std::string, long>& expected) {
  expected.clear();
  std::string contents = "memory 1048576\n";
  for (int file = 0; file < 5; ++file) {
    for (int k = 0; k < 50; ++k) {
      const std::string item = "IT" + std::to_string(file) + "-" + std::to_string(rng() % 12);
      const long tenths = 5 + static_cast<long>(rng() % 200);
      expected[std::to_string(file) + " " + item] += tenths;
      char line[128];
      std::snprintf(line, sizeof line, "record %d %s~%ld.%ld~SCAN %d\n", file, item.c_str(), tenths / 10,
                    tenths % 10, k);
      contents += line;
    }
  }
  return contents;
}

// Scanner_Data as "kind item" -> quantity in tenths; also checks that no read is
// left half done.
std::map<std::string, long> scanned(const std::string& shop) {
  std::map<std::string, long> got;
  auto db = jet::dao::Database::open(shop + "/POS_Scanner.MDB");
  auto rs = db->open_recordset("Select * From Scanner_Data");
  for (; !rs->eof(); rs->move_next()) {
    const std::string key = std::to_string(std::get<int16_t>(rs->field("File_Type"))) + " " +
                            std::get<std::string>(rs->field("Item_Number"));
    got[key] += std::lround(std::get<double>(rs->field("Qty")) * 10);
  }
  rs->close();
  auto marks = db->open_recordset("Scanner_Read");
  EXPECT_TRUE(marks->eof()) << "a read was left half done";
  marks->close();
  db->close();
  return got;
}

TEST(IrCrashTest, ReadsKilledThirtyTimesCountEveryScanExactlyOnce) {
  char tmpl[] = "/tmp/tallimo-ir-crash-XXXXXX";
  const std::string shop = ::mkdtemp(tmpl);
  ::setenv("XDG_CONFIG_HOME", shop.c_str(), 1);
  const std::string scanner_file = shop + "/scanner.txt";
  std::mt19937 rng(20261207);

  int kills = 0, cycles = 0;
  // A cycle: a scanner full of scans, read by runs that are killed until one ends by
  // itself (a kill that lands after the run has ended also ends the cycle, so the
  // number of cycles a machine needs for 30 kills varies with its speed); then its scans must all be in Scanner_Data, once, and off the scanner.
  while (kills < 30 && cycles < 40) {
    ++cycles;
    std::map<std::string, long> expected;
    std::ofstream(scanner_file, std::ios::binary | std::ios::trunc) << scanner_contents(rng, expected);
    SimulatorProcess sim({"--ir-speed", "115200", scanner_file});
    ASSERT_FALSE(sim.path().empty());
    ::setenv("CORVIA_COM3", sim.path().c_str(), 1);
    for (int round = 0;; ++round) {
      ASSERT_LT(round, 60) << "the reads make no progress";
      Child child = start_read(shop);
      ASSERT_GT(child.pid, 0);
      // Every other run dies just after the first file's last record (where the file
      // is committed and deleted on the scanner), the others in the middle of a file.
      const bool at_file_end = kills % 2 == 0;
      const int mid_file_line = 1 + static_cast<int>(rng() % 49);
      const int jitter_us = static_cast<int>(rng() % 60000);
      const bool may_kill = kills < 30;
      char line[512];
      int seen = 0;
      bool killed = false;
      while (may_kill && std::fgets(line, sizeof line, child.out) != nullptr) {
        std::string text(line);
        const size_t rec = text.find(" | Rec: ");
        if (rec == std::string::npos) continue;
        ++seen;
        const bool file_end = text.compare(rec, std::string::npos, " | Rec: 50 / 50\n") == 0;
        if ((at_file_end && file_end) || (!at_file_end && seen >= mid_file_line)) {
          std::this_thread::sleep_for(std::chrono::microseconds(jitter_us));
          ::kill(child.pid, SIGKILL);
          killed = true;
          break;
        }
      }
      const int status = finish(child);
      if (killed && status == -SIGKILL) {
        ++kills;
        continue;
      }
      ASSERT_EQ(status, 0) << "cycle " << cycles << " round " << round;
      break;
    }
    EXPECT_EQ(scanned(shop), expected) << "cycle " << cycles;
    // The read that ended by itself ended synchronisation mode; the simulator saved.
    sim.stop();
    const std::string saved = slurp(scanner_file);
    for (int file = 0; file < 5; ++file)
      EXPECT_EQ(saved.find("record " + std::to_string(file) + " "), std::string::npos) << "file " << file;
  }
  EXPECT_EQ(kills, 30);
  std::system(("rm -rf '" + shop + "'").c_str());
}

}  // namespace
}  // namespace tallimo
