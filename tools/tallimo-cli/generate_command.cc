// tallimo-cli generate DIR PRODUCTS SCANS [SEED]: a generated shop of any size.
#include <cstdio>
#include <filesystem>

#include "cli.h"
#include "app/data/demo_shop.h"
#include "app/data/scanner_database.h"
#include "jet/dao.h"

namespace tallimo::cli {

int run_generate(const std::vector<std::string>& args) {
  long products = 0, scans = 0, seed = 1;
  if (args.size() < 3 || args.size() > 4 || !parse_long(args[1], products) || !parse_long(args[2], scans) ||
      products < 1 || scans < 0 || (args.size() > 3 && !parse_long(args[3], seed))) {
    std::fprintf(stderr, "usage: tallimo-cli generate DIR PRODUCTS SCANS [SEED]\n");
    return kExitUsage;
  }
  const std::string dir = args[0];
  std::filesystem::create_directories(dir);
  const std::string products_path = dir + "/products.mdb";
  const std::string scanner_path = dir + "/" + kScannerDatabaseName;
  for (const std::string& p : {products_path, scanner_path}) std::filesystem::remove(p);
  auto db = demo::create_products_database(products_path);
  demo::add_products(*db, demo::generated_catalogue(static_cast<int>(products), static_cast<uint32_t>(seed)));
  db->close();
  auto scanner = demo::create_scanner_database(scanner_path);
  demo::add_scans(*scanner, demo::generated_scans(static_cast<int>(scans), static_cast<int>(products),
                                                   static_cast<uint32_t>(seed)));
  scanner->close();
  return kExitOk;
}

}  // namespace tallimo::cli
