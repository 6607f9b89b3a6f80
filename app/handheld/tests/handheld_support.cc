#include "app/handheld/tests/handheld_support.h"

#include <cstdlib>
#include <filesystem>

#include "app/handheld/converter_runner.h"
#include "app/handheld/pdb_convert.h"
#include "app/handheld/templates.h"

namespace tallimo::testing {

namespace fs = std::filesystem;
using handheld::PdbColumnKind;
using handheld::PdbValue;

handheld::PdbTable handheld_table(const std::string& table, const std::vector<HandheldRow>& rows) {
  handheld::PdbTable t;
  t.name = table;
  t.columns = {{"ITEMNUMBER", PdbColumnKind::kText}, {"DESC", PdbColumnKind::kText},
               {"QTY", PdbColumnKind::kNumber},      {"COST", PdbColumnKind::kNumber},
               {"LIST", PdbColumnKind::kNumber},     {"PRICE", PdbColumnKind::kNumber},
               {"LOCATION", PdbColumnKind::kText},   {"VENDOR", PdbColumnKind::kText}};
  bool item_list = table == "ITEMLIST";
  if (item_list) t.columns.push_back({"Edit", PdbColumnKind::kYesNo});
  for (const HandheldRow& r : rows) {
    std::vector<PdbValue> row = {r.item, r.desc, r.qty, r.cost, r.list, r.price, r.location, r.vendor};
    if (item_list) row.push_back(r.edit);
    t.rows.push_back(row);
  }
  return t;
}

void HandheldShopTest::SetUp() {
  ShopTest::SetUp();
  device_ = dir_ + "/device";
  fs::create_directories(device_tables());
  // The converter is found on the PATH, as beside the program.
  static bool path_set = false;
  if (!path_set) {
    std::string path = fs::path(VFCONVERTPDB).parent_path().string() + ":" + std::getenv("PATH");
    ::setenv("PATH", path.c_str(), 1);
    path_set = true;
  }
  ::unsetenv("TALLIMO_CONVERTER_SECONDS");
}

void HandheldShopTest::put_device_table(const std::string& file_name, const std::string& table,
                                        const std::vector<HandheldRow>& rows) {
  handheld::write_pdb_file(device_tables() + "/" + file_name, handheld_table(table, rows));
}

handheld::PdbTable HandheldShopTest::device_table(const std::string& table) const {
  std::string path = handheld::find_without_case(device_tables(), "EQTL70100_" + table + ".PDB");
  if (path.empty()) {
    ADD_FAILURE() << "no device table " << table;
    return {};
  }
  return handheld::read_pdb_file(path);
}

std::vector<std::string> HandheldShopTest::items(const handheld::PdbTable& table) const {
  std::vector<std::string> out;
  for (const auto& row : table.rows) {
    const auto* s = std::get_if<std::string>(&row[0]);
    out.push_back(s ? *s : "(null)");
  }
  return out;
}

std::vector<ExportRow> HandheldShopTest::template_rows(const std::string& template_file) const {
  return mdb_export(handheld::support_folder(*session_) + template_file, "VFTable");
}

void HandheldShopTest::standard_device() {
  put_device_table("EQTL70100_ADDNEW.PDB", "ADDNEW", {{"N9", 3, "New thing", false, 1.5, 4, 3.25, "Aisle 9", "V9"}});
  put_device_table("EQTL70100_ITEMLIST.PDB", "ITEMLIST",
                   {{"A1", 10, "Apples renamed", true, 0.5, 1, 0.9, "Front", "VA"},
                    {"B2", 5, "Bananas", false, 0.2, 0.6, 0.5, "Back", "VB"}});
  put_device_table("eqtl70100_addto.pdb", "ADDTO", {{"A1", 2}, {"B2", 1}});
  put_device_table("EQTL70100_SUBTRACT.PDB", "SUBTRACT", {{"B2", 1}});
  put_device_table("EQTL70100_REPLACE.PDB", "REPLACE", {});
  put_device_table("EQTL70100_COMPARE.PDB", "COMPARE", {{"C3", 7}});
}

}  // namespace tallimo::testing
