// jetsql: a shell for Jet 4 (.mdb) files.
//
//   jetsql FILE [--password P] --tables          list the user tables
//   jetsql FILE [--password P] --schema TABLE    columns and indexes
//   jetsql FILE [--password P] --export TABLE    rows as CSV (header first)
//   jetsql --check FILE [--password P]           consistency check: one line
//                                                per problem on stdout (pages,
//                                                rows, indexes, and the catalog:
//                                                tables and pages no catalog row
//                                                reaches)
//   jetsql --compact FILE [OUT] [--password P]   compacted copy of FILE into
//                                                OUT, or in place of FILE
//   jetsql FILE [--password P] --import TABLE F.csv
//                                                rows of a CSV file (header
//                                                line = column names) added
//                                                to TABLE in one transaction
//   jetsql [--create] FILE [--password P] [--csv] [--null TEXT] [STATEMENT ...]
//                                                SQL shell (shell.cc)
//
// --check exits 0 when the file is consistent, 3 when it found problems.
// --import adds every row or none: a row that does not convert or is refused
// (duplicate key, too long) stops it with the line number of that row.
// Exit status: 0 on success, 1 when the engine reports an error (printed on
// stderr with its category), 2 for a bad command line.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include <fstream>
#include <iterator>
#include <vector>

#include "jet/database.h"
#include "jet/error.h"
#include "jet/transaction.h"
#include "jet/value_text.h"
#include "jet/check.h"
#include "shell.h"
#include "jet/dao.h"

