#include "app/reports/report_request.h"

#include <ctime>
#include <fstream>

#include "app/session.h"
#include "app/error_log.h"
#include "jet/error.h"
#include "app/reports/report_data.h"
#include "app/reports/report_database.h"

namespace tallimo::reports {

std::string layout_path(const Session& session, ReportKind kind) {
  return session.application_folder() + layout_file_name(kind);
}

ReportInfo current_report_info() { return ReportInfo{computer_name(), report_date_text(std::time(nullptr))}; }

std::unique_ptr<ReportDocument> prepare_report(const Session& session, ReportKind kind,
                                               const std::string& database_path) {
  return prepare_report_with(layout_path(session, kind), kind, database_path);
}

std::unique_ptr<ReportDocument> prepare_report_with(const std::string& layout_file, ReportKind kind,
                                                    const std::string& database_path) {
  if (database_path.empty())
    throw jet::Error(jet::ErrorCategory::kNotFound, "there is no report database to show (it could not be built)");
  Layout layout = load_layout(layout_file, kind);
  // The layout names the table it reads; the dialog's choice decides only
  // which layout file that is.
  std::vector<ReportRow> rows = read_report_rows(database_path, layout.table);
  return std::make_unique<ReportDocument>(std::move(layout), std::move(rows), current_report_info());
}

std::string run_report_to_files(Session& session, ReportKind kind, const std::string& pdf_path,
                                const std::string& csv_path) {
  const std::string database = Create_Comparison_Reports(session);
  std::string failure;
  try {
    auto document = prepare_report(session, kind, database);
    if (!pdf_path.empty()) document->write_pdf(pdf_path);
    if (!csv_path.empty()) {
      std::ofstream out(csv_path, std::ios::binary);
      write_csv(document->layout(), document->rows(), out);
      out.close();
      if (!out) throw jet::Error(jet::ErrorCategory::kIo, csv_path + ": the CSV file could not be written");
    }
  } catch (const std::exception& e) {
    failure = e.what();
    Error_Routine(session, failure, "Print_Manager");
  }
  delete_report_database(database);
  return failure;
}

}  // namespace tallimo::reports
