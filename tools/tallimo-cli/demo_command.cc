// tallimo-cli demo DIR: a demo shop. products.mdb (password protected) and
// POS_Scanner.MDB with scanned records of every kind, as the posting demo uses them,
// and scanner.txt: the same kind of scans waiting on an infrared scanner, as the
// simulator r50sim serves them (`r50sim --link PORT DIR/scanner.txt`).
#include <cstdio>
#include <fstream>

#include "cli.h"
#include "app/data/demo_shop.h"
#include "app/data/scanner_database.h"

namespace tallimo::cli {
namespace {

// Scans in the scanner's own record form: "item~quantity~description" for files 0
// to 4, a full product record for file 5 (an edit made on the scanner).
constexpr const char* kScannerContents =
    "# Scans waiting on the demo shop's infrared scanner (r50sim contents file)\n"
    "record 0 P000004~12~DELIVERY\n"
    "record 0 P000004~6~DELIVERY\n"
    "record 1 P000005~2~SOLD\n"
    "record 2 P000006~9~COUNTED\n"
    "record 2 P000006~1~COUNTED\n"
    "record 3 P000007~30~STOCK TAKE\n"
    "record 4 NEW-IR-1~5~NEW ON THE SCANNER\n"
    "record 5 P000008~EDITED ON SCANNER~4.990~2.100~11~ACME~B7~5.490\n";

}  // namespace

int run_demo(const std::vector<std::string>& args) {
  if (args.size() != 1) {
    std::fprintf(stderr, "usage: tallimo-cli demo DIR\n");
    return kExitUsage;
  }
  demo::create_demo_shop(args[0]);
  const std::string contents = args[0] + "/scanner.txt";
  std::ofstream out(contents, std::ios::binary | std::ios::trunc);
  out << kScannerContents;
  out.close();
  if (!out) {
    std::fprintf(stderr, "tallimo-cli: cannot write %s\n", contents.c_str());
    return kExitFailed;
  }
  std::printf("demo shop in %s: products.mdb (password protected), %s and scanner.txt (for r50sim)\n",
              args[0].c_str(), kScannerDatabaseName);
  return kExitOk;
}

}  // namespace tallimo::cli
