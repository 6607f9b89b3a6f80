// Interim write-through commit; the rollback journal replaces it.
#include "journal.h"

#include <vector>

#include "jet/env.h"
#include "jet/error.h"
#include "pager.h"

namespace jet::journal {

std::string journal_path(const std::string& db_path) { return db_path + "-journal"; }

bool journal_exists(Env& env, const std::string& db_path) { return env.file_exists(journal_path(db_path)); }

void commit_units(const std::vector<Pager*>& pagers) {
  try {
    std::vector<uint8_t> buf(kPageSize);
    for (Pager* p : pagers) {
      for (uint32_t n : p->dirty_pages()) {
        p->file_image(n, buf.data());
        p->file().write_at(uint64_t(n) * kPageSize, kPageSize, buf.data());
      }
      if (p->durability() == Durability::kDurable) p->file().sync();
    }
  } catch (...) {
    for (Pager* p : pagers) p->rollback();
    throw;
  }
  for (Pager* p : pagers) p->mark_committed();
}

bool recover(Env&, const std::string&, File&) { return false; }

}  // namespace jet::journal
