// Internal: the commits of one posting run. Every change a run makes to
// PRODUCT1 and to the scanner database (Compare rows, notes, removed records)
// happens inside one jet::Transaction over both files; a group of records is
// committed as a unit, so a crash loses whole records (effect and removal
// together), never half of one.
//
// This is the thin adapter over the engine's multi-file transaction that the
// DAO layer does not offer itself: the DAO databases' engine objects join
// one jet::Transaction, and DAO writes made meanwhile become part of it.
#pragma once

#include <chrono>
#include <optional>

#include "jet/transaction.h"

namespace jet::dao {
class Database;
}

namespace tallimo {

class Session;

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
  // The record is finished; commits when the group is full.
  void end_record();

  // Commits what is pending (nothing when no transaction is open). Throws
  // jet::Error when the commit fails; everything pending is then rolled back.
  void commit();
  // Drops what is pending: every record since the last commit stays as it was.
  void rollback() noexcept;
  bool pending() const { return tx_.has_value() && tx_->active(); }

  // Records committed so far.
  long committed_records() const { return committed_records_; }

 private:
  void begin();
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
  PostingRun* outer_ = nullptr;
};

}  // namespace tallimo
