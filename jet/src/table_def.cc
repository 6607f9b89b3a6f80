#include "table_def.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>
#include <vector>

#include "binary.h"
#include "jet/error.h"
#include "page_allocator.h"
#include "pager.h"
#include "text_codec.h"

namespace jet {
namespace {

constexpr std::size_t kTdefHeader = 8;
constexpr std::size_t kOffRowCount = 0x10;
constexpr std::size_t kOffAutoNumber = 0x14;
constexpr std::size_t kOffTableType = 0x28;
constexpr std::size_t kOffMaxColumns = 0x29;
constexpr std::size_t kOffVarColumns = 0x2B;
constexpr std::size_t kOffColumnCount = 0x2D;
constexpr std::size_t kOffIndexCount = 0x2F;
constexpr std::size_t kOffRealIndexCount = 0x33;
constexpr std::size_t kOffUsageMap = 0x37;
constexpr std::size_t kOffFreeMap = 0x3B;
constexpr std::size_t kOffRealIndexCounts = 0x3F;
constexpr std::size_t kRealIndexCountSize = 12;
constexpr std::size_t kColumnSize = 25;
constexpr std::size_t kRealIndexSize = 52;
constexpr std::size_t kLogicalIndexSize = 28;
constexpr int kMaxIndexColumns = 10;
// A definition with the most columns and indexes Jet allows fits in a few
// pages; a longer chain is damage.
constexpr std::size_t kMaxTdefPages = 64;

constexpr uint8_t kColFixed = 0x01;
constexpr uint8_t kColAutoLong = 0x04;
constexpr uint8_t kColAutoGuid = 0x40;
constexpr uint8_t kColHyperlink = 0x80;

constexpr uint8_t kIdxUnique = 0x01;
constexpr uint8_t kIdxIgnoreNulls = 0x02;
constexpr uint8_t kIdxRequired = 0x08;

// Bounds-checked cursor over the joined definition bytes.
class DefReader {
 public:
  DefReader(const std::vector<uint8_t>& buf, const std::string& where) : buf_(buf), where_(where) {}
  const uint8_t* at(std::size_t offset, std::size_t n) const {
    if (offset > buf_.size() || n > buf_.size() - offset) {
      throw Error(ErrorCategory::kCorruption, where_ + ": the definition is cut short (needs " +
                                                  std::to_string(offset + n) + " bytes, has " +
                                                  std::to_string(buf_.size()) + ")");
    }
    return buf_.data() + offset;
  }
  std::string name(std::size_t& pos) const {
    uint16_t len = le16(at(pos, 2));
    const uint8_t* p = at(pos + 2, len);
    pos += 2 + len;
    std::string out;
    append_jet_text(p, len, out);
    return out;
  }

