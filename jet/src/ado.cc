// ADO-style Connection and Recordset over the DAO-style layer.
#include "jet/ado.h"

#include "jet/dao.h"
#include "jet/error.h"
#include "jet/schema.h"
#include "sql/parser.h"

namespace jet::ado {
namespace {

std::string trim(std::string_view s) {
  std::size_t a = s.find_first_not_of(" \t");
  if (a == std::string_view::npos) return {};
  std::size_t b = s.find_last_not_of(" \t");
  return std::string(s.substr(a, b - a + 1));
}

struct ConnectionParts {
  std::string provider, data_source, password;
};

ConnectionParts parse(std::string_view cs) {
  ConnectionParts p;
  std::size_t pos = 0;
  while (pos <= cs.size()) {
    std::size_t end = cs.find(';', pos);
    if (end == std::string_view::npos) end = cs.size();
    std::string_view part = cs.substr(pos, end - pos);
    std::size_t eq = part.find('=');
    if (eq != std::string_view::npos) {
      std::string key = trim(part.substr(0, eq));
      std::string value = trim(part.substr(eq + 1));
      if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        value = value.substr(1, value.size() - 2);
      if (names_equal(key, "Provider")) {
        p.provider = value;
      } else if (names_equal(key, "Data Source")) {
        p.data_source = value;
      } else if (names_equal(key, "Jet OLEDB:Database Password")) {
        p.password = value;
      }
    } else if (!trim(part).empty()) {
      throw Error(ErrorCategory::kInvalidArgument,
                  "connection string part '" + trim(part) + "' is not of the form key=value");
    }
    pos = end + 1;
  }
  return p;
}

}  // namespace

Recordset::Recordset(std::unique_ptr<dao::Recordset> rows) : rows_(std::move(rows)) {}
Recordset::~Recordset() = default;

bool Recordset::is_open() const { return rows_ && rows_->is_open(); }
static dao::Recordset& open_rows(const std::unique_ptr<dao::Recordset>& r) {
  if (!r || !r->is_open()) throw Error(ErrorCategory::kInvalidArgument, "the recordset is closed");
  return *r;
}
bool Recordset::bof() const { return open_rows(rows_).bof(); }
bool Recordset::eof() const { return open_rows(rows_).eof(); }
void Recordset::move_next() { open_rows(rows_).move_next(); }
void Recordset::move_first() { open_rows(rows_).move_first(); }
Value Recordset::field(std::string_view name) const { return open_rows(rows_).field(name); }
Value Recordset::field(std::size_t index) const { return open_rows(rows_).field(index); }
std::size_t Recordset::field_count() const { return open_rows(rows_).field_count(); }
const std::string& Recordset::field_name(std::size_t index) const { return open_rows(rows_).field_name(index); }
void Recordset::close() {
  if (rows_) rows_->close();
}

Connection::Connection() : workspace_(&dao::Workspace::default_workspace()) {}
Connection::Connection(dao::Workspace& workspace) : workspace_(&workspace) {}
Connection::~Connection() = default;

void Connection::set_connection_string(std::string cs) {
  if (db_) throw Error(ErrorCategory::kInvalidArgument, "the connection string cannot change while the connection is open");
  connection_string_ = std::move(cs);
}
const std::string& Connection::connection_string() const { return connection_string_; }

void Connection::open(std::string_view user, std::string_view password) {
  if (db_) throw Error(ErrorCategory::kInvalidArgument, "the connection is already open");
  ConnectionParts p = parse(connection_string_);
  if (p.provider.empty())
    throw Error(ErrorCategory::kInvalidArgument, "the connection string names no Provider: " + connection_string_);
  if (!names_equal(p.provider, "Microsoft.Jet.OLEDB.4.0"))
    throw Error(ErrorCategory::kUnsupported,
                "provider '" + p.provider + "' is not supported (only Microsoft.Jet.OLEDB.4.0)");
  if (p.data_source.empty())
    throw Error(ErrorCategory::kInvalidArgument, "the connection string names no Data Source: " + connection_string_);
  if (!(user.empty() || names_equal(user, "Admin")) || !password.empty())
    throw Error(ErrorCategory::kInvalidArgument,
                "user '" + std::string(user) + "' is not known: Jet files are opened as Admin with an empty password");
  dao::OpenOptions o;
  if (!p.password.empty()) o.connect = ";pwd=" + p.password;
  db_ = workspace_->open_database(p.data_source, o);
}

bool Connection::is_open() const { return db_ != nullptr; }

std::unique_ptr<Recordset> Connection::execute(std::string_view text, uint64_t* records_affected) {
  if (!db_) throw Error(ErrorCategory::kInvalidArgument, "the connection is not open");
  sql::Statement st = sql::parse_statement(text);
  if (st.kind == sql::StatementKind::kSelect) {
    auto rows = db_->open_recordset(text);
    if (records_affected) *records_affected = 0;
    return std::unique_ptr<Recordset>(new Recordset(std::move(rows)));
  }
  db_->execute(text);
  if (records_affected) *records_affected = db_->records_affected();
  return std::unique_ptr<Recordset>(new Recordset(nullptr));
}

void Connection::close() {
  if (db_) db_->close();
  db_.reset();
}

}  // namespace jet::ado
