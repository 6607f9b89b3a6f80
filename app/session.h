// One running program's state: the object the program creates at start-up
// and passes to every procedure.
//
// Nothing the program changes while it runs lives in a process-wide
// variable. The settings, the user interface, the application folder, the
// scanner and products database handles, the abort flag, the posting
// options and the latest run's summary, the record that passes between the
// infrared link and its callers, and the run in progress all belong to a
// Session. Two sessions in one process (two shops side by side, tests) never
// see each other's state.
//
// The documented procedures keep their names; they take the Session as their
// first argument (Open_Scanner_Data_File(session), Process_Post(session),
// Error_Routine(session, text, routine), ...).
//
// Threads: a session is used by one thread at a time, except for the abort
// flag, which any thread (a window's "&Abort" button, a signal handler via
// abort_flag()) may set while a run polls it.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "app/ir/scanner_record.h"
#include "app/posting/posting_options.h"
#include "app/settings.h"
#include "app/user_interface.h"

namespace jet::dao {
class Database;
}

namespace tallimo {

class PostingRun;

class Session {
 public:
  // `ui` is not owned and must outlive the session (or be replaced first with
  // set_ui). `application_folder` is where the scanner database and the error
  // log live; empty means the program's own folder (Application_Folder()).
  explicit Session(UserInterface& ui, const std::string& application_folder = std::string());
  // Closes the databases the session still holds open.
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // ---- the user interface ----
  UserInterface& ui() const { return *ui_; }
  // The main window takes over from the console interface once it exists.
  void set_ui(UserInterface& ui) { ui_ = &ui; }

  // ---- settings and folder ----
  Settings& settings() { return settings_; }
  const Settings& settings() const { return settings_; }
  // Always ends in the path separator.
  const std::string& application_folder() const { return application_folder_; }
  void set_application_folder(const std::string& folder);

  // ---- database handles ----
  // The scanner database (open from start-up to exit) and the products
  // database (open for one operation); null while closed. The procedures of
  // app/data open and close them; the session closes what is left at its end.
  jet::dao::Database* scanner_database() const { return scanner_database_.get(); }
  jet::dao::Database* products_database() const { return products_database_.get(); }
  std::unique_ptr<jet::dao::Database>& scanner_handle() { return scanner_database_; }
  std::unique_ptr<jet::dao::Database>& products_handle() { return products_database_; }

  // ---- the abort flag ("&Abort"; every long loop polls it) ----
  bool abort_requested() const { return abort_.load(std::memory_order_relaxed); }
  void set_abort(bool value) { abort_.store(value, std::memory_order_relaxed); }
  // For a signal handler: a lock-free flag that may be stored to from it.
  std::atomic<bool>& abort_flag() { return abort_; }

  // ---- the end of the program ----
  // Unloads the main window, which ends the program; procedures that call it
  // return at once and their callers see program_ended().
  void end_program();
  bool program_ended() const { return ended_; }

  // ---- posting ----
  PostingOptions& posting_options() { return posting_options_; }
  PostingSummary& last_posting_summary() { return last_posting_summary_; }
  const PostingSummary& last_posting_summary() const { return last_posting_summary_; }
  // The posting run in progress (the innermost), or null. PostingRun sets it.
  PostingRun* active_run() const { return active_run_; }
  void set_active_run(PostingRun* run) { active_run_ = run; }

  // ---- the infrared link ----
  // The record that passes between cls_Serial_IR and the read and upload runs.
  ScannerRecord& scanner_record() { return scanner_record_; }
  // True while the infrared port is open.
  bool ir_port_open() const { return ir_port_open_; }
  void set_ir_port_open(bool open) { ir_port_open_ = open; }

 private:
  UserInterface* ui_;
  std::string application_folder_;
  Settings settings_;
  std::unique_ptr<jet::dao::Database> scanner_database_;
  std::unique_ptr<jet::dao::Database> products_database_;
  std::atomic<bool> abort_{false};
  bool ended_ = false;
  PostingOptions posting_options_;
  PostingSummary last_posting_summary_;
  PostingRun* active_run_ = nullptr;
  ScannerRecord scanner_record_;
  bool ir_port_open_ = false;
};

}  // namespace tallimo