 private:
  const std::vector<uint8_t>& buf_;
  const std::string& where_;
};

}  // namespace

TableDef read_table_def(PageSource& pages, uint32_t tdef_page, const std::string& name) {
  const std::string where = pages.file_name() + ": table '" + name + "' (definition page " +
                            std::to_string(tdef_page) + ")";
  std::vector<uint8_t> buf;
  std::unordered_set<uint32_t> seen;
  uint32_t pg = tdef_page;
  while (pg != 0) {
    if (!seen.insert(pg).second) {
      throw Error(ErrorCategory::kCorruption, where + ": the definition's page chain loops back to page " +
                                                  std::to_string(pg));
    }
    if (seen.size() > kMaxTdefPages) {
      throw Error(ErrorCategory::kCorruption, where + ": the definition spans more than " +
                                                  std::to_string(kMaxTdefPages) + " pages");
    }
    if (pg >= pages.page_count()) {
      throw Error(ErrorCategory::kCorruption, where + ": the definition continues on page " + std::to_string(pg) +
                                                  ", beyond the end of the file");
    }
    const uint8_t* p = pages.page(pg);
    if (p[0] != 0x02) {
      throw Error(ErrorCategory::kCorruption, where + ": page " + std::to_string(pg) +
                                                  " is not a table-definition page (type " + std::to_string(p[0]) + ")");
    }
    if (buf.empty()) {
      buf.assign(p, p + kPageSize);
    } else {
      buf.insert(buf.end(), p + kTdefHeader, p + kPageSize);
    }
    pg = le32(p + 4);
  }

  DefReader r(buf, where);
  TableDef t;
  t.name = name;
  t.tdef_page = tdef_page;
  t.row_count = le32(r.at(kOffRowCount, 4));
  t.next_auto_number = le32(r.at(kOffAutoNumber, 4));
  t.system = *r.at(kOffTableType, 1) == 0x53;
  t.max_columns = le16(r.at(kOffMaxColumns, 2));
  t.variable_columns = le16(r.at(kOffVarColumns, 2));
  const uint16_t column_count = le16(r.at(kOffColumnCount, 2));
  const uint32_t index_count = le32(r.at(kOffIndexCount, 4));
  const uint32_t real_index_count = le32(r.at(kOffRealIndexCount, 4));
  t.usage_map = le32(r.at(kOffUsageMap, 4));
  t.free_space_map = le32(r.at(kOffFreeMap, 4));
  if (column_count > 4096 || index_count > 1024 || real_index_count > 1024) {
    throw Error(ErrorCategory::kCorruption, where + ": implausible counts (" + std::to_string(column_count) +
                                                " columns, " + std::to_string(index_count) + " indexes)");
  }

  std::size_t pos = kOffRealIndexCounts + std::size_t(real_index_count) * kRealIndexCountSize;
  t.columns.resize(column_count);
  for (uint16_t i = 0; i < column_count; ++i) {
    const uint8_t* c = r.at(pos, kColumnSize);
    ColumnDef& col = t.columns[i];
    col.type = static_cast<ColumnType>(c[0]);
    col.number = le16(c + 5);
    col.variable_index = le16(c + 7);
    col.flags = c[15];
    col.fixed_length = (col.flags & kColFixed) != 0;
    col.auto_number = (col.flags & kColAutoLong) != 0;
    col.auto_guid = (col.flags & kColAutoGuid) != 0;
    col.hyperlink = (col.flags & kColHyperlink) != 0;
    col.required = (col.flags & 0x02) == 0;
    col.compressed_unicode = (c[16] & 0x01) != 0;
    col.fixed_offset = le16(c + 21);
    col.length = le16(c + 23);
    if (col.type == ColumnType::kNumeric) {
      col.precision = c[11];
      col.scale = c[12];
    } else if (col.type == ColumnType::kText || col.type == ColumnType::kMemo) {
      col.sort_order = le16(c + 11);
      col.sort_order_version = c[14];
    }
    pos += kColumnSize;
  }
  for (uint16_t i = 0; i < column_count; ++i) t.columns[i].name = r.name(pos);
  std::stable_sort(t.columns.begin(), t.columns.end(),
                   [](const ColumnDef& a, const ColumnDef& b) { return a.number < b.number; });
  for (const ColumnDef& col : t.columns) {
    if (col.fixed_length && col.type != ColumnType::kBoolean && std::size_t(col.fixed_offset) + col.length > kPageSize) {
      throw Error(ErrorCategory::kCorruption, where + ": column '" + col.name + "' lies outside any row (offset " +
                                                  std::to_string(col.fixed_offset) + ", length " +
                                                  std::to_string(col.length) + ")");
    }
  }

  struct RealIndex {
    std::vector<IndexColumnDef> columns;
    uint32_t usage_map, first_page;
    uint8_t flags;
  };
  std::vector<RealIndex> real(real_index_count);
  for (uint32_t i = 0; i < real_index_count; ++i) {
    const uint8_t* d = r.at(pos, kRealIndexSize);
    for (int k = 0; k < kMaxIndexColumns; ++k) {
      uint16_t number = le16(d + 4 + 3 * k);
      if (number == 0xFFFF) continue;
      IndexColumnDef ic;
      ic.column_number = number;
      ic.ascending = (d[4 + 3 * k + 2] & 0x01) != 0;
      auto it = std::find_if(t.columns.begin(), t.columns.end(),
                             [number](const ColumnDef& c) { return c.number == number; });
      if (it == t.columns.end()) {
        throw Error(ErrorCategory::kCorruption, where + ": index " + std::to_string(i) + " names column number " +
                                                    std::to_string(number) + ", which the table does not have");
      }
      ic.column_name = it->name;
      real[i].columns.push_back(std::move(ic));
    }
    real[i].usage_map = le32(d + 34);
    real[i].first_page = le32(d + 38);
    real[i].flags = d[46];
    pos += kRealIndexSize;
  }

  t.indexes.resize(index_count);
  for (uint32_t i = 0; i < index_count; ++i) {
    const uint8_t* d = r.at(pos, kLogicalIndexSize);
    IndexDef& ix = t.indexes[i];
    ix.real_index = le32(d + 8);
    if (ix.real_index >= real_index_count) {
      throw Error(ErrorCategory::kCorruption, where + ": logical index " + std::to_string(i) + " refers to index " +
                                                  std::to_string(ix.real_index) + " of " +
                                                  std::to_string(real_index_count));
    }
    ix.related_index = static_cast<int32_t>(le32(d + 13));
    ix.related_table_page = le32(d + 17);
    ix.cascade_updates = d[21] != 0;
    ix.cascade_deletes = d[22] != 0;
    ix.primary_key = d[23] == 0x01;
    ix.foreign_key = d[23] == 0x02;
    const RealIndex& ri = real[ix.real_index];
    ix.columns = ri.columns;
    ix.first_page = ri.first_page;
    ix.usage_map = ri.usage_map;
    ix.unique = (ri.flags & kIdxUnique) != 0 || ix.primary_key;
    ix.ignore_nulls = (ri.flags & kIdxIgnoreNulls) != 0;
    ix.required = (ri.flags & kIdxRequired) != 0 || ix.primary_key;
    pos += kLogicalIndexSize;
  }
  for (uint32_t i = 0; i < index_count; ++i) t.indexes[i].name = r.name(pos);
  return t;
}

index::IndexLayout make_index_layout(const TableDef& table, const IndexDef& ix) {
  index::IndexLayout layout;
  layout.name = ix.name;
  layout.table_name = table.name;
  for (const IndexColumnDef& ic : ix.columns) {
    index::KeyColumn kc;
    kc.column_number = ic.column_number;
    kc.ascending = ic.ascending;
    for (const ColumnDef& c : table.columns) {
      if (c.number == ic.column_number) {
        kc.type = c.type;
        kc.sort_order = c.sort_order != 0 ? c.sort_order : 0x0409;
        kc.fixed_length = c.fixed_length;
        kc.scale = c.scale;
        kc.precision = c.precision;
        break;
      }
    }
    layout.columns.push_back(kc);
  }
  layout.first_page = ix.first_page;
  layout.tdef_page = table.tdef_page;
  layout.usage_map = ix.usage_map;
  layout.unique = ix.unique;
  layout.ignore_nulls = ix.ignore_nulls;
  layout.required = ix.required;
  layout.primary_key = ix.primary_key;
  layout.foreign_key = ix.foreign_key;
  return layout;
}

namespace {

constexpr uint32_t kTableMagic = 0x0659;
constexpr uint32_t kRealIndexMagic = 0x0783;

void w16(std::vector<uint8_t>& b, uint16_t v) {
  b.push_back(uint8_t(v));
  b.push_back(uint8_t(v >> 8));
}
void w32(std::vector<uint8_t>& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(uint8_t(v >> (8 * i)));
}
void wname(std::vector<uint8_t>& b, const std::string& name) {
  std::string u;
  append_utf8_as_utf16le(name, u);
  w16(b, uint16_t(u.size()));
  b.insert(b.end(), u.begin(), u.end());
}

}  // namespace

std::vector<uint8_t> build_table_def(const TableDef& t) {
  // Real indexes in number order; each takes its columns and flags from
  // the first logical index that names it.
  uint32_t real_count = 0;
  for (const IndexDef& ix : t.indexes) real_count = std::max(real_count, ix.real_index + 1);
  std::vector<const IndexDef*> real(real_count, nullptr);
  for (const IndexDef& ix : t.indexes)
    if (!real[ix.real_index]) real[ix.real_index] = &ix;

  std::vector<uint8_t> b(kTdefHeader, 0);
  b[0] = 0x02;
  b[1] = 0x01;
  w32(b, 0);  // length, set below
  w32(b, kTableMagic);
  w32(b, t.row_count);
  w32(b, t.next_auto_number);
  b.push_back(0x01);  // 0x18: set in every fixture's definitions
  b.resize(0x28, 0);
  b.push_back(t.system ? 0x53 : 0x4E);
  // Variable columns, deleted ones included: rows hold max_columns
  // columns of which this many are variable (delColTestV2000: 6 and 3 with
  // 2 variable columns left), which readers use to count fixed ones.
  uint16_t var_cols = t.variable_columns;
  {
    uint16_t present = 0;
    for (const ColumnDef& c : t.columns) {
      if (c.fixed_length || c.type == ColumnType::kBoolean) continue;
      ++present;
      var_cols = std::max<uint16_t>(var_cols, uint16_t(c.variable_index + 1));
    }
    var_cols = std::max(var_cols, present);
  }
  uint16_t max_cols = t.max_columns;
  for (const ColumnDef& c : t.columns) max_cols = std::max<uint16_t>(max_cols, uint16_t(c.number + 1));
  w16(b, max_cols);
  w16(b, var_cols);
  w16(b, uint16_t(t.columns.size()));
  w32(b, uint32_t(t.indexes.size()));
  w32(b, real_count);
  w32(b, t.usage_map);
  w32(b, t.free_space_map);
  for (uint32_t i = 0; i < real_count; ++i) {
    w32(b, 0);
    w32(b, t.row_count);
    w32(b, 0);
  }
  for (std::size_t i = 0; i < t.columns.size(); ++i) {
    const ColumnDef& c = t.columns[i];
    b.push_back(uint8_t(c.type));
    w32(b, kTableMagic);
    w16(b, c.number);
    w16(b, c.variable_index);
    w16(b, c.number);
    if (c.type == ColumnType::kNumeric) {
      b.push_back(c.precision);
      b.push_back(c.scale);
    } else {
      w16(b, c.sort_order ? c.sort_order : 0x0409);
    }
    b.push_back(0);
    b.push_back(c.sort_order_version);
    uint8_t flags = uint8_t(c.required ? (c.flags & ~0x02) : (c.flags | 0x02));
    if (c.fixed_length) flags |= 0x01;
    if (c.auto_number) flags |= 0x04;
    if (c.auto_guid) flags |= 0x40;
    if (c.hyperlink) flags |= 0x80;
    if (t.system) flags |= 0x10;
    b.push_back(flags);
    b.push_back(c.compressed_unicode ? 0x01 : 0x00);
    w32(b, 0);
    w16(b, c.fixed_offset);
    w16(b, c.length);
  }
  for (const ColumnDef& c : t.columns) wname(b, c.name);
  for (uint32_t i = 0; i < real_count; ++i) {
    const IndexDef* ix = real[i];
    w32(b, kRealIndexMagic);
    for (int k = 0; k < kMaxIndexColumns; ++k) {
      if (ix && k < int(ix->columns.size())) {
        w16(b, ix->columns[k].column_number);
        b.push_back(ix->columns[k].ascending ? 0x01 : 0x02);
      } else {
        w16(b, 0xFFFF);
        b.push_back(0x00);
      }
    }
    w32(b, ix ? ix->usage_map : 0);
    w32(b, ix ? ix->first_page : 0);
    w32(b, 0);
    uint8_t flags = 0x80;
    if (ix) {
      if (ix->unique || ix->primary_key) flags |= kIdxUnique;
      if (ix->ignore_nulls) flags |= kIdxIgnoreNulls;
      if (ix->required || ix->primary_key) flags |= kIdxRequired;
    }
    b.push_back(flags);
    b.insert(b.end(), 5, 0);
  }
  for (std::size_t i = 0; i < t.indexes.size(); ++i) {
    const IndexDef& ix = t.indexes[i];
    w32(b, kTableMagic);
    w32(b, uint32_t(i));
    w32(b, ix.real_index);
    b.push_back(ix.foreign_key ? 0x01 : 0x00);
    w32(b, ix.foreign_key ? uint32_t(ix.related_index) : 0xFFFFFFFFu);
    w32(b, ix.foreign_key ? ix.related_table_page : 0);
    b.push_back(ix.cascade_updates ? 0x01 : 0x00);
    b.push_back(ix.cascade_deletes ? 0x01 : 0x00);
    b.push_back(ix.primary_key ? 0x01 : ix.foreign_key ? 0x02 : 0x00);
    w32(b, 0);
  }
  for (const IndexDef& ix : t.indexes) wname(b, ix.name);
  w16(b, 0xFFFF);
  put_le32(b.data() + 8, uint32_t(b.size()));
  return b;
}

void write_table_def(Pager& pager, PageAllocator& allocator, uint32_t first_page, const std::vector<uint8_t>& bytes) {
  // Pages of the existing chain (a fresh page has none after it).
  std::vector<uint32_t> chain{first_page};
  {
    const uint8_t* p = pager.page(first_page);
    uint32_t next = p[0] == 0x02 ? le32(p + 4) : 0;
    while (next != 0 && next < pager.page_count() && chain.size() < kMaxTdefPages &&
           std::find(chain.begin(), chain.end(), next) == chain.end()) {
      chain.push_back(next);
      const uint8_t* q = pager.page(next);
      next = q[0] == 0x02 ? le32(q + 4) : 0;
    }
  }
  const std::size_t per_page = kPageSize - kTdefHeader;
  std::size_t pages_needed = 1;
  if (bytes.size() > kPageSize) pages_needed += (bytes.size() - kPageSize + per_page - 1) / per_page;
  while (chain.size() < pages_needed) chain.push_back(allocator.new_page());
  for (std::size_t i = pages_needed; i < chain.size(); ++i) {
    std::memset(pager.page_for_write(chain[i]), 0, kPageSize);
    allocator.free_page(chain[i]);
  }
  std::size_t pos = 0;
  for (std::size_t i = 0; i < pages_needed; ++i) {
    uint8_t* p = pager.page_for_write(chain[i]);
    std::memset(p, 0, kPageSize);
    std::size_t used;
    if (i == 0) {
      used = std::min(bytes.size(), kPageSize);
      std::memcpy(p, bytes.data(), used);
      pos = used;
    } else {
      std::size_t n = std::min(bytes.size() - pos, per_page);
      std::memcpy(p + kTdefHeader, bytes.data() + pos, n);
      pos += n;
      used = kTdefHeader + n;
    }
    p[0] = 0x02;
    p[1] = 0x01;
    put_le32(p + 4, i + 1 < pages_needed ? chain[i + 1] : 0);
    std::size_t free = kPageSize > used + 8 ? kPageSize - used - 8 : 0;
    put_le16(p + 2, uint16_t(free));
  }
}

}  // namespace jet
