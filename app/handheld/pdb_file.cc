#include "app/handheld/pdb_file.h"

#include <unistd.h>

#include <bit>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

#include "jet/error.h"

namespace tallimo::handheld {

namespace {

constexpr char kColumnListMagic[4] = {'V', 'F', 'T', '1'};
// Seconds from 1904-01-01 (Palm) to 1970-01-01 (Unix).
constexpr int64_t kPalmEpochOffset = 2082844800;

[[noreturn]] void invalid(const std::string& what) {
  throw jet::Error(jet::ErrorCategory::kInvalidArgument, "cannot write the handheld table: " + what);
}

class Writer {
 public:
  void u8(uint8_t v) { bytes.push_back(v); }
  void u16(uint16_t v) {
    u8(static_cast<uint8_t>(v >> 8));
    u8(static_cast<uint8_t>(v));
  }
  void u32(uint32_t v) {
    u16(static_cast<uint16_t>(v >> 16));
    u16(static_cast<uint16_t>(v));
  }
  void text(const std::string& s) { bytes.insert(bytes.end(), s.begin(), s.end()); }
  void put_u32(std::size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
  }
  std::vector<uint8_t> bytes;
};

class Reader {
 public:
  Reader(const std::vector<uint8_t>& bytes, std::size_t begin, std::size_t end, std::string where)
      : bytes_(bytes), pos_(begin), end_(end), where_(std::move(where)) {}

  [[noreturn]] void fail(const std::string& what) const {
    throw jet::Error(jet::ErrorCategory::kCorruption, where_ + ": " + what);
  }
  void need(std::size_t n, const char* what) const {
    if (end_ - pos_ < n) fail(std::string("ends inside ") + what);
  }
  uint8_t u8(const char* what) {
    need(1, what);
    return bytes_[pos_++];
  }
  uint16_t u16(const char* what) {
    need(2, what);
    uint16_t v = static_cast<uint16_t>(bytes_[pos_] << 8 | bytes_[pos_ + 1]);
    pos_ += 2;
    return v;
  }
  uint32_t u32(const char* what) {
    need(4, what);
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v = v << 8 | bytes_[pos_ + i];
    pos_ += 4;
    return v;
  }
  std::string take(std::size_t n, const char* what) {
    need(n, what);
    std::string s(bytes_.begin() + static_cast<std::ptrdiff_t>(pos_),
                  bytes_.begin() + static_cast<std::ptrdiff_t>(pos_ + n));
    pos_ += n;
    return s;
  }
  std::string zstring(const char* what) {
    std::size_t start = pos_;
    while (pos_ < end_ && bytes_[pos_] != 0) ++pos_;
    if (pos_ == end_) fail(std::string(what) + " has no terminating zero");
    std::string s(bytes_.begin() + static_cast<std::ptrdiff_t>(start),
                  bytes_.begin() + static_cast<std::ptrdiff_t>(pos_));
    ++pos_;
    return s;
  }
  bool at_end() const { return pos_ == end_; }
  std::size_t remaining() const { return end_ - pos_; }

