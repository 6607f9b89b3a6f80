// jetsql's statement shell.
//
//   jetsql FILE [--password P] [--csv] [STATEMENT ...]
//   jetsql --create FILE [--password P] [--csv] [STATEMENT ...]
//
// Statements come from the command line or, when none is given there, from
// standard input; each ends with ";" and may span lines (a last statement
// without ";" runs at end of input). They run in order. A SELECT prints its
// rows as aligned columns (Null shown as <Null>) or, with --csv, as CSV with
// a header line (Null as an empty field); other statements print how many
// rows they changed (aligned mode only). The first failing statement is
// reported on stderr with its number and text, and the shell stops.
// Exit status: 0 all ran, 1 a statement or the file failed, 2 bad usage.
#include "shell.h"

#include <cstdio>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "jet/dao.h"
#include "jet/error.h"
#include "jet/schema.h"
#include "jet/value_text.h"

namespace jetsql {
namespace {

int usage() {
  std::fprintf(stderr,
               "usage: jetsql FILE [--password P] [--csv] [STATEMENT ...]\n"
               "       jetsql --create FILE [--password P] [--csv] [STATEMENT ...]\n"
               "       jetsql FILE [--password P] --tables | --schema TABLE | --export TABLE\n");
  return 2;
}

std::size_t display_width(const std::string& s) {
  std::size_t n = 0;
  for (unsigned char c : s) n += (c & 0xC0) != 0x80;
  return n;
}

std::string cell_text(const jet::Value& v, bool csv) {
  if (jet::is_null(v)) return csv ? "" : "<Null>";
  return jet::value_text(v);
}


void print_rows(jet::dao::Recordset& rs, bool csv) {
  const std::size_t n = rs.field_count();
  std::vector<std::vector<std::string>> cells;
  std::vector<bool> texty(n, false);
  std::vector<std::string> header;
  for (std::size_t i = 0; i < n; ++i) header.push_back(rs.field_name(i));
  while (!rs.eof()) {
    std::vector<std::string> row;
    for (std::size_t i = 0; i < n; ++i) {
      jet::Value v = rs.field(i);
      if (std::holds_alternative<std::string>(v)) texty[i] = true;
      row.push_back(cell_text(v, csv));
    }
    cells.push_back(std::move(row));
    rs.move_next();
  }
  std::string out;
  if (csv) {
    for (std::size_t i = 0; i < n; ++i) {
      if (i) out.push_back(',');
      append_csv_field(header[i], false, out);
    }
    out.push_back('\n');
    for (const auto& row : cells) {
      for (std::size_t i = 0; i < n; ++i) {
        if (i) out.push_back(',');
        if (!row[i].empty()) append_csv_field(row[i], texty[i], out);
      }
      out.push_back('\n');
    }
  } else {
    std::vector<std::size_t> width(n);
    for (std::size_t i = 0; i < n; ++i) width[i] = display_width(header[i]);
    for (const auto& row : cells) {
      for (std::size_t i = 0; i < n; ++i) width[i] = std::max(width[i], display_width(row[i]));
    }
    auto line = [&](const std::vector<std::string>& row) {
      for (std::size_t i = 0; i < n; ++i) {
        if (i) out += " | ";
        std::string cell = row[i];
        for (char& c : cell) {
          if (c == '\r' || c == '\n') c = ' ';
        }
        out += cell;
        if (i + 1 < n) out.append(width[i] - display_width(row[i]), ' ');
      }
      out.push_back('\n');
    };
    line(header);
    for (std::size_t i = 0; i < n; ++i) {
      if (i) out += "-+-";
      out.append(width[i], '-');
    }
    out.push_back('\n');
    for (const auto& row : cells) line(row);
    out += "(" + std::to_string(cells.size()) + (cells.size() == 1 ? " row)\n" : " rows)\n");
  }
  std::fwrite(out.data(), 1, out.size(), stdout);
}

std::string one_line(const std::string& s) {
  std::string t;
  for (char c : s) {
    if (c == '\r') continue;
    t.push_back(c == '\n' ? ' ' : c);
  }
  std::size_t a = t.find_first_not_of(' ');
  return a == std::string::npos ? std::string() : t.substr(a);
}

}  // namespace

void append_csv_field(const std::string& text, bool quote, std::string& out) {
  if (!quote && text.find_first_of(",\"\r\n") == std::string::npos) {
    out += text;
    return;
  }
  out.push_back('"');
  for (char c : text) {
    if (c == '"') out.push_back('"');
    out.push_back(c);
  }
  out.push_back('"');
}

bool wants_shell(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--tables" || a == "--tables-all" || a == "--schema" || a == "--export" || a == "--check") return false;
  }
  return true;
}

int shell_main(int argc, char** argv) {
  std::string file, password;
  bool create = false, csv = false;
  std::vector<std::string> pieces;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--create" && file.empty() && !create) {
      create = true;
    } else if (a == "--password") {
      if (i + 1 >= argc) return usage();
      password = argv[++i];
    } else if (a == "--csv") {
      csv = true;
    } else if (a.size() > 1 && a[0] == '-' && a[1] == '-') {
      return usage();
    } else if (file.empty()) {
      file = a;
    } else {
      pieces.push_back(a);
    }
  }
  if (file.empty()) return usage();

  std::string script;
  if (pieces.empty()) {
    script.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
  } else {
    for (const auto& p : pieces) script += p + ";\n";
  }

  std::unique_ptr<jet::dao::Database> db;
  try {
    if (create) {
      std::string locale(jet::dao::kLangGeneral);
      if (!password.empty()) locale += ";pwd=" + password;
      db = jet::dao::Database::create(file, locale);
    } else {
      jet::dao::OpenOptions o;
      if (!password.empty()) o.connect = ";pwd=" + password;
      db = jet::dao::Database::open(file, o);
    }
  } catch (const jet::Error& e) {
    std::fprintf(stderr, "jetsql: %s error: %s\n", std::string(jet::category_name(e.category())).c_str(), e.what());
    return 1;
  }

  std::vector<std::string> statements = jet::dao::split_statements(script);
  for (std::size_t k = 0; k < statements.size(); ++k) {
    const std::string& st = statements[k];
    try {
      std::size_t a = st.find_first_not_of(" \t\r\n");
      bool is_select = a != std::string::npos && st.size() - a >= 6 && jet::names_equal(st.substr(a, 6), "SELECT");
      if (is_select) {
        auto rs = db->open_recordset(st);
        print_rows(*rs, csv);
        rs->close();
      } else {
        db->execute(st);
        if (!csv) std::printf("(%llu rows affected)\n", static_cast<unsigned long long>(db->records_affected()));
      }
    } catch (const jet::Error& e) {
      std::fflush(stdout);
      std::fprintf(stderr, "jetsql: statement %zu failed (%s error): %s\n  statement: %s\n", k + 1,
                   std::string(jet::category_name(e.category())).c_str(), e.what(), one_line(st).c_str());
      return 1;
    }
  }
  return 0;
}

}  // namespace jetsql
