#include "app/handheld/templates.h"

#include <cstdio>
#include <filesystem>
#include <stdexcept>

#include "app/data/products_database.h"
#include "app/data/scanner_database.h"
#include "app/error_log.h"
#include "jet/dao.h"
#include "jet/database.h"
#include "jet/table.h"
#include "jet/error.h"
#include "jet/transaction.h"
#include "app/session.h"
#include "app/user_interface.h"

namespace tallimo::handheld {

namespace {

constexpr const char* kCrLf = "\r\n";

std::string error_text(const std::exception& e) { return e.what(); }

// VFTable column read -> Scanner_Data column written; which tables carry it.
struct Mapping {
  const char* from;
  const char* to;
  bool new_items, item_list, quantities;
};
constexpr Mapping kMappings[] = {
    {"ITEMNUMBER", "Item_Number", true, true, true}, {"Desc", "Description", true, true, false},
    {"QTY", "Qty", true, false, true},               {"Cost", "Current_Cost", true, true, false},
    {"PRICE", "Standard_Price", true, true, false},  {"List", "List_Price", true, true, false},
    {"Location", "Location", true, true, false},     {"Vendor", "Vendor_Code", true, true, false},
};

bool carries(const Mapping& m, int16_t kind) {
  if (kind == 4) return m.new_items;
  if (kind == 5) return m.item_list;
  return m.quantities;
}

bool is_true(const jet::Value& v) {
  if (const bool* b = std::get_if<bool>(&v)) return *b;
  if (const uint8_t* b = std::get_if<uint8_t>(&v)) return *b != 0;
  if (const int16_t* i = std::get_if<int16_t>(&v)) return *i != 0;
  if (const int32_t* i = std::get_if<int32_t>(&v)) return *i != 0;
  return false;
}

// ---- What the desktop already holds of the handheld's table ----
//
// The handheld keeps its scans until the desktop sends the emptied template back at the
// end of a transfer. A transfer that stops after a table was imported (a failed step, a
// failed copy, a killed program) would otherwise import the same scans again next time.
// So each template carries a table VFImported with one row: how many rows of the
// handheld's table the desktop knows (imported, or sent there itself) and a digest of
// them. An import whose first rows match that count and digest skips them; the record
// is written in the same commit as the imported rows.

constexpr const char* kImportedTable = "VFImported";

struct Known {
  int32_t rows = 0;
  std::string digest;
};

class RowDigest {
 public:
  void add(jet::dao::Recordset& rs) {
    for (std::size_t i = 0; i < rs.field_count(); ++i) {
      mix(rs.field_name(i));
      mix("=");
      mix(canonical(rs.field(i)));
      mix("\x1f");
    }
    mix("\x1e");
  }
  std::string text() const {
    char out[17];
    std::snprintf(out, sizeof out, "%016llx", static_cast<unsigned long long>(hash_));
    return out;
  }

