#include "row_decoder.h"

#include "binary.h"
#include "jet/error.h"
#include "long_value.h"
#include "text_codec.h"

namespace jet {
namespace {

template <class T>
T& reuse(Value& v) {
  if (auto* p = std::get_if<T>(&v)) return *p;
  return v.emplace<T>();
}

}  // namespace

RowDecoder::RowDecoder(PageSource& pages, const TableDef& def) : pages_(pages), def_(def), shape_(def) {
  for (const ColumnDef& c : def.columns) {
    if (c.type == ColumnType::kMemo || c.type == ColumnType::kOle) has_long_values_ = true;
  }
}

std::string RowDecoder::where(uint32_t page, uint32_t slot) const {
  return pages_.file_name() + ": table '" + def_.name + "', page " + std::to_string(page) + " row " +
         std::to_string(slot);
}

void RowDecoder::fail(const std::string& what, uint32_t page, uint32_t slot) const {
  throw Error(ErrorCategory::kCorruption, where(page, slot) + ": " + what);
}

void RowDecoder::decode(const uint8_t* row, std::size_t size, Row& out, uint32_t page, uint32_t slot) {
  std::string problem = split_row(row, size, shape_, spans_);
  if (!problem.empty()) fail(problem, page, slot);
  out.resize(shape_.columns.size());
  for (std::size_t i = 0; i < shape_.columns.size(); ++i) {
    const ColumnShape& c = shape_.columns[i];
    const FieldSpan& f = spans_[i];
    Value& v = out[i];
    if (c.type == ColumnType::kBoolean) {
      v = f.flag;
      continue;
    }
    if (f.is_null) {
      v = std::monostate{};
      continue;
    }
    const uint8_t* p = row + f.offset;
    if (f.length < fixed_column_size(c.type)) {
      fail("column '" + def_.columns[i].name + "' holds " + std::to_string(f.length) + " bytes, too few for its type",
           page, slot);
    }
    switch (c.type) {
      case ColumnType::kByte: v = p[0]; break;
      case ColumnType::kInteger: v = static_cast<int16_t>(le16(p)); break;
      case ColumnType::kLong: v = static_cast<int32_t>(le32(p)); break;
      case ColumnType::kComplex: v = static_cast<int32_t>(le32(p)); break;
      case ColumnType::kCurrency: v = Currency{static_cast<int64_t>(le64(p))}; break;
      case ColumnType::kSingle: v = le_float(p); break;
      case ColumnType::kDouble: v = le_double(p); break;
      case ColumnType::kDateTime: v = DateTime{le_double(p)}; break;
      case ColumnType::kText: {
        std::string& s = reuse<std::string>(v);
        s.clear();
        append_jet_text(p, f.length, s);
        break;
      }
      case ColumnType::kGuid: {
        Guid& g = reuse<Guid>(v);
        std::copy(p, p + 16, g.bytes.begin());
        break;
      }
      case ColumnType::kNumeric: {
        Decimal& d = reuse<Decimal>(v);
        d.negative = p[0] != 0;
        d.precision = def_.columns[i].precision;
        d.scale = def_.columns[i].scale;
        if (le32(p + 1) != 0) fail("decimal in column '" + def_.columns[i].name + "' exceeds 28 digits", page, slot);
        d.magnitude = {le32(p + 13), le32(p + 9), le32(p + 5)};
        break;
      }
      case ColumnType::kMemo:
      case ColumnType::kOle: {
        struct Where final : ValueWhere {
          const RowDecoder* self;
          uint32_t page, slot;
          const std::string* column;
          std::string describe() const override { return self->where(page, slot) + ", column '" + *column + "'"; }
        } w;
        w.self = this;
        w.page = page;
        w.slot = slot;
        w.column = &def_.columns[i].name;
        read_long_value(pages_, p, f.length, long_value_, w);
        if (c.type == ColumnType::kMemo) {
          std::string& s = reuse<std::string>(v);
          s.clear();
          append_jet_text(long_value_.data(), long_value_.size(), s);
        } else {
          Bytes& b = reuse<Bytes>(v);
          b.data.assign(long_value_.begin(), long_value_.end());
        }
        break;
      }
      default: {  // binary and types this engine does not interpret
        Bytes& b = reuse<Bytes>(v);
        b.data.assign(p, p + f.length);
        break;
      }
    }
  }
}

}  // namespace jet
