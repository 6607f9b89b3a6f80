#include "jet/table.h"

#include <algorithm>
#include <cstring>

#include "data_page.h"
#include "jet/database.h"
#include "jet/error.h"
#include "row_decoder.h"
#include "table_def.h"
#include "table_impl.h"
#include "usage_map.h"

#include "index/index_reader.h"

namespace jet {

Table::Table(Database& db, TableDef def) : db_(db), def_(std::move(def)) {
  impl_ = std::make_unique<Impl>(db_.pages(), def_);
  impl_->layouts.reserve(def_.indexes.size());
  for (const IndexDef& ix : def_.indexes) impl_->layouts.push_back(make_index_layout(def_, ix));
}

Table::~Table() = default;

void Table::decode_at(uint32_t page_number, const uint8_t* page, uint32_t row, Row& out) {
  RowSlot slot = data_page_row(page, row, impl_->pages, page_number, /*need_bounds=*/true);
  const uint8_t* bytes = page + slot.start;
  std::size_t size = slot.end - slot.start;
  if (impl_->decoder.needs_copy()) {
    std::memcpy(impl_->copy, bytes, size);
    bytes = impl_->copy;
  }
  impl_->decoder.decode(bytes, size, out, page_number, row);
}

RowCursor Table::scan() {
  if (!impl_->owned_loaded) {
    impl_->owned_pages = read_usage_map(impl_->pages, def_.usage_map, "table '" + def_.name + "'");
    impl_->owned_loaded = true;
  }
  return RowCursor(*this);
}

std::vector<Row> Table::read_all() {
  std::vector<Row> rows;
  // The recorded count is a hint only: a damaged definition may claim billions.
  rows.reserve(std::min<std::size_t>(def_.row_count, std::size_t(impl_->pages.page_count()) * 16));
  for (RowCursor c = scan(); c.next();) rows.push_back(c.row());
  return rows;
}

void Table::read_row(RowId id, Row& out) {
  PageSource& pages = impl_->pages;
  uint32_t pg = id.page;
  uint32_t row = id.row;
  check_row_page(pg);
  const uint8_t* page = pages.page(pg);
  RowSlot slot = data_page_row(page, row, pages, pg);
  if (slot.deleted) {
    throw Error(ErrorCategory::kNotFound, pages.file_name() + ": table '" + def_.name + "': row " +
                                              std::to_string(row) + " of page " + std::to_string(pg) + " is deleted");
  }
  if (slot.lookup) {
    follow_lookup(pg, row, out);
  } else {
    decode_at(pg, page, row, out);
  }
}

void Table::check_row_page(uint32_t pg) {
  PageSource& pages = impl_->pages;
  if (pg == 0 || pg >= pages.page_count()) {
    throw Error(ErrorCategory::kCorruption, pages.file_name() + ": table '" + def_.name + "': row pointer to page " +
                                                std::to_string(pg) + " lies outside the file (" +
                                                std::to_string(pages.page_count()) + " pages)");
  }
  const uint8_t* page = pages.page(pg);
  if (page[0] != kPageTypeData || le32(page + kDataOffTdefPage) != def_.tdef_page) {
    throw Error(ErrorCategory::kNotFound, pages.file_name() + ": table '" + def_.name + "': page " +
                                              std::to_string(pg) + " holds no rows of this table");
  }
}

void Table::follow_lookup(uint32_t pg, uint32_t row, Row& out) {
  PageSource& pages = impl_->pages;
  const uint32_t first_page = pg, first_row = row;
  for (int hop = 0;; ++hop) {
    if (hop > kMaxLookupHops) {
      throw Error(ErrorCategory::kCorruption, pages.file_name() + ": table '" + def_.name + "': row " +
                                                  std::to_string(first_row) + " of page " +
                                                  std::to_string(first_page) + " leads through a loop of moved rows");
    }
    const uint8_t* page = pages.page(pg);
    RowSlot slot = data_page_row(page, row, pages, pg, /*need_bounds=*/true);
    if (hop > 0 && !slot.lookup) {
      decode_at(pg, page, row, out);
      return;
    }
    if (slot.end - slot.start < 4) {
      throw Error(ErrorCategory::kCorruption, pages.file_name() + ": table '" + def_.name + "': moved row " +
                                                  std::to_string(row) + " of page " + std::to_string(pg) +
                                                  " has no forwarding pointer");
    }
    uint32_t ptr = le32(page + slot.start);
    pg = row_pointer_page(ptr);
    row = row_pointer_row(ptr);
    check_row_page(pg);
  }
}

namespace {
const index::IndexLayout& layout_for(const TableDef& def, const std::vector<index::IndexLayout>& layouts,
                                     std::string_view name, const std::string& file) {
  int i = def.find_index(name);
  if (i < 0) {
    throw Error(ErrorCategory::kNotFound,
                file + ": table '" + def.name + "' has no index named '" + std::string(name) + "'");
  }
  return layouts[i];
}
std::vector<RowId> to_row_ids(const std::vector<index::RowPointer>& ptrs) {
  std::vector<RowId> ids;
  ids.reserve(ptrs.size());
  for (const auto& p : ptrs) ids.push_back(RowId{p.page, p.row});
  return ids;
}
}  // namespace

std::vector<RowId> Table::scan_index(std::string_view index_name) {
  const auto& layout = layout_for(def_, impl_->layouts, index_name, impl_->pages.file_name());
  index::IndexReader reader(impl_->pages, layout);
  return to_row_ids(reader.scan());
}

std::vector<RowId> Table::seek(std::string_view index_name, std::span<const Value> key) {
  const auto& layout = layout_for(def_, impl_->layouts, index_name, impl_->pages.file_name());
  index::IndexReader reader(impl_->pages, layout);
  return to_row_ids(reader.find(key));
}

RowCursor::RowCursor(Table& table) : table_(&table), pages_(table.impl_->owned_pages) {}
RowCursor::RowCursor(RowCursor&&) noexcept = default;
RowCursor& RowCursor::operator=(RowCursor&&) noexcept = default;
RowCursor::~RowCursor() = default;

std::vector<RowId> Table::row_ids() {
  PageSource& pages = impl_->pages;
  std::vector<RowId> ids;
  const RowCursor cursor = scan();  // the pages a scan would visit
  for (uint32_t pg : cursor.pages_) {
    const uint8_t* page = pages.page(pg);
    if (page[0] != kPageTypeData || le32(page + kDataOffTdefPage) != def_.tdef_page) continue;
    const uint32_t slots = data_page_row_count(page, pages, pg);
    for (uint32_t r = 0; r < slots; ++r) {
      // A moved row is named by its lookup slot; its data slot is flagged
      // deleted, so each row is listed once, as the cursor sees it.
      if (data_page_row(page, r, pages, pg).deleted) continue;
      ids.push_back(RowId{pg, static_cast<uint8_t>(r)});
    }
  }
  return ids;
}

bool RowCursor::next() {
  PageSource& pages = table_->impl_->pages;
  for (;;) {
    if (page_index_ >= pages_.size()) return false;
    const uint32_t pg = pages_[page_index_];
    const uint8_t* page = pages.page(pg);
    if (!page_loaded_) {
      // A table's map also covers pages it gave back or that hold other
      // structures; only data pages naming this table hold its rows.
      if (page[0] != kPageTypeData || le32(page + kDataOffTdefPage) != table_->def_.tdef_page) {
        ++page_index_;
        continue;
      }
      slots_on_page_ = data_page_row_count(page, pages, pg);
      slot_ = 0;
      page_loaded_ = true;
    }
    if (slot_ >= slots_on_page_) {
      page_loaded_ = false;
      ++page_index_;
      continue;
    }
    const uint32_t r = slot_++;
    RowSlot slot = data_page_row(page, r, pages, pg);
    if (slot.deleted) continue;
    id_ = RowId{pg, static_cast<uint8_t>(r)};
    if (slot.lookup) {
      // The row's data moved to another page; its slot there is flagged
      // deleted so that it is seen only from here.
      table_->follow_lookup(pg, r, row_);
      return true;
    }
    table_->decode_at(pg, page, r, row_);
    return true;
  }
}

}  // namespace jet
