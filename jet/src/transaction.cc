#include "jet/transaction.h"

#include <algorithm>

#include "jet/database.h"
#include "jet/error.h"
#include "journal.h"
#include "pager.h"

namespace jet {

Transaction::Transaction(Database& db) : dbs_{&db} { begin(); }
Transaction::Transaction(std::initializer_list<Database*> dbs) : dbs_(dbs) { begin(); }
Transaction::Transaction(const std::vector<Database*>& dbs) : dbs_(dbs) { begin(); }

void Transaction::begin() {
  if (dbs_.empty()) throw Error(ErrorCategory::kInvalidArgument, "a transaction needs at least one database");
  for (std::size_t i = 0; i < dbs_.size(); ++i) {
    if (dbs_[i] == nullptr) throw Error(ErrorCategory::kInvalidArgument, "a transaction was given a null database");
    for (std::size_t j = 0; j < i; ++j) {
      if (dbs_[j] == dbs_[i]) {
        throw Error(ErrorCategory::kInvalidArgument,
                    dbs_[i]->path() + ": the database is listed twice in one transaction");
      }
    }
  }
  std::size_t begun = 0;
  try {
    for (Database* db : dbs_) {
      db->pager().begin(/*explicit_transaction=*/true);
      ++begun;
    }
  } catch (...) {
    for (std::size_t i = 0; i < begun; ++i) dbs_[i]->pager().rollback();
    throw;
  }
  active_ = true;
}

Transaction::~Transaction() { rollback(); }

void Transaction::commit() {
  if (!active_) throw Error(ErrorCategory::kInvalidArgument, "commit of a transaction that already ended");
  active_ = false;  // commit_units ends every unit, whether it succeeds or not
  std::vector<Pager*> pagers;
  pagers.reserve(dbs_.size());
  for (Database* db : dbs_) pagers.push_back(&db->pager());
  journal::commit_units(pagers);
}

void Transaction::rollback() noexcept {
  if (!active_) return;
  active_ = false;
  for (Database* db : dbs_) db->pager().rollback();
}

}  // namespace jet
