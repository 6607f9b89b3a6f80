// Report benchmark. In one run, against a peer measured on the same files
// (mdb-export reading the same table):
//   1. building the report database from 100,000 products and 10,000
//      counted items (9,000 known, 1,000 unknown);
//   2. the not-scanned report of that shop (the 101,000 products not
//      counted, cases included) written as PDF, in a child process so that
//      its peak memory is its own;
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
#include <utility>
#include <vector>

#include "bench_clock.h"
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

using bench::Clock;
using bench::cpu_seconds;
using bench::seconds_since;

// Wall seconds of a command; its CPU seconds in `cpu`.
double time_command(const std::string& command, double& cpu) {
  auto t0 = Clock::now();
  const double c0 = cpu_seconds(RUSAGE_CHILDREN);
  if (std::system(command.c_str()) != 0) std::fprintf(stderr, "peer failed: %s\n", command.c_str());
  cpu = cpu_seconds(RUSAGE_CHILDREN) - c0;
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

// Notes when each status step of the build begins.
class StepClock : public tallimo::ConsoleUserInterface {
 public:
  StepClock() : tallimo::ConsoleUserInterface(/*quiet=*/true) {}
  void Update_Status(const std::string& msg, long, long) override {
    steps.emplace_back(msg, seconds_since(start));
  }
  Clock::time_point start = Clock::now();
  std::vector<std::pair<std::string, double>> steps;
};

double load_average() {
  double load[1] = {0};
  return ::getloadavg(load, 1) == 1 ? load[0] : -1;
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QGuiApplication app(argc, argv);
  StepClock ui;
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
  double build = 0, peer1_cpu = 0;
  const double build_cpu0 = cpu_seconds(RUSAGE_SELF);
  std::string db1 = build_report_database(session, shop1, build);
  const double build_cpu = cpu_seconds(RUSAGE_SELF) - build_cpu0;
  const double peer1 = time_command("mdb-export '" + shop1 + "/products.mdb' PRODUCT1 > /dev/null", peer1_cpu);
  std::printf("build report database:       %7.3f s, CPU %.3f s   (goal < 2 s)   peer mdb-export PRODUCT1: %.3f s, CPU "
              "%.3f s   ratio %.2f (CPU %.2f)\n",
              build, build_cpu, peer1, peer1_cpu, build / peer1, build_cpu / peer1_cpu);
  std::printf("  steps:");
  for (std::size_t i = 0; i + 1 < ui.steps.size(); ++i)
    std::printf(" %s %.3f s;", ui.steps[i].first.c_str(), ui.steps[i + 1].second - ui.steps[i].second);
  std::printf("\n");

  // 2. The not-scanned report of that shop.
  const std::string shop2 = shop1;
  const std::string db2 = db1;
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
  const double pdf_cpu = usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
                         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  double peer2_cpu = 0;
  const double peer2 = time_command("mdb-export '" + db2 + "' Not_Scanned > /dev/null", peer2_cpu);
  std::printf("not-scanned PDF:             %7.3f s, CPU %.3f s   (goal < 15 s)  peer mdb-export Not_Scanned: %.3f s, "
              "CPU %.3f s   ratio %.2f (CPU %.2f)\n",
              pdf_seconds, pdf_cpu, peer2, peer2_cpu, pdf_seconds / peer2, pdf_cpu / peer2_cpu);
  std::printf("  peak memory of the PDF run: %.1f MB (goal < 300 MB); PDF %.1f MB; exit %d\n",
              usage.ru_maxrss / 1024.0, std::filesystem::file_size(pdf) / 1e6, WEXITSTATUS(status));

  // 3. The preview's first page.
  t0 = Clock::now();
  const double preview_cpu0 = cpu_seconds(RUSAGE_SELF);
  auto doc = tallimo::reports::prepare_report(session, tallimo::reports::ReportKind::kNotScanned, db2);
  const double laid_out = seconds_since(t0);
  QImage first = doc->page_image(0, 96);
  const double first_page = seconds_since(t0);
  const double first_page_cpu = cpu_seconds(RUSAGE_SELF) - preview_cpu0;
  std::printf("preview first page:          %7.3f s, CPU %.3f s   (goal < 1 s; %.3f s reading and laying out %d pages)   "
              "peer mdb-export Not_Scanned: %.3f s, CPU %.3f s   ratio %.2f (CPU %.2f)\n",
              first_page, first_page_cpu, laid_out, doc->page_count(), peer2, peer2_cpu, first_page / peer2,
              first_page_cpu / peer2_cpu);
  std::printf("machine load average while measuring: %.1f\n", load_average());
  tallimo::delete_report_database(db2);
  std::filesystem::remove_all(dir);
  return first.isNull() ? 1 : 0;
}
