// Reads NUL-terminated statements from stdin and runs each through the
// parser and executor on the database named by argv[1] (opened read-only,
// password argv[2] if given). A jet::Error is the expected answer to a bad
// statement and is counted; any other exception, or a crash, is a bug.
// Prints "ok N errors M" at the end.
#include <cstdio>
#include <iostream>
#include <iterator>
#include <string>

#include "jet/database.h"
#include "jet/error.h"
#include "sql/executor.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: jet_sql_fuzz_driver FILE [PASSWORD] < statements\n");
    return 2;
  }
  jet::OpenOptions o;
  if (argc > 2) o.password = argv[2];
  auto db = jet::Database::open(argv[1], o);
  jet::sql::Executor exec(*db);
  std::string all((std::istreambuf_iterator<char>(std::cin)), std::istreambuf_iterator<char>());
  std::size_t ok = 0, errors = 0, pos = 0;
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
    } catch (const std::exception& e) {
      std::fprintf(stderr, "non-engine exception %s for: %s\n", e.what(), sql.c_str());
      return 4;
    }
  }
  std::printf("ok %zu errors %zu\n", ok, errors);
  return 0;
}