 private:
  const std::vector<uint8_t>& bytes_;
  std::size_t pos_, end_;
  std::string where_;
};

bool four_printable(const std::string& s) {
  if (s.size() != 4) return false;
  for (char c : s) {
    if (c < 0x20 || c > 0x7E) return false;
  }
  return true;
}

bool valid_utf8(const std::string& s) {
  std::size_t i = 0;
  while (i < s.size()) {
    auto c = static_cast<unsigned char>(s[i]);
    std::size_t extra = c < 0x80 ? 0 : (c >= 0xC2 && c < 0xE0) ? 1 : (c >= 0xE0 && c < 0xF0) ? 2 : (c >= 0xF0 && c < 0xF5) ? 3 : 9;
    if (extra == 9 || i + extra >= s.size() + (extra == 0)) return false;
    for (std::size_t k = 1; k <= extra; ++k) {
      if ((static_cast<unsigned char>(s[i + k]) >> 6) != 2) return false;
    }
    i += extra + 1;
  }
  return true;
}

std::vector<uint8_t> encode_column_list(const PdbTable& table) {
  Writer w;
  w.text(std::string(kColumnListMagic, 4));
  if (table.columns.empty() || table.columns.size() > 255) invalid("a table needs 1 to 255 columns");
  w.u16(static_cast<uint16_t>(table.columns.size()));
  for (const PdbColumn& c : table.columns) {
    if (c.name.empty() || c.name.find('\0') != std::string::npos || c.name.size() > 64) {
      invalid("column name \"" + c.name + "\" must have 1 to 64 characters and no zero byte");
    }
    if (c.kind != PdbColumnKind::kText && c.kind != PdbColumnKind::kNumber && c.kind != PdbColumnKind::kYesNo) {
      invalid("column " + c.name + " has an unknown kind");
    }
    w.u8(static_cast<uint8_t>(c.kind));
    w.text(c.name);
    w.u8(0);
  }
  return w.bytes;
}

void encode_field(Writer& w, const PdbColumn& column, const PdbValue& value, std::size_t row) {
  auto where = [&] { return "row " + std::to_string(row + 1) + ", column " + column.name; };
  if (std::holds_alternative<std::monostate>(value)) {
    w.u8(0);
    return;
  }
  switch (column.kind) {
    case PdbColumnKind::kText: {
      const auto* s = std::get_if<std::string>(&value);
      if (!s) invalid(where() + ": a text column takes text");
      if (s->size() > 0xFFFF) invalid(where() + ": text longer than 65535 bytes");
      w.u8(1);
      w.u16(static_cast<uint16_t>(s->size()));
      w.text(*s);
      return;
    }
    case PdbColumnKind::kNumber: {
      const auto* d = std::get_if<double>(&value);
      if (!d) invalid(where() + ": a number column takes a number");
      uint64_t bits = std::bit_cast<uint64_t>(*d);
      w.u8(2);
      w.u32(static_cast<uint32_t>(bits >> 32));
      w.u32(static_cast<uint32_t>(bits));
      return;
    }
    case PdbColumnKind::kYesNo: {
      const auto* b = std::get_if<bool>(&value);
      if (!b) invalid(where() + ": a yes/no column takes yes or no");
      w.u8(3);
      w.u8(*b ? 1 : 0);
      return;
    }
  }
}

PdbValue decode_field(Reader& r, const PdbColumn& column) {
  uint8_t tag = r.u8("a field tag");
  if (tag == 0) return std::monostate{};
  uint8_t expected = static_cast<uint8_t>(column.kind);
  if (tag != expected) {
    r.fail("column " + column.name + " holds a field of tag " + std::to_string(tag) + ", expected 0 or " +
           std::to_string(expected));
  }
  switch (column.kind) {
    case PdbColumnKind::kText: {
      uint16_t length = r.u16("a text length");
      std::string s = r.take(length, "a text");
      if (!valid_utf8(s)) r.fail("column " + column.name + " holds text that is not UTF-8");
      return s;
    }
    case PdbColumnKind::kNumber: {
      uint64_t high = r.u32("a number");
      uint64_t low = r.u32("a number");
      return std::bit_cast<double>(high << 32 | low);
    }
    case PdbColumnKind::kYesNo: {
      uint8_t b = r.u8("a yes/no value");
      if (b > 1) r.fail("column " + column.name + " holds yes/no value " + std::to_string(b));
      return b == 1;
    }
  }
  r.fail("unknown column kind");
}

}  // namespace

uint32_t palm_time_now() {
  auto unix_seconds =
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
  return static_cast<uint32_t>(unix_seconds + kPalmEpochOffset);
}

std::vector<uint8_t> encode_pdb(const PdbTable& table, std::size_t rows_per_record) {
  if (table.name.empty() || table.name.size() > 31 || table.name.find('\0') != std::string::npos) {
    invalid("database name \"" + table.name + "\" must have 1 to 31 characters");
  }
  if (!four_printable(table.creator)) invalid("creator \"" + table.creator + "\" is not four characters");
  if (!four_printable(table.type)) invalid("type \"" + table.type + "\" is not four characters");
  if (rows_per_record < 1 || rows_per_record > kPdbRowsPerRecord) invalid("1 to 256 rows per record");
  std::vector<uint8_t> column_list = encode_column_list(table);

  // The records first: rows grouped into blocks.
  std::vector<std::vector<uint8_t>> records;
  Writer record;
  uint16_t in_record = 0;
  auto close_record = [&]() {
    if (in_record == 0) return;
    record.bytes[0] = static_cast<uint8_t>(in_record >> 8);
    record.bytes[1] = static_cast<uint8_t>(in_record);
    records.push_back(std::move(record.bytes));
    record.bytes.clear();
    in_record = 0;
  };
  for (std::size_t i = 0; i < table.rows.size(); ++i) {
    const auto& row = table.rows[i];
    if (row.size() != table.columns.size()) {
      invalid("row " + std::to_string(i + 1) + " has " + std::to_string(row.size()) + " values for " +
              std::to_string(table.columns.size()) + " columns");
    }
    Writer encoded;
    for (std::size_t c = 0; c < row.size(); ++c) encode_field(encoded, table.columns[c], row[c], i);
    if (encoded.bytes.size() + 2 > kPdbRecordBytes) invalid("row " + std::to_string(i + 1) + " is over 60,000 bytes");
    if (in_record == rows_per_record || record.bytes.size() + encoded.bytes.size() > kPdbRecordBytes) close_record();
    if (in_record == 0) record.u16(0);  // row count, filled when the record closes
    record.bytes.insert(record.bytes.end(), encoded.bytes.begin(), encoded.bytes.end());
    ++in_record;
  }
  close_record();
  if (records.size() > kPdbMaxRecords) {
    invalid(std::to_string(records.size()) + " records, a Palm database holds at most 65535");
  }

  Writer w;
  std::string name = table.name;
  name.resize(32, '\0');
  w.text(name);
  w.u16(0);
  w.u16(static_cast<uint16_t>(table.version_major << 8 | table.version_minor));
  w.u32(table.created);
  w.u32(table.modified);
  w.u32(0);
  w.u32(0);
  std::size_t app_info_at = w.bytes.size();
  w.u32(0);  // application info offset, filled below
  w.u32(0);
  w.text(table.type);
  w.text(table.creator);
  w.u32(static_cast<uint32_t>(records.size() + 1));
  w.u32(0);
  w.u16(static_cast<uint16_t>(records.size()));
  std::size_t list_at = w.bytes.size();
  w.bytes.resize(w.bytes.size() + 8 * records.size() + 2, 0);
  w.put_u32(app_info_at, static_cast<uint32_t>(w.bytes.size()));
  w.bytes.insert(w.bytes.end(), column_list.begin(), column_list.end());
  for (std::size_t i = 0; i < records.size(); ++i) {
    if (w.bytes.size() > 0xFFFFFFFFu) invalid("the file would exceed 4 GB");
    std::size_t entry = list_at + 8 * i;
    w.put_u32(entry, static_cast<uint32_t>(w.bytes.size()));
    uint32_t unique_id = static_cast<uint32_t>(i + 1);
    w.bytes[entry + 5] = static_cast<uint8_t>(unique_id >> 16);
    w.bytes[entry + 6] = static_cast<uint8_t>(unique_id >> 8);
    w.bytes[entry + 7] = static_cast<uint8_t>(unique_id);
    w.bytes.insert(w.bytes.end(), records[i].begin(), records[i].end());
  }
  return std::move(w.bytes);
}

PdbTable decode_pdb(const std::vector<uint8_t>& bytes, const std::string& file) {
  Reader header(bytes, 0, bytes.size(), file);
  if (bytes.size() < kPdbHeaderSize) {
    header.fail("not a Palm database: " + std::to_string(bytes.size()) + " bytes, the header alone has 78");
  }
  PdbTable table;
  std::string raw_name = header.take(32, "the header");
  std::size_t zero = raw_name.find('\0');
  if (zero == std::string::npos || zero == 0) header.fail("the database name is empty or not terminated");
  table.name = raw_name.substr(0, zero);
  header.u16("the header");
  uint16_t version = header.u16("the header");
  table.version_major = static_cast<uint8_t>(version >> 8);
  table.version_minor = static_cast<uint8_t>(version);
  table.created = header.u32("the header");
  table.modified = header.u32("the header");
  header.u32("the header");
  header.u32("the header");
  uint32_t app_info = header.u32("the header");
  uint32_t sort_info = header.u32("the header");
  table.type = header.take(4, "the header");
  table.creator = header.take(4, "the header");
  header.u32("the header");
  header.u32("the header");
  uint16_t count = header.u16("the header");
  if (table.type != "DATA") header.fail("type \"" + table.type + "\" is not a data table (DATA)");
  if (!four_printable(table.creator)) header.fail("the creator is not four characters");
  if (sort_info != 0) header.fail("has a sort info block, which handheld tables never have");

  std::size_t list_end = kPdbHeaderSize + 8 * std::size_t{count};
  if (bytes.size() < list_end) {
    header.fail("the record list of " + std::to_string(count) + " records runs past the end of the file (" +
                std::to_string(bytes.size()) + " bytes)");
  }
  std::vector<std::size_t> offsets;
  offsets.reserve(count);
  Reader list(bytes, kPdbHeaderSize, list_end, file);
  for (uint16_t i = 0; i < count; ++i) {
    offsets.push_back(list.u32("the record list"));
    list.take(4, "the record list");
  }
  if (app_info == 0) header.fail("has no column list (application info block)");
  if (app_info < list_end || app_info >= bytes.size()) {
    header.fail("the column list's offset " + std::to_string(app_info) + " lies outside the data area");
  }
  std::size_t app_end = offsets.empty() ? bytes.size() : offsets.front();
  if (app_end <= app_info) header.fail("the first record starts before the column list ends");
  Reader columns(bytes, app_info, app_end, file + ", column list");
  if (columns.take(4, "the column list") != std::string(kColumnListMagic, 4)) {
    columns.fail("does not start with \"VFT1\": not a table of the forms application");
  }
  uint16_t column_count = columns.u16("the column list");
  if (column_count == 0) columns.fail("has no columns");
  for (uint16_t c = 0; c < column_count; ++c) {
    uint8_t kind = columns.u8("a column");
    if (kind < 1 || kind > 3) columns.fail("column " + std::to_string(c + 1) + " has unknown kind " + std::to_string(kind));
    std::string name = columns.zstring("a column name");
    if (name.empty()) columns.fail("column " + std::to_string(c + 1) + " has no name");
    table.columns.push_back({name, static_cast<PdbColumnKind>(kind)});
  }
  if (!columns.at_end()) columns.fail(std::to_string(columns.remaining()) + " stray bytes after the columns");

  // Every record starts after the column list, inside the file, and not before the
  // one listed ahead of it.
  for (std::size_t i = 0; i < offsets.size(); ++i) {
    std::size_t previous = i == 0 ? app_end : offsets[i - 1];
    if (offsets[i] < previous || offsets[i] > bytes.size()) {
      Reader(bytes, 0, 0, file + ", record " + std::to_string(i + 1))
          .fail("offset " + std::to_string(offsets[i]) + " is out of order or outside the file");
    }
  }
  for (std::size_t i = 0; i < offsets.size(); ++i) {
    std::size_t begin = offsets[i];
    std::size_t end = i + 1 < offsets.size() ? offsets[i + 1] : bytes.size();
    std::string where = file + ", record " + std::to_string(i + 1);
    Reader r(bytes, begin, end, where);
    uint16_t rows = r.u16("the row count");
    if (rows == 0) r.fail("holds no rows");
    for (uint16_t k = 0; k < rows; ++k) {
      std::vector<PdbValue> row;
      row.reserve(table.columns.size());
      for (const PdbColumn& column : table.columns) row.push_back(decode_field(r, column));
      table.rows.push_back(std::move(row));
    }
    if (!r.at_end()) r.fail(std::to_string(r.remaining()) + " stray bytes after the last field");
  }
  return table;
}

PdbTable read_pdb_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw jet::Error(jet::ErrorCategory::kNotFound, "cannot open handheld table " + path);
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) throw jet::Error(jet::ErrorCategory::kIo, "cannot read handheld table " + path);
  return decode_pdb(bytes, path);
}

void write_pdb_file(const std::string& path, const PdbTable& table) {
  std::vector<uint8_t> bytes = encode_pdb(table);
  std::string temp = path + ".part";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.flush();
    if (!out) {
      out.close();
      std::remove(temp.c_str());
      throw jet::Error(jet::ErrorCategory::kIo, "cannot write handheld table " + temp);
    }
  }
  if (std::rename(temp.c_str(), path.c_str()) != 0) {
    std::string why = std::strerror(errno);
    std::remove(temp.c_str());
    throw jet::Error(jet::ErrorCategory::kIo, "cannot replace handheld table " + path + ": " + why);
  }
}

}  // namespace tallimo::handheld
