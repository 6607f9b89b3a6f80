// tallimo-cli post: the posting run ("&Process/Post").
#include <cstdio>

#include "cli.h"
#include "data/scanner_database.h"
#include "posting/posting.h"
#include "posting/posting_summary.h"
#include "settings.h"

namespace tallimo::cli {

int run_post(const std::vector<std::string>& args) {
  CommonOptions options;
  if (!parse_options(args, {"home", "products", "kinds", "records-per-commit", "quiet"}, options)) return kExitUsage;
  CommandLineUi ui(options.quiet, false);
  set_app_ui(&ui);
  Load_Settings();
  if (int code = apply_options(options, ui); code >= 0) return code;
  if (options.records_per_commit > 0) Posting_Options().records_per_commit = static_cast<int>(options.records_per_commit);

  if (!Open_Scanner_Data_File()) return kExitFailed;
  // As the command centre does for a command: the other commands are locked.
  ui.set_command_button_enabled(ui.Find_Command_Button("&Synchronize"), false);
  ui.set_abort(false);
  Process_Post();
  Close_Scanner_Data_File();

  const PostingSummary& s = Last_Posting_Summary();
  if (ui.program_ended() || !s.products_opened || !s.completed || s.errors > 0) return kExitFailed;
  if (!options.quiet) {
    std::printf("posted %ld of %ld records in %.3f s%s\n", s.records_posted, s.records_at_start, s.seconds,
                s.resumed ? " (completing an interrupted run)" : "");
  }
  return s.records_remaining > 0 ? kExitLeftOver : kExitOk;
}

}  // namespace tallimo::cli
