// The handheld table format: what we write reads back, and damaged files are refused
// with an error that says where and why.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "app/handheld/pdb_file.h"
#include "jet/error.h"

namespace tallimo::handheld {
namespace {

PdbTable sample() {
  PdbTable t;
  t.name = "ITEMLIST";
  t.created = 3'900'000'000u;
  t.modified = 3'900'000'001u;
  t.columns = {{"ITEMNUMBER", PdbColumnKind::kText}, {"QTY", PdbColumnKind::kNumber}, {"Edit", PdbColumnKind::kYesNo}};
  t.rows = {{std::string("A1"), 2.5, true},
            {std::string("Crème brûlée \"x\""), -0.0001, false},
            {std::monostate{}, std::monostate{}, std::monostate{}},
            {std::string(""), 1e300, std::monostate{}}};
  return t;
}

std::string error_of(const std::vector<uint8_t>& bytes) {
  try {
    decode_pdb(bytes, "T.PDB");
  } catch (const jet::Error& e) {
    EXPECT_EQ(e.category(), jet::ErrorCategory::kCorruption) << e.what();
    return e.what();
  }
  return "accepted";
}

void put_u32(std::vector<uint8_t>& b, std::size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

TEST(PdbFile, RoundTripKeepsEveryValueAndTheHeader) {
  PdbTable t = sample();
  std::vector<uint8_t> bytes = encode_pdb(t, 1);  // one row per record
  // The public header: name, version 1.0, type and creator, record count, list entries.
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes.data())), "ITEMLIST");
  EXPECT_EQ(bytes[34], 1);
  EXPECT_EQ(bytes[35], 0);
  EXPECT_EQ(std::string(bytes.begin() + 60, bytes.begin() + 68), "DATAQTL7");
  EXPECT_EQ(bytes[76] << 8 | bytes[77], 4);
  EXPECT_EQ(bytes[78 + 8 * 3 + 7], 4) << "unique ID of the fourth record";

  PdbTable back = decode_pdb(bytes, "T.PDB");
  EXPECT_EQ(back.name, "ITEMLIST");
  EXPECT_EQ(back.creator, "QTL7");
  EXPECT_EQ(back.created, t.created);
  EXPECT_EQ(back.columns, t.columns);
  ASSERT_EQ(back.rows.size(), 4u);
  EXPECT_EQ(back.rows, t.rows);
  EXPECT_TRUE(std::signbit(std::get<double>(back.rows[1][1])));
  EXPECT_EQ(decode_pdb(encode_pdb(t), "T.PDB").rows, t.rows) << "all four rows in one record";
  EXPECT_EQ(encode_pdb(t)[77], 1);
}

// A product list longer than the 65535 records a Palm database can hold travels in
// blocks of rows.
TEST(PdbFile, LargeTablesTravelInBlocksOfRows) {
  PdbTable t = sample();
  t.rows.clear();
  for (int i = 0; i < 100000; ++i) t.rows.push_back({std::string("P") + std::to_string(i), i * 0.5, i % 2 == 0});
  std::vector<uint8_t> bytes = encode_pdb(t);
  EXPECT_EQ(bytes[76] << 8 | bytes[77], 391) << "256 rows per record";
  PdbTable back = decode_pdb(bytes, "T.PDB");
  ASSERT_EQ(back.rows.size(), 100000u);
  EXPECT_EQ(back.rows[99999], t.rows[99999]);
  // Long rows close a record before it passes 60,000 bytes.
  PdbTable wide = sample();
  wide.rows.assign(10, {std::string(20000, 'w'), 1.0, true});
  std::vector<uint8_t> wide_bytes = encode_pdb(wide);
  EXPECT_EQ(wide_bytes[77], 5) << "two rows of 20,000 bytes per record";
  EXPECT_EQ(decode_pdb(wide_bytes, "W.PDB").rows, wide.rows);
}

TEST(PdbFile, EmptyTableHasItsColumnsButNoRecords) {
  PdbTable t = sample();
  t.rows.clear();
  PdbTable back = decode_pdb(encode_pdb(t), "T.PDB");
  EXPECT_TRUE(back.rows.empty());
  EXPECT_EQ(back.columns.size(), 3u);
}

