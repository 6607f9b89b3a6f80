// Transactions over one or several open databases.
//
//   jet::Transaction tx({scanner.get(), products.get()});
//   ... table updates on both ...
//   tx.commit();   // both files change, or (on any error, or a crash) neither
//
// Outside a Transaction each statement or record update commits on its own.
// Inside one, nothing reaches any file before commit(); then every file
// changes as one unit through a rollback journal beside each file (and a
// super-journal naming them all when there are several), so a process
// killed at any moment leaves every file as of its last commit once the
// engine opens it again.
//
// Ownership: a Transaction refers to its Databases and must end (commit,
// rollback or destruction) before any of them is closed. A Database takes
// part in at most one Transaction at a time. Not thread-safe.
#pragma once

#include <initializer_list>
#include <vector>

namespace jet {

class Database;

// How hard a commit works to survive a power cut (OpenOptions::durability).
enum class Durability {
  // Every step of the journal protocol is fsync'ed (files and directories):
  // after a crash of the process or of the machine, every file is as of its
  // last commit. The default.
  kDurable,
  // No fsync at all; journals are still written and removed in the same
  // order. A killed process still leaves every file as of its last commit
  // (the operating system keeps every write it was given); a power cut or
  // an operating-system crash may not, and may even leave a file damaged.
  // For bulk staging into files of our own, never for the products file.
  kFast,
};

class Transaction {
 public:
  // Begins a transaction over `db`, or over every database in `dbs` (each
  // once, none null). Throws jet::Error: kInvalidArgument when a database
  // is open read-only, is already in a transaction, or is listed twice;
  // kIo when a file cannot be written (a previous failure left it needing
  // recovery). On a throw no database is in a transaction.
  explicit Transaction(Database& db);
  explicit Transaction(std::initializer_list<Database*> dbs);
  explicit Transaction(const std::vector<Database*>& dbs);

  // Rolls back when neither commit() nor rollback() was called. Never throws.
  ~Transaction();
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;

  // Writes every change to every file as one atomic, durable unit (see
  // OpenOptions::durability) and ends the transaction. On failure (I/O
  // error, full disk) it throws jet::Error naming the file; every file is
  // then as it was before the transaction, and the transaction is rolled
  // back. Throws kInvalidArgument when the transaction already ended.
  void commit();

  // Forgets every change and ends the transaction. A no-op when it already
  // ended. Never throws.
  void rollback() noexcept;

  bool active() const { return active_; }

 private:
  void begin();
  std::vector<Database*> dbs_;
  bool active_ = false;
};

}  // namespace jet
