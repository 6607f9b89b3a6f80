// Internal: atomic commits of write units through rollback journals, and
// recovery of a file that a crash left mid-commit. The protocol is written
// down at the top of journal.cc.
#pragma once

#include <string>
#include <vector>

namespace jet {

class Env;
class File;
class Pager;

namespace journal {

// "<db path>-journal": the rollback journal beside a database file.
std::string journal_path(const std::string& db_path);

// Commits the open write units of `pagers` (one or several files, each
// once) as one atomic unit, under each file's committer locks
// (Pager::begin_file_writes, file_locks.h): after a crash at any moment, every file is
// either as before or as after the commit once recover() has run on it.
// Pagers without dirty pages just end their unit. The durability of the
// first pager decides whether the steps are fsync'ed.
// On failure every file is restored to its state before the commit (from its
// journal), every unit is rolled back, and the error is rethrown; when even
// the restore fails, the journal stays on disk (the next open recovers) and
// the pager is marked broken.
void commit_units(const std::vector<Pager*>& pagers);

// Whether a journal file lies beside `db_path`.
bool journal_exists(Env& env, const std::string& db_path);

// Whether that journal is hot: it has a valid header and does not name a
// super-journal that is gone. Only meaningful while no live writer holds
// the file (a writer's journal is hot during its commits). Throws kIo when
// the journal exists but cannot be read.
bool journal_is_hot(Env& env, const std::string& db_path);

// At close of a read-write database: removes the (cold) journal when no
// other user has the file open (`others_open`) and, for a shared file, the
// writer's lock could be taken. Leaves a journal that a failed commit left
// hot, for the next open to play back.
void close_journal(Pager& pager, bool others_open) noexcept;

// Recovery at open. `db` is `db_path` opened read-write, and the caller
// holds the writer's lock on it (so no live writer owns the journal). A hot
// journal is played back into `db` (original pages written, file cut to
// its original size, synced) and removed; a journal whose commit finished
// (its super-journal is gone) or that never got a valid header is removed.
// Returns true when pages were played back. Throws kIo when the journal
// cannot be read or the file written, kCorruption for a journal whose
// header is valid but whose page records are damaged (then nothing is
// changed and the journal stays).
bool recover(Env& env, const std::string& db_path, File& db);

}  // namespace journal
}  // namespace jet
