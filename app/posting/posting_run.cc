#include "app/posting/posting_run.h"

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
  rollback();
  session_.set_active_run(outer_);
}

void PostingRun::begin() {
  if (pending()) return;
  tx_.reset();
  tx_.emplace(std::initializer_list<jet::Database*>{&scanner_.engine(), &products_.engine()});
  records_in_group_ = 0;
  group_started_ = std::chrono::steady_clock::now();
}

void PostingRun::start_record() {
  wrote_in_record_ = false;
  begin();
}

void PostingRun::end_record() {
  ++records_in_group_;
  if (records_in_group_ >= records_per_commit_ ||
      std::chrono::duration<double>(std::chrono::steady_clock::now() - group_started_).count() >= seconds_per_commit_) {
    commit();
  }
}

void PostingRun::commit() {
  if (!pending()) return;
  const int records = records_in_group_;
  records_in_group_ = 0;
  tx_->commit();
  tx_.reset();
  committed_records_ += records;
}

void PostingRun::rollback() noexcept {
  if (tx_) tx_->rollback();
  tx_.reset();
  records_in_group_ = 0;
}

}  // namespace tallimo
