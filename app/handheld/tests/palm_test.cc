// The Palm transfer end to end: the transfer (headless, as without its window) in this
// process, the handheld simulator in another, talking through VxFmUt60.
#include <sys/mman.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QProcess>
#include <QTimer>

#include <algorithm>
#include <filesystem>

#include "app/data/scanner_database.h"
#include "app/handheld/handheld_runs.h"
#include "app/handheld/palm_transfer.h"
#include "app/handheld/tests/handheld_support.h"

namespace tallimo::testing {
namespace {

namespace fs = std::filesystem;

class PalmTest : public HandheldShopTest {
 protected:
  static void SetUpTestSuite() {
    static int argc = 1;
    static char name[] = "handheld_test";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance()) new QCoreApplication(argc, argv);
    // A shared block of this test process only; the simulator inherits the name.
    block_ = "/tallimo-palm-test-" + std::to_string(::getpid());
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
    ASSERT_TRUE(Open_Scanner_Data_File(session()));
    standard_device();
  }
  void TearDown() override {
    for (auto& p : sims_) {
      if (p->state() != QProcess::NotRunning) p->kill();
      p->waitForFinished(2000);
    }
    sims_.clear();
    HandheldShopTest::TearDown();
  }
  // Presses the HotSync button once the transfer listens.
  QProcess* hotsync(const QStringList& extra = {}) {
    auto p = std::make_unique<QProcess>();
    QStringList args = {"hotsync", "--device", QString::fromStdString(device_tables()), "--idle-ms", "1500"};
    p->start(HHSIM, args + extra);
    sims_.push_back(std::move(p));
    return sims_.back().get();
  }
  static std::string output(QProcess* p) {
    p->waitForFinished(20000);
    return p->readAllStandardOutput().toStdString();
  }
  std::vector<std::string> kinds_and_items() {
    std::vector<std::string> out;
    for (const ExportRow& r : scanner_data()) out.push_back(r.at("File_Type") + ":" + r.at("Item_Number"));
    return out;
  }

