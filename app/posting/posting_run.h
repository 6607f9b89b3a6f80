// Internal: the commits of one posting run. Every change a run makes to
// PRODUCT1 and to the scanner database (Compare rows, notes, removed records)
// happens inside one jet::Transaction over both files; a group of records is
// committed as a unit, so a crash loses whole records (effect and removal
// together), never half of one.
//
// This is the thin adapter over the engine's multi-file transaction that the
// DAO layer does not offer itself: the DAO databases' engine objects join
// one jet::Transaction, and DAO writes made meanwhile become part of it -
// also a write made through another handle on the same file. So nothing may
// yield to the user interface while a group is open (see posting.h): errors
// found inside a group are held (defer_report) and reported once the group
// has been committed or rolled back.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "jet/transaction.h"

namespace jet::dao {
class Database;
}

namespace tallimo {

class Session;
namespace history {
class RunJournal;
}

class PostingRun {
 public:
  // Becomes the session's active run until destroyed.
  PostingRun(Session& session, jet::dao::Database& scanner, jet::dao::Database& products, int records_per_commit,
             double seconds_per_commit = 1e9);
  // Rolls back whatever is not committed yet. Never throws.
  ~PostingRun();
  PostingRun(const PostingRun&) = delete;
  PostingRun& operator=(const PostingRun&) = delete;

  // A record is about to be posted: a transaction is open afterwards.
  void start_record();
  // Something of the current record has been written.
  void note_write() { wrote_in_record_ = true; }
  bool record_wrote() const { return wrote_in_record_; }
  // The record is finished; commits when the group is full or old enough.
  // Returns whether it committed (the caller may then yield).
  bool end_record();

  // Commits what is pending (nothing when no transaction is open), then
  // reports the errors held back. Throws jet::Error when the commit fails;
  // everything pending is then rolled back.
  void commit();
  // Drops what is pending: every record since the last commit stays as it
  // was. Then reports the errors held back.
  void rollback();

  // Holds an error report (Error_Routine) until the open group has ended.
  void defer_report(const std::string& text, const std::string& routine);
  bool pending() const { return tx_.has_value() && tx_->active(); }

  // Records committed so far.
  long committed_records() const { return committed_records_; }

  // The posting history of this run (app/history/journal.h), or null: its
  // file joins every group's transaction, so the journal rows of a group
  // commit with the group's changes. Set before the first record.
  void set_journal(history::RunJournal* journal, jet::dao::Database* journal_file) {
    journal_ = journal;
    journal_file_ = journal_file;
  }
  history::RunJournal* journal() const { return journal_; }

 private:
  void begin();
  void drop() noexcept;
  void report_deferred();
  Session& session_;
  jet::dao::Database& scanner_;
  jet::dao::Database& products_;
  int records_per_commit_;
  double seconds_per_commit_;
  std::chrono::steady_clock::time_point group_started_;
  std::optional<jet::Transaction> tx_;
  int records_in_group_ = 0;
  long committed_records_ = 0;
  bool wrote_in_record_ = false;
  std::vector<std::pair<std::string, std::string>> deferred_;
  PostingRun* outer_ = nullptr;
  history::RunJournal* journal_ = nullptr;
  jet::dao::Database* journal_file_ = nullptr;
};

}  // namespace tallimo
