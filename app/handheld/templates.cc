#include "app/handheld/templates.h"

#include <algorithm>
#include <cctype>
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

// One row's values, read once per row.
void read_row(jet::dao::Recordset& rs, std::vector<jet::Value>& values) {
  values.resize(rs.field_count());
  for (std::size_t i = 0; i < values.size(); ++i) values[i] = rs.field(i);
}

class RowDigest {
 public:
  void add(const std::vector<jet::Value>& values) {
    for (const jet::Value& v : values) {
      std::visit(
          [this](const auto& x) {
            using T = std::decay_t<decltype(x)>;
            if constexpr (std::is_same_v<T, std::monostate>) {
              mix_byte('N');
            } else if constexpr (std::is_same_v<T, std::string>) {
              mix_byte('T');
              mix_bytes(x.data(), x.size());
              mix_byte(0);
            } else if constexpr (std::is_same_v<T, bool>) {
              mix_byte(x ? '1' : '0');
            } else if constexpr (std::is_same_v<T, jet::Currency>) {
              mix_byte('C');
              mix_bytes(&x.ten_thousandths, sizeof x.ten_thousandths);
            } else if constexpr (std::is_arithmetic_v<T>) {
              double d = static_cast<double>(x);
              mix_byte('D');
              mix_bytes(&d, sizeof d);
            } else {
              mix_byte('O');
            }
          },
          v);
    }
    mix_byte(0x1e);
  }
  std::string text() const {
    char out[17];
    std::snprintf(out, sizeof out, "%016llx", static_cast<unsigned long long>(hash_));
    return out;
  }

 private:
  void mix_byte(unsigned char c) {
    hash_ ^= c;
    hash_ *= 0x100000001b3ull;
  }
  void mix_bytes(const void* data, std::size_t size) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    for (std::size_t i = 0; i < size; ++i) mix_byte(bytes[i]);
  }
  uint64_t hash_ = 0xcbf29ce484222325ull;
};

// The index of a field by name (ASCII case ignored), or -1.
int field_index(jet::dao::Recordset& rs, std::string_view name) {
  for (std::size_t i = 0; i < rs.field_count(); ++i) {
    const std::string& f = rs.field_name(i);
    if (f.size() == name.size() &&
        std::equal(f.begin(), f.end(), name.begin(), [](char a, char b) { return std::toupper(static_cast<unsigned char>(a)) == std::toupper(static_cast<unsigned char>(b)); })) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

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
  std::vector<jet::Value> values;
  while (!rows->eof()) {
    read_row(*rows, values);
    digest.add(values);
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
      std::vector<jet::Value> values;
      while (!rows->eof() && seen < known.rows) {
        read_row(*rows, values);
        prefix.add(values);
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
      // The columns this kind copies, found once; a missing one is an error naming it.
      std::vector<std::pair<int, const char*>> copied;
      for (const Mapping& m : kMappings) {
        if (!carries(m, kind)) continue;
        int at = field_index(*rows, m.from);
        if (at < 0) {
          throw jet::Error(jet::ErrorCategory::kNotFound,
                           std::string("VFTable of ") + template_path + " has no column " + m.from);
        }
        copied.emplace_back(at, m.to);
      }
      int edit = kind == 5 ? field_index(*rows, "Edit") : -1;
      if (kind == 5 && edit < 0) {
        throw jet::Error(jet::ErrorCategory::kNotFound, "VFTable of " + template_path + " has no column Edit");
      }
      std::vector<jet::Value> values;
      auto out = scanner->open_recordset("Scanner_Data");
      while (!rows->eof()) {
        read_row(*rows, values);
        all.add(values);
        bool known_row = count++ < skip;
        if (!known_row && (kind != 5 || is_true(values[static_cast<std::size_t>(edit)]))) {
          out->add_new();
          for (const auto& [at, to] : copied) out->set_field(to, values[static_cast<std::size_t>(at)]);
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