namespace {

int usage() {
  std::fprintf(stderr,
               "usage: jetsql FILE [--password P] --tables | --schema TABLE | --export TABLE\n"
               "       jetsql --check FILE [--password P]\n"
               "       jetsql --compact FILE [OUT] [--password P]\n"
               "       jetsql FILE [--password P] --import TABLE FILE.csv\n");
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
    std::printf("  [%s] %s%s\n", c.name.c_str(), type.c_str(), c.type == jet::ColumnType::kBoolean || c.required ? " NOT NULL" : "");
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
      if (text == "-0") text = "0";  // a negative zero is shown as 0
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

// One record of a CSV file: fields separated by ',', quoted fields may hold
// commas, doubled quotes and line breaks. `quoted` tells "" (empty text)
// from an empty field (Null).
struct CsvRecord {
  std::vector<std::string> fields;
  std::vector<bool> quoted;
  std::size_t line = 0;  // line the record starts on, from 1
};

class CsvReader {
 public:
  CsvReader(std::string text, std::string name) : text_(std::move(text)), name_(std::move(name)) {
    if (text_.rfind("\xEF\xBB\xBF", 0) == 0) pos_ = 3;  // a UTF-8 byte-order mark
  }

  bool next(CsvRecord& r) {
    if (pos_ >= text_.size()) return false;
    r = CsvRecord{};
    r.line = line_;
    std::string field;
    bool quoted = false;
    for (;;) {
      if (pos_ < text_.size() && text_[pos_] == '"' && field.empty() && !quoted) {
        quoted = true;
        const std::size_t open_line = line_;
        ++pos_;
        for (;;) {
          if (pos_ >= text_.size()) {
            throw jet::Error(jet::ErrorCategory::kInvalidArgument,
                             name_ + " line " + std::to_string(open_line) + ": a quoted field is not closed");
          }
          char c = text_[pos_++];
          if (c == '"') {
            if (pos_ < text_.size() && text_[pos_] == '"') {
              field.push_back('"');
              ++pos_;
              continue;
            }
            break;
          }
          if (c == '\n') ++line_;
          field.push_back(c);
        }
      }
      const bool at_end = pos_ >= text_.size();
      const char c = at_end ? '\n' : text_[pos_];
      if (c == ',' || c == '\n' || (c == '\r' && pos_ + 1 < text_.size() && text_[pos_ + 1] == '\n') ||
          (c == '\r' && pos_ + 1 == text_.size())) {
        r.fields.push_back(std::move(field));
        r.quoted.push_back(quoted);
        field.clear();
        quoted = false;
        if (c == ',') {
          ++pos_;
          continue;
        }
        pos_ += at_end ? 0 : (c == '\r' ? 2 : 1);
        ++line_;
        return true;
      }
      if (quoted) {
        throw jet::Error(jet::ErrorCategory::kInvalidArgument,
                         name_ + " line " + std::to_string(line_) + ": text after the closing quote of a field");
      }
      field.push_back(c);
      ++pos_;
    }
  }

 private:
  std::string text_;
  std::string name_;
  std::size_t pos_ = 0;
  std::size_t line_ = 1;
};

// Adds the rows of `csv_path` to `table_name`, all or none. Returns the
// number of rows.
std::size_t import_csv(jet::Database& db, const std::string& table_name, const std::string& csv_path) {
  std::ifstream in(csv_path, std::ios::binary);
  if (!in) throw jet::Error(jet::ErrorCategory::kNotFound, csv_path + ": cannot be opened");
  CsvReader reader(std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()), csv_path);
  jet::Table& t = db.table(table_name);
  const jet::TableDef& def = t.def();
  CsvRecord header;
  if (!reader.next(header)) throw jet::Error(jet::ErrorCategory::kInvalidArgument, csv_path + ": the file is empty");
  std::vector<int> columns;
  for (const std::string& name : header.fields) {
    int c = def.find_column(name);
    if (c < 0) {
      throw jet::Error(jet::ErrorCategory::kInvalidArgument,
                       csv_path + " line 1: table '" + def.name + "' has no column '" + name + "'");
    }
    if (std::find(columns.begin(), columns.end(), c) != columns.end()) {
      throw jet::Error(jet::ErrorCategory::kInvalidArgument, csv_path + " line 1: the column '" + name + "' is named twice");
    }
    columns.push_back(c);
  }
  jet::Transaction tx(db);
  std::size_t rows = 0;
  CsvRecord rec;
  while (reader.next(rec)) {
    if (rec.fields.size() == 1 && rec.fields[0].empty() && !rec.quoted[0]) continue;  // blank line
    const std::string where = csv_path + " line " + std::to_string(rec.line) + ": ";
    if (rec.fields.size() != columns.size()) {
      throw jet::Error(jet::ErrorCategory::kInvalidArgument, where + "the row has " + std::to_string(rec.fields.size()) +
                                                                 " fields, the header names " +
                                                                 std::to_string(columns.size()) + " columns");
    }
    jet::Row row(def.columns.size());
    try {
      for (std::size_t i = 0; i < columns.size(); ++i) {
        if (rec.fields[i].empty() && !rec.quoted[i]) continue;  // Null
        row[columns[i]] = jet::dao::convert_for_column(rec.fields[i], def.columns[columns[i]], def.name);
      }
      t.insert(row);
    } catch (const jet::Error& e) {
      throw jet::Error(e.category(), where + e.what());
    }
    ++rows;
  }
  tx.commit();
  return rows;
}

int compact_main(int argc, char** argv) {
  std::vector<std::string> files;
  jet::CompactOptions options;
  for (int i = 2; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--password" && i + 1 < argc) options.password = argv[++i];
    else if (a.rfind("--", 0) == 0) return usage();
    else files.push_back(a);
  }
  if (files.empty() || files.size() > 2) return usage();
  try {
    jet::CompactResult r = jet::Database::compact(files[0], files.size() == 2 ? files[1] : "", options);
    std::fprintf(stderr, "jetsql: %s: compacted %u tables, %llu rows: %u pages before, %u after\n",
                 (files.size() == 2 ? files[1] : files[0]).c_str(), r.tables, static_cast<unsigned long long>(r.rows),
                 r.pages_before, r.pages_after);
  } catch (const jet::Error& e) {
    std::fprintf(stderr, "jetsql: %s error: %s\n", std::string(jet::category_name(e.category())).c_str(), e.what());
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (jetsql::wants_shell(argc, argv)) return jetsql::shell_main(argc, argv);
  if (argc < 3) return usage();
  if (std::string(argv[1]) == "--compact") return compact_main(argc, argv);
  std::string file = argv[1];
  jet::OpenOptions options;
  std::string action, table, csv;
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
    } else if (a == "--import" && i + 2 < argc) {
      action = a;
      table = argv[++i];
      csv = argv[++i];
    } else if ((a == "--schema" || a == "--export") && i + 1 < argc) {
      action = a;
      table = argv[++i];
    } else {
      return usage();
    }
  }
  if (action.empty()) return usage();
  try {
    if (action == "--import") {
      options.read_write = true;
      auto db = jet::Database::open(file, options);
      std::size_t n = import_csv(*db, table, csv);
      std::fprintf(stderr, "jetsql: %zu row%s added to %s\n", n, n == 1 ? "" : "s", table.c_str());
      return 0;
    }
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
