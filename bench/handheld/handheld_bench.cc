// Handheld benchmark, two goals:
//   1. a full Windows Mobile synchronisation whose product list has 100,000 products
//      (fetch and import of six tables, posting, Build_Item_List, conversion of seven
//      templates to handheld files by the VFConvertPDB program, copies) under 5 s;
//   2. importing a 100,000-row template into Scanner_Data under 2 s.
// Peer measured in the same run: mdb-export reading the same PRODUCT1 once, and the
// same 100,000-row template once.
//
//   handheld_bench [PRODUCTS] [ROWS]
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "bench_clock.h"
#include "app/data/demo_shop.h"
#include "app/data/scanner_database.h"
#include "app/handheld/forms_control.h"
#include "app/handheld/handheld_runs.h"
#include "app/handheld/pdb_file.h"
#include "app/handheld/templates.h"
#include "jet/dao.h"
#include "jet/database.h"
#include "jet/transaction.h"
#include "app/session.h"
#include "app/user_interface.h"

namespace {

using bench::seconds_since;

namespace fs = std::filesystem;
using namespace tallimo;

double peer(const std::string& file, const std::string& table) {
  auto t0 = std::chrono::steady_clock::now();
  int rc = std::system(("mdb-export '" + file + "' " + table + " > /dev/null").c_str());
  return rc == 0 ? seconds_since(t0) : -1;
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  const int products = argc > 1 ? std::atoi(argv[1]) : 100000;
  const int rows = argc > 2 ? std::atoi(argv[2]) : 100000;
  if (products < 1 || rows < 1) {
    std::fprintf(stderr, "usage: handheld_bench [PRODUCTS] [ROWS]\n");
    return 2;
  }
  std::string path = std::string(VFCONVERTPDB_DIR) + ":" + (std::getenv("PATH") ? std::getenv("PATH") : "");
  ::setenv("PATH", path.c_str(), 1);
  char tmpl[] = "/tmp/tallimo-handheld-bench-XXXXXX";
  const std::string dir = ::mkdtemp(tmpl);
  const std::string products_path = dir + "/products.mdb";
  const std::string device = dir + "/device";
  const std::string tables = device + "/my documents/tallimo";
  fs::create_directories(tables);

  auto t0 = std::chrono::steady_clock::now();
  std::vector<demo::Product> catalogue = demo::generated_catalogue(products, 1);
  {
    auto db = demo::create_products_database(products_path);
    demo::add_products(*db, catalogue);
    db->close();
    demo::create_scanner_database(dir + "/" + kScannerDatabaseName)->close();
  }
  // The handheld: a few scans in each transaction table, the item list of the last sync.
  auto scans = [&](const char* name, int count) {
    handheld::PdbTable t;
    t.name = name;
    t.columns = {{"ITEMNUMBER", handheld::PdbColumnKind::kText}, {"QTY", handheld::PdbColumnKind::kNumber}};
    for (int i = 0; i < count; ++i) t.rows.push_back({catalogue[static_cast<std::size_t>(i * 7) % catalogue.size()].code, 1.0});
    handheld::write_pdb_file(tables + "/EQTL70100_" + name + ".PDB", t);
  };
  for (const char* name : {"ADDNEW", "ITEMLIST", "ADDTO", "SUBTRACT", "REPLACE", "COMPARE"}) scans(name, 0);
  scans("ADDTO", 100);
  scans("COMPARE", 100);
  std::printf("setup: %d products, device tables written in %.2f s\n", products, seconds_since(t0));

  ConsoleUserInterface ui(/*quiet=*/true);
  Session session(ui, dir);
  session.settings().Orvex_Location = products_path;
  if (!Open_Scanner_Data_File(session)) return 1;
  handheld::VexFormsControl control;
  control.set_device_folder(device);
  bool full = true;
  t0 = std::chrono::steady_clock::now();
  handheld::Synchronize_Windows_Mobile(session, full, &control);
  const double sync = seconds_since(t0);
  handheld::PdbTable list = handheld::read_pdb_file(tables + "/EQTL70100_ITEMLIST.PDB");
  if (static_cast<int>(list.rows.size()) < products) {
    std::fprintf(stderr, "the item list on the device has %zu rows, expected %d\n", list.rows.size(), products);
    return 1;
  }
  const std::string item_list = handheld::support_folder(session) + "ItemList.MDB";
  std::printf("full Windows Mobile synchronisation: %.3f s (item list of %zu products)\n", sync, list.rows.size());
  std::printf("goal: under 5 s: %s (%.2fx of the goal)\n", sync < 5.0 ? "met" : "missed", sync / 5.0);
  double p1 = peer(products_path, "PRODUCT1");
  if (p1 > 0) std::printf("peer: mdb-export reads PRODUCT1 once in %.3f s; sync / peer = %.2f\n", p1, sync / p1);

  // Goal 2: a 100,000-row add-to template imported into Scanner_Data.
  const std::string addto = handheld::support_folder(session) + "AddTo.MDB";
  {
    auto db = jet::dao::Database::open(addto);
    jet::Transaction tx(db->engine());  // setup: one commit, not one per row
    auto rs = db->open_recordset("VFTable");
    for (int i = 0; i < rows; ++i) {
      rs->add_new();
      rs->set_field("ITEMNUMBER", catalogue[static_cast<std::size_t>(i) % catalogue.size()].code);
      rs->set_field("QTY", jet::Value(1.0 + i % 5));
      rs->update();
    }
    rs->close();
    tx.commit();
    db->close();
  }
  double p2 = peer(addto, "VFTable");
  handheld::SyncGlobals g = handheld::Initialise_Sync_Globals(session);
  t0 = std::chrono::steady_clock::now();
  bool ok = handheld::Import_Template(session, g, addto, 0, true);
  const double import = seconds_since(t0);
  if (!ok) return 1;
  std::printf("import of a %d-row template: %.3f s\n", rows, import);
  std::printf("goal: under 2 s: %s (%.2fx of the goal)\n", import < 2.0 ? "met" : "missed", import / 2.0);
  if (p2 > 0) std::printf("peer: mdb-export reads the template once in %.3f s; import / peer = %.2f\n", p2, import / p2);
  Close_Scanner_Data_File(session);
  fs::remove_all(dir);
  return 0;
}
