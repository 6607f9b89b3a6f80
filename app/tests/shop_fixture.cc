#include "app/tests/shop_fixture.h"

#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "app/data/products_database.h"
#include "app/data/scanner_database.h"
#include "jet/dao.h"
#include "app/posting/posting.h"
#include "app/settings.h"

namespace tallimo::testing {
namespace {

std::string shell_quote(const std::string& s) {
  std::string out = "'";
  for (char c : s) {
    if (c == '\'') {
      out += "'\\''";
    } else {
      out += c;
    }
  }
  return out + "'";
}

std::vector<std::vector<std::string>> parse_csv(const std::string& text) {
  std::vector<std::vector<std::string>> rows;
  std::vector<std::string> row;
  std::string field;
  bool quoted = false, any = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quoted) {
      if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
        field += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        field += c;
      }
      continue;
    }
    if (c == '"') {
      quoted = true;
      any = true;
    } else if (c == ',') {
      row.push_back(field);
      field.clear();
      any = true;
    } else if (c == '\n') {
      row.push_back(field);
      rows.push_back(row);
      row.clear();
      field.clear();
      any = false;
    } else if (c != '\r') {
      field += c;
      any = true;
    }
  }
  if (any) {
    row.push_back(field);
    rows.push_back(row);
  }
  return rows;
}

}  // namespace

std::vector<std::string> scanner_rows(jet::dao::Database& scanner) {
  std::vector<std::string> out;
  auto rs = scanner.open_recordset("Select * From Scanner_Data Order By File_Type, Item_Number");
  for (; !rs->eof(); rs->move_next()) {
    char qty[32];
    std::snprintf(qty, sizeof qty, "%g", std::get<double>(rs->field("Qty")));
    out.push_back(std::to_string(std::get<int16_t>(rs->field("File_Type"))) + " " +
                  std::get<std::string>(rs->field("Item_Number")) + " " + qty);
  }
  return out;
}

std::string run(const std::string& command) {
  std::string out;
  FILE* p = ::popen(command.c_str(), "r");
  if (p == nullptr) {
    ADD_FAILURE() << "cannot run: " << command;
    return out;
  }
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  const int status = ::pclose(p);
  if (status != 0) ADD_FAILURE() << "command failed (" << status << "): " << command;
  return out;
}

std::vector<ExportRow> mdb_export(const std::string& path, const std::string& table) {
  const auto csv = parse_csv(run("mdb-export -D '%m/%d/%Y %H:%M:%S' " + shell_quote(path) + " " + shell_quote(table)));
  std::vector<ExportRow> rows;
  if (csv.empty()) return rows;
  for (std::size_t r = 1; r < csv.size(); ++r) {
    ExportRow row;
    for (std::size_t c = 0; c < csv[0].size() && c < csv[r].size(); ++c) row[csv[0][c]] = csv[r][c];
    rows.push_back(std::move(row));
  }
  return rows;
}

std::vector<std::string> sorted_rows(const std::string& path, const std::string& table,
                                     const std::set<std::string>& skip) {
  std::vector<std::string> out;
  for (const auto& row : mdb_export(path, table)) {
    std::string line;
    for (const auto& [column, value] : row) {
      if (skip.count(column) == 0) line += column + "=" + value + "|";
    }
    out.push_back(line);
  }
  std::sort(out.begin(), out.end());
  return out;
}

demo::Product product(const std::string& code, std::optional<double> stock, const std::string& description) {
  demo::Product p;
  p.code = code;
  p.description_one = description;
  p.inventory = stock;
  p.standard_price = 2.5;
  p.current_cost = 1.5;
  p.list_price = 3;
  p.vendor = "ACME";
  p.location = "A12";
  return p;
}

demo::Scan scan(int16_t kind, std::optional<std::string> item, std::optional<double> qty) {
  demo::Scan s;
  s.file_type = kind;
  s.item = std::move(item);
  s.qty = qty;
  return s;
}

void ShopTest::SetUp() {
  char tmpl[] = "/tmp/tallimo-post-test-XXXXXX";
  dir_ = ::mkdtemp(tmpl);
  ::setenv("XDG_CONFIG_HOME", dir_.c_str(), 1);
  session_ = std::make_unique<Session>(ui_, dir_);
  session_->settings().Orvex_Location = products_path();
}

void ShopTest::TearDown() {
  Close_Scanner_Data_File(*session_);
  Close_Orvex_DataBase(*session_);
  session_.reset();
  std::system(("rm -rf " + shell_quote(dir_)).c_str());
}

std::string ShopTest::scanner_path() const { return Scanner_Database_Path(*session_); }

void ShopTest::make_shop(const std::vector<demo::Product>& products, const std::vector<demo::Scan>& scans) {
  auto db = demo::create_products_database(products_path());
  demo::add_products(*db, products);
  db->close();
  auto scanner = demo::create_scanner_database(scanner_path());
  demo::add_scans(*scanner, scans);
  scanner->close();
}

void ShopTest::add_scans(const std::vector<demo::Scan>& scans) {
  auto scanner = jet::dao::Database::open(scanner_path());
  demo::add_scans(*scanner, scans);
  scanner->close();
}

void ShopTest::post() {
  ui_.set_command_button_enabled(0, false);  // the command centre locks the controls
  session_->set_abort(false);
  Process_Post(*session_);
}

std::map<std::string, ExportRow> ShopTest::product1() const {
  std::map<std::string, ExportRow> out;
  for (auto& row : mdb_export(products_path(), "PRODUCT1")) out[row["Product Code"]] = row;
  return out;
}

std::vector<ExportRow> ShopTest::scanner_data() const { return mdb_export(scanner_path(), "Scanner_Data"); }

std::map<std::string, ExportRow> ShopTest::compare() const {
  std::map<std::string, ExportRow> out;
  for (auto& row : mdb_export(scanner_path(), "Compare")) out[row["Item_Number"]] = row;
  return out;
}

std::string ShopTest::stock(const std::string& code) const {
  auto products = product1();
  auto it = products.find(code);
  if (it == products.end()) {
    ADD_FAILURE() << "no product " << code;
    return "<missing>";
  }
  return it->second["Inventory Qty"];
}

std::vector<std::string> ShopTest::reported_routines() const {
  std::vector<std::string> out;
  std::ifstream in(dir_ + "/ErrorLog.txt");
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.rfind("Function Name: ", 0) == 0) out.push_back(line.substr(15));
  }
  return out;
}

ChildProcess start_child(const std::vector<std::string>& argv) {
  int fds[2];
  if (argv.empty() || ::pipe(fds) != 0) return {};
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(fds[1], 1);
    ::close(fds[0]);
    ::close(fds[1]);
    if (FILE* null = std::fopen("/dev/null", "w")) ::dup2(fileno(null), 2);
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  ::close(fds[1]);
  if (pid < 0) {
    ::close(fds[0]);
    return {};
  }
  return ChildProcess{pid, ::fdopen(fds[0], "r")};
}

int finish_child(ChildProcess& child, std::string* output) {
  char line[512];
  while (std::fgets(line, sizeof line, child.out) != nullptr) {
    if (output != nullptr) *output += line;
  }
  std::fclose(child.out);
  int status = 0;
  ::waitpid(child.pid, &status, 0);
  if (WIFSIGNALED(status)) return -WTERMSIG(status);
  return WEXITSTATUS(status);
}

}  // namespace tallimo::testing
