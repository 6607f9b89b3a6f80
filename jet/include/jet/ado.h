// ADO-style access to Jet 4 databases through the connection string of the
// OLE DB provider "Microsoft.Jet.OLEDB.4.0":
//
//   jet::ado::Connection c;
//   c.set_connection_string("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=/data/ItemList.MDB;");
//   c.open("", "");
//   auto rs = c.execute("SELECT * FROM VFTable");
//   while (!rs->eof()) { use(rs->field("ITEMNUMBER")); rs->move_next(); }
//   rs->close();
//   c.execute("DELETE * FROM VFTable");
//   c.close();
//
// Recordsets refer to their connection and must be closed before it is.
// Failures throw jet::Error as in jet/dao.h.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "jet/value.h"

namespace jet::dao {
class Database;
class Recordset;
class Workspace;
}  // namespace jet::dao

namespace jet::ado {

class Recordset {
 public:
  ~Recordset();
  Recordset(const Recordset&) = delete;
  Recordset& operator=(const Recordset&) = delete;
  // False for the result of a statement that returns no rows.
  bool is_open() const;
  bool bof() const;
  bool eof() const;
  void move_next();
  void move_first();
  Value field(std::string_view name) const;
  Value field(std::size_t index) const;
  std::size_t field_count() const;
  const std::string& field_name(std::size_t index) const;
  void close();

 private:
  friend class Connection;
  explicit Recordset(std::unique_ptr<dao::Recordset> rows);
  std::unique_ptr<dao::Recordset> rows_;
};

class Connection {
 public:
  // A connection in the default workspace, or in `workspace` (which must
  // outlive the connection's open() call; the opened file is shared with
  // that workspace's other handles on it).
  Connection();
  explicit Connection(dao::Workspace& workspace);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=PATH;" with optional
  // "Jet OLEDB:Database Password=...", "Mode=..." (ignored), "User ID=..."
  void set_connection_string(std::string connection_string);
  const std::string& connection_string() const;

  // Opens the file the connection string names. The user name and password
  // are the Jet workgroup's ("" or "Admin" with ""); anything else is refused
  // with kInvalidArgument. Throws kUnsupported for another provider,
  // kInvalidArgument without a Data Source, kNotFound for a missing file.
  void open(std::string_view user = "", std::string_view password = "");
  bool is_open() const;

  // Runs a statement; a SELECT gives an open recordset on its rows, any
  // other statement a closed one. `records_affected` (may be null) receives
  // the count of rows changed.
  std::unique_ptr<Recordset> execute(std::string_view sql, uint64_t* records_affected = nullptr);

  void close();

 private:
  std::string connection_string_;
  dao::Workspace* workspace_;
  std::unique_ptr<dao::Database> db_;
};

}  // namespace jet::ado
