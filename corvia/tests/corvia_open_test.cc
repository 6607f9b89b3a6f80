// Opening the cradle's port: the speed probe, the transceiver's speed change, the
// port name table and its overrides, and every way an open fails. Runs against the
// R50 simulator on a real pseudo-terminal.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "corvia.h"
#include "simulator.h"

namespace {

struct Message {
  std::string title, text;
  int icon;
};

std::vector<Message> g_messages;

void record_message(const char* title, const char* text, int icon, void* user_data) {
  EXPECT_EQ(user_data, &g_messages);
  g_messages.push_back({title, text, icon});
}

class OpenTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_messages.clear();
    corvia_set_message_hook(record_message, &g_messages);
    ShowErrorMessage(1);
  }
  void TearDown() override {
    CloseIrCom();
    for (int n = 1; n <= 8; ++n) unsetenv(("CORVIA_COM" + std::to_string(n)).c_str());
    unsetenv("CORVIA_CONFIG");
  }
};

std::vector<int> speeds_of(const r50sim::Simulator& sim, r50sim::Event::Kind kind) {
  std::vector<int> out;
  for (const auto& e : sim.events())
    if (e.kind == kind) out.push_back(e.speed);
  return out;
}

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Probes go out at 9600, 38400, 115200, 57600, 19200 until one is echoed; a probe at
// any other speed than the transceiver's is noise to it.
TEST_F(OpenTest, ProbingFindsTheTransceiverAndThePortEndsAtTheRequestedSpeed) {
  r50sim::Options options;
  options.transceiver_speed = 57600;
  r50sim::Simulator sim(options);
  sim.start();
  setenv("CORVIA_COM1", sim.slave_path().c_str(), 1);

  // Port number 0 is COM1, like port number 1.
  ASSERT_EQ(vbOpenIrCom(0, 115200), 1);
  EXPECT_TRUE(g_messages.empty());
  EXPECT_EQ(speeds_of(sim, r50sim::Event::kNoise), (std::vector<int>{9600, 38400, 115200}));
  EXPECT_EQ(speeds_of(sim, r50sim::Event::kProbe), (std::vector<int>{57600}));
  EXPECT_EQ(speeds_of(sim, r50sim::Event::kSpeedChange), (std::vector<int>{115200}));
  EXPECT_EQ(sim.transceiver_speed(), 115200);
  EXPECT_EQ(sim.port_speed(), 115200);

  // Data flows at the new speed: a count frame for file 3 gets its reply.
  const unsigned char count3[] = {0x04, 0x30, 0x33, 0x3E};
  ASSERT_NE(WriteIrCom(count3, 4), 0);
  char line[256];
  ASSERT_EQ(vbReadIrCom(line), 5);
  EXPECT_STREQ(line, "   0\r");

  // The port is held exclusively: another open is refused (TIOCEXCL), or, for root,
  // which may bypass that, the lock is taken.
  int other = open(sim.slave_path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (other >= 0) {
    EXPECT_NE(flock(other, LOCK_EX | LOCK_NB), 0);
    close(other);
  } else {
    EXPECT_EQ(errno, EBUSY);
  }

  // Opening again closes the first port before it opens; the transceiver is now
  // found at 115200, the third speed probed.
  sim.clear_events();
  void* handle = OpenIrCom(1, 19200);
  EXPECT_NE(handle, nullptr);
  EXPECT_EQ(speeds_of(sim, r50sim::Event::kProbe), (std::vector<int>{115200}));
  EXPECT_EQ(sim.port_speed(), 19200);

  EXPECT_NE(CloseIrCom(), 0);
  other = open(sim.slave_path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(other, 0);
  EXPECT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);
  close(other);
  EXPECT_EQ(CloseIrCom(), 0);
}

TEST_F(OpenTest, ATransceiverAnsweringAt9600IsProbedOnceAndSpeedZeroMeans9600) {
  r50sim::Options options;
  options.transceiver_speed = 9600;
  r50sim::Simulator sim(options);
  sim.start();
  // COM3 comes from a ports file this time.
  std::string config = ::testing::TempDir() + "corvia_ports";
  {
    std::ofstream out(config);
    out << "# test ports\nCOM2=/dev/null\n  com3 = " << sim.slave_path() << "  \n";
  }
  setenv("CORVIA_CONFIG", config.c_str(), 1);

  ASSERT_EQ(vbOpenIrCom(3, 0), 1);
  EXPECT_EQ(sim.count(r50sim::Event::kProbe), 1);
  EXPECT_EQ(sim.count(r50sim::Event::kNoise), 0);
  EXPECT_EQ(speeds_of(sim, r50sim::Event::kSpeedChange), (std::vector<int>{9600}));
  EXPECT_EQ(sim.port_speed(), 9600);
  std::remove(config.c_str());
}

TEST_F(OpenTest, ATransceiverThatAnswersNoProbeFailsAfterAboutOnePointSixSeconds) {
  r50sim::Options options;
  options.ignore_probes = -1;
  r50sim::Simulator sim(options);
  sim.start();
  setenv("CORVIA_COM2", sim.slave_path().c_str(), 1);

  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(vbOpenIrCom(2, 115200), -1);
  double took = seconds_since(start);
  EXPECT_GE(took, 1.55);
  EXPECT_LT(took, 6.0);  // bound only to catch a hang
  // Five probes went out: one heard by the transceiver (at 9600) and left unanswered,
  // four at speeds it does not listen at.
  EXPECT_EQ(sim.count(r50sim::Event::kProbe) + sim.count(r50sim::Event::kNoise), 5);
  EXPECT_EQ(sim.count(r50sim::Event::kProbeAnswered), 0);
  ASSERT_EQ(g_messages.size(), 1u);
  EXPECT_EQ(g_messages[0].title, "Error");
  EXPECT_EQ(g_messages[0].text, "Can not configure the IR device!!");
  EXPECT_EQ(g_messages[0].icon, CORVIA_ICON_WARNING);

  // The port was closed again.
  EXPECT_EQ(CloseIrCom(), 0);
  int fd = open(sim.slave_path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
  close(fd);
}

// The cradle is pulled (the terminal hangs up) after the transceiver took its new
// speed: the port refuses the final settings.
TEST_F(OpenTest, APortThatRefusesTheFinalSettingsIsClosedAgain) {
  r50sim::Simulator sim;
  sim.start();
  setenv("CORVIA_COM8", sim.slave_path().c_str(), 1);
  std::thread unplug([&sim] {
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (sim.count(r50sim::Event::kSpeedChange) == 0 && std::chrono::steady_clock::now() < until)
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    sim.stop();
  });
  EXPECT_EQ(vbOpenIrCom(8, 57600), -1);
  unplug.join();
  ASSERT_EQ(g_messages.size(), 1u);
  EXPECT_EQ(g_messages[0].text, "Can not initialize the COM port!!");
  EXPECT_EQ(g_messages[0].icon, CORVIA_ICON_NONE);
  EXPECT_EQ(CloseIrCom(), 0);
}

TEST_F(OpenTest, MissingBusyOrUnknownPortsFailToOpenWithTheirMessage) {
  setenv("CORVIA_COM5", "/nonexistent/tty-for-corvia", 1);
  EXPECT_EQ(vbOpenIrCom(5, 9600), 0);
  EXPECT_EQ(OpenIrCom(5, 9600), nullptr);

  // A file that is not a terminal is no port.
  std::string plain = ::testing::TempDir() + "corvia_not_a_tty";
  std::ofstream(plain) << "x";
  setenv("CORVIA_COM6", plain.c_str(), 1);
  EXPECT_EQ(vbOpenIrCom(6, 9600), 0);
  std::remove(plain.c_str());

  // Port numbers outside the table.
  EXPECT_EQ(vbOpenIrCom(9, 9600), 0);
  EXPECT_EQ(vbOpenIrCom(-1, 9600), 0);

  // A port another program holds.
  r50sim::Simulator sim;
  sim.start();
  int holder = open(sim.slave_path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
  setenv("CORVIA_COM7", sim.slave_path().c_str(), 1);
  EXPECT_EQ(vbOpenIrCom(7, 9600), 0);
  EXPECT_EQ(sim.count(r50sim::Event::kProbe), 0);
  close(holder);

  ASSERT_EQ(g_messages.size(), 6u);
  for (const auto& m : g_messages) {
    EXPECT_EQ(m.title, "Error");
    EXPECT_EQ(m.text, "Can not open the COM port!!");
    EXPECT_EQ(m.icon, CORVIA_ICON_WARNING);
  }

  // Zero or a negative flag silences the messages; a positive one restores them.
  g_messages.clear();
  EXPECT_EQ(ShowErrorMessage(0), 1);
  EXPECT_EQ(vbOpenIrCom(5, 9600), 0);
  EXPECT_EQ(ShowErrorMessage(-2), 1);
  EXPECT_EQ(vbOpenIrCom(5, 9600), 0);
  EXPECT_TRUE(g_messages.empty());
  EXPECT_EQ(ShowErrorMessage(7), 1);
  EXPECT_EQ(vbOpenIrCom(5, 9600), 0);
  EXPECT_EQ(g_messages.size(), 1u);
}

TEST_F(OpenTest, WithoutAPortEveryCallFailsQuietly) {
  EXPECT_EQ(CloseIrCom(), 0);
  const unsigned char byte = 0x30;
  EXPECT_EQ(WriteIrCom(&byte, 1), 0);
  char line[256] = "untouched";
  EXPECT_EQ(vbReadIrCom(line), -1);
  EXPECT_STREQ(line, "untouched");
  EXPECT_EQ(ReadIrCom(), nullptr);
  EXPECT_TRUE(g_messages.empty());
}

TEST(CopyMemTest, CopiesForwardAndIgnoresEmptyOrNullRequests) {
  char to[8] = "-------";
  EXPECT_EQ(CopyMem(to, "abc", 3), 3);
  EXPECT_STREQ(to, "abc----");
  EXPECT_EQ(CopyMem(to, "xyz", 0), 0);
  EXPECT_EQ(CopyMem(to, "xyz", -4), 0);
  EXPECT_EQ(CopyMem(nullptr, "xyz", 3), 0);
  EXPECT_EQ(CopyMem(to, nullptr, 3), 0);
  EXPECT_STREQ(to, "abc----");
  // One by one from the first byte: an overlapping forward copy smears the first byte.
  char smear[8] = "ab-----";
  CopyMem(smear + 1, smear, 5);
  EXPECT_STREQ(smear, "aaaaaa-");
}

}  // namespace
