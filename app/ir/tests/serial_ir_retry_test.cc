// Retries that run out of time: a scanner that never answers, the abort flag ending
// the retries, and the record delay of the count command.
#include <chrono>

#include "link_fixture.h"

namespace tallimo::testing {
namespace {

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

TEST_F(LinkTest, AScannerThatNeverAnswersCountsZeroAfterThreeAttempts) {
  sim_->with_scanner([](r50sim::Scanner& s) { s.set_records(2, {"a", "b"}); });
  sim_->update([](r50sim::Options& o) { o.mute = true; });
  cls_Serial_IR link(session_);
  link.set_File_Name_Index(2);
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(link.Record_Count(), 0);
  double took = seconds_since(start);
  EXPECT_EQ(frames().size(), 3u);
  EXPECT_EQ(resyncs(), 9);  // three tries after each of the three attempts
  // Three reply limits and nine resynchronisation limits of 500 ms.
  EXPECT_GE(took, 5.9);
  EXPECT_LT(took, 12.0);  // bound only to catch a hang
}

TEST_F(LinkTest, TheAbortFlagEndsTheRetriesAtOnce) {
  sim_->update([](r50sim::Options& o) { o.mute = true; });
  cls_Serial_IR link(session_);
  // The user presses Abort while the first frame is out.
  ui_.on_events = [this](int) { session_.set_abort(true); };
  EXPECT_EQ(link.Record_Count(), 0);
  EXPECT_EQ(frames().size(), 1u);
  EXPECT_EQ(resyncs(), 0);
}

TEST_F(LinkTest, AbortDuringAResynchronisationStopsItsTries) {
  sim_->update([](r50sim::Options& o) { o.mute = true; });
  cls_Serial_IR link(session_);
  // Event run 2 follows the first resynchronisation bytes.
  ui_.on_events = [this](int run) {
    if (run == 2) session_.set_abort(true);
  };
  EXPECT_FALSE(link.Exit_Sync_Mode());
  // The resynchronisation gave up after one try; the next attempt went out and its
  // failure saw the flag.
  EXPECT_EQ(resyncs(), 1);
  EXPECT_EQ(frames().size(), 2u);
}

TEST_F(LinkTest, ResetGivesUpAfterThreeUnansweredTries) {
  sim_->update([](r50sim::Options& o) { o.mute = true; });
  cls_Serial_IR link(session_);
  EXPECT_FALSE(link.Reset());
  EXPECT_EQ(resyncs(), 3);
}

TEST_F(LinkTest, TheRecordDelayWaitsMoreThanFiveSecondsBeforeTheCountIsRead) {
  sim_->with_scanner([](r50sim::Scanner& s) { s.set_records(5, {"p~d~1~1~1~v~l~1"}); });
  cls_Serial_IR link(session_);
  link.set_File_Name_Index(5);
  link.Set_Record_Delay_Enabled(true);
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(link.Record_Count(), 1);
  EXPECT_GT(seconds_since(start), 5.0);
  EXPECT_GT(ui_.event_runs, 10);  // events ran while it waited
  EXPECT_EQ(frames().size(), 1u);

  // Other commands do not wait.
  start = std::chrono::steady_clock::now();
  link.set_DataBase_Index(0);
  Scanner_Record.Record_Mode = 1;
  EXPECT_TRUE(link.Read_Record_Set());
  EXPECT_LT(seconds_since(start), 1.0);
}

}  // namespace
}  // namespace tallimo::testing
