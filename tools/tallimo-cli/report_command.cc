// tallimo-cli report: one comparison report without a window, as PDF and/or
// CSV. Builds the dated report database, lays out the report with its layout
// file from the application folder, writes the files and deletes the report
// database.
#include <QGuiApplication>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "cli.h"
#include "app/data/scanner_database.h"
#include "app/reports/report_request.h"

namespace tallimo::cli {

int run_report(const std::vector<std::string>& args) {
  std::string which, pdf, csv;
  std::vector<std::string> rest;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if ((a == "--which" || a == "--pdf" || a == "--csv") && i + 1 < args.size()) {
      (a == "--which" ? which : a == "--pdf" ? pdf : csv) = args[++i];
    } else {
      rest.push_back(a);
    }
  }
  reports::ReportKind kind;
  if (which == "comparison") kind = reports::ReportKind::kComparison;
  else if (which == "not-in-inventory") kind = reports::ReportKind::kNotInInventory;
  else if (which == "not-scanned") kind = reports::ReportKind::kNotScanned;
  else {
    std::fprintf(stderr, "tallimo-cli report: --which takes comparison, not-in-inventory or not-scanned%s\n",
                 which.empty() ? "" : (", not \"" + which + "\"").c_str());
    return kExitUsage;
  }
  if (pdf.empty() && csv.empty()) {
    std::fprintf(stderr, "tallimo-cli report: give --pdf FILE and/or --csv FILE\n");
    return kExitUsage;
  }
  // Fonts need a GUI application object; without a display it draws offscreen.
  std::unique_ptr<QGuiApplication> app;
  if (QGuiApplication::instance() == nullptr) {
    if (std::getenv("QT_QPA_PLATFORM") == nullptr && std::getenv("DISPLAY") == nullptr &&
        std::getenv("WAYLAND_DISPLAY") == nullptr) {
      setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    static int argc = 1;
    static char name[] = "tallimo-cli";
    static char* argv[] = {name, nullptr};
    app = std::make_unique<QGuiApplication>(argc, argv);
  }

  Program program;
  if (int code = start_program(rest, {"home", "products", "quiet"}, program); code >= 0) return code;
  Session& session = *program.session;
  if (!Open_Scanner_Data_File(session)) return kExitFailed;
  const std::string failure = reports::run_report_to_files(session, kind, pdf, csv);
  Close_Scanner_Data_File(session);
  install_signal_handlers(nullptr);
  if (!failure.empty()) return kExitFailed;
  if (!program.options.quiet) {
    if (!pdf.empty()) std::printf("report written to %s\n", pdf.c_str());
    if (!csv.empty()) std::printf("report written to %s\n", csv.c_str());
  }
  return kExitOk;
}

}  // namespace tallimo::cli
