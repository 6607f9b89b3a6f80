// Writing rows: insert, update (in place, or into a moved row behind a
// forwarding "lookup" row) and delete, with every index of the table kept.
//
// Placement, as the Access-written fixtures show it:
//   - data pages hold rows from the end downwards, slot i ending where slot
//     i-1 starts, and their free-space field equals the gap between the slot
//     table and the lowest row (every fixture);
//   - a deleted row keeps its slot, flagged 0xC000, and its bytes are gone:
//     the rows after it move up (delTestV2000, testV2000's LVAL pages show
//     only zero-length deleted rows);
//   - a row that outgrows its page leaves a lookup row (flag 0x4000) holding
//     the 4-byte row pointer of its data, which lies on another page in a
//     slot flagged 0x8000 so scans skip it (overflowTestV2000 pages 27, 28);
//     index entries keep naming the lookup row;
//   - the definition's row count and last counter value (offsets 0x10 and
//     0x14: three rows numbered 1..3 store 3, V2000_no-password and
//     indexTestV2000) follow every change.
#include <algorithm>
#include <cstring>
#include <optional>
#include <random>

#include "binary.h"
#include "data_page.h"
#include "index/index_builder.h"
#include "index/index_writer.h"
#include "jet/database.h"
#include "jet/error.h"
#include "jet/table.h"
#include "page_allocator.h"
#include "pager.h"
#include "row_encoder.h"
#include "row_layout.h"
#include "table_def.h"
#include "table_impl.h"
#include "usage_map.h"

namespace jet {

Table::Impl::Impl(PageSource& p, const TableDef& def) : pages(p), decoder(p, def) {}
Table::Impl::~Impl() = default;

namespace {

constexpr std::size_t kTdefOffRowCount = 0x10;
constexpr std::size_t kTdefOffAutoNumber = 0x14;
// Rows are never shorter than a forwarding pointer, so any row can become
// a lookup row in place.
constexpr std::size_t kMinRowSize = 4;

class AllocatorSink final : public LongValueSink {
 public:
  explicit AllocatorSink(PageAllocator& a) : a_(a) {}
  uint32_t add_long_value_row(std::span<const uint8_t> bytes) override { return a_.add_long_value_row(bytes); }

 private:
  PageAllocator& a_;
};

Guid random_guid() {
  static std::random_device rd;
  static std::mt19937_64 gen(rd());
  Guid g;
  for (int i = 0; i < 16; i += 8) {
    uint64_t r = gen();
    std::memcpy(g.bytes.data() + i, &r, 8);
  }
  g.bytes[7] = uint8_t((g.bytes[7] & 0x0F) | 0x40);  // version 4 (stored little-endian)
  g.bytes[8] = uint8_t((g.bytes[8] & 0x3F) | 0x80);
  return g;
}

}  // namespace

// Everything one write statement needs.
struct Table::Writer {
  Table& t;
  Pager& pager;
  PageAllocator& alloc;
  PagerIndexStore store;
  std::string what;

  explicit Writer(Table& table)
      : t(table), pager(table.db_.pager()), alloc(allocator_for(table)), store(pager), what("table '" + table.def_.name + "'") {}

  static PageAllocator& allocator_for(Table& table) {
    if (!table.impl_->allocator) table.impl_->allocator = std::make_unique<PageAllocator>(table.db_.pager());
    return *table.impl_->allocator;
  }

  std::string where() const { return pager.file_name() + ": table '" + t.def_.name + "'"; }

  // Distinct real indexes: (logical index position) for each real index.
  std::vector<std::size_t> real_indexes() const {
    std::vector<std::size_t> out;
    std::vector<uint32_t> seen;
    for (std::size_t i = 0; i < t.def_.indexes.size(); ++i) {
      uint32_t r = t.def_.indexes[i].real_index;
      if (std::find(seen.begin(), seen.end(), r) != seen.end()) continue;
      seen.push_back(r);
      out.push_back(i);
    }
    return out;
  }

