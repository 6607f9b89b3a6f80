// Damaged and foreign input: every case must end in a jet::Error that names
// the file and the problem, never a crash or a hang.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "binary.h"
#include "data_page.h"
#include "jet/database.h"
#include "jet/error.h"
#include "page_source.h"
#include "test_util.h"
#include "testing/fault_env.h"
#include "testing/read_everything.h"

namespace jet {
namespace {

const char kName[] = "damaged.mdb";

// Opens `bytes` and reads everything; returns the error text, or "" when
// the file read without error.
std::string read_error(const std::vector<uint8_t>& bytes, ErrorCategory* category = nullptr) {
  try {
    testing::read_everything_from_bytes(bytes.data(), bytes.size(), kName);
  } catch (const Error& e) {
    if (category) *category = e.category();
    EXPECT_NE(std::string(e.what()).find(kName), std::string::npos) << "error does not name the file: " << e.what();
    return e.what();
  }
  return {};
}

std::vector<uint8_t> fixture_bytes(const char* name) { return test::read_file(test::fixture(name)); }

uint8_t* page_at(std::vector<uint8_t>& b, uint32_t pg) { return b.data() + std::size_t(pg) * kPageSize; }

TEST(BadInputTest, ZeroLengthFile) {
  ErrorCategory cat{};
  std::string e = read_error({}, &cat);
  EXPECT_EQ(cat, ErrorCategory::kCorruption);
  EXPECT_NE(e.find("0 bytes long"), std::string::npos) << e;
}

TEST(BadInputTest, TextFile) {
  std::string text;
  while (text.size() < 3 * kPageSize) text += "Product Code,Description,Qty\n000148,Item 4,98.25\n";
  std::string e = read_error(std::vector<uint8_t>(text.begin(), text.end()));
  EXPECT_NE(e.find("not a Jet database"), std::string::npos) << e;
}

TEST(BadInputTest, Jet3AndAceFilesAreRefusedAsUnsupported) {
  for (uint8_t version : {0, 2, 3}) {
    auto b = fixture_bytes("empty2000.mdb");
    b[0x14] = version;
    ErrorCategory cat{};
    std::string e = read_error(b, &cat);
    EXPECT_EQ(cat, ErrorCategory::kUnsupported) << e;
  }
}

TEST(BadInputTest, TruncatedFiles) {
  const auto full = fixture_bytes("testV2000.mdb");
  for (std::size_t size : {std::size_t(100), kPageSize, 2 * kPageSize, 2 * kPageSize + 1000, 5 * kPageSize,
                           full.size() / 2, full.size() - kPageSize, full.size() - 1}) {
    SCOPED_TRACE(size);
    std::vector<uint8_t> cut(full.begin(), full.begin() + size);
    std::string e = read_error(cut);
    EXPECT_FALSE(e.empty()) << "a file cut to " << size << " bytes read without error";
  }
}

TEST(BadInputTest, LoopInTableDefinitionChain) {
  auto b = fixture_bytes("test2V2000.mdb");  // MSP_PROJECTS spans two definition pages
  // Find a definition page that continues, and point its successor back at it.
  bool made = false;
  for (uint32_t pg = 3; pg < b.size() / kPageSize && !made; ++pg) {
    uint8_t* p = page_at(b, pg);
    uint32_t next = le32(p + 4);
    if (p[0] == kPageTypeTdef && next != 0 && next < b.size() / kPageSize) {
      put_le32(page_at(b, next) + 4, pg);
      made = true;
    }
  }
  ASSERT_TRUE(made);
  std::string e = read_error(b);
  EXPECT_NE(e.find("loops"), std::string::npos) << e;
}

TEST(BadInputTest, LoopInLongValueChain) {
  auto b = fixture_bytes("testV2000.mdb");  // OLE values spread over many pages
  const uint32_t pages = b.size() / kPageSize;
  // Every long-value row that looks like a link of a chain (it starts with a
  // pointer to another long-value page) is made to point to itself; rows of
  // single-row values that merely look so stay readable data.
  bool made = false;
  for (uint32_t pg = 1; pg < pages; ++pg) {
    uint8_t* p = page_at(b, pg);
    if (p[0] != kPageTypeData || std::memcmp(p + 4, "LVAL", 4) != 0) continue;
    uint16_t n = le16(p + kDataOffRowCount);
    for (uint16_t r = 0; r < n; ++r) {
      if (le16(p + kDataOffRowTable + 2 * r) & (kRowDeleted | kRowLookup)) continue;
      uint16_t start = le16(p + kDataOffRowTable + 2 * r) & kRowOffsetMask;
      uint32_t next = le32(p + start);
      uint32_t npg = next >> 8;
      if (npg == 0 || npg >= pages) continue;
      uint8_t* q = page_at(b, npg);
      if (q[0] != kPageTypeData || std::memcmp(q + 4, "LVAL", 4) != 0) continue;
      put_le32(p + start, (pg << 8) | r);
      made = true;
    }
  }
  ASSERT_TRUE(made) << "no chained long value found";
  std::string e = read_error(b);
  EXPECT_NE(e.find("loops"), std::string::npos) << e;
}

TEST(BadInputTest, OutOfRangePagePointers) {
  auto db_bytes = fixture_bytes("V2000_no-password.mdb");
  testing::FaultEnv env;
  env.put_file(kName, db_bytes);
  auto db = Database::open(kName, OpenOptions{.password = "", .env = &env});
  const uint32_t tdef = db->table("Table1").def().tdef_page;

  // The table's usage map points past the end of the file.
  auto b = db_bytes;
  put_le32(page_at(b, tdef) + 0x37, 0x7FFFFF00);
  std::string e = read_error(b);
  EXPECT_NE(e.find("outside the file"), std::string::npos) << e;

  // A catalog entry names a definition page past the end.
  Table& t = db->table("Table1");
  Row row;
  for (RowId bad : {RowId{0x7FFFFF, 0}, RowId{0, 0}, RowId{tdef, 0}}) {
    try {
      t.read_row(bad, row);
      ADD_FAILURE() << "read_row accepted page " << bad.page;
    } catch (const Error& err) {
      EXPECT_NE(std::string(err.what()).find(kName), std::string::npos) << err.what();
    }
  }
  // A row number beyond the page's row count.
  RowId first;
  for (auto c = t.scan(); c.next();) {
    first = c.id();
    break;
  }
  try {
    t.read_row(RowId{first.page, 250}, row);
    ADD_FAILURE() << "read_row accepted row 250";
  } catch (const Error& err) {
    EXPECT_NE(std::string(err.what()).find("does not exist"), std::string::npos) << err.what();
  }
}

TEST(BadInputTest, OutOfRangeRowOffsets) {
  auto b = fixture_bytes("V2000_no-password.mdb");
  testing::FaultEnv env;
  env.put_file(kName, b);
  auto db = Database::open(kName, OpenOptions{.password = "", .env = &env});
  RowId first;
  for (auto c = db->table("Table1").scan(); c.next();) {
    first = c.id();
    break;
  }
  put_le16(page_at(b, first.page) + kDataOffRowTable + 2 * first.row, 0x0003);  // inside the header
  std::string e = read_error(b);
  EXPECT_NE(e.find("impossible bounds"), std::string::npos) << e;
  put_le16(page_at(b, first.page) + kDataOffRowCount, 5000);  // more slots than fit
  e = read_error(b);
  EXPECT_NE(e.find("more than fit a page"), std::string::npos) << e;
}

// Pages of random bytes, and random byte changes, anywhere after the
// header: reading must finish with or without an error, never crash.
TEST(BadInputTest, RandomPagesAndBytes) {
  std::mt19937 rng(20261207);
  for (const char* name : {"testV2000.mdb", "indexTestV2000.mdb", "products_small.mdb", "delColTestV2000.mdb"}) {
    const auto original = fixture_bytes(name);
    const uint32_t pages = original.size() / kPageSize;
    for (int round = 0; round < 40; ++round) {
      auto b = original;
      if (round % 2 == 0) {
        uint32_t pg = 1 + rng() % (pages - 1);
        for (std::size_t i = 0; i < kPageSize; ++i) page_at(b, pg)[i] = static_cast<uint8_t>(rng());
      } else {
        for (int k = 0; k < 64; ++k) b[kPageSize + rng() % (b.size() - kPageSize)] = static_cast<uint8_t>(rng());
      }
      try {
        testing::read_everything_from_bytes(b.data(), b.size(), kName, test::fixture_password(name));
      } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find(kName), std::string::npos) << e.what();
      }
    }
  }
}

}  // namespace
}  // namespace jet
