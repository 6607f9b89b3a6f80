// Internal: the engine databases the SQL/DAO/ADO layer has open, one per
// file and process.
//
// Jet lets a program open one file through several handles at once (the
// program keeps its scanner database open while its grid's data control and
// each posting run open it again, and writes into a report file with
// INSERT ... IN while it holds that file open). The engine allows one writer
// per file; so every handle of this layer on the same file shares one engine
// Database, and sees the others' changes at once.
#pragma once

#include <memory>
#include <string>

#include "jet/database.h"

namespace jet::sql {

// The engine database for `path`: the one already open for writing in this
// process when there is one (the password must then be the one it was
// opened with, for a file that has one), else a newly opened one. A
// read-write request never gets a read-only database.
std::shared_ptr<Database> open_shared(const std::string& path, const OpenOptions& options);

}  // namespace jet::sql