  std::vector<Value> key_values(std::size_t ix, const Row& row) const {
    std::vector<Value> vals;
    for (const IndexColumnDef& ic : t.def_.indexes[ix].columns) {
      for (std::size_t c = 0; c < t.def_.columns.size(); ++c) {
        if (t.def_.columns[c].number == ic.column_number) {
          vals.push_back(row[c]);
          break;
        }
      }
    }
    return vals;
  }

  index::IndexWriter writer(std::size_t ix) { return index::IndexWriter(pager, store, alloc, t.impl_->layouts[ix]); }

  uint32_t tdef_word(std::size_t off) { return le32(pager.page(t.def_.tdef_page) + off); }
  void set_tdef_word(std::size_t off, uint32_t v) { put_le32(pager.page_for_write(t.def_.tdef_page) + off, v); }

  // The row count, also kept in each real index's count entry (offset
  // 0x3F + 12 i + 4: indexTestV2000 holds 3 there for 3 rows).
  void set_row_count(uint32_t n) {
    uint8_t* p = pager.page_for_write(t.def_.tdef_page);
    put_le32(p + kTdefOffRowCount, n);
    uint32_t reals = le32(p + 0x33);
    for (uint32_t i = 0; i < reals && 0x3F + 12 * i + 8 <= kPageSize; ++i) put_le32(p + 0x3F + 12 * i + 4, n);
  }

  bool is_our_data_page(uint32_t pg) {
    if (pg < 2 || pg >= pager.page_count()) return false;
    const uint8_t* p = pager.page(pg);
    return p[0] == kPageTypeData && le32(p + kDataOffTdefPage) == t.def_.tdef_page;
  }

  // A data page of this table with room for `size` bytes (and a slot),
  // other than `not_page`: the page that took the last row, else the last
  // page the usage map lists, else a page the free-space map lists, else a
  // new page. Pages found too full for the row leave the free-space map.
  uint32_t page_with_room(std::size_t size, uint32_t not_page = 0) {
    uint32_t& cur = t.impl_->insert_page;
    if (cur == 0) {
      std::vector<uint32_t> owned = read_usage_map(pager, t.def_.usage_map, "table '" + t.def_.name + "'");
      for (auto it = owned.rbegin(); it != owned.rend(); ++it) {
        if (is_our_data_page(*it)) {
          cur = *it;
          break;
        }
      }
    }
    if (cur != 0 && cur != not_page && is_our_data_page(cur) && data_page::fits(pager.page(cur), size)) return cur;
    if (cur != 0 && is_our_data_page(cur) && cur != not_page) {
      // Full for rows like this one: no longer a page with free space.
      alloc.map_remove(t.def_.free_space_map, cur, "free space of " + what);
    }
    for (uint32_t p : read_usage_map(pager, t.def_.free_space_map, "free space of " + what)) {
      if (p == not_page || p == cur) continue;
      if (is_our_data_page(p) && data_page::fits(pager.page(p), size)) {
        cur = p;
        return p;
      }
      alloc.map_remove(t.def_.free_space_map, p, "free space of " + what);
    }
    uint32_t p = alloc.new_page();
    data_page::init(pager.page_for_write(p), t.def_.tdef_page);
    alloc.map_add(t.def_.usage_map, p, what);
    alloc.map_add(t.def_.free_space_map, p, "free space of " + what);
    cur = p;
    t.impl_->owned_loaded = false;
    return p;
  }

  // After a row of data page `pg` was deleted: a page left without live
  // rows leaves the table and becomes free for any use; a page that still
  // holds rows is listed as having free space again.
  void row_gone_from(uint32_t pg) {
    const uint8_t* p = pager.page(pg);
    const uint16_t n = data_page::row_count(p);
    for (uint16_t r = 0; r < n; ++r) {
      if ((data_page::row_flags(p, uint8_t(r)) & (kRowDeleted | kRowLookup)) != (kRowDeleted | kRowLookup)) {
        alloc.map_add(t.def_.free_space_map, pg, "free space of " + what);
        return;
      }
    }
    alloc.map_remove(t.def_.usage_map, pg, what);
    alloc.map_remove(t.def_.free_space_map, pg, "free space of " + what);
    std::memset(pager.page_for_write(pg), 0, kPageSize);
    alloc.free_page(pg);
    if (t.impl_->insert_page == pg) t.impl_->insert_page = 0;
    t.impl_->owned_loaded = false;
  }

