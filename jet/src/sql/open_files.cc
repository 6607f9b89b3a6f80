#include "sql/open_files.h"

#include <filesystem>

#include "jet/error.h"

namespace jet::sql {
namespace {

std::string key_of(const std::string& path) {
  std::error_code ec;
  auto canonical = std::filesystem::weakly_canonical(path, ec);
  return ec ? path : canonical.string();
}

}  // namespace

std::shared_ptr<Database> OpenFiles::open(const std::string& path, const OpenOptions& options) {
  std::lock_guard lock(mutex_);
  const std::string key = key_of(path);
  auto it = files_.find(key);
  if (it != files_.end()) {
    if (auto db = it->second.db.lock()) {
      if (db->info().has_password && options.password != it->second.password)
        throw Error(ErrorCategory::kPassword, path + ": wrong password");
      return db;
    }
    files_.erase(it);
  }
  std::shared_ptr<Database> db = Database::open(path, options);
  if (options.read_write) files_[key] = Entry{db, options.password};
  return db;
}

std::size_t OpenFiles::open_count() const {
  std::lock_guard lock(mutex_);
  std::size_t n = 0;
  for (const auto& [key, entry] : files_) n += !entry.db.expired();
  return n;
}

}  // namespace jet::sql
