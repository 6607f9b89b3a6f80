#include "app/handheld/pdb_convert.h"

#include <cstdio>
#include <filesystem>

#include "jet/dao.h"
#include "jet/database.h"
#include "jet/error.h"
#include "jet/table.h"
#include "jet/transaction.h"

namespace tallimo::handheld {

namespace fs = std::filesystem;

namespace {

bool same_without_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto fold = [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; };
    if (fold(a[i]) != fold(b[i])) return false;
  }
  return true;
}

std::string upper(std::string s) {
  for (char& c : s) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  }
  return s;
}

std::string folder_of(const std::string& path) {
  fs::path parent = fs::path(path).parent_path();
  return parent.empty() ? std::string(".") : parent.string();
}

PdbColumnKind kind_of(jet::ColumnType type) {
  switch (type) {
    case jet::ColumnType::kText:
    case jet::ColumnType::kMemo:
      return PdbColumnKind::kText;
    case jet::ColumnType::kBoolean:
      return PdbColumnKind::kYesNo;
    default:
      return PdbColumnKind::kNumber;
  }
}

PdbValue to_pdb(const jet::Value& v, const std::string& column) {
  return std::visit(
      [&](const auto& x) -> PdbValue {
        using T = std::decay_t<decltype(x)>;
        if constexpr (std::is_same_v<T, std::monostate>) return std::monostate{};
        else if constexpr (std::is_same_v<T, bool>) return x;
        else if constexpr (std::is_same_v<T, std::string>) return x;
        else if constexpr (std::is_same_v<T, jet::Currency>) return static_cast<double>(x.ten_thousandths) / 10000.0;
        else if constexpr (std::is_same_v<T, jet::DateTime>) return x.days;
        else if constexpr (std::is_arithmetic_v<T>) return static_cast<double>(x);
        else
          throw jet::Error(jet::ErrorCategory::kUnsupported,
                           "VFTable column " + column + " has a type a handheld table cannot hold");
      },
      v);
}

jet::Value to_jet(const PdbValue& v) {
  if (const auto* s = std::get_if<std::string>(&v)) return *s;
  if (const auto* d = std::get_if<double>(&v)) return *d;
  if (const auto* b = std::get_if<bool>(&v)) return *b;
  return jet::Value{};
}

}  // namespace

std::string handheld_file_name(const ConvertTarget& target) {
  if (target.creator.size() != 4) {
    throw jet::Error(jet::ErrorCategory::kInvalidArgument,
                     "creator ID \"" + target.creator + "\" is not four characters");
  }
  for (int v : {target.version_major, target.version_minor}) {
    if (v < 0 || v > 99) {
      throw jet::Error(jet::ErrorCategory::kInvalidArgument, "version " + std::to_string(v) + " is outside 0..99");
    }
  }
  char version[8];
  std::snprintf(version, sizeof version, "%02d%02d", target.version_major, target.version_minor);
  return "E" + target.creator + version + "_" + upper(fs::path(target.template_path).stem().string()) + ".PDB";
}

std::string find_without_case(const std::string& folder, const std::string& name) {
  std::error_code ec;
  fs::path exact = fs::path(folder) / name;
  if (fs::exists(exact, ec)) return exact.string();
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    if (same_without_case(it->path().filename().string(), name)) return it->path().string();
  }
  return {};
}

PdbTable template_as_pdb(const ConvertTarget& target) {
  jet::dao::OpenOptions options;
  options.read_only = true;
  auto db = jet::dao::Database::open(target.template_path, options);
  const jet::TableDef& def = db->engine().table("VFTable").def();
  PdbTable table;
  table.name = upper(fs::path(target.template_path).stem().string());
  table.creator = target.creator;
  table.version_major = static_cast<uint8_t>(target.version_major);
  table.version_minor = static_cast<uint8_t>(target.version_minor);
  table.created = table.modified = palm_time_now();
  for (const jet::ColumnDef& c : def.columns) table.columns.push_back({c.name, kind_of(c.type)});
  auto rows = db->open_recordset("SELECT * FROM VFTable");
  std::size_t count = rows->field_count();
  while (!rows->eof()) {
    std::vector<PdbValue> row;
    row.reserve(count);
    for (std::size_t i = 0; i < count; ++i) row.push_back(to_pdb(rows->field(i), rows->field_name(i)));
    table.rows.push_back(std::move(row));
    rows->move_next();
  }
  rows->close();
  db->close();
  return table;
}

void convert_template_to_pdb(const ConvertTarget& target) {
  std::string name = handheld_file_name(target);
  PdbTable table = template_as_pdb(target);
  std::string folder = folder_of(target.template_path);
  std::string path = (fs::path(folder) / name).string();
  write_pdb_file(path, table);
  // One file per table: a copy whose name differs only in case would be found first
  // by a reader that matches names without case.
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    std::string other = it->path().filename().string();
    if (other != name && same_without_case(other, name)) fs::remove(it->path(), ec);
  }
}

void convert_pdb_to_template(const ConvertTarget& target) {
  std::string name = handheld_file_name(target);
  std::string folder = folder_of(target.template_path);
  std::string path = find_without_case(folder, name);
  if (path.empty()) {
    throw jet::Error(jet::ErrorCategory::kNotFound, "no handheld table " + name + " in " + folder);
  }
  PdbTable table = read_pdb_file(path);
  if (table.creator != target.creator) {
    throw jet::Error(jet::ErrorCategory::kInvalidArgument, path + " belongs to creator " + table.creator +
                                                               ", not " + target.creator);
  }
  if (!fs::exists(target.template_path)) {
    throw jet::Error(jet::ErrorCategory::kNotFound, "the template " + target.template_path + " does not exist");
  }
  auto db = jet::dao::Database::open(target.template_path);
  const jet::TableDef& def = db->engine().table("VFTable").def();
  std::vector<std::pair<std::size_t, std::string>> used;  // file column -> VFTable column
  for (std::size_t i = 0; i < table.columns.size(); ++i) {
    int at = def.find_column(table.columns[i].name);
    if (at >= 0) used.emplace_back(i, def.columns[static_cast<std::size_t>(at)].name);
  }
  {
    jet::Transaction tx(db->engine());
    db->execute("DELETE * FROM VFTable");
    auto out = db->open_recordset("VFTable");
    for (const auto& row : table.rows) {
      out->add_new();
      for (const auto& [index, column] : used) {
        if (!std::holds_alternative<std::monostate>(row[index])) out->set_field(column, to_jet(row[index]));
      }
      out->update();
    }
    out->close();
    tx.commit();
  }
  db->close();
}

}  // namespace tallimo::handheld