  // Raw bytes of the data of the row whose header slot is `id`, and where
  // they lie (the header itself or the moved row it points to).
  struct Located {
    uint32_t page;
    uint8_t row;
    bool moved;
    std::vector<uint8_t> bytes;
  };
  Located locate(RowId id) {
    t.check_row_page(id.page);
    const uint8_t* p = pager.page(id.page);
    if (id.row >= data_page::row_count(p) || (data_page::row_flags(p, id.row) & kRowDeleted)) {
      throw Error(ErrorCategory::kNotFound, where() + ": row " + std::to_string(id.row) + " of page " +
                                                std::to_string(id.page) + " does not exist or is deleted");
    }
    Located l{id.page, id.row, false, {}};
    if (data_page::row_flags(p, id.row) & kRowLookup) {
      auto b = data_page::row_bytes(p, id.row);
      if (b.size() < 4) throw Error(ErrorCategory::kCorruption, where() + ": moved row without a pointer");
      uint32_t ptr = le32(b.data());
      l.page = row_pointer_page(ptr);
      l.row = row_pointer_row(ptr);
      l.moved = true;
      t.check_row_page(l.page);
      p = pager.page(l.page);
      if (l.row >= data_page::row_count(p)) throw Error(ErrorCategory::kCorruption, where() + ": moved row is missing");
    }
    auto b = data_page::row_bytes(p, l.row);
    l.bytes.assign(b.begin(), b.end());
    return l;
  }

  // Counters and GUIDs of a new row: a Null counter gets the next value
  // after `last_auto`, a given one raises `last_auto` past it; a Null
  // auto-GUID gets a new GUID.
  void fill_automatic(Row& r, uint32_t& last_auto, bool& auto_changed) {
    for (std::size_t i = 0; i < t.def_.columns.size(); ++i) {
      const ColumnDef& c = t.def_.columns[i];
      if (c.auto_number && c.type == ColumnType::kLong) {
        if (is_null(r[i])) {
          if (last_auto >= 0x7FFFFFFFu) {
            throw Error(ErrorCategory::kConstraint, where() + ": the counter column '" + c.name + "' has run out of values");
          }
          r[i] = int32_t(++last_auto);
          auto_changed = true;
        } else if (int32_t v = std::get<int32_t>(r[i]); v > 0 && uint32_t(v) > last_auto) {
          last_auto = uint32_t(v);
          auto_changed = true;
        }
      } else if (c.auto_guid && c.type == ColumnType::kGuid && is_null(r[i])) {
        r[i] = random_guid();
      }
    }
  }

