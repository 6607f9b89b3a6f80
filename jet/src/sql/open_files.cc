#include "sql/open_files.h"

#include <filesystem>
#include <map>

#include "jet/error.h"

namespace jet::sql {
namespace {

struct Entry {
  std::weak_ptr<Database> db;
  std::string password;
};

std::map<std::string, Entry>& registry() {
  static std::map<std::string, Entry> files;
  return files;
}

std::string key_of(const std::string& path) {
  std::error_code ec;
  auto canonical = std::filesystem::weakly_canonical(path, ec);
  return ec ? path : canonical.string();
}

}  // namespace

std::shared_ptr<Database> open_shared(const std::string& path, const OpenOptions& options) {
  auto& files = registry();
  const std::string key = key_of(path);
  auto it = files.find(key);
  if (it != files.end()) {
    if (auto db = it->second.db.lock()) {
      if (db->info().has_password && options.password != it->second.password)
        throw Error(ErrorCategory::kPassword, path + ": wrong password");
      return db;
    }
    files.erase(it);
  }
  std::shared_ptr<Database> db = Database::open(path, options);
  if (options.read_write) files[key] = Entry{db, options.password};
  return db;
}

}  // namespace jet::sql
