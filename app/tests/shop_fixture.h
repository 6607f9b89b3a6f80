// Test support: a shop in a temporary folder (products database and scanner
// database made with our engine), a recording user interface, and what the
// independent reader mdb-export sees in the files afterwards.
#pragma once

#include <sys/types.h>

#include <cstdio>

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app/data/demo_shop.h"
#include "app/session.h"
#include "app/user_interface.h"

namespace jet::dao {
class Database;
}

namespace tallimo::testing {

class RecordingUi : public ConsoleUserInterface {
 public:
  RecordingUi() : ConsoleUserInterface(/*quiet=*/true) {}
  void Display_Status_Message(const std::string& text) override { status.push_back(text); }
  MessageAnswer message_box(const std::string& text, MessageButtons, MessageIcon, const std::string& title) override {
    yielded();
    boxes.push_back(text);
    titles.push_back(title);
    return MessageAnswer::kOk;
  }
  void do_events() override {
    yielded();
    if (on_events) on_events();
  }
  void show_preferences() override {
    yielded();
    ++preferences_shown;
    if (on_preferences) on_preferences();
  }
  void Mnu_Comparison_Click() override {
    yielded();
    ++comparison_clicks;
  }
  void refresh_grid() override {
    yielded();
    ++grid_refreshes;
  }
  // Called by every member through which a window may run its event loop.
  std::function<void()> on_yield;

  std::vector<std::string> status;
  std::vector<std::string> boxes;
  std::vector<std::string> titles;
  std::function<void()> on_events;
  std::function<void()> on_preferences;
  int preferences_shown = 0;
  int comparison_clicks = 0;
  int grid_refreshes = 0;

 private:
  void yielded() {
    if (on_yield) on_yield();
  }
};

// One row as mdb-export prints it: column name -> text ("" for Null).
using ExportRow = std::map<std::string, std::string>;

// Rows of `table` in `path` as mdb-export reads them.
std::vector<ExportRow> mdb_export(const std::string& path, const std::string& table);

// Rows of `table` in `path` as mdb-export reads them, each as one
// "column=value|..." line without the columns in `skip`, sorted: two files
// whose rows are the same in any order compare equal.
std::vector<std::string> sorted_rows(const std::string& path, const std::string& table,
                                     const std::set<std::string>& skip = {});

// "kind item qty" of every Scanner_Data row of `scanner`, by kind and item.
std::vector<std::string> scanner_rows(jet::dao::Database& scanner);

// Runs a shell command and gives its standard output; fails the test when
// it exits non-zero.
std::string run(const std::string& command);

demo::Product product(const std::string& code, std::optional<double> stock, const std::string& description = "Item");
demo::Scan scan(int16_t kind, std::optional<std::string> item, std::optional<double> qty);

class ShopTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Creates products.mdb and POS_Scanner.MDB in the shop folder.
  void make_shop(const std::vector<demo::Product>& products, const std::vector<demo::Scan>& scans);
  // Adds records to an existing scanner database.
  void add_scans(const std::vector<demo::Scan>& scans);
  // Runs a posting run as the command line does.
  void post();

  // The shop's session (created in SetUp, for the shop folder).
  Session& session() { return *session_; }

  std::string products_path() const { return dir_ + "/products.mdb"; }
  std::string scanner_path() const;

  // PRODUCT1 by product code, Scanner_Data in table order, Compare by item.
  std::map<std::string, ExportRow> product1() const;
  std::vector<ExportRow> scanner_data() const;
  std::map<std::string, ExportRow> compare() const;
  // One PRODUCT1 field; fails the test when the product is missing.
  std::string stock(const std::string& code) const;
  // The lines of ErrorLog.txt that name a routine ("Function Name: ...").
  std::vector<std::string> reported_routines() const;

  std::string dir_;
  RecordingUi ui_;
  std::unique_ptr<Session> session_;
};

// A command-line run started by a test, whose status lines come through `out`.
struct ChildProcess {
  pid_t pid = -1;
  FILE* out = nullptr;
};
// Starts `argv` (argv[0] is the program's path) with standard output on a pipe
// and standard error to /dev/null; pid -1 when it could not be started.
ChildProcess start_child(const std::vector<std::string>& argv);
// Reads what is left of the run's output (into `output` when given) and waits
// for it: its exit status, or -SIGNAL when a signal ended it.
int finish_child(ChildProcess& child, std::string* output = nullptr);

}  // namespace tallimo::testing
