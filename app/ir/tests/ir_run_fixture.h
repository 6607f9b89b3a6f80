// A shop in a temporary folder with the simulated scanner in its cradle: the R50
// simulator in-process on a real pseudo-terminal, which the settings' COM2 names.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/data/scanner_database.h"
#include "app/ir/corvia_library.h"
#include "app/ir/ir_runs.h"
#include "app/posting/posting.h"
#include "app/session.h"
#include "app/settings.h"
#include "app/tests/shop_fixture.h"
#include "simulator.h"

namespace tallimo::testing {

// Answers the instructions box as told; counts its showings.
class IrUi : public RecordingUi {
 public:
  MessageAnswer message_box(const std::string& text, MessageButtons buttons, MessageIcon icon,
                            const std::string& title) override {
    RecordingUi::message_box(text, buttons, icon, title);
    if (buttons == MessageButtons::kOkCancel) {
      ++instructions;
      return cancel ? MessageAnswer::kCancel : MessageAnswer::kOk;
    }
    return MessageAnswer::kOk;
  }
  bool cancel = false;
  int instructions = 0;
};

class IrShopTest : public ShopTest {
 protected:
  static void SetUpTestSuite() {
    ir::set_corvia_library_path(CORVIA_LIBRARY_FILE);
    sim_ = new r50sim::Simulator();
    sim_->start();
    setenv("CORVIA_COM2", sim_->slave_path().c_str(), 1);
  }
  static void TearDownTestSuite() {
    ir::corvia_library().CloseIrCom();
    delete sim_;
    sim_ = nullptr;
  }
  void SetUp() override {
    ShopTest::SetUp();
    session().set_ui(ir_ui_);
    session().settings().Com_Port = 1;  // COM2
    // Each test's session starts with the port closed.
    ir::corvia_library().CloseIrCom();
    sim_->with_scanner([](r50sim::Scanner& s) {
      for (int f = 0; f < r50sim::kFileCount; ++f) s.set_records(f, {});
      s.set_sync_mode(true);
      s.set_memory_total(1048576);
    });
    sim_->update([](r50sim::Options& o) {
      o.mute = false;
      o.garble_every = 0;
      o.drop_every = 0;
    });
    sim_->clear_events();
  }

  static void load(int file, std::vector<std::string> records) {
    sim_->with_scanner([&](r50sim::Scanner& s) { s.set_records(file, std::move(records)); });
  }
  // The user starts the scanner's synchronisation mode again (6 and the blue button).
  static void resume_sync() {
    sim_->with_scanner([](r50sim::Scanner& s) { s.set_sync_mode(true); });
  }
  static std::vector<std::string> records(int file) {
    std::vector<std::string> out;
    sim_->with_scanner([&](r50sim::Scanner& s) { out = s.records(file); });
    return out;
  }
  // The payloads of the frames the scanner received (length byte and checksum cut).
  static std::vector<std::string> payloads() {
    std::vector<std::string> out;
    for (const auto& e : sim_->events())
      if (e.kind == r50sim::Event::kFrame) out.push_back(e.bytes.substr(1, e.bytes.size() - 2));
    return out;
  }
  static bool has(const std::vector<std::string>& list, const std::string& item) {
    return std::find(list.begin(), list.end(), item) != list.end();
  }
  // Scanner_Data as mdb-export reads it: "kind item qty" per row, in table order.
  std::vector<std::string> scan_rows() const {
    std::vector<std::string> out;
    for (auto& row : scanner_data()) out.push_back(row["File_Type"] + " " + row["Item_Number"] + " " + row["Qty"]);
    return out;
  }

  static r50sim::Simulator* sim_;
  IrUi ir_ui_;
  IrRunSummary last_;  // what the latest run returned
};

inline r50sim::Simulator* IrShopTest::sim_ = nullptr;

}  // namespace tallimo::testing
