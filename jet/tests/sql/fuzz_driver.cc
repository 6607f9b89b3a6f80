// Reads NUL-terminated statements from stdin and runs each through the
// parser and executor on the database named by argv[1] (a scratch copy,
// opened for writing; password argv[2] if given). A jet::Error is the expected answer to a bad
// statement and is counted; any other exception, or a crash, is a bug.
// Prints "ok N errors M" at the end.
#include <cstdio>
#include <iostream>
#include <iterator>
#include <map>
#include <string>

#include "jet/database.h"
#include "jet/error.h"
#include "sql/executor.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: jet_sql_fuzz_driver FILE [PASSWORD [ro]] < statements\n");
    return 2;
  }
  jet::OpenOptions o;
  if (argc > 2) o.password = argv[2];
  // Open for writing (a scratch copy): INSERT, UPDATE, DELETE and the table
  // definitions run too. Commits are not synced.
  // With a third argument "ro" the copy is opened read-only and every change
  // is refused before it reaches the engine's write path.
  o.read_write = !(argc > 3 && std::string(argv[3]) == "ro");
  o.durability = jet::Durability::kFast;
  auto db = jet::Database::open(argv[1], o);
  jet::sql::Executor exec(*db);
  std::string all((std::istreambuf_iterator<char>(std::cin)), std::istreambuf_iterator<char>());
  std::size_t ok = 0, errors = 0, pos = 0;
  std::map<std::string, std::size_t> by_category;
  while (pos < all.size()) {
    std::size_t end = all.find('\0', pos);
    if (end == std::string::npos) end = all.size();
    std::string sql = all.substr(pos, end - pos);
    pos = end + 1;
    try {
      exec.execute(sql);
      ++ok;
    } catch (const jet::Error& e) {
      if (std::string(e.what()).empty()) {
        std::fprintf(stderr, "empty error message for: %s\n", sql.c_str());
        return 3;
      }
      ++errors;
      ++by_category[std::string(jet::category_name(e.category()))];
    } catch (const std::exception& e) {
      std::fprintf(stderr, "non-engine exception %s for: %s\n", e.what(), sql.c_str());
      return 4;
    }
  }
  std::printf("ok %zu errors %zu", ok, errors);
  for (const auto& [name, n] : by_category) std::printf(" %s=%zu", name.c_str(), n);
  std::printf("\n");
  return 0;
}
