// jetsql: a shell for Jet 4 (.mdb) files.
//
//   jetsql FILE [--password P] --tables          list the user tables
//   jetsql FILE [--password P] --schema TABLE    columns and indexes
//   jetsql FILE [--password P] --export TABLE    rows as CSV (header first)
//   jetsql --check FILE [--password P]           consistency check: one line
//                                                per problem on stdout
//   jetsql [--create] FILE [--password P] [--csv] [STATEMENT ...]
//                                                SQL shell (shell.cc)
//
// --check exits 0 when the file is consistent, 3 when it found problems.
// Exit status: 0 on success, 1 when the engine reports an error (printed on
// stderr with its category), 2 for a bad command line.
#include <cstdio>
#include <cstring>
#include <string>

#include "jet/database.h"
#include "jet/error.h"
#include "jet/value_text.h"
#include "jet/check.h"
#include "shell.h"

namespace {

int usage() {
  std::fprintf(stderr,
               "usage: jetsql FILE [--password P] --tables | --schema TABLE | --export TABLE\n"
               "       jetsql --check FILE [--password P]\n");
  return 2;
}

bool is_texty(jet::ColumnType t) {
  return t == jet::ColumnType::kText || t == jet::ColumnType::kMemo || t == jet::ColumnType::kDateTime ||
         t == jet::ColumnType::kGuid || t == jet::ColumnType::kOle || t == jet::ColumnType::kBinary;
}

void print_schema(jet::Table& t) {
  std::printf("TABLE %s\n", t.name().c_str());
  for (const auto& c : t.columns()) {
    std::string type = jet::column_type_name(c.type);
    if (c.type == jet::ColumnType::kText) type += " (" + std::to_string(c.length / 2) + ")";
    if (c.type == jet::ColumnType::kNumeric)
      type += " (" + std::to_string(c.precision) + ", " + std::to_string(c.scale) + ")";
    if (c.auto_number) type = "Counter";
    std::printf("  [%s] %s%s\n", c.name.c_str(), type.c_str(), c.type == jet::ColumnType::kBoolean ? " NOT NULL" : "");
  }
  for (const auto& ix : t.indexes()) {
    std::string cols;
    for (const auto& ic : ix.columns) {
      if (!cols.empty()) cols += ", ";
      cols += "[" + ic.column_name + "]" + (ic.ascending ? "" : " DESC");
    }
    std::string flags;
    if (ix.primary_key) flags += " PRIMARY KEY";
    if (ix.foreign_key) flags += " FOREIGN KEY";
    if (ix.unique && !ix.primary_key) flags += " UNIQUE";
    if (ix.ignore_nulls) flags += " IGNORE NULLS";
    if (ix.required && !ix.primary_key) flags += " REQUIRED";
    std::printf("  INDEX [%s] (%s)%s\n", ix.name.c_str(), cols.c_str(), flags.c_str());
  }
}

void export_csv(jet::Table& t) {
  std::string out;
  const auto& cols = t.columns();
  for (std::size_t i = 0; i < cols.size(); ++i) {
    if (i) out.push_back(',');
    jetsql::append_csv_field(cols[i].name, false, out);
  }
  out.push_back('\n');
  std::string text;
  for (auto c = t.scan(); c.next();) {
    const jet::Row& row = c.row();
    for (std::size_t i = 0; i < row.size(); ++i) {
      if (i) out.push_back(',');
      if (jet::is_null(row[i])) continue;
      text.clear();
      jet::append_value_text(row[i], text);
      jetsql::append_csv_field(text, is_texty(cols[i].type), out);
    }
    out.push_back('\n');
    if (out.size() > (1 << 16)) {
      std::fwrite(out.data(), 1, out.size(), stdout);
      out.clear();
    }
  }
  std::fwrite(out.data(), 1, out.size(), stdout);
}

}  // namespace

int main(int argc, char** argv) {
  if (jetsql::wants_shell(argc, argv)) return jetsql::shell_main(argc, argv);
  if (argc < 3) return usage();
  std::string file = argv[1];
  jet::OpenOptions options;
  std::string action, table;
  int first_option = 2;
  if (file == "--check") {
    file = argv[2];
    action = "--check";
    first_option = 3;
  }
  for (int i = first_option; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--password" && i + 1 < argc) {
      options.password = argv[++i];
    } else if (a == "--tables" || a == "--tables-all") {
      action = a;
    } else if ((a == "--schema" || a == "--export") && i + 1 < argc) {
      action = a;
      table = argv[++i];
    } else {
      return usage();
    }
  }
  if (action.empty()) return usage();
  try {
    auto db = jet::Database::open(file, options);
    if (action == "--check") {
      jet::CheckReport report = jet::check_database(*db);
      for (const std::string& p : report.problems) std::printf("%s\n", p.c_str());
      std::fprintf(stderr, "jetsql: %s: %u pages, %u tables, %llu rows, %llu index entries: %zu problem%s\n",
                   file.c_str(), report.pages, report.tables, static_cast<unsigned long long>(report.rows),
                   static_cast<unsigned long long>(report.index_entries), report.problems.size(),
                   report.problems.size() == 1 ? "" : "s");
      return report.ok() ? 0 : 3;
    }
    if (action == "--tables" || action == "--tables-all") {
      for (const auto& t : db->tables(action == "--tables-all")) std::printf("%s\n", t.name.c_str());
    } else if (action == "--schema") {
      print_schema(db->table(table));
    } else {
      export_csv(db->table(table));
    }
  } catch (const jet::Error& e) {
    std::fprintf(stderr, "jetsql: %s error: %s\n", std::string(jet::category_name(e.category())).c_str(), e.what());
    return 1;
  }
  return 0;
}
