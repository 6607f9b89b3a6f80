// A scanner link over a real pseudo-terminal: the R50 simulator in-process, Corvia
// bound by name as the program binds it, one port opened for the whole test program.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "app/ir/cls_serial_ir.h"
#include "app/ir/corvia_library.h"
#include "app/session.h"
#include "simulator.h"

namespace tallimo::testing {

// A headless user interface that counts event runs and can act inside them, as
// the user pressing Abort would.
class TestUi : public ConsoleUserInterface {
 public:
  TestUi() : ConsoleUserInterface(true) {}
  void do_events() override {
    ++event_runs;
    if (on_events) on_events(event_runs);
  }
  int event_runs = 0;
  std::function<void(int)> on_events;
};

class LinkTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ir::set_corvia_library_path(CORVIA_LIBRARY_FILE);
    sim_ = new r50sim::Simulator();
    sim_->start();
    setenv("CORVIA_COM2", sim_->slave_path().c_str(), 1);
    ASSERT_EQ(ir::corvia_library().vbOpenIrCom(2, 115200), 1);
  }
  static void TearDownTestSuite() {
    ir::corvia_library().CloseIrCom();
    delete sim_;
    sim_ = nullptr;
  }
  void SetUp() override {
    ASSERT_NE(sim_, nullptr);
    Scanner_Record = ScannerRecord{};
    session_.set_abort(false);
    sim_->with_scanner([](r50sim::Scanner& s) {
      for (int f = 0; f < r50sim::kFileCount; ++f) s.set_records(f, {});
      s.set_sync_mode(true);
      s.set_memory_total(1048576);
    });
    sim_->update([](r50sim::Options& o) { o.mute = false; });
    sim_->clear_events();
  }

  static std::vector<std::string> frames() {
    std::vector<std::string> out;
    for (const auto& e : sim_->events())
      if (e.kind == r50sim::Event::kFrame) out.push_back(e.bytes);
    return out;
  }
  static int resyncs() { return sim_->count(r50sim::Event::kResync); }
  static std::vector<std::string> records(int file) {
    std::vector<std::string> out;
    sim_->with_scanner([&](r50sim::Scanner& s) { out = s.records(file); });
    return out;
  }

  static r50sim::Simulator* sim_;
  TestUi ui_;
  Session session_{ui_};
  // The session's record, under the name the link class documents.
  ScannerRecord& Scanner_Record = session_.scanner_record();
};

inline r50sim::Simulator* LinkTest::sim_ = nullptr;

}  // namespace tallimo::testing
