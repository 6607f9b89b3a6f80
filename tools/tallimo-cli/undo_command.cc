// tallimo-cli undo RUN: takes a posting run back. First works out what the
// undo would do (a preview that changes nothing), prints the counts and the
// conflicts, asks (unless --yes), then undoes. Exit 0 done (conflicts are
// left alone and listed), 1 failure (unknown run, undone already, ...),
// 2 bad usage, 4 cancelled (the question answered no, Ctrl-C).
#include <cstdio>

#include "app/error_log.h"
#include "app/history/undo.h"
#include "cli.h"

namespace tallimo::cli {

namespace {

void print_conflicts(const history::UndoSummary& s) {
  for (const auto& c : s.conflicts) std::printf("  conflict: %s\n", history::describe(c).c_str());
}

}  // namespace

int run_undo(const std::vector<std::string>& args) {
  std::vector<std::string> rest;
  long run = 0;
  if (!split_run_argument("undo", args, run, rest)) return kExitUsage;
  if (run == 0) {
    std::fprintf(stderr, "tallimo-cli undo: give the run to undo (tallimo-cli history lists them)\n");
    return kExitUsage;
  }
  Program program;
  if (int code = start_program(rest, {"home", "products", "records-per-commit", "yes", "quiet"}, program);
      code >= 0) {
    return code;
  }
  Session& session = *program.session;
  history::UndoOptions options;
  if (program.options.records_per_commit > 0) options.records_per_commit = static_cast<int>(program.options.records_per_commit);
  try {
    options.apply = false;
    const history::UndoSummary preview = history::Undo_Run(session, run, options);
    if (g_interrupted) return kExitCancelled;
    std::printf("Undo of run %ld%s: %s\n", run, preview.resumed ? " (continuing an interrupted undo)" : "",
                history::describe_counts(preview).c_str());
    print_conflicts(preview);
    const std::string question = "Undo run " + std::to_string(run) + "? " + history::describe_counts(preview) + ".";
    if (session.ui().message_box(question, MessageButtons::kOkCancel, MessageIcon::kQuestion, "Tallimo") !=
        MessageAnswer::kOk) {
      return kExitCancelled;
    }
    options.apply = true;
    const history::UndoSummary done = history::Undo_Run(session, run, options);
    install_signal_handlers(nullptr);
    if (!done.completed) {
      std::printf("undo of run %ld stopped after %ld record(s); run it again to continue\n", run, done.records);
      return kExitCancelled;
    }
    if (!program.options.quiet) {
      std::printf("undone: run %ld by run %ld in %.3f s: %s\n", run, done.undo_run, done.seconds,
                  history::describe_counts(done).c_str());
      print_conflicts(done);
    }
    return kExitOk;
  } catch (const std::exception& e) {
    Error_Routine(session, e.what(), "Undo_Run");
    return kExitFailed;
  }
}

}  // namespace tallimo::cli
