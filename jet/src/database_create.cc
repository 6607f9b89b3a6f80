// Creating databases, tables and columns.
//
// A new database is laid out as the Jet engine lays out one it creates
// (adox_jet4.mdb; empty2000.mdb from Access has the same first pages):
//
//   page  what
//   0     header (below)
//   1     data page (table field 1): row 0 the file's page map (free
//         pages, page_allocator.h), row 1 a 64-byte map of zeros
//   2..5  definitions of MSysObjects, MSysACEs, MSysQueries and
//         MSysRelationships (MSysObjects must be on page 2)
//   6     data page (table field 0) holding every usage map of the four
//   7..   one empty leaf page per index, then the data pages the catalog
//         rows go to
//
// MSysObjects then holds the three containers "Tables", "Databases" and
// "Relationships" (ids 0x0F000001..3, parent 0x0F000000, type 3), the
// database object "MSysDb" (id 0x10000000 in "Databases", type 2) and the
// four system tables (id = definition page, parent "Tables", type 1), all
// flagged 0x80000000 (system), owned by the engine (SID 65 89; MSysDb 64
// 8B). MSysACEs holds the permissions the engine grants on them (sixteen
// rows: account SIDs 64 8B, 65 8B and 65 8E with their access masks).
//
// Header (page 0; offsets 0x18..0x97 are RC4-masked, header.h):
//   0x00  00 01 00 00, then "Standard Jet DB\0", version 1 at 0x14
//   0x18  00 01 00 00 01 01 00 00 02 00 00 00 03 00 00 00 04 00 00 00
//         05 00 00 00 (the same in every Access 2000 fixture)
//   0x3C  code page (0x04E4), 0x3E database key 0 (not encoded)
//   0x42  password, 40 bytes UCS-2, XOR-ed with the creation date's
//         integer part (4 little-endian bytes, repeated)
//   0x6E  sort order 0x0409, 0x72 creation date (double)
//   0x98  54 06 00 00 "4.0\0"
//   0xE00 0x01, and 0x01 at every odd offset from 0xE01 to 0xFFF
#include <chrono>
#include <cstring>
#include <filesystem>

#include "binary.h"
#include "data_page.h"
#include "header.h"
#include "index/index_page.h"
#include "jet/database.h"
#include "jet/env.h"
#include "jet/error.h"
#include "page_allocator.h"
#include "pager.h"
#include "row_layout.h"
#include "table_def.h"
#include "table_impl.h"
#include "text_codec.h"

