// tallimo-cli read and sync with the "Scanner" setting on the handheld kinds: the
// Windows Mobile transfer over a device folder, and the Palm transfer waiting for
// the handheld simulator's HotSync (both through the command line, as a scheduler
// would run them).
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <QSettings>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <thread>

#include "app/data/scanner_database.h"
#include "app/handheld/tests/handheld_support.h"
#include "app/settings.h"

namespace tallimo::testing {
namespace {

class CliTransferTest : public HandheldShopTest {
 protected:
  static void SetUpTestSuite() {
    // A shared block of this test only; the children inherit the name.
    block_ = "/tallimo-cli-transfer-test-" + std::to_string(::getpid());
    ::setenv("VXFMUT_SHM_NAME", block_.c_str(), 1);
    ::setenv("TALLIMO_VXFMUT_LIBRARY", VXFMUT_LIBRARY, 1);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  }
  static void TearDownTestSuite() {
    for (const char* suffix : {"", ".lock", ".users", ".messages"}) ::shm_unlink((block_ + suffix).c_str());
  }
  void SetUp() override {
    HandheldShopTest::SetUp();
    make_shop({product("A1", 10, "Apples"), product("B2", 5, "Bananas"), product("C3", 8, "Cherries")}, {});
    standard_device();
  }
  // The stored settings the command line reads: the scanner kind, the products
  // database and the device folder.
  void store_settings(const char* scanner) {
    session().settings().Scanner = scanner;
    Save_Settings(session());
    QSettings store(QStringLiteral("Tallimo"), QStringLiteral("Tallimo"));
    store.beginGroup(QStringLiteral("Preferences"));
    store.setValue(QStringLiteral("Handheld_Folder"), QString::fromStdString(device_));
    store.sync();
  }
  ChildProcess cli(const std::string& command) {
    return start_child({TALLIMO_CLI, command, "--home", dir_});
  }
  int run_cli(const std::string& command, std::string* output = nullptr) {
    ChildProcess child = cli(command);
    return finish_child(child, output);
  }
  std::vector<std::string> kinds_and_items() {
    std::vector<std::string> out;
    for (const ExportRow& r : scanner_data()) out.push_back(r.at("File_Type") + ":" + r.at("Item_Number"));
    std::sort(out.begin(), out.end());
    return out;
  }

  static std::string block_;
};

std::string CliTransferTest::block_;

TEST_F(CliTransferTest, WindowsMobileReadFetchesWithoutPostingThenSyncPostsAndSendsBack) {
  store_settings(kScannerWindowsMobile);
  std::string output;
  ASSERT_EQ(run_cli("read", &output), 0) << output;
  EXPECT_NE(output.find("read: Windows Mobile Scanner transfer done"), std::string::npos) << output;
  EXPECT_EQ(kinds_and_items(), (std::vector<std::string>{"0:A1", "0:B2", "1:B2", "2:C3", "4:N9", "5:A1"}));
  EXPECT_EQ(stock("A1"), "10");  // a read posts nothing
  EXPECT_TRUE(device_table("ADDTO").rows.empty());

  output.clear();
  ASSERT_EQ(run_cli("sync", &output), 0) << output;
  EXPECT_NE(output.find("posted"), std::string::npos) << output;
  EXPECT_EQ(stock("A1"), "12");
  EXPECT_EQ(product1().count("N9"), 1u);
  EXPECT_TRUE(scanner_data().empty());
  std::vector<std::string> codes = items(device_table("ITEMLIST"));
  std::sort(codes.begin(), codes.end());
  EXPECT_EQ(codes, (std::vector<std::string>{"A1", "B2", "C3", "N9"}));
}

TEST_F(CliTransferTest, ASyncThatLeavesRecordsForTheGridEndsWithThree) {
  store_settings(kScannerWindowsMobile);
  put_device_table("EQTL70100_ADDTO.PDB", "ADDTO", {{"A1", 2}, {"NO-SUCH-ITEM", 1}});
  std::string output;
  EXPECT_EQ(run_cli("sync", &output), 3) << output;
  EXPECT_EQ(stock("A1"), "12");
  ASSERT_EQ(scanner_data().size(), 1u);
  EXPECT_EQ(scanner_data()[0].at("Item_Number"), "NO-SUCH-ITEM");
}

TEST_F(CliTransferTest, AWindowsMobileDeviceThatIsNotThereIsAFailure) {
  store_settings(kScannerWindowsMobile);
  QSettings store(QStringLiteral("Tallimo"), QStringLiteral("Tallimo"));
  store.setValue(QStringLiteral("Preferences/Handheld_Folder"), QString::fromStdString(dir_ + "/no-device"));
  store.sync();
  EXPECT_EQ(run_cli("read"), 1);
  EXPECT_TRUE(scanner_data().empty());
}

TEST_F(CliTransferTest, PalmSyncWaitsForTheHotSyncAndRunsTheThirteenSteps) {
  store_settings(kScannerPalm);
  ChildProcess transfer = cli("sync");
  ChildProcess sim =
      start_child({HHSIM, "hotsync", "--device", device_tables(), "--idle-ms", "1500"});
  std::string steps, output;
  EXPECT_EQ(finish_child(sim, &steps), 0);
  EXPECT_EQ(finish_child(transfer, &output), 0) << output;
  EXPECT_EQ(steps.rfind("started QTL7\n", 0), 0u) << steps;
  EXPECT_NE(steps.find("send EQTL70100_ORDERED.PDB ok\nended 1\n"), std::string::npos) << steps;
  EXPECT_NE(output.find("Getting data from Palm Device..."), std::string::npos) << output;
  EXPECT_EQ(stock("A1"), "12");
  EXPECT_TRUE(scanner_data().empty());
  std::vector<std::string> codes = items(device_table("ITEMLIST"));
  std::sort(codes.begin(), codes.end());
  EXPECT_EQ(codes, (std::vector<std::string>{"A1", "B2", "C3", "N9"}));
}

TEST_F(CliTransferTest, APalmReadWaitingForAHotSyncEndsOnSigtermAsCancelled) {
  store_settings(kScannerPalm);
  ChildProcess transfer = cli("read");
  // Signal only once the program catches SIGTERM (its mask in /proc says so), so a
  // slow start on a busy machine is not killed outright.
  const auto catches_sigterm = [&] {
    std::ifstream status("/proc/" + std::to_string(transfer.pid) + "/status");
    for (std::string line; std::getline(status, line);)
      if (line.rfind("SigCgt:", 0) == 0) return (std::stoull(line.substr(7), nullptr, 16) >> (SIGTERM - 1)) & 1;
    return 0ull;
  };
  for (int i = 0; i < 500 && !catches_sigterm(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  ASSERT_TRUE(catches_sigterm());
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  ::kill(transfer.pid, SIGTERM);
  EXPECT_EQ(finish_child(transfer), 4);
  EXPECT_EQ(stock("A1"), "10");
}

}  // namespace
}  // namespace tallimo::testing
