// Reading reply lines: a line ends only when a chunk ends with CR, the time limit
// runs from the start of the call, lines are capped at 255 bytes. One port is
// opened for the whole program; the simulator injects raw chunks at chosen times.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "corvia.h"
#include "simulator.h"

namespace {

std::vector<std::string> g_messages;

void record_message(const char*, const char* text, int, void*) { g_messages.push_back(text); }

class ReadTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    sim_ = new r50sim::Simulator();
    sim_->start();
    setenv("CORVIA_COM4", sim_->slave_path().c_str(), 1);
    corvia_set_message_hook(record_message, nullptr);
    ASSERT_EQ(vbOpenIrCom(4, 115200), 1);
  }
  static void TearDownTestSuite() {
    CloseIrCom();
    delete sim_;
    sim_ = nullptr;
  }
  void SetUp() override {
    ASSERT_NE(sim_, nullptr);
    g_messages.clear();
    std::memset(line_, 'Z', sizeof line_);
  }

  // Reads one line; `ms` receives how long the call took.
  int read(double* ms = nullptr) {
    auto start = std::chrono::steady_clock::now();
    int n = vbReadIrCom(line_);
    if (ms) *ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    return n;
  }
  bool untouched() const {
    for (char c : line_)
      if (c != 'Z') return false;
    return true;
  }

  static r50sim::Simulator* sim_;
  char line_[256];
};

r50sim::Simulator* ReadTest::sim_ = nullptr;

TEST_F(ReadTest, ALineSplitOverChunksCompletesAtTheChunkEndingInCr) {
  sim_->inject("R1~", 0);
  sim_->inject("12~RED", 80);
  sim_->inject(" APPLE\r", 160);
  ASSERT_EQ(read(), 16);
  EXPECT_STREQ(line_, "R1~12~RED APPLE\r");
}

TEST_F(ReadTest, CrFollowedByLfInOneChunkNeverCompletes) {
  sim_->inject("17\r\n");
  double ms = 0;
  EXPECT_EQ(read(&ms), -1);
  EXPECT_GE(ms, 500);
  EXPECT_TRUE(untouched());
}

TEST_F(ReadTest, ALfInALaterChunkBeginsTheNextLine) {
  sim_->inject("17\r", 0);
  sim_->inject("\nTrue\r", 150);
  ASSERT_EQ(read(), 3);
  EXPECT_STREQ(line_, "17\r");
  ASSERT_EQ(read(), 6);
  EXPECT_STREQ(line_, "\nTrue\r");
}

TEST_F(ReadTest, TheLimitRunsFromTheStartOfTheCallNotFromTheLastByte) {
  // Bytes keep arriving every 100 ms, but the line is not over within 500 ms. The CR
  // comes midway through the next read's 500 ms, so a busy machine has 250 ms of
  // slack either way.
  sim_->inject("1", 0);
  sim_->inject("2", 100);
  sim_->inject("3", 200);
  sim_->inject("4", 300);
  sim_->inject("\r", 750);
  // A limit renewed by each byte would still be running when the CR arrives.
  EXPECT_EQ(read(), -1);
  EXPECT_TRUE(untouched());
  // The late CR is what the next read finds.
  ASSERT_EQ(read(), 1);
  EXPECT_STREQ(line_, "\r");
}

TEST_F(ReadTest, ALineWhoseLastChunkArrivesLateIsATimeout) {
  sim_->inject("AB", 0);
  sim_->inject("C\r", 750);  // midway through the next read's 500 ms
  EXPECT_EQ(read(), -1);
  EXPECT_TRUE(untouched());
  ASSERT_EQ(read(), 2);  // the late chunk alone
  EXPECT_STREQ(line_, "C\r");
}

TEST_F(ReadTest, ALineWhoseLastChunkArrivesInTimeCompletes) {
  sim_->inject("AB", 0);
  sim_->inject("C\r", 200);
  ASSERT_EQ(read(), 4);
  EXPECT_STREQ(line_, "ABC\r");
}

TEST_F(ReadTest, AReplyLongerThan255BytesYieldsItsFirst255) {
  std::string reply;
  for (int i = 0; i < 300; ++i) reply += static_cast<char>('a' + i % 26);
  sim_->inject(reply + "\r");
  ASSERT_EQ(read(), 255);
  EXPECT_EQ(std::string(line_), reply.substr(0, 255));
}

TEST_F(ReadTest, ANullBufferConsumesTheLine) {
  sim_->inject("True\r");
  EXPECT_EQ(vbReadIrCom(nullptr), 5);
  sim_->inject("Next\r", 50);
  ASSERT_EQ(read(), 5);
  EXPECT_STREQ(line_, "Next\r");
}

TEST_F(ReadTest, ReadIrComReturnsTheLibraryBufferOrTimesOutAfterFiveSeconds) {
  sim_->inject("OK\r", 0);
  char* got = ReadIrCom();
  ASSERT_NE(got, nullptr);
  EXPECT_STREQ(got, "OK\r");
  EXPECT_TRUE(g_messages.empty());

  auto start = std::chrono::steady_clock::now();
  sim_->inject("late\r", 5200);
  EXPECT_EQ(ReadIrCom(), nullptr);
  double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_GE(s, 5.0);
  EXPECT_EQ(g_messages, (std::vector<std::string>{"Time out!"}));
  ASSERT_EQ(read(), 5);
  EXPECT_STREQ(line_, "late\r");
}

TEST_F(ReadTest, PurgeDiscardsWhatArrivedButNotWhatComesAfter) {
  const size_t before = sim_->bytes_written();
  sim_->inject("late\r", 0);
  sim_->inject("no", 0);
  // Wait until the simulator wrote both chunks, then give the terminal a moment to
  // hand them to our side.
  for (int i = 0; i < 500 && sim_->bytes_written() < before + 7; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_GE(sim_->bytes_written(), before + 7);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(PurgeIrCom(), 7);
  EXPECT_EQ(PurgeIrCom(), 0);
  sim_->inject("True\r", 50);
  ASSERT_EQ(read(), 5);
  EXPECT_STREQ(line_, "True\r");
}

TEST(PurgeTest, WithoutAPortItFails) {
  CloseIrCom();
  EXPECT_EQ(PurgeIrCom(), -1);
}

}  // namespace
