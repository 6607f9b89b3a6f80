// One report request without a window: build the report database, lay out
// the chosen report with its layout file from the application folder, write
// it as PDF and/or CSV, and delete the report database whatever happened.
#pragma once

#include <memory>
#include <string>

#include "app/reports/report_document.h"
#include "app/reports/report_layout.h"

namespace tallimo {
class Session;
}

namespace tallimo::reports {

// The session's application folder + the layout file of `kind`.
std::string layout_path(const Session& session, ReportKind kind);

// Lays out report `kind` from the report database at `database_path`, with
// the layout at layout_path(kind) (written there first when missing).
// Throws jet::Error: the layout's own error (file, line, problem), or the
// database's.
std::unique_ptr<ReportDocument> prepare_report(const Session& session, ReportKind kind,
                                               const std::string& database_path);
// The same with the layout file at `layout` (written from the default of
// `kind` when missing).
std::unique_ptr<ReportDocument> prepare_report_with(const std::string& layout, ReportKind kind,
                                                    const std::string& database_path);

// The computer's name and the current local date, for the page header.
ReportInfo current_report_info();

// Builds the report database (errors of its steps are reported through
// Error_Routine), writes the chosen outputs (an empty path: none) and deletes
// the report database. Returns an empty text on success, else what failed
// (also reported through Error_Routine as "Print_Manager").
std::string run_report_to_files(Session& session, ReportKind kind, const std::string& pdf_path,
                                const std::string& csv_path);

}  // namespace tallimo::reports