TEST(PdbFile, DamagedFilesAreRefusedWithTheirFault) {
  const std::vector<uint8_t> good = encode_pdb(sample(), 1);
  EXPECT_NE(error_of({good.begin(), good.begin() + 40}).find("the header alone has 78"), std::string::npos);

  auto b = good;
  b[77] = 200;  // more records than the list holds
  EXPECT_NE(error_of(b).find("runs past the end"), std::string::npos) << error_of(b);

  b = good;
  std::memcpy(&b[60], "TEXt", 4);
  EXPECT_NE(error_of(b).find("not a data table"), std::string::npos);

  b = good;
  put_u32(b, 52, 0);
  EXPECT_NE(error_of(b).find("no column list"), std::string::npos);

  b = good;
  put_u32(b, 78 + 8, static_cast<uint32_t>(b.size() + 10));  // second record beyond the end
  EXPECT_NE(error_of(b).find("record 2"), std::string::npos) << error_of(b);

  b = good;
  put_u32(b, 78 + 8, 10);  // a record inside the header
  EXPECT_NE(error_of(b).find("out of order"), std::string::npos) << error_of(b);

  // A field tag that does not fit its column, in the first record.
  b = good;
  std::size_t first = static_cast<std::size_t>(b[78] << 24 | b[79] << 16 | b[80] << 8 | b[81]);
  b[first + 2] = 2;  // after the record's row count
  EXPECT_NE(error_of(b).find("record 1: column ITEMNUMBER holds a field of tag 2"), std::string::npos) << error_of(b);

  // Text that is not UTF-8.
  b = good;
  b[first + 5] = 0xFF;
  EXPECT_NE(error_of(b).find("not UTF-8"), std::string::npos) << error_of(b);

  // A record that says it holds no rows, or more rows than its bytes.
  b = good;
  b[first + 1] = 0;
  EXPECT_NE(error_of(b).find("record 1: holds no rows"), std::string::npos) << error_of(b);
  b = good;
  b[first + 1] = 2;
  EXPECT_NE(error_of(b).find("record 1: ends inside"), std::string::npos) << error_of(b);

  // A record with bytes after its last field: the file is one byte longer.
  b = good;
  b.push_back(0);
  EXPECT_NE(error_of(b).find("record 4: 1 stray bytes"), std::string::npos) << error_of(b);

  // A yes/no value other than 0 or 1.
  b = good;
  EXPECT_EQ(error_of(b), "accepted");
  std::size_t third = static_cast<std::size_t>(b[94] << 24 | b[95] << 16 | b[96] << 8 | b[97]);
  b[third - 1] = 7;  // the second record's yes/no byte
  EXPECT_NE(error_of(b).find("yes/no value 7"), std::string::npos) << error_of(b);

  // A column list of another application.
  b = good;
  std::size_t app_info = static_cast<std::size_t>(b[52] << 24 | b[53] << 16 | b[54] << 8 | b[55]);
  b[app_info] = 'X';
  EXPECT_NE(error_of(b).find("VFT1"), std::string::npos);
}

TEST(PdbFile, TablesThatCannotBeWrittenAreRefused) {
  auto refused = [](PdbTable t) {
    try {
      encode_pdb(t);
    } catch (const jet::Error& e) {
      EXPECT_EQ(e.category(), jet::ErrorCategory::kInvalidArgument);
      return std::string(e.what());
    }
    return std::string("written");
  };
  PdbTable t = sample();
  t.name = std::string(32, 'N');
  EXPECT_NE(refused(t).find("1 to 31"), std::string::npos);
  t = sample();
  t.creator = "QTL";
  EXPECT_NE(refused(t).find("creator"), std::string::npos);
  t = sample();
  t.rows[0].pop_back();
  EXPECT_NE(refused(t).find("row 1 has 2 values for 3 columns"), std::string::npos);
  t = sample();
  t.rows[1][1] = std::string("two");
  EXPECT_NE(refused(t).find("row 2, column QTY"), std::string::npos);
  t = sample();
  t.rows[0][0] = std::string(70000, 'x');
  EXPECT_NE(refused(t).find("65535"), std::string::npos);
  t = sample();
  t.rows.assign(10, {std::string(60000, 'x'), 1.0, true});
  EXPECT_NE(refused(t).find("row 1 is over 60,000 bytes"), std::string::npos);
  t = sample();
  t.rows.assign(65536, t.rows[2]);
  try {
    encode_pdb(t, 1);
    ADD_FAILURE() << "65536 records written";
  } catch (const jet::Error& e) {
    EXPECT_NE(std::string(e.what()).find("at most 65535"), std::string::npos) << e.what();
  }
}

}  // namespace
}  // namespace tallimo::handheld
