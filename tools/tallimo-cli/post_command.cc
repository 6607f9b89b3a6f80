// tallimo-cli post: the posting run ("&Process/Post").
#include <cstdio>

#include "app/data/scanner_database.h"
#include "app/posting/posting.h"
#include "cli.h"

namespace tallimo::cli {

int run_post(const std::vector<std::string>& args) {
  Program program;
  if (int code = start_program(args, {"home", "products", "kinds", "records-per-commit", "quiet"}, program);
      code >= 0) {
    return code;
  }
  Session& session = *program.session;
  if (!Open_Scanner_Data_File(session)) return kExitFailed;
  Process_Post(session);
  Close_Scanner_Data_File(session);
  install_signal_handlers(nullptr);

  const PostingSummary& s = session.last_posting_summary();
  if (session.program_ended() || !s.products_opened || !s.completed || s.errors > 0) return kExitFailed;
  if (!program.options.quiet) {
    std::printf("posted %ld of %ld records in %.3f s%s\n", s.records_posted, s.records_at_start, s.seconds,
                s.resumed ? " (completing an interrupted run)" : "");
  }
  return s.records_remaining > 0 ? kExitLeftOver : kExitOk;
}

}  // namespace tallimo::cli
