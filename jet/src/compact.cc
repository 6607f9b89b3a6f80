// Compaction: a copy of a database holding only its live rows, written
// beside the target and renamed over it.
//
// The copy is a new file made by Database::create (the system tables Jet
// creates, the same password, the General sort order and code page 1252,
// the only ones this engine writes) into which every user table is created
// again from its definition and its rows inserted (in primary-key order,
// as Access compacts them), counters and GUIDs as
// stored; every index is built anew, whole, from its sorted keys (the
// index builder), in the layout Access gives its indexes. The last counter value of each table is kept,
// so numbers of deleted rows are not handed out again.
//
// Safety: the source is opened read-write and must have no other user in
// its lock file; its writer's lock keeps other writers out while it is read. The copy is built under a temporary
// name ("<target>.compacting"), made durable, then renamed over the target
// and the directory synced: a crash at any moment leaves either the old file
// or the new one, whole. A leftover temporary file of a crashed compaction
// is removed by the next one.
//
// What the copy cannot keep is refused before anything is written
// (kUnsupported): stored queries, relationships, linked tables, forms,
// reports and modules, rows in other system tables, other sort orders and
// code pages. Access's MSysAccessObjects (its layouts and data access
// pages) is not copied.
#include <algorithm>

#include "binary.h"
#include "jet/database.h"
#include "jet/env.h"
#include "jet/error.h"
#include "jet/transaction.h"
#include "lock_file.h"
#include "pager.h"
#include "usage_map.h"

