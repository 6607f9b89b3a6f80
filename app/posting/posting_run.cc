#include "app/posting/posting_run.h"

#include "app/error_log.h"
#include "app/history/journal.h"
#include "app/session.h"
#include "jet/dao.h"
#include "jet/database.h"

namespace tallimo {
PostingRun::PostingRun(Session& session, jet::dao::Database& scanner, jet::dao::Database& products, int records_per_commit,
                       double seconds_per_commit)
    : session_(session),
      scanner_(scanner),
      products_(products),
      records_per_commit_(records_per_commit < 1 ? 1 : records_per_commit),
      seconds_per_commit_(seconds_per_commit) {
  outer_ = session_.active_run();
  session_.set_active_run(this);
}

PostingRun::~PostingRun() {
  drop();
  session_.set_active_run(outer_);
  // Reports still held (a run left by an exception) are made now that no
  // group is open; reporting must not throw out of a destructor.
  try {
    report_deferred();
  } catch (...) {
  }
}

void PostingRun::begin() {
  if (pending()) return;
  tx_.reset();
  if (journal_file_ != nullptr) {
    tx_.emplace(std::initializer_list<jet::Database*>{&scanner_.engine(), &products_.engine(), &journal_file_->engine()});
  } else {
    tx_.emplace(std::initializer_list<jet::Database*>{&scanner_.engine(), &products_.engine()});
  }
  records_in_group_ = 0;
  group_started_ = std::chrono::steady_clock::now();
}

void PostingRun::start_record() {
  wrote_in_record_ = false;
  begin();
}

bool PostingRun::end_record() {
  ++records_in_group_;
  if (records_in_group_ >= records_per_commit_ ||
      std::chrono::duration<double>(std::chrono::steady_clock::now() - group_started_).count() >= seconds_per_commit_) {
    commit();
    return true;
  }
  return false;
}

void PostingRun::commit() {
  if (pending()) {
    const int records = records_in_group_;
    records_in_group_ = 0;
    try {
      tx_->commit();
    } catch (...) {
      drop();
      throw;
    }
    tx_.reset();
    committed_records_ += records;
    if (journal_ != nullptr) journal_->group_committed();
  }
  report_deferred();
}

void PostingRun::drop() noexcept {
  if (tx_ && tx_->active() && journal_ != nullptr) journal_->group_rolled_back();
  if (tx_) tx_->rollback();
  tx_.reset();
  records_in_group_ = 0;
}

void PostingRun::rollback() {
  drop();
  report_deferred();
}

void PostingRun::defer_report(const std::string& text, const std::string& routine) {
  deferred_.emplace_back(text, routine);
}

void PostingRun::report_deferred() {
  while (!deferred_.empty()) {
    const auto [text, routine] = deferred_.front();
    deferred_.erase(deferred_.begin());
    Error_Routine(session_, text, routine);
  }
}

}  // namespace tallimo
