// Pager, usage maps and row layout over hand-built pages.
#include <gtest/gtest.h>

#include <cstring>

#include "binary.h"
#include "data_page.h"
#include "jet/error.h"
#include "pager.h"
#include "rc4.h"
#include "row_decoder.h"
#include "row_layout.h"
#include "testing/fault_env.h"
#include "usage_map.h"

namespace jet {
namespace {

// Pages held in memory, for modules that read through a PageSource.
class MemPages final : public PageSource {
 public:
  explicit MemPages(std::size_t n) : bytes_(n * kPageSize, 0) {}
  uint8_t* at(uint32_t pg) { return bytes_.data() + std::size_t(pg) * kPageSize; }
  const uint8_t* page(uint32_t pg) override {
    if (pg >= page_count()) throw Error(ErrorCategory::kCorruption, name_ + ": page out of range");
    return at(pg);
  }
  uint32_t page_count() const override { return static_cast<uint32_t>(bytes_.size() / kPageSize); }
  const std::string& file_name() const override { return name_; }

  // Makes `pg` a data page holding `rows` (row 0 at the page end).
  void data_page(uint32_t pg, uint32_t tdef, const std::vector<std::vector<uint8_t>>& rows) {
    uint8_t* p = at(pg);
    std::memset(p, 0, kPageSize);
    p[0] = kPageTypeData;
    p[1] = 1;
    put_le32(p + kDataOffTdefPage, tdef);
    put_le16(p + kDataOffRowCount, static_cast<uint16_t>(rows.size()));
    std::size_t end = kPageSize;
    for (std::size_t i = 0; i < rows.size(); ++i) {
      end -= rows[i].size();
      std::memcpy(p + end, rows[i].data(), rows[i].size());
      put_le16(p + kDataOffRowTable + 2 * i, static_cast<uint16_t>(end));
    }
  }

