// Internal: how handles in several processes (or several handles in one
// process) share one database file: the lock protocol between readers, the
// writer and the committer, and how a handle learns that its cached pages
// are stale. The journal's own protocol (journal.cc) sits inside it: a
// commit runs entirely under the locks below.
//
// LOCKS (POSIX open-file-description record locks on the .mdb, held per
// open handle, so two handles in one process exclude each other as two
// processes do; all bytes lie past Jet's own lock regions, 0x10000001 ..
// 0x6FF800FF, so a Jet on Windows sharing the file never meets them)
//
//   W  byte 0x7FFFFF00  exclusive: the writer. Taken when a write unit
//                       begins (a Transaction, or one statement outside
//                       one), released when it commits or rolls back.
//   P  byte 0x7FFFFF01  pending: a committer takes it exclusive before it
//                       waits for R, so that new readers wait behind it
//                       and a reader in a loop cannot starve it; readers
//                       take it shared only for the moment they take R.
//   R  byte 0x7FFFFF02  shared: a reader for one read operation (a scan, a
//                       row read, an index search, a definition read, a
//                       ReadSnapshot); exclusive: a committer from just
//                       before its journal turns hot until the commit ends.
//   Q  byte 0x7FFFFF03  writers' queue: a writer that found W taken holds Q
//                       exclusive while it waits, and a writer about to take W
//                       holds Q shared for that moment; so W, once let go, goes
//                       to the writer already waiting, and a writer that
//                       commits and begins again in a loop cannot starve it.
//
// The commit counter lives in the Jet lock file (lock_file.h). The
// protocol's invariants are written down beside the journal's, at the top
// of journal.cc ("LOCKS BETWEEN HANDLES").
//
// What Windows Jet locks (from the public notes on Jet's locking), and what
// this engine takes of it, is written down in the engine's notes
// (jet/README.md, "Sharing a file").
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "jet/env.h"

namespace jet::file_locks {

inline constexpr uint64_t kWriterByte = 0x7FFFFF00;
inline constexpr uint64_t kPendingByte = 0x7FFFFF01;
inline constexpr uint64_t kReaderByte = 0x7FFFFF02;
inline constexpr uint64_t kWriterQueueByte = 0x7FFFFF03;

// Takes the lock on byte `offset` of `file`, polling until `timeout`;
// false when it did not get it in time.
bool lock_waiting(File& file, uint64_t offset, LockKind kind, std::chrono::milliseconds timeout);

// Takes W the way writers must (Q around it, see above); false at timeout.
bool lock_writer_waiting(File& file, std::chrono::milliseconds timeout);

// Takes R shared the way readers must (P shared around it); false at
// timeout.
bool lock_reader_waiting(File& file, std::chrono::milliseconds timeout);

}  // namespace jet::file_locks
