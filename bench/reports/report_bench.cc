// Report benchmark. In one run, against a peer measured on the same files
// (mdb-export reading the same table):
//   1. building the report database from 100,000 products and 10,000
//      counted items (9,000 known, 1,000 unknown);
//   2. the not-scanned report of 100,000 rows written as PDF (a child
//      process, so its peak memory is its own);
//   3. the preview's first page: rows read, laid out, page 1 painted.
//
//   report_bench [PRODUCTS] [COUNTED]
//   report_bench render DATABASE PDF      (the child of step 2)
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QGuiApplication>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "app/session.h"
#include "app/data/demo_shop.h"
#include "app/data/scanner_database.h"
#include "jet/dao.h"
#include "jet/transaction.h"
#include "app/reports/report_database.h"
#include "app/reports/report_request.h"
#include "app/settings.h"
#include "app/user_interface.h"

namespace {

using Clock = std::chrono::steady_clock;
double seconds_since(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

double time_command(const std::string& command) {
  auto t0 = Clock::now();
  if (std::system(command.c_str()) != 0) std::fprintf(stderr, "peer failed: %s\n", command.c_str());
  return seconds_since(t0);
}

// A shop in `dir`: `products` products, and `counted` Compare rows of which
// the first `known` name products.
void make_shop(const std::string& dir, int products, int counted, int known) {
  auto db = tallimo::demo::create_products_database(dir + "/products.mdb");
  tallimo::demo::add_products(*db, tallimo::demo::generated_catalogue(products, 1));
  db->close();
  auto scanner = tallimo::demo::create_scanner_database(dir + "/" + tallimo::kScannerDatabaseName);
  {
    jet::Transaction tx(scanner->engine());
    auto rs = scanner->open_recordset("Compare");
    for (int i = 0; i < counted; ++i) {
      char code[32];
      if (i < known) std::snprintf(code, sizeof code, "P%06d", (i * 7919) % products);
      else std::snprintf(code, sizeof code, "NEW%06d", i);
      rs->add_new();
      rs->set_field("Scanner_Qty", jet::Value(double(i % 13)));
      rs->set_field("Orvex_Qty", jet::Value(double(i % 11)));
      rs->set_field("Item_Number", code);
      rs->set_field("Description", "Counted item");
      rs->set_field("Current_Cost", jet::Value(1.25 + i % 50));
      rs->set_field("Location", "Aisle " + std::to_string(i % 9));
      rs->update();
    }
    rs->close();
    tx.commit();
  }
  scanner->close();
}

std::string build_report_database(tallimo::Session& session, const std::string& dir, double& seconds) {
  session.set_application_folder(dir);
  session.settings().Orvex_Location = dir + "/products.mdb";
  tallimo::Open_Scanner_Data_File(session);
  auto t0 = Clock::now();
  std::string path = tallimo::Create_Comparison_Reports(session);
  seconds = seconds_since(t0);
  tallimo::Close_Scanner_Data_File(session);
  return path;
}

int render(const tallimo::Session& session, const std::string& database, const std::string& pdf) {
  auto t0 = Clock::now();
  auto doc = tallimo::reports::prepare_report(session, tallimo::reports::ReportKind::kNotScanned, database);
  double laid_out = seconds_since(t0);
  doc->write_pdf(pdf);
  std::printf("  child: %zu rows laid out in %.2f s, %d pages, PDF written in %.2f s in all\n", doc->rows().size(),
              laid_out, doc->page_count(), seconds_since(t0));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QGuiApplication app(argc, argv);
  tallimo::ConsoleUserInterface ui(/*quiet=*/true);
  tallimo::Session session(ui);
  if (argc == 4 && std::string(argv[1]) == "render") {
    session.set_application_folder(std::filesystem::path(argv[2]).parent_path().string());
    return render(session, argv[2], argv[3]);
  }
  const int products = argc > 1 ? std::atoi(argv[1]) : 100000;
  const int counted = argc > 2 ? std::atoi(argv[2]) : 10000;
  if (products < 1 || counted < 1 || counted > products) {
    std::fprintf(stderr, "usage: report_bench [PRODUCTS] [COUNTED]\n");
    return 2;
  }
  char tmpl[] = "/tmp/tallimo-report-bench-XXXXXX";
  const std::string dir = ::mkdtemp(tmpl);

  // 1. The build.
  const std::string shop1 = dir + "/build";
  std::filesystem::create_directories(shop1);
  auto t0 = Clock::now();
  make_shop(shop1, products, counted, counted * 9 / 10);
  std::printf("setup: %d products, %d counted (%d unknown) in %.2f s\n", products, counted, counted - counted * 9 / 10,
              seconds_since(t0));
  double build = 0;
  std::string db1 = build_report_database(session, shop1, build);
  const double peer1 = time_command("mdb-export '" + shop1 + "/products.mdb' PRODUCT1 > /dev/null");
  std::printf("build report database:       %7.3f s   (goal < 2 s)   peer mdb-export PRODUCT1: %.3f s   ratio %.2f\n",
              build, peer1, build / peer1);
  tallimo::delete_report_database(db1);

  // 2. A not-scanned report of `products` rows: every counted item known,
  // `products` + `counted` products.
  const std::string shop2 = dir + "/render";
  std::filesystem::create_directories(shop2);
  make_shop(shop2, products + counted, counted, counted);
  double build2 = 0;
  std::string db2 = build_report_database(session, shop2, build2);
  const std::string pdf = shop2 + "/not-scanned.pdf";
  t0 = Clock::now();
  pid_t child = ::fork();
  if (child == 0) {
    ::execl("/proc/self/exe", argv[0], "render", db2.c_str(), pdf.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  ::wait4(child, &status, 0, &usage);
  const double pdf_seconds = seconds_since(t0);
  const double peer2 = time_command("mdb-export '" + db2 + "' Not_Scanned > /dev/null");
  std::printf("not-scanned PDF (%d rows):  %7.3f s   (goal < 15 s)  peer mdb-export Not_Scanned: %.3f s   ratio %.2f\n",
              products, pdf_seconds, peer2, pdf_seconds / peer2);
  std::printf("  peak memory of the PDF run: %.1f MB (goal < 300 MB); PDF %.1f MB; exit %d\n",
              usage.ru_maxrss / 1024.0, std::filesystem::file_size(pdf) / 1e6, WEXITSTATUS(status));

  // 3. The preview's first page.
  t0 = Clock::now();
  auto doc = tallimo::reports::prepare_report(session, tallimo::reports::ReportKind::kNotScanned, db2);
  const double laid_out = seconds_since(t0);
  QImage first = doc->page_image(0, 96);
  const double first_page = seconds_since(t0);
  std::printf("preview first page:          %7.3f s   (goal < 1 s; %.3f s reading and laying out %d pages)   peer "
              "mdb-export Not_Scanned: %.3f s   ratio %.2f\n",
              first_page, laid_out, doc->page_count(), peer2, first_page / peer2);
  tallimo::delete_report_database(db2);
  std::filesystem::remove_all(dir);
  return first.isNull() ? 1 : 0;
}