 private:
  std::vector<uint8_t> bytes_;
  std::string name_ = "mem.mdb";
};

std::vector<uint8_t> numbered_pages(uint32_t n) {
  std::vector<uint8_t> b(n * kPageSize);
  for (uint32_t pg = 0; pg < n; ++pg) std::memset(b.data() + pg * kPageSize, static_cast<int>(pg & 0xFF), kPageSize);
  return b;
}

TEST(PagerTest, EvictionKeepsContentsRightAndRecentPagesValid) {
  testing::FaultEnv env;
  env.put_file("p.mdb", numbered_pages(100));
  Pager pager(env.open_file("p.mdb", OpenMode::kReadOnly), 16);
  EXPECT_EQ(pager.page_count(), 100u);
  for (int round = 0; round < 3; ++round) {
    for (uint32_t pg = 0; pg < 100; pg += 3) EXPECT_EQ(pager.page(pg)[kPageSize - 1], pg);
  }
  // Fewer distinct pages than the cache holds: all pointers stay valid.
  std::vector<const uint8_t*> held;
  for (uint32_t pg = 40; pg < 50; ++pg) held.push_back(pager.page(pg));
  for (uint32_t pg = 40; pg < 50; ++pg) EXPECT_EQ(held[pg - 40][123], pg);
  // Cached pages are not read again.
  int reads = env.op_count(testing::FaultOp::kRead);
  for (uint32_t pg = 40; pg < 50; ++pg) pager.page(pg);
  EXPECT_EQ(env.op_count(testing::FaultOp::kRead), reads);
}

TEST(PagerTest, PagesPastTheEndAndCutPages) {
  testing::FaultEnv env;
  auto b = numbered_pages(5);
  b.resize(b.size() + 100);  // a partial sixth page
  env.put_file("p.mdb", b);
  Pager pager(env.open_file("p.mdb", OpenMode::kReadOnly), 16);
  EXPECT_EQ(pager.page_count(), 5u);
  try {
    pager.page(5);
    ADD_FAILURE();
  } catch (const Error& e) {
    EXPECT_EQ(e.category(), ErrorCategory::kCorruption);
    EXPECT_NE(std::string(e.what()).find("p.mdb: page 5 is beyond the end"), std::string::npos) << e.what();
  }
  EXPECT_EQ(pager.page(4)[0], 4);  // a failed read leaves the cache usable
}

TEST(PagerTest, EncodedPagesAreDecryptedExceptPageZero) {
  auto b = numbered_pages(4);
  for (uint32_t pg = 1; pg < 4; ++pg) rc4_apply(0xA5A5F00Du ^ pg, b.data() + pg * kPageSize, kPageSize);
  testing::FaultEnv env;
  env.put_file("e.mdb", b);
  Pager pager(env.open_file("e.mdb", OpenMode::kReadOnly), 16);
  pager.set_encoding_key(0xA5A5F00Du);
  for (uint32_t pg = 0; pg < 4; ++pg) EXPECT_EQ(pager.page(pg)[77], pg);
}

TEST(UsageMapTest, InlineAndReferenceMaps) {
  MemPages pages(40000 / 8);  // enough pages for a second map page
  // Row 0: inline map from page 8, bits for 8, 10 and 31.
  std::vector<uint8_t> inline_map = {0x00, 8, 0, 0, 0, 0b00000101, 0x00, 0b10000000};
  // Row 1: reference map naming two 0x05 pages (the second covers pages
  // from 32736 on) with a zero slot between them.
  std::vector<uint8_t> ref_map = {0x01, 3, 0, 0, 0, 0, 0, 0, 0, 4, 0, 0, 0};
  pages.data_page(1, 0, {inline_map, ref_map});
  pages.at(3)[0] = kPageTypeUsageMap;
  pages.at(3)[4] = 0b00000110;  // pages 1, 2
  pages.at(4)[0] = kPageTypeUsageMap;
  pages.at(4)[4 + 1] = 0b00000001;  // map slot 2: page 2 * 32736 + 8, past the end: ignored
  EXPECT_EQ(read_usage_map(pages, (1u << 8) | 0, "t"), (std::vector<uint32_t>{8, 10, 31}));
  EXPECT_EQ(read_usage_map(pages, (1u << 8) | 1, "t"), (std::vector<uint32_t>{1, 2}));

  pages.at(3)[0] = kPageTypeData;  // a reference to a page that is not a map
  EXPECT_THROW(read_usage_map(pages, (1u << 8) | 1, "t"), Error);
  pages.data_page(2, 0, {{0x07, 0, 0, 0, 0}});
  try {
    read_usage_map(pages, (2u << 8) | 0, "table 'X'");
    ADD_FAILURE();
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("usage map of table 'X': unknown map type 7"), std::string::npos) << e.what();
  }
}

ColumnDef column(const char* name, ColumnType type, uint16_t number, bool fixed, uint16_t offset, uint16_t length) {
  ColumnDef c;
  c.name = name;
  c.type = type;
  c.number = number;
  c.fixed_length = fixed;
  c.length = length;
  if (fixed) c.fixed_offset = offset;
  else c.variable_index = offset;
  return c;
}

// A row as Jet 4 stores it: column count, fixed area, variable data,
// offset table (reversed), variable count, null mask.
std::vector<uint8_t> make_row(uint16_t stored_columns, std::vector<uint8_t> fixed,
                              const std::vector<std::string>& vars, std::vector<uint8_t> mask) {
  std::vector<uint8_t> row = {static_cast<uint8_t>(stored_columns), static_cast<uint8_t>(stored_columns >> 8)};
  row.insert(row.end(), fixed.begin(), fixed.end());
  std::vector<uint16_t> starts;
  for (const auto& v : vars) {
    starts.push_back(static_cast<uint16_t>(row.size()));
    row.insert(row.end(), v.begin(), v.end());
  }
  uint16_t eod = static_cast<uint16_t>(row.size());
  std::vector<uint8_t> table;
  table.push_back(eod & 0xFF);
  table.push_back(eod >> 8);
  for (auto it = starts.rbegin(); it != starts.rend(); ++it) {
    table.push_back(*it & 0xFF);
    table.push_back(*it >> 8);
  }
  row.insert(row.end(), table.begin(), table.end());
  row.push_back(static_cast<uint8_t>(vars.size()));
  row.push_back(0);
  row.insert(row.end(), mask.begin(), mask.end());
  return row;
}

TEST(RowLayoutTest, DeletedAndAddedColumnsAndBooleans) {
  // Column 1 (a long at fixed offset 4) was deleted; column 4 was added
  // after the row was written; column 3 is a boolean.
  TableDef def;
  def.name = "T";
  def.variable_columns = 1;
  def.columns = {column("id", ColumnType::kLong, 0, true, 0, 4), column("name", ColumnType::kText, 2, false, 0, 100),
                 column("flag", ColumnType::kBoolean, 3, true, 0, 0),
                 column("price", ColumnType::kCurrency, 5, true, 8, 8),
                 column("added", ColumnType::kLong, 6, true, 16, 4)};
  std::vector<uint8_t> fixed = {7, 0, 0, 0, 0xEE, 0xEE, 0xEE, 0xEE, 0x10, 0x27, 0, 0, 0, 0, 0, 0};
  // Six columns stored; bits: 0 id, 2 name, 3 flag (true), 5 price.
  auto row = make_row(6, fixed, {std::string("h\0i\0", 4)}, {0b00101101});
  MemPages pages(1);
  RowDecoder decoder(pages, def);
  Row out;
  decoder.decode(row.data(), row.size(), out, 9, 0);
  ASSERT_EQ(out.size(), 5u);
  EXPECT_EQ(std::get<int32_t>(out[0]), 7);
  EXPECT_EQ(std::get<std::string>(out[1]), "hi");
  EXPECT_EQ(std::get<bool>(out[2]), true);
  EXPECT_EQ(std::get<Currency>(out[3]).ten_thousandths, 10000);
  EXPECT_TRUE(is_null(out[4]));

  // Same row with the name and price Null and the flag false.
  row = make_row(6, fixed, {}, {0b00000001});
  decoder.decode(row.data(), row.size(), out, 9, 0);
  EXPECT_TRUE(is_null(out[1]));
  EXPECT_EQ(std::get<bool>(out[2]), false);
  EXPECT_TRUE(is_null(out[3]));
}

TEST(RowLayoutTest, DamagedRowsAreRefusedWithTheirPlace) {
  TableDef def;
  def.name = "T";
  def.variable_columns = 1;
  def.columns = {column("id", ColumnType::kLong, 0, true, 0, 4), column("name", ColumnType::kText, 1, false, 0, 100)};
  MemPages pages(1);
  RowDecoder decoder(pages, def);
  Row out;
  auto good = make_row(2, {1, 0, 0, 0}, {"ab"}, {0b11});
  decoder.decode(good.data(), good.size(), out, 9, 4);
  EXPECT_EQ(std::get<std::string>(out[1]), "\xE6\x89\xA1");  // "ab" read as one UCS-2 character

  auto expect_error = [&](std::vector<uint8_t> row, const char* text) {
    try {
      decoder.decode(row.data(), row.size(), out, 9, 4);
      ADD_FAILURE() << "accepted: " << text;
    } catch (const Error& e) {
      EXPECT_EQ(e.category(), ErrorCategory::kCorruption);
      EXPECT_NE(std::string(e.what()).find("mem.mdb: table 'T', page 9 row 4: "), std::string::npos) << e.what();
      EXPECT_NE(std::string(e.what()).find(text), std::string::npos) << e.what();
    }
  };
  expect_error({2}, "shorter than its column count");
  auto bad = good;
  bad[bad.size() - 3] = 40;  // 40 variable columns claimed
  expect_error(bad, "variable-column table runs past");
  bad = good;
  bad[10] = 0xF0;  // low byte of the variable column's start: now beyond its end
  expect_error(bad, "impossible offsets");
  bad = make_row(2, {1, 0}, {}, {0b01});  // fixed long cut to 2 bytes
  expect_error(bad, "fixed column 0 runs past");
}

}  // namespace
}  // namespace jet