namespace jet {
namespace {

constexpr std::size_t kTdefOffAutoNumber = 0x14;

// Catalog object types the copy rebuilds or that carry no data of their own
// (H; F: adox_jet4, queryTestV2000): 1 local table, 2 database (MSysDb),
// 3 container, -32757 (0x800B) database documents such as SummaryInfo.
bool copy_keeps(int64_t type) { return type == 1 || type == 2 || type == 3 || type == -32757; }

std::string object_kind(int64_t type) {
  switch (type) {
    case 4: case 6: return "linked table";
    case 5: return "query";
    case 8: return "relationship";
    case -32768: return "form";
    case -32764: return "report";
    case -32766: return "macro";
    case -32761: return "module";
    default: return "object of type " + std::to_string(type);
  }
}

int64_t integer_of(const Value& v) {
  if (auto p = std::get_if<int32_t>(&v)) return *p;
  if (auto p = std::get_if<int16_t>(&v)) return *p;
  if (auto p = std::get_if<uint8_t>(&v)) return *p;
  return 0;
}

bool is_standard_system_table(const std::string& name) {
  for (const char* n : {"MSysObjects", "MSysACEs", "MSysQueries", "MSysRelationships"})
    if (names_equal(name, n)) return true;
  return false;
}

// Throws kUnsupported naming the first thing the copy would lose.
void refuse_what_would_be_lost(Database& src) {
  const std::string& path = src.path();
  const DatabaseInfo& info = src.info();
  if (info.sort_order != 0x0409 || info.code_page != 0x04E4) {
    throw Error(ErrorCategory::kUnsupported, path + ": cannot compact a database with sort order " +
                                                 std::to_string(info.sort_order) + " and code page " +
                                                 std::to_string(info.code_page) +
                                                 "; only the General sort order and code page 1252 are written");
  }
  Table& objects = src.table("MSysObjects");
  const int c_type = objects.def().find_column("Type"), c_name = objects.def().find_column("Name");
  for (RowCursor c = objects.scan(); c.next();) {
    const int64_t type = integer_of(c.row()[c_type]);
    if (copy_keeps(type)) continue;
    const std::string* name = std::get_if<std::string>(&c.row()[c_name]);
    throw Error(ErrorCategory::kUnsupported, path + ": cannot compact: the " + object_kind(type) + " '" +
                                                 (name ? *name : std::string("?")) +
                                                 "' would not be kept by the compacted copy");
  }
  for (const TableEntry& e : src.tables(true)) {
    // MSysAccessObjects holds Access's own forms of data access pages and
    // layouts, which Access makes again; every Access 2000 file has rows there.
    if (!e.system || names_equal(e.name, "MSysObjects") || names_equal(e.name, "MSysACEs") ||
        names_equal(e.name, "MSysAccessObjects"))
      continue;
    if (src.table(e.name).row_count() == 0 && src.table(e.name).scan().next() == false) continue;
    throw Error(ErrorCategory::kUnsupported, path + ": cannot compact: the system table '" + e.name +
                                                 "' holds rows the compacted copy would not keep" +
                                                 (is_standard_system_table(e.name) ? " (stored queries or relationships)" : ""));
  }
  for (const TableEntry& e : src.tables(false)) {
    for (const IndexDef& ix : src.table(e.name).def().indexes) {
      if (ix.foreign_key) {
        throw Error(ErrorCategory::kUnsupported, path + ": cannot compact: table '" + e.name +
                                                     "' takes part in a relationship (index '" + ix.name +
                                                     "'), which the compacted copy would not keep");
      }
    }
  }
}

TableSpec spec_of(const TableDef& def) {
  TableSpec s;
  s.name = def.name;
  for (const ColumnDef& c : def.columns) {
    ColumnSpec cs;
    cs.name = c.name;
    cs.type = c.type;
    cs.length = c.type == ColumnType::kText ? uint16_t(c.length / 2) : c.length;
    cs.auto_number = c.auto_number;
    cs.auto_guid = c.auto_guid;
    cs.hyperlink = c.hyperlink;
    cs.compressed_unicode = c.compressed_unicode;
    cs.precision = c.precision;
    cs.scale = c.scale;
    s.columns.push_back(cs);
  }
  for (const IndexDef& ix : def.indexes) {
    IndexSpec is;
    is.name = ix.name;
    for (const IndexColumnDef& ic : ix.columns) is.columns.push_back(IndexColumnSpec{ic.column_name, ic.ascending});
    is.primary_key = ix.primary_key;
    is.unique = ix.unique;
    is.ignore_nulls = ix.ignore_nulls;
    is.required = ix.required;
    s.indexes.push_back(is);
  }
  return s;
}

void remove_if_there(Env& env, const std::string& path) {
  if (env.file_exists(path)) env.remove_file(path);
}

}  // namespace

double Database::free_space_fraction() {
  PageSource& p = pages();
  const uint32_t n = p.page_count();
  if (n < 3) return 0;
  FreePageMap m = read_free_page_map(p);
  uint32_t free = 0;
  for (uint32_t pg = 2; pg < n; ++pg) free += m.is_free(pg);
  return double(free) / double(n);
}

CompactResult Database::compact(const std::string& path, const std::string& out_path, const CompactOptions& options) {
  Env* env = options.env ? options.env : Env::posix();
  const std::string target = out_path.empty() ? path : out_path;
  const std::string temp = target + ".compacting";
  CompactResult result;

  OpenOptions so;
  so.password = options.password;
  so.env = env;
  so.read_write = true;  // the writer's lock keeps other writers out while we read
  so.user_name = options.user_name;
  auto src = Database::open(path, so);
  // Compaction needs the file to itself: nobody else in the lock file, and
  // the writer's lock held until the copy is in place.
  const auto users = LockFile::users(*env, path, src->lock_file_slot());
  if (!users.empty() || !src->pager().try_writer_lock()) {
    std::string names;
    for (const std::string& u : users) names += (names.empty() ? "" : ", ") + u;
    throw Error(ErrorCategory::kLocked, path + ": locked: cannot compact while the database is open elsewhere" +
                                            (names.empty() ? std::string() : " (on " + names + ")"));
  }
  refuse_what_would_be_lost(*src);
  result.pages_before = src->pages().page_count();

  // A crashed compaction's leftovers.
  for (const std::string& p : {temp, temp + "-journal"}) remove_if_there(*env, p);

  CreateOptions co;
  co.password = options.password;
  co.env = env;
  co.durability = Durability::kFast;  // made durable as a whole below
  {
    auto dst = Database::create(temp, co);
    for (const TableEntry& e : src->tables(false)) {
      Table& from = src->table(e.name);
      Table& to = dst->create_table(spec_of(from.def()));
      Transaction tx(*dst);
      // Rows go in primary-key order when there is a primary key, as Access
      // compacts them (the key's index then only ever grows at its end).
      const auto pk = std::find_if(from.def().indexes.begin(), from.def().indexes.end(),
                                   [](const IndexDef& ix) { return ix.primary_key; });
      // The copy's indexes are empty: insert_rows builds each of them once
      // from its sorted keys.
      if (pk != from.def().indexes.end()) {
        ReadSnapshot snapshot(*src);
        const std::vector<RowId> ids = from.scan_index(pk->name);
        std::size_t next = 0;
        result.rows += to.insert_rows([&](Row& row) {
          if (next == ids.size()) return false;
          from.read_row(ids[next++], row);
          return true;
        });
      } else {
        RowCursor c = from.scan();
        result.rows += to.insert_rows([&](Row& row) {
          if (!c.next()) return false;
          row = c.row();
          return true;
        });
      }
      // Keep the last counter value handed out.
      Pager& pager = dst->pager();
      uint8_t* tdef = pager.page_for_write(to.def().tdef_page);
      if (from.def().next_auto_number > le32(tdef + kTdefOffAutoNumber)) {
        put_le32(tdef + kTdefOffAutoNumber, from.def().next_auto_number);
      }
      tx.commit();
      ++result.tables;
    }
    result.pages_after = dst->pages().page_count();
  }
  {
    auto f = env->open_file(temp, OpenMode::kReadWrite);
    f->sync();
  }
  env->rename_file(temp, target);
  env->sync_dir(target);
  return result;
}

}  // namespace jet
