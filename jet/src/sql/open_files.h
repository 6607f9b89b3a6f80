// Internal: the engine databases one workspace has open, one per file.
//
// Jet lets a program open one file through several handles at once (the
// program keeps its scanner database open while its grid's data control and
// each posting run open it again, and writes into a report file with
// INSERT ... IN while it holds that file open). The engine allows one writer
// per file; so every handle of one workspace on the same file shares one
// engine Database, and sees the others' changes at once. Two workspaces keep
// separate registries and never hand each other's databases out.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "jet/database.h"

namespace jet::sql {

class OpenFiles {
 public:
  // The engine database for `path`: the one this registry already has open
  // for writing when there is one (the password must then be the one it was
  // opened with, for a file that has one), else a newly opened one. A
  // read-write request never gets a read-only database.
  std::shared_ptr<Database> open(const std::string& path, const OpenOptions& options);

  // Files with at least one live handle opened for writing.
  std::size_t open_count() const;

 private:
  struct Entry {
    std::weak_ptr<Database> db;
    std::string password;
  };
  mutable std::mutex mutex_;
  std::map<std::string, Entry> files_;
};

}  // namespace jet::sql