namespace jet {
namespace {

constexpr uint32_t kTablesContainer = 0x0F000001;
constexpr uint32_t kDatabasesContainer = 0x0F000002;
constexpr uint32_t kRelationshipsContainer = 0x0F000003;
constexpr uint32_t kContainerParent = 0x0F000000;
constexpr uint32_t kMSysDbId = 0x10000000;
constexpr int32_t kSystemFlag = int32_t(0x80000000u);
constexpr std::size_t kMapRowBitmap = 64;  // bytes of an inline map row's bitmap (H, F)

double jet_now() {
  using namespace std::chrono;
  double secs = duration<double>(system_clock::now().time_since_epoch()).count();
  return secs / 86400.0 + 25569.0;
}

std::string lower(std::string_view s) {
  std::string o(s);
  for (char& c : o)
    if (c >= 'A' && c <= 'Z') c = char(c + 32);
  return o;
}

void check_name(const std::string& what, const std::string& name) {
  if (name.empty() || name.size() > 64) {
    throw Error(ErrorCategory::kInvalidArgument, what + " name '" + name + "' must have 1 to 64 characters");
  }
  if (name.front() == ' ' || name.find_first_of(".!`[]") != std::string::npos) {
    throw Error(ErrorCategory::kInvalidArgument,
                what + " name '" + name + "' may not start with a space or hold any of . ! ` [ ]");
  }
  for (unsigned char c : name) {
    if (c < 0x20) throw Error(ErrorCategory::kInvalidArgument, what + " name '" + name + "' holds a control character");
  }
}

// A column definition for `spec`, numbered `number`; fixed and variable
// positions are given by the caller.
ColumnDef column_from_spec(const std::string& table, const ColumnSpec& spec, uint16_t number) {
  check_name("column", spec.name);
  ColumnDef c;
  c.name = spec.name;
  c.type = spec.type;
  c.number = number;
  c.flags = 0x02;
  const std::string where = "table '" + table + "', column '" + spec.name + "': ";
  switch (spec.type) {
    case ColumnType::kText: {
      uint16_t chars = spec.length ? spec.length : 255;
      if (chars > 255) throw Error(ErrorCategory::kInvalidArgument, where + "text holds at most 255 characters");
      c.length = uint16_t(chars * 2);
      break;
    }
    case ColumnType::kBinary: {
      uint16_t bytes = spec.length ? spec.length : 255;
      if (bytes > 510) throw Error(ErrorCategory::kInvalidArgument, where + "binary holds at most 510 bytes");
      c.length = bytes;
      break;
    }
    case ColumnType::kMemo:
    case ColumnType::kOle: c.length = 0; break;
    case ColumnType::kComplex:
      throw Error(ErrorCategory::kUnsupported, where + "complex columns belong to Access 2007 files");
    default:
      c.length = fixed_column_size(spec.type);
      if (c.length == 0) {
        throw Error(ErrorCategory::kInvalidArgument,
                    where + "unknown column type " + std::to_string(int(spec.type)));
      }
      c.fixed_length = true;
  }
  if (spec.auto_number && spec.type != ColumnType::kLong) {
    throw Error(ErrorCategory::kInvalidArgument, where + "a counter must be a long integer column");
  }
  if (spec.auto_guid && spec.type != ColumnType::kGuid) {
    throw Error(ErrorCategory::kInvalidArgument, where + "an automatic GUID must be a GUID column");
  }
  if (spec.hyperlink && spec.type != ColumnType::kMemo) {
    throw Error(ErrorCategory::kInvalidArgument, where + "a hyperlink must be a memo column");
  }
  if (spec.type == ColumnType::kNumeric) {
    if (spec.precision < 1 || spec.precision > 28 || spec.scale > spec.precision) {
      throw Error(ErrorCategory::kInvalidArgument, where + "decimal precision must be 1..28 and scale 0..precision");
    }
    c.precision = spec.precision;
    c.scale = spec.scale;
  }
  c.auto_number = spec.auto_number;
  c.required = spec.required;
  if (c.required) c.flags = 0;
  c.auto_guid = spec.auto_guid;
  c.hyperlink = spec.hyperlink;
  if (spec.type == ColumnType::kText || spec.type == ColumnType::kMemo) {
    c.sort_order = 0x0409;
    c.compressed_unicode = spec.compressed_unicode;
  }
  return c;
}

// The definition of a new table from its spec (pages not yet assigned).
TableDef def_from_spec(const TableSpec& spec, bool system) {
  check_name("table", spec.name);
  if (spec.columns.empty()) {
    throw Error(ErrorCategory::kInvalidArgument, "table '" + spec.name + "' needs at least one column");
  }
  if (spec.columns.size() > 255) {
    throw Error(ErrorCategory::kInvalidArgument, "table '" + spec.name + "' has more than 255 columns");
  }
  TableDef t;
  t.name = spec.name;
  t.system = system;
  uint16_t fixed_offset = 0, var_index = 0;
  int counters = 0;
  for (std::size_t i = 0; i < spec.columns.size(); ++i) {
    for (std::size_t j = 0; j < i; ++j) {
      if (names_equal(spec.columns[j].name, spec.columns[i].name)) {
        throw Error(ErrorCategory::kInvalidArgument,
                    "table '" + spec.name + "' names column '" + spec.columns[i].name + "' twice");
      }
    }
    ColumnDef c = column_from_spec(spec.name, spec.columns[i], uint16_t(i));
    if (c.auto_number && ++counters > 1) {
      throw Error(ErrorCategory::kInvalidArgument, "table '" + spec.name + "' may have only one counter column");
    }
    if (c.type == ColumnType::kBoolean) {
      c.fixed_offset = 0;
    } else if (c.fixed_length) {
      c.fixed_offset = fixed_offset;
      fixed_offset = uint16_t(fixed_offset + c.length);
    } else {
      c.variable_index = var_index++;
    }
    t.columns.push_back(std::move(c));
  }
  t.max_columns = uint16_t(t.columns.size());
  t.variable_columns = var_index;
  bool have_primary = false;
  for (std::size_t i = 0; i < spec.indexes.size(); ++i) {
    const IndexSpec& is = spec.indexes[i];
    check_name("index", is.name);
    for (std::size_t j = 0; j < i; ++j) {
      if (names_equal(spec.indexes[j].name, is.name)) {
        throw Error(ErrorCategory::kInvalidArgument, "table '" + spec.name + "' names index '" + is.name + "' twice");
      }
    }
    if (is.columns.empty() || is.columns.size() > 10) {
      throw Error(ErrorCategory::kInvalidArgument, "index '" + is.name + "' must have 1 to 10 columns");
    }
    if (is.primary_key && have_primary) {
      throw Error(ErrorCategory::kInvalidArgument, "table '" + spec.name + "' may have only one primary key");
    }
    have_primary = have_primary || is.primary_key;
    IndexDef ix;
    ix.name = is.name;
    ix.primary_key = is.primary_key;
    ix.unique = is.unique || is.primary_key;
    ix.required = is.required || is.primary_key;
    ix.ignore_nulls = is.ignore_nulls;
    ix.real_index = uint32_t(i);
    for (const IndexColumnSpec& ic : is.columns) {
      int c = t.find_column(ic.column);
      if (c < 0) {
        throw Error(ErrorCategory::kInvalidArgument,
                    "index '" + is.name + "' names column '" + ic.column + "', which table '" + spec.name + "' lacks");
      }
      ColumnType ty = t.columns[c].type;
      if (ty == ColumnType::kMemo || ty == ColumnType::kOle || ty == ColumnType::kComplex) {
        throw Error(ErrorCategory::kInvalidArgument, "index '" + is.name + "': " + column_type_name(ty) +
                                                         " column '" + ic.column + "' cannot be indexed");
      }
      ix.columns.push_back(IndexColumnDef{t.columns[c].name, t.columns[c].number, ic.ascending});
    }
    t.indexes.push_back(std::move(ix));
  }
  return t;
}

std::vector<uint8_t> empty_map_row(uint32_t start) {
  std::vector<uint8_t> row(5 + kMapRowBitmap, 0);
  put_le32(row.data() + 1, start);
  return row;
}

// Gives `def` its pages: definition page `tdef_page` (zeroed, allocated by
// the caller), map rows on `map_page`, one empty leaf root per index; then
// writes the definition.
void lay_out_table(Pager& pager, PageAllocator& alloc, TableDef& def, uint32_t tdef_page, uint32_t map_page) {
  def.tdef_page = tdef_page;
  const uint32_t start = tdef_page & ~7u;
  auto add_map = [&]() {
    auto row = empty_map_row(start);
    uint8_t r = data_page::add_row(pager.page_for_write(map_page), row);
    return (map_page << 8) | r;
  };
  def.usage_map = add_map();
  def.free_space_map = add_map();
  for (IndexDef& ix : def.indexes) ix.usage_map = add_map();
  for (IndexDef& ix : def.indexes) {
    uint32_t root = alloc.new_page();
    index::IndexPage leaf;
    leaf.number = root;
    leaf.leaf = true;
    leaf.tdef_page = tdef_page;
    index::encode_index_page(leaf, pager.page_for_write(root));
    ix.first_page = root;
    alloc.map_add(ix.usage_map, root, "index '" + ix.name + "'");
  }
  write_table_def(pager, alloc, tdef_page, build_table_def(def));
}

Bytes sid(uint8_t a, uint8_t b) { return Bytes{{a, b}}; }

// The system tables the Jet engine creates, as adox_jet4.mdb holds them.
std::vector<TableSpec> system_table_specs() {
  using T = ColumnType;
  auto col = [](const char* n, T t, uint16_t len = 0) {
    ColumnSpec c;
    c.name = n;
    c.type = t;
    c.length = len;
    return c;
  };
  auto idx = [](const char* n, std::vector<std::string> cols) {
    IndexSpec s;
    s.name = n;
    for (auto& c : cols) s.columns.push_back(IndexColumnSpec{c, true});
    return s;
  };
  TableSpec objects{"MSysObjects",
                    {col("Id", T::kLong), col("ParentId", T::kLong), col("Name", T::kText, 255),
                     col("Type", T::kInteger), col("DateCreate", T::kDateTime), col("DateUpdate", T::kDateTime),
                     col("Owner", T::kBinary, 510), col("Flags", T::kLong), col("Database", T::kMemo),
                     col("Connect", T::kMemo), col("ForeignName", T::kText, 255), col("RmtInfoShort", T::kBinary, 510),
                     col("RmtInfoLong", T::kOle), col("Lv", T::kOle), col("LvProp", T::kOle), col("LvModule", T::kOle),
                     col("LvExtra", T::kOle)},
                    {idx("ParentIdName", {"ParentId", "Name"}), idx("Id", {"Id"})}};
  objects.indexes[0].unique = true;
  objects.indexes[1].unique = true;
  TableSpec aces{"MSysACEs",
                 {col("ObjectId", T::kLong), col("SID", T::kBinary, 510), col("ACM", T::kLong),
                  col("FInheritable", T::kBoolean)},
                 {idx("ObjectId", {"ObjectId"})}};
  aces.indexes[0].required = true;
  TableSpec queries{"MSysQueries",
                    {col("ObjectId", T::kLong), col("Attribute", T::kByte), col("Order", T::kBinary, 510),
                     col("Name1", T::kText, 255), col("Name2", T::kText, 255), col("Expression", T::kMemo),
                     col("Flag", T::kInteger), col("LvExtra", T::kLong)},
                    {idx("ObjectIdAttribute", {"ObjectId", "Attribute", "Order"})}};
  queries.indexes[0].primary_key = true;
  TableSpec relationships{"MSysRelationships",
                          {col("szRelationship", T::kText, 255), col("grbit", T::kLong), col("ccolumn", T::kLong),
                           col("icolumn", T::kLong), col("szObject", T::kText, 255), col("szColumn", T::kText, 255),
                           col("szReferencedObject", T::kText, 255), col("szReferencedColumn", T::kText, 255)},
                          {idx("szObject", {"szObject"}), idx("szReferencedObject", {"szReferencedObject"}),
                           idx("szRelationship", {"szRelationship"})}};
  for (auto& ix : relationships.indexes) ix.ignore_nulls = true;
  return {objects, aces, queries, relationships};
}

struct Locale {
  uint32_t sort_order = 0x0409;
  uint16_t code_page = 1252;
};

Locale parse_locale(const std::string& s) {
  Locale l;
  std::size_t pos = 0;
  while (pos <= s.size()) {
    std::size_t end = s.find(';', pos);
    if (end == std::string::npos) end = s.size();
    std::string part = s.substr(pos, end - pos);
    pos = end + 1;
    if (part.empty()) continue;
    std::size_t eq = part.find('=');
    if (eq == std::string::npos) {
      throw Error(ErrorCategory::kInvalidArgument, "locale '" + s + "': '" + part + "' is not KEY=value");
    }
    std::string key = lower(part.substr(0, eq)), value = part.substr(eq + 1);
    char* stop = nullptr;
    unsigned long v = std::strtoul(value.c_str(), &stop, 0);
    if (value.empty() || *stop != '\0') {
      throw Error(ErrorCategory::kInvalidArgument, "locale '" + s + "': '" + value + "' is not a number");
    }
    if (key == "langid") {
      l.sort_order = uint32_t(v);
    } else if (key == "cp") {
      l.code_page = uint16_t(v);
    } else if (key != "country") {
      throw Error(ErrorCategory::kInvalidArgument, "locale '" + s + "': unknown key '" + key + "'");
    }
  }
  if (l.sort_order != 0x0409) {
    throw Error(ErrorCategory::kUnsupported, "locale '" + s + "': only the General sort order (LANGID=0x0409) is supported");
  }
  if (l.code_page != 1252) {
    throw Error(ErrorCategory::kUnsupported, "locale '" + s + "': only code page 1252 is supported");
  }
  return l;
}

void build_header(uint8_t* p, const Locale& locale, double created, const std::string& password,
                  const std::string& path) {
  std::memset(p, 0, kPageSize);
  p[1] = 0x01;
  std::memcpy(p + 4, "Standard Jet DB", 15);
  put_le32(p + kHeaderOffsetVersion, 1);
  static const uint8_t kFixed[24] = {0, 1, 0, 0, 1, 1, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 4, 0, 0, 0, 5, 0, 0, 0};
  std::memcpy(p + 0x18, kFixed, sizeof kFixed);
  put_le16(p + kHeaderOffsetCodePage, uint16_t(locale.code_page == 1252 ? 0x04E4 : locale.code_page));
  put_le32(p + kHeaderOffsetDbKey, 0);
  std::string ucs2;
  append_utf8_as_utf16le(password, ucs2);
  if (ucs2.size() > kHeaderPasswordBytes) {
    throw Error(ErrorCategory::kInvalidArgument, path + ": a database password has at most 20 characters");
  }
  uint8_t mask[4];
  put_le32(mask, uint32_t(int32_t(created)));
  for (std::size_t i = 0; i < kHeaderPasswordBytes; ++i) {
    uint8_t b = i < ucs2.size() ? uint8_t(ucs2[i]) : 0;
    p[kHeaderOffsetPassword + i] = b ^ mask[i % 4];
  }
  put_le32(p + kHeaderOffsetSortOrder, locale.sort_order);
  uint64_t bits;
  std::memcpy(&bits, &created, 8);
  for (int i = 0; i < 8; ++i) p[kHeaderOffsetCreationDate + i] = uint8_t(bits >> (8 * i));
  toggle_header_mask(p);
  static const uint8_t kTail[8] = {0x54, 0x06, 0, 0, '4', '.', '0', 0};
  std::memcpy(p + 0x98, kTail, sizeof kTail);
  p[0xE00] = 0x01;
  for (std::size_t i = 0xE01; i < kPageSize; i += 2) p[i] = 0x01;
}

}  // namespace

std::unique_ptr<Database> Database::create(const std::string& path, const CreateOptions& options) {
  Env* env = options.env ? options.env : Env::posix();
  if (options.format_options != 64) {
    if (options.format_options & 0x2) {
      throw Error(ErrorCategory::kUnsupported, path + ": encrypted (encoded) databases cannot be created");
    }
    throw Error(ErrorCategory::kUnsupported, path + ": format option " + std::to_string(options.format_options) +
                                                 " is not the Jet 4 version option (64)");
  }
  Locale locale = parse_locale(options.locale);
  if (env->file_exists(path)) {
    throw Error(ErrorCategory::kInvalidArgument, path + ": a file of that name exists already");
  }
  const double created = jet_now();
  const std::string building = path + ".creating";
  if (env->file_exists(building)) env->remove_file(building);
  try {
    {
      auto file = env->open_file(building, OpenMode::kCreate);
      Pager pager(std::move(file), 64, env, true);
      pager.set_durability(options.durability);
      pager.begin(false);
      uint32_t p0 = pager.append_page();
      build_header(pager.page_for_write(p0), locale, created, options.password, path);
      uint32_t p1 = pager.append_page();
      {
        uint8_t* g = pager.page_for_write(p1);
        data_page::init(g, 1);
        std::vector<uint8_t> map = empty_map_row(0);
        for (std::size_t k = 2; k < kMapRowBitmap * 8; ++k) map[5 + k / 8] |= uint8_t(1u << (k % 8));
        data_page::add_row(g, map);
        data_page::add_row(g, std::vector<uint8_t>(5 + kMapRowBitmap, 0));
      }
      PageAllocator alloc(pager);
      auto specs = system_table_specs();
      std::vector<uint32_t> tdefs;
      for (std::size_t i = 0; i < specs.size(); ++i) tdefs.push_back(alloc.new_page());
      uint32_t map_page = alloc.new_page();
      data_page::init(pager.page_for_write(map_page), 0);
      for (std::size_t i = 0; i < specs.size(); ++i) {
        TableDef def = def_from_spec(specs[i], true);
        lay_out_table(pager, alloc, def, tdefs[i], map_page);
      }
      pager.commit();
    }
    // The catalog rows, written through the engine's own table code.
    {
      OpenOptions o;
      o.read_write = true;
      o.env = env;
      o.password = options.password;
      o.durability = options.durability;
      auto db = Database::open(building, o);
      Transaction tx(*db);
      Table& objects = db->table("MSysObjects");
      const DateTime now{created};
      auto object = [&](uint32_t id, uint32_t parent, const char* name, int16_t type, Bytes owner) {
        Row r(objects.columns().size());
        const TableDef& d = objects.def();
        r[d.find_column("Id")] = int32_t(id);
        r[d.find_column("ParentId")] = int32_t(parent);
        r[d.find_column("Name")] = std::string(name);
        r[d.find_column("Type")] = type;
        r[d.find_column("DateCreate")] = now;
        r[d.find_column("DateUpdate")] = now;
        r[d.find_column("Owner")] = std::move(owner);
        r[d.find_column("Flags")] = kSystemFlag;
        objects.insert(r);
      };
      object(kTablesContainer, kContainerParent, "Tables", 3, sid(0x65, 0x89));
      object(kDatabasesContainer, kContainerParent, "Databases", 3, sid(0x65, 0x89));
      object(kRelationshipsContainer, kContainerParent, "Relationships", 3, sid(0x65, 0x89));
      object(kMSysDbId, kDatabasesContainer, "MSysDb", 2, sid(0x64, 0x8B));
      const char* names[] = {"MSysObjects", "MSysACEs", "MSysQueries", "MSysRelationships"};
      for (int i = 0; i < 4; ++i) {
        object(uint32_t(2 + i), kTablesContainer, names[i], 1, sid(0x65, 0x89));
        if (i > 0) db->catalog_add(TableEntry{names[i], uint32_t(2 + i), true, uint32_t(kSystemFlag)});
      }
      Table& aces = db->table("MSysACEs");
      struct Ace {
        uint32_t object;
        uint8_t a, b;
        int32_t acm;
        bool inheritable;
      };
      const Ace kAces[] = {
          {2, 0x64, 0x8B, 393216, false},          {3, 0x64, 0x8B, 393216, false},
          {4, 0x64, 0x8B, 393216, false},          {5, 0x64, 0x8B, 917504, false},
          {kTablesContainer, 0x65, 0x8E, 983294, true},  {kTablesContainer, 0x64, 0x8B, 393217, false},
          {kRelationshipsContainer, 0x65, 0x8E, 983294, true}, {kRelationshipsContainer, 0x64, 0x8B, 393217, false},
          {kDatabasesContainer, 0x64, 0x8B, 393216, false}, {kMSysDbId, 0x64, 0x8B, 393230, false},
          {kMSysDbId, 0x65, 0x8B, 14, false},      {4, 0x65, 0x8B, 20, false},
          {5, 0x65, 0x8B, 20, false},              {2, 0x65, 0x8B, 20, false},
          {kTablesContainer, 0x65, 0x8B, 1048319, true}, {kRelationshipsContainer, 0x65, 0x8B, 1048575, true},
      };
      for (const Ace& a : kAces) {
        aces.insert(Row{int32_t(a.object), sid(a.a, a.b), a.acm, a.inheritable});
      }
      tx.commit();
    }
    env->rename_file(building, path);
    env->sync_dir(path);
  } catch (...) {
    try {
      if (env->file_exists(building)) env->remove_file(building);
    } catch (...) {
    }
    throw;
  }
  OpenOptions o;
  o.read_write = true;
  o.env = env;
  o.password = options.password;
  o.durability = options.durability;
  return Database::open(path, o);
}

Table& Database::create_table(const TableSpec& spec) {
  if (spec.name.size() >= 4 && names_equal(spec.name.substr(0, 4), "MSys")) {
    throw Error(ErrorCategory::kInvalidArgument, path() + ": table names starting with 'MSys' belong to the system");
  }
  TableDef def = def_from_spec(spec, false);
  if (has_table(spec.name)) {
    throw Error(ErrorCategory::kConstraint, path() + ": a table named '" + spec.name + "' exists already");
  }
  Table& objects = table("MSysObjects");
  Pager& pg = pager();
  WriteScope scope(pg);
  PageAllocator alloc(pg);
  uint32_t tdef = alloc.new_page();
  uint32_t map_page = alloc.map_page_with_room(2 + def.indexes.size(), 5 + kMapRowBitmap);
  lay_out_table(pg, alloc, def, tdef, map_page);

  // Its catalog row, owned like the other tables, and the permissions its
  // container passes on (MSysACEs rows marked inheritable).
  const TableDef& od = objects.def();
  Bytes owner;
  for (auto c = objects.scan(); c.next();) {
    const Row& r = c.row();
    if (auto id = std::get_if<int32_t>(&r[od.find_column("Id")]); id && uint32_t(*id) == kTablesContainer) {
      if (auto b = std::get_if<Bytes>(&r[od.find_column("Owner")])) owner = *b;
    }
  }
  Row row(od.columns.size());
  const DateTime now{jet_now()};
  row[od.find_column("Id")] = int32_t(tdef);
  row[od.find_column("ParentId")] = int32_t(kTablesContainer);
  row[od.find_column("Name")] = spec.name;
  row[od.find_column("Type")] = int16_t(1);
  row[od.find_column("DateCreate")] = now;
  row[od.find_column("DateUpdate")] = now;
  row[od.find_column("Owner")] = owner;
  row[od.find_column("Flags")] = int32_t(0);
  objects.insert(row);
  if (has_table("MSysACEs")) {
    Table& aces = table("MSysACEs");
    std::vector<Row> inherited;
    for (auto c = aces.scan(); c.next();) {
      const Row& r = c.row();
      auto obj = std::get_if<int32_t>(&r[0]);
      auto inh = std::get_if<bool>(&r[3]);
      if (obj && uint32_t(*obj) == kTablesContainer && inh && *inh) inherited.push_back(r);
    }
    for (Row& r : inherited) {
      r[0] = int32_t(tdef);
      r[3] = false;
      aces.insert(r);
    }
  }
  scope.commit();
  TableEntry e;
  e.name = spec.name;
  e.tdef_page = tdef;
  catalog_add(e);
  return table(spec.name);
}

void Database::add_column(std::string_view table_name, const ColumnSpec& spec) {
  Table& t = table(table_name);
  TableDef def = t.def();
  if (def.find_column(spec.name) >= 0) {
    throw Error(ErrorCategory::kConstraint,
                path() + ": table '" + def.name + "' has a column named '" + spec.name + "' already");
  }
  if (def.columns.size() >= 255) {
    throw Error(ErrorCategory::kInvalidArgument, path() + ": table '" + def.name + "' has 255 columns already");
  }
  const uint16_t number = std::max<uint16_t>(def.max_columns, uint16_t(def.columns.size()));
  ColumnDef c = column_from_spec(def.name, spec, number);
  if (c.auto_number) {
    for (const ColumnDef& o : def.columns)
      if (o.auto_number)
        throw Error(ErrorCategory::kInvalidArgument, path() + ": table '" + def.name + "' has a counter already");
  }
  // Deleted columns keep their places in old rows: keep clear of them.
  bool first_variable = false;
  if (c.type == ColumnType::kBoolean) {
    c.fixed_offset = 0;
  } else if (c.fixed_length) {
    uint16_t end = 0;
    for (const ColumnDef& o : def.columns)
      if (o.fixed_length && o.type != ColumnType::kBoolean) end = std::max<uint16_t>(end, uint16_t(o.fixed_offset + o.length));
    c.fixed_offset = end;
  } else {
    first_variable = def.variable_columns == 0;
    // After every variable slot rows may hold, deleted columns' included.
    int max_var = -1;
    for (const ColumnDef& o : def.columns)
      if (!o.fixed_length && o.type != ColumnType::kBoolean) max_var = std::max<int>(max_var, o.variable_index);
    c.variable_index = uint16_t(std::max<int>(def.variable_columns, max_var + 1));
    def.variable_columns = uint16_t(c.variable_index + 1);
  }
  def.columns.push_back(c);
  def.max_columns = uint16_t(number + 1);
  Pager& pg = pager();
  WriteScope scope(pg);
  PageAllocator alloc(pg);
  // The stored counts may have moved on since the table was opened.
  const uint8_t* tp = pg.page(def.tdef_page);
  def.row_count = le32(tp + 0x10);
  def.next_auto_number = le32(tp + 0x14);
  write_table_def(pg, alloc, def.tdef_page, build_table_def(def));
  forget_table(def.name);
  // Rows written while the table had no variable-length column carry no
  // variable section. Our reader copes, but other Jet readers take the
  // section's presence from the table definition alone, so such rows are
  // written again in the new layout.
  if (!c.fixed_length && c.type != ColumnType::kBoolean && first_variable && def.row_count > 0) {
    Table& grown = table(def.name);
    std::vector<RowId> ids;
    for (RowCursor cursor = grown.scan(); cursor.next();) ids.push_back(cursor.id());
    Row row;
    for (const RowId& id : ids) {
      grown.read_row(id, row);
      grown.update(id, row);
    }
  }
  scope.commit();
}

}  // namespace jet