 private:
  static std::string canonical(const jet::Value& v) {
    return std::visit(
        [](const auto& x) -> std::string {
          using T = std::decay_t<decltype(x)>;
          if constexpr (std::is_same_v<T, std::monostate>) return "N";
          else if constexpr (std::is_same_v<T, std::string>) return "T" + x;
          else if constexpr (std::is_same_v<T, bool>) return x ? "B1" : "B0";
          else if constexpr (std::is_same_v<T, jet::Currency>) return "C" + std::to_string(x.ten_thousandths);
          else if constexpr (std::is_arithmetic_v<T>) {
            char buffer[40];
            std::snprintf(buffer, sizeof buffer, "D%.17g", static_cast<double>(x));
            return buffer;
          } else return "O";
        },
        v);
  }
  void mix(std::string_view text) {
    for (unsigned char c : text) {
      hash_ ^= c;
      hash_ *= 0x100000001b3ull;
    }
  }
  uint64_t hash_ = 0xcbf29ce484222325ull;
};

void ensure_imported_table(jet::dao::Database& db) {
  try {
    db.engine().table(kImportedTable);
  } catch (const jet::Error& e) {
    if (e.category() != jet::ErrorCategory::kNotFound) throw;
    db.execute(std::string("CREATE TABLE ") + kImportedTable + " (Known_Rows long, Digest text(16))");
  }
}

Known read_known(jet::dao::Database& db) {
  Known known;
  auto rs = db.open_recordset(std::string("SELECT * FROM ") + kImportedTable);
  if (!rs->eof()) {
    jet::Value rows = rs->field("Known_Rows");
    jet::Value digest = rs->field("Digest");
    if (const auto* n = std::get_if<int32_t>(&rows); n && *n > 0) known.rows = *n;
    if (const auto* d = std::get_if<std::string>(&digest)) known.digest = *d;
  }
  rs->close();
  return known;
}

void write_known(jet::dao::Database& db, const Known& known) {
  db.execute(std::string("DELETE * FROM ") + kImportedTable);
  auto rs = db.open_recordset(kImportedTable);
  rs->add_new();
  rs->set_field("Known_Rows", jet::Value(known.rows));
  rs->set_field("Digest", known.digest);
  rs->update();
  rs->close();
}

}  // namespace

void Mark_Template_Sent(const std::string& template_path) {
  auto db = jet::dao::Database::open(template_path);
  ensure_imported_table(*db);
  Known known;
  RowDigest digest;
  auto rows = db->open_recordset("SELECT * FROM VFTable");
  while (!rows->eof()) {
    digest.add(*rows);
    ++known.rows;
    rows->move_next();
  }
  rows->close();
  known.digest = digest.text();
  write_known(*db, known);
  db->close();
}

const std::vector<HandheldTable>& handheld_tables() {
  static const std::vector<HandheldTable> tables = {
      {"AddNew.MDB", "ADDNEW", 4},     {"ItemList.MDB", "ITEMLIST", 5}, {"AddTo.MDB", "ADDTO", 0},
      {"Subtract.MDB", "SUBTRACT", 1}, {"Replace.MDB", "REPLACE", 3},   {"Compare.MDB", "COMPARE", 2},
      {"Ordered.MDB", "ORDERED", -1},
  };
  return tables;
}

const HandheldTable& handheld_table(const char* template_file) {
  for (const HandheldTable& t : handheld_tables()) {
    if (std::string_view(t.template_file) == template_file) return t;
  }
  throw std::logic_error(std::string("no handheld table ") + template_file);
}

std::string support_folder(const Session& session) {
  return session.application_folder() + kSupportFolder + "/";
}

SyncGlobals Initialise_Sync_Globals(const Session& session) {
  SyncGlobals g;
  std::string folder = support_folder(session);
  g.AddNew_Template = folder + "AddNew.MDB";
  g.ItemList_Template = folder + "ItemList.MDB";
  g.AddTo_Template = folder + "AddTo.MDB";
  g.Subtract_Template = folder + "Subtract.MDB";
  g.Replace_Template = folder + "Replace.MDB";
  g.Compare_Template = folder + "Compare.MDB";
  g.Ordered_Template = folder + "Ordered.MDB";
  return g;
}

std::string vftable_sql(bool with_edit) {
  std::string sql =
      "CREATE TABLE VFTable (ITEMNUMBER text(50), [DESC] text(255), QTY double, COST currency, "
      "LIST currency, PRICE currency, LOCATION text(50), VENDOR text(50)";
  if (with_edit) sql += ", [Edit] yesno";
  return sql + ")";
}

void Ensure_Templates(const Session& session) {
  std::string folder = support_folder(session);
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  if (ec) throw jet::Error(jet::ErrorCategory::kIo, "cannot create the folder " + folder + ": " + ec.message());
  for (const HandheldTable& t : handheld_tables()) {
    std::string path = folder + t.template_file;
    if (std::filesystem::exists(path, ec)) continue;
    // Built under a temporary name and renamed, so a template is never half made.
    std::string temp = path + ".new";
    std::filesystem::remove(temp, ec);
    {
      auto db = jet::dao::Database::create(temp, jet::dao::kLangGeneral, jet::dao::kVersion40);
      db->execute(vftable_sql(t.kind == 5));
      db->close();
    }
    std::filesystem::rename(temp, path, ec);
    if (ec) throw jet::Error(jet::ErrorCategory::kIo, "cannot create the template " + path + ": " + ec.message());
  }
}

bool Import_Template(Session& session, SyncGlobals& g, const std::string& template_path, int16_t kind,
                     bool empty_template) {
  try {
    jet::dao::Database* scanner = Scanner_Database(session);
    if (!scanner) throw jet::Error(jet::ErrorCategory::kInvalidArgument, "the scanner database is not open");
    if (!std::filesystem::exists(template_path)) {
      throw jet::Error(jet::ErrorCategory::kNotFound, "the template " + template_path + " does not exist");
    }
    auto connection = jet::dao::Database::open(template_path);
    ensure_imported_table(*connection);
    Known known = read_known(*connection);
    // Rows the desktop already has: the known prefix, if the table still starts with it.
    int32_t skip = 0;
    if (known.rows > 0) {
      RowDigest prefix;
      int32_t seen = 0;
      auto rows = connection->open_recordset("SELECT * FROM VFTable");
      while (!rows->eof() && seen < known.rows) {
        prefix.add(*rows);
        ++seen;
        rows->move_next();
      }
      rows->close();
      if (seen == known.rows && prefix.text() == known.digest) skip = known.rows;
    }
    jet::Transaction tx({&scanner->engine(), &connection->engine()});
    g.Sync_SQL = "SELECT * FROM VFTable";
    auto rows = connection->open_recordset(g.Sync_SQL);
    RowDigest all;
    int32_t count = 0;
    if (!rows->eof()) {
      auto out = scanner->open_recordset("Scanner_Data");
      while (!rows->eof()) {
        all.add(*rows);
        bool known_row = count++ < skip;
        if (!known_row && (kind != 5 || is_true(rows->field("Edit")))) {
          out->add_new();
          for (const Mapping& m : kMappings) {
            if (carries(m, kind)) out->set_field(m.to, rows->field(m.from));
          }
          out->set_field("File_type", jet::Value(kind));
          out->update();
        }
        session.ui().do_events();
        rows->move_next();
      }
      out->close();
    }
    rows->close();
    write_known(*connection, {count, all.text()});
    if (empty_template) {
      g.Sync_SQL = "DELETE * FROM VFTable";
      connection->execute(g.Sync_SQL);
    }
    tx.commit();
    connection->close();
    return true;
  } catch (const std::exception& e) {
    Error_Routine(session, error_text(e), "Import_Template");
    return false;
  }
}

std::string build_item_list_sql(const std::string& item_list_template) {
  return std::string("INSERT INTO VFTable ( ITEMNUMBER, [DESC], QTY, COST, LIST, PRICE, LOCATION, VENDOR )") + kCrLf +
         "IN '" + item_list_template + "'" + kCrLf +
         "SELECT PRODUCT1.[Product Code], PRODUCT1.[Description One] & PRODUCT1.[Description Two], "
         "PRODUCT1.[Inventory Qty], PRODUCT1.[Current Cost], PRODUCT1.[List Price], PRODUCT1.[Standard Price], "
         "PRODUCT1.Location, PRODUCT1.[Vendor Code]" +
         kCrLf + "FROM PRODUCT1" + kCrLf;
}

bool Build_Item_List(Session& session, SyncGlobals& g) {
  bool opened = false;
  try {
    opened = Open_Orvex_DataBase(session);
    if (!opened) return false;  // already reported (or the program was told to end)
    g.Sync_SQL = build_item_list_sql(g.ItemList_Template);
    Orvex_Database(session)->execute(g.Sync_SQL);
    Close_Orvex_DataBase(session);
    return true;
  } catch (const std::exception& e) {
    Error_Routine(session, error_text(e), "Build_Item_List");
    if (opened) Close_Orvex_DataBase(session);
    return false;
  }
}

}  // namespace tallimo::handheld