  // Long-value fields of a stored row.
  void free_long_values(const std::vector<uint8_t>& bytes) {
    RowShape shape(t.def_);
    std::vector<FieldSpan> spans;
    if (!split_row(bytes.data(), bytes.size(), shape, spans).empty()) return;
    for (std::size_t i = 0; i < shape.columns.size(); ++i) {
      ColumnType ty = shape.columns[i].type;
      if ((ty != ColumnType::kMemo && ty != ColumnType::kOle) || spans[i].is_null) continue;
      alloc.delete_long_value(std::span<const uint8_t>(bytes.data() + spans[i].offset, spans[i].length));
    }
  }
};

uint32_t Table::row_count() {
  ReadOperation reading(db_.pager());
  return le32(impl_->pages.page(def_.tdef_page) + kTdefOffRowCount);
}

RowId Table::insert(const Row& row, Row* stored) {
  WriteScope scope(db_.pager());
  Writer w(*this);
  Row r = normalize_row(def_, row);

  uint32_t last_auto = w.tdef_word(kTdefOffAutoNumber);
  bool auto_changed = false;
  w.fill_automatic(r, last_auto, auto_changed);

  // Every index check before anything is written.
  auto reals = w.real_indexes();
  std::vector<std::vector<uint8_t>> keys(reals.size());
  std::vector<std::unique_ptr<index::IndexWriter>> writers;
  writers.reserve(reals.size());
  for (std::size_t k = 0; k < reals.size(); ++k) {
    auto vals = w.key_values(reals[k], r);
    writers.push_back(std::make_unique<index::IndexWriter>(w.pager, w.store, w.alloc, impl_->layouts[reals[k]]));
    keys[k] = writers[k]->key_for(vals);
    writers[k]->check_insert(vals, keys[k]);
  }

  AllocatorSink sink(w.alloc);
  std::vector<uint8_t> bytes;
  encode_row(def_, r, sink, bytes, kMinRowSize);
  uint32_t pg = w.page_with_room(bytes.size());
  uint8_t slot = data_page::add_row(db_.pager().page_for_write(pg), bytes);
  RowId id{pg, slot};

  for (std::size_t k = 0; k < reals.size(); ++k) {
    if (!writers[k]->skips(keys[k])) writers[k]->insert(keys[k], index::RowPointer{pg, slot});
  }
  w.set_row_count(w.tdef_word(kTdefOffRowCount) + 1);
  if (auto_changed) w.set_tdef_word(kTdefOffAutoNumber, last_auto);
  scope.commit();
  def_.row_count = row_count();
  def_.next_auto_number = le32(impl_->pages.page(def_.tdef_page) + kTdefOffAutoNumber);
  impl_->owned_loaded = false;
  if (stored) *stored = std::move(r);
  return id;
}

std::size_t Table::insert_rows(const std::function<bool(Row&)>& next_row) {
  WriteScope scope(db_.pager());
  Writer w(*this);
  const auto reals = w.real_indexes();
  bool empty = true;
  for (std::size_t k : reals) empty = empty && index::index_is_empty(w.pager, impl_->layouts[k]);
  std::size_t added = 0;
  Row row;
  if (!empty) {
    while (next_row(row)) {
      insert(row);
      ++added;
    }
    scope.commit();
    return added;
  }

  // Rows are written without index upkeep; each index's entries are
  // gathered and the index built whole at the end.
  std::vector<std::unique_ptr<index::IndexWriter>> writers;
  std::vector<index::IndexBuilder> builders;
  builders.reserve(reals.size());
  for (std::size_t k : reals) {
    writers.push_back(std::make_unique<index::IndexWriter>(w.pager, w.store, w.alloc, impl_->layouts[k]));
    builders.emplace_back(impl_->layouts[k]);
  }
  uint32_t last_auto = w.tdef_word(kTdefOffAutoNumber);
  bool auto_changed = false;
  uint32_t count = w.tdef_word(kTdefOffRowCount);
  AllocatorSink sink(w.alloc);
  std::vector<uint8_t> bytes;
  std::vector<std::vector<uint8_t>> keys(reals.size());
  std::vector<bool> any_null(reals.size());
  while (next_row(row)) {
    Row r = normalize_row(def_, row);
    w.fill_automatic(r, last_auto, auto_changed);
    for (std::size_t k = 0; k < reals.size(); ++k) {
      auto vals = w.key_values(reals[k], r);
      keys[k] = writers[k]->key_for(vals);
      any_null[k] = writers[k]->check_nulls(vals);
    }
    encode_row(def_, r, sink, bytes, kMinRowSize);
    const uint32_t pg = w.page_with_room(bytes.size());
    const uint8_t slot = data_page::add_row(w.pager.page_for_write(pg), bytes);
    for (std::size_t k = 0; k < reals.size(); ++k) {
      if (!writers[k]->skips(keys[k])) builders[k].add(keys[k], index::RowPointer{pg, slot}, !any_null[k]);
    }
    ++count;
    ++added;
  }
  for (auto& b : builders) b.build(w.pager, w.store, w.alloc);
  w.set_row_count(count);
  if (auto_changed) w.set_tdef_word(kTdefOffAutoNumber, last_auto);
  scope.commit();
  def_.row_count = row_count();
  def_.next_auto_number = le32(impl_->pages.page(def_.tdef_page) + kTdefOffAutoNumber);
  impl_->owned_loaded = false;
  return added;
}

void Table::update(RowId id, const Row& row) {
  WriteScope scope(db_.pager());
  Writer w(*this);
  Row r = normalize_row(def_, row);
  Row old;
  read_row(id, old);
  for (std::size_t i = 0; i < def_.columns.size(); ++i) {
    const ColumnDef& c = def_.columns[i];
    if (!(c.auto_number || c.auto_guid)) continue;
    if (is_null(r[i])) {
      r[i] = old[i];
    } else if (r[i] != old[i]) {
      throw Error(ErrorCategory::kConstraint, w.where() + ": the value of the " +
                                                  (c.auto_number ? "counter" : "auto-GUID") + " column '" + c.name +
                                                  "' cannot be changed");
    }
  }

  auto reals = w.real_indexes();
  std::vector<std::vector<uint8_t>> old_keys(reals.size()), new_keys(reals.size());
  const index::RowPointer self{id.page, id.row};
  for (std::size_t k = 0; k < reals.size(); ++k) {
    auto iw = w.writer(reals[k]);
    auto nv = w.key_values(reals[k], r);
    old_keys[k] = iw.key_for(w.key_values(reals[k], old));
    new_keys[k] = iw.key_for(nv);
    if (new_keys[k] != old_keys[k]) iw.check_insert(nv, new_keys[k], self);
  }

  Writer::Located loc = w.locate(id);
  w.free_long_values(loc.bytes);
  AllocatorSink sink(w.alloc);
  std::vector<uint8_t> bytes;
  encode_row(def_, r, sink, bytes, kMinRowSize);
  Pager& pager = db_.pager();

  auto grows_by = [&](std::size_t old_size) -> std::size_t {
    return bytes.size() > old_size ? bytes.size() - old_size : 0;
  };
  if (!loc.moved) {
    if (grows_by(loc.bytes.size()) <= data_page::gap(pager.page(id.page))) {
      data_page::replace_row(pager.page_for_write(id.page), id.row, bytes, 0);
    } else {
      uint32_t pg = w.page_with_room(bytes.size(), id.page);
      uint8_t slot = data_page::add_row(pager.page_for_write(pg), bytes, kRowDeleted);
      uint8_t ptr[4];
      put_le32(ptr, (pg << 8) | slot);
      data_page::replace_row(pager.page_for_write(id.page), id.row, ptr, kRowLookup);
    }
  } else if (grows_by(loc.bytes.size()) <= data_page::gap(pager.page(loc.page))) {
    data_page::replace_row(pager.page_for_write(loc.page), loc.row, bytes, kRowDeleted);
  } else {
    data_page::replace_row(pager.page_for_write(loc.page), loc.row, {}, kRowDeleted | kRowLookup);
    if (loc.page != id.page) w.row_gone_from(loc.page);
    auto header = data_page::row_bytes(pager.page(id.page), id.row);
    if (grows_by(header.size()) <= data_page::gap(pager.page(id.page))) {
      data_page::replace_row(pager.page_for_write(id.page), id.row, bytes, 0);
    } else {
      uint32_t pg = w.page_with_room(bytes.size(), id.page);
      uint8_t slot = data_page::add_row(pager.page_for_write(pg), bytes, kRowDeleted);
      uint8_t ptr[4];
      put_le32(ptr, (pg << 8) | slot);
      data_page::replace_row(pager.page_for_write(id.page), id.row, ptr, kRowLookup);
    }
  }

  for (std::size_t k = 0; k < reals.size(); ++k) {
    if (new_keys[k] == old_keys[k]) continue;
    auto iw = w.writer(reals[k]);
    if (!iw.skips(old_keys[k])) iw.remove(old_keys[k], self);
    if (!iw.skips(new_keys[k])) iw.insert(new_keys[k], self);
  }
  scope.commit();
  impl_->owned_loaded = false;
}

void Table::remove(RowId id) {
  WriteScope scope(db_.pager());
  Writer w(*this);
  Row old;
  read_row(id, old);
  Writer::Located loc = w.locate(id);
  auto reals = w.real_indexes();
  const index::RowPointer self{id.page, id.row};
  for (std::size_t k = 0; k < reals.size(); ++k) {
    auto iw = w.writer(reals[k]);
    auto key = iw.key_for(w.key_values(reals[k], old));
    if (!iw.skips(key)) iw.remove(key, self);
  }
  w.free_long_values(loc.bytes);
  Pager& pager = db_.pager();
  if (loc.moved) data_page::replace_row(pager.page_for_write(loc.page), loc.row, {}, kRowDeleted | kRowLookup);
  data_page::replace_row(pager.page_for_write(id.page), id.row, {}, kRowDeleted | kRowLookup);
  if (loc.moved && loc.page != id.page) w.row_gone_from(loc.page);
  w.row_gone_from(id.page);
  uint32_t count = w.tdef_word(kTdefOffRowCount);
  if (count > 0) w.set_row_count(count - 1);
  scope.commit();
  def_.row_count = row_count();
  impl_->owned_loaded = false;
}

uint32_t Table::remove_all() {
  Pager& pager = db_.pager();
  WriteScope scope(pager);
  Writer w(*this);
  // Long values first: they are found through the rows.
  bool has_long_values = false;
  for (const ColumnDef& c : def_.columns) {
    has_long_values = has_long_values || c.type == ColumnType::kMemo || c.type == ColumnType::kOle;
  }
  if (has_long_values) {
    std::vector<RowId> ids;
    for (RowCursor c = scan(); c.next();) ids.push_back(c.id());
    for (RowId id : ids) w.free_long_values(w.locate(id).bytes);
  }
  // The data pages become free pages of the file; their live rows (not
  // deleted, not the moved data behind a lookup row) are counted.
  uint32_t removed = 0;
  for (uint32_t p : read_usage_map(pager, def_.usage_map, w.what)) {
    if (!w.is_our_data_page(p)) continue;
    const uint8_t* page = pager.page(p);
    for (uint16_t r = 0, n = data_page::row_count(page); r < n; ++r) {
      if (!(data_page::row_flags(page, uint8_t(r)) & kRowDeleted)) ++removed;
    }
    std::memset(pager.page_for_write(p), 0, kPageSize);
    w.alloc.free_page(p);
  }
  w.alloc.map_clear(def_.usage_map, w.what);
  w.alloc.map_clear(def_.free_space_map, "free space of " + w.what);
  // Each index keeps its root, now an empty leaf; its other pages are freed.
  for (std::size_t k : w.real_indexes()) {
    const index::IndexLayout& layout = impl_->layouts[k];
    const std::string what = "index '" + layout.name + "' of " + w.what;
    const uint32_t root = layout.first_page;
    if (root < 3 || root >= pager.page_count()) {
      throw Error(ErrorCategory::kCorruption, w.where() + ": index '" + layout.name + "' has its root on page " +
                                                  std::to_string(root) + ", outside the file");
    }
    for (uint32_t p : read_usage_map(pager, layout.usage_map, what)) {
      if (p == root || p < 3 || p >= pager.page_count()) continue;
      const uint8_t* pg = pager.page(p);
      if ((pg[0] != index::kLeafPageType && pg[0] != index::kIntermediatePageType) ||
          le32(pg + 4) != def_.tdef_page) {
        continue;
      }
      std::memset(pager.page_for_write(p), 0, kPageSize);
      w.alloc.free_page(p);
    }
    index::IndexPage leaf;
    leaf.number = root;
    leaf.leaf = true;
    leaf.tdef_page = def_.tdef_page;
    leaf.byte_1a = pager.page(root)[index::kIndexPrefixLengthOffset + 2];
    index::encode_index_page(leaf, pager.page_for_write(root));
    w.alloc.map_clear(layout.usage_map, what);
    w.alloc.map_add(layout.usage_map, root, what);
  }
  w.set_row_count(0);
  scope.commit();
  def_.row_count = 0;
  impl_->insert_page = 0;
  impl_->owned_loaded = false;
  return removed;
}

void Table::free_storage() {
  Pager& pager = db_.pager();
  WriteScope scope(pager);
  Writer w(*this);
  // Long values first: they are found through the rows.
  std::vector<RowId> ids;
  for (RowCursor c = scan(); c.next();) ids.push_back(c.id());
  for (RowId id : ids) w.free_long_values(w.locate(id).bytes);
  // The pages its maps name that hold its rows or its index nodes (Access's
  // maps may name other pages too), the reference maps' own pages, then the
  // definition's pages.
  std::vector<uint32_t> pages;
  auto ours = [&](uint32_t p) {
    const uint8_t* pg = pager.page(p);
    const bool node = pg[0] == kPageTypeData || pg[0] == 0x03 || pg[0] == 0x04;
    return node && le32(pg + 4) == def_.tdef_page;
  };
  auto add_map = [&](uint32_t map_row, const std::string& what) {
    for (uint32_t p : read_usage_map(pager, map_row, what))
      if (ours(p)) pages.push_back(p);
    const uint8_t* mp = pager.page(row_pointer_page(map_row));
    auto row = data_page::row_bytes(mp, row_pointer_row(map_row));
    if (!row.empty() && row[0] == kMapTypeReference) {
      for (std::size_t i = 0; 1 + 4 * i + 4 <= row.size(); ++i) {
        const uint32_t ref = le32(row.data() + 1 + 4 * i);
        if (names_map_page(ref) && ref < pager.page_count()) pages.push_back(ref);
      }
    }
  };
  add_map(def_.usage_map, w.what);
  add_map(def_.free_space_map, "free space of " + w.what);
  std::vector<uint32_t> seen_real;
  std::vector<uint32_t> map_rows{def_.usage_map, def_.free_space_map};
  for (const IndexDef& ix : def_.indexes) {
    if (std::find(seen_real.begin(), seen_real.end(), ix.real_index) != seen_real.end()) continue;
    seen_real.push_back(ix.real_index);
    add_map(ix.usage_map, "index '" + ix.name + "' of " + w.what);
    if (ix.first_page < pager.page_count() && ours(ix.first_page)) pages.push_back(ix.first_page);
    map_rows.push_back(ix.usage_map);
  }
  for (uint32_t p = def_.tdef_page, hops = 0; p != 0 && p < pager.page_count() && hops < 64; ++hops) {
    const uint8_t* tp = pager.page(p);
    if (tp[0] != kPageTypeTdef) break;
    pages.push_back(p);
    p = le32(tp + 4);
  }
  std::sort(pages.begin(), pages.end());
  pages.erase(std::unique(pages.begin(), pages.end()), pages.end());
  // The map rows go too: their slots stay, deleted, as Access leaves
  // deleted rows (other rows on those pages keep their numbers).
  std::sort(map_rows.begin(), map_rows.end());
  map_rows.erase(std::unique(map_rows.begin(), map_rows.end()), map_rows.end());
  for (uint32_t r : map_rows) {
    const uint32_t mp = row_pointer_page(r);
    if (std::binary_search(pages.begin(), pages.end(), mp)) continue;
    data_page::replace_row(pager.page_for_write(mp), row_pointer_row(r), {}, kRowDeleted | kRowLookup);
  }
  for (uint32_t p : pages) {
    if (p < 3) continue;  // page map, catalog: never a table's
    std::memset(pager.page_for_write(p), 0, kPageSize);
    w.alloc.free_page(p);
  }
  scope.commit();
  impl_->owned_loaded = false;
  impl_->insert_page = 0;
}

}  // namespace jet