  static std::string block_;
  std::vector<std::unique_ptr<QProcess>> sims_;
};

std::string PalmTest::block_;

constexpr const char* kThirteenSteps =
    "started QTL7\n"
    "fetch EQTL70100_ADDNEW.PDB ok\nfetch EQTL70100_ITEMLIST.PDB ok\nfetch EQTL70100_ADDTO.PDB ok\n"
    "fetch EQTL70100_SUBTRACT.PDB ok\nfetch EQTL70100_REPLACE.PDB ok\nfetch EQTL70100_COMPARE.PDB ok\n"
    "send EQTL70100_ITEMLIST.PDB ok\nsend EQTL70100_ADDNEW.PDB ok\nsend EQTL70100_ADDTO.PDB ok\n"
    "send EQTL70100_COMPARE.PDB ok\nsend EQTL70100_REPLACE.PDB ok\nsend EQTL70100_SUBTRACT.PDB ok\n"
    "send EQTL70100_ORDERED.PDB ok\nended 1\n";

TEST_F(PalmTest, FullHotSyncRunsTheThirteenStepsAndPostsOnce) {
  QProcess* sim = hotsync();
  bool full = true;
  handheld::Synchronize_Palm(session(), full);  // returns when the thirteenth step unloads the window
  EXPECT_EQ(output(sim), kThirteenSteps);
  EXPECT_EQ(stock("A1"), "12");
  EXPECT_EQ(product1().count("N9"), 1u);
  EXPECT_TRUE(scanner_data().empty());
  std::vector<std::string> codes = items(device_table("ITEMLIST"));
  std::sort(codes.begin(), codes.end());
  EXPECT_EQ(codes, (std::vector<std::string>{"A1", "B2", "C3", "N9"}));
  EXPECT_TRUE(device_table("ADDTO").rows.empty());
}

TEST_F(PalmTest, ReadCopiesWithoutPostingAndKeepsTheItemList) {
  QProcess* sim = hotsync();
  bool full = false;
  handheld::Synchronize_Palm(session(), full);
  EXPECT_EQ(output(sim), kThirteenSteps);
  EXPECT_EQ(kinds_and_items(), (std::vector<std::string>{"4:N9", "5:A1", "0:A1", "0:B2", "1:B2", "2:C3"}));
  EXPECT_EQ(stock("A1"), "10");
  EXPECT_EQ(items(device_table("ITEMLIST")), (std::vector<std::string>{"A1", "B2"}));
}

TEST_F(PalmTest, StatusPaneCloseButtonAndAFailedStepThenASecondHotSync) {
  handheld::PalmTransfer form(session());
  form.Set_Mode(true);
  form.load();
  std::vector<std::pair<std::string, uint32_t>> seen;
  QObject::connect(&form, &handheld::PalmTransfer::changed, [&] {
    if (seen.empty() || seen.back().first != form.StatusPane().toStdString() || seen.back().second != form.StatusPane_ForeColor())
      seen.emplace_back(form.StatusPane().toStdString(), form.StatusPane_ForeColor());
  });
  EXPECT_EQ(form.StatusPane(), "Ready");
  EXPECT_TRUE(form.cmd_Close_Visible());

  // Another application's HotSync changes nothing, not even the colour.
  QProcess* other = hotsync({"--creator", "ABCD", "--idle-ms", "300"});
  while (other->state() != QProcess::NotRunning) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  QCoreApplication::processEvents();
  EXPECT_TRUE(seen.empty());
  EXPECT_EQ(form.StatusPane_ForeColor(), handheld::kStatusBlack);

  // The third request fails: the sequence stops, rows already copied stay, the HotSync
  // ends (here unsuccessfully) and the window stays open.
  QProcess* first = hotsync({"--fail-request", "3", "--end-result", "0", "--idle-ms", "800"});
  while (first->state() != QProcess::NotRunning) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  QCoreApplication::processEvents();
  EXPECT_EQ(output(first), "started QTL7\nfetch EQTL70100_ADDNEW.PDB ok\nfetch EQTL70100_ITEMLIST.PDB ok\n"
                           "fetch EQTL70100_ADDTO.PDB failed: failed on request\nended 0\n");
  EXPECT_FALSE(form.closed());
  EXPECT_FALSE(form.cmd_Close_Visible()) << "hidden once the first table was copied";
  EXPECT_EQ(form.StatusPane(), "HotSync Failed.");
  EXPECT_EQ(form.StatusPane_ForeColor(), handheld::kStatusRed);
  EXPECT_EQ(kinds_and_items(), (std::vector<std::string>{"4:N9", "5:A1"}));

  // The second HotSync starts again with the new-items table, counts nothing twice and
  // completes; the window unloads after the thirteenth step.
  QProcess* second = hotsync();
  while (!form.closed() && second->state() != QProcess::NotRunning) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  }
  EXPECT_TRUE(form.closed());
  EXPECT_EQ(output(second), kThirteenSteps);
  EXPECT_FALSE(form.Status()) << "closed by the sequence, not by the Close button";
  EXPECT_EQ(stock("A1"), "12") << "added once";
  EXPECT_EQ(product1().count("N9"), 1u);
  EXPECT_EQ(seen.front(), (std::pair<std::string, uint32_t>{"Ready", handheld::kStatusRed}));
  EXPECT_NE(std::find(seen.begin(), seen.end(),
                      std::pair<std::string, uint32_t>{"Getting data from Palm Device...", handheld::kStatusRed}),
            seen.end());
  EXPECT_NE(std::find(seen.begin(), seen.end(),
                      std::pair<std::string, uint32_t>{"Downloading data to Palm Device...", handheld::kStatusRed}),
            seen.end());
}

TEST_F(PalmTest, CloseBeforeAnyTransferEndsTheWaitWithStatusTrue) {
  handheld::PalmTransfer form(session());
  form.load();
  QTimer::singleShot(50, &form, [&] { form.cmd_Close_Click(); });
  while (!form.closed()) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  EXPECT_TRUE(form.Status());
  EXPECT_TRUE(scanner_data().empty());
}

}  // namespace
}  // namespace tallimo::testing
