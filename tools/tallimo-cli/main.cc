// tallimo-cli: every run of the program without a window.
//
//   tallimo-cli SUBCOMMAND [options]
//
// Status lines go to stdout, message boxes to stderr ("[Tallimo] ..."). Ctrl-C and
// SIGTERM are the "&Abort" button: the run stops after the record in hand. Exit
// codes (cli.h): 0 done, 1 failure, 2 bad usage, 3 done with something left over,
// 4 cancelled or aborted.
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "cli.h"

namespace {

struct Subcommand {
  const char* name;
  int (*run)(const std::vector<std::string>&);
  const char* usage;
};

// One entry per subcommand; each lives in <name>_command.cc.
const Subcommand kSubcommands[] = {
    {"post", tallimo::cli::run_post,
     "post [--home DIR] [--products FILE] [--kinds 0,1,...] [--records-per-commit N] [--quiet]"},
    {"read", tallimo::cli::run_read,
     "read [--home DIR] [--com N] [--baud INDEX] [--corvia PATH] [--yes] [--quiet]"},
    {"upload", tallimo::cli::run_upload,
     "upload [--home DIR] [--products FILE] [--com N] [--baud INDEX] [--corvia PATH] [--yes] [--quiet]"},
    {"sync", tallimo::cli::run_sync,
     "sync [--home DIR] [--products FILE] [--kinds 0,1,...] [--com N] [--baud INDEX] [--corvia PATH] [--yes] "
     "[--quiet]"},
    {"report", tallimo::cli::run_report,
     "report --which comparison|not-in-inventory|not-scanned [--pdf FILE] [--csv FILE] [--home DIR] "
     "[--products FILE] [--quiet]"},
    {"history", tallimo::cli::run_history, "history [RUN] [--home DIR]"},
    {"undo", tallimo::cli::run_undo, "undo RUN [--home DIR] [--products FILE] [--records-per-commit N] [--yes] [--quiet]"},
    {"demo", tallimo::cli::run_demo, "demo DIR"},
    {"generate", tallimo::cli::run_generate, "generate DIR PRODUCTS SCANS [SEED]"},
    {"serve", tallimo::cli::run_serve, "serve [--home DIR] [--products FILE] [--listen ADDRESS|loopback] [--port N] [--quiet]"},
};

int usage() {
  std::fprintf(stderr, "usage:\n");
  for (const auto& s : kSubcommands) std::fprintf(stderr, "  tallimo-cli %s\n", s.usage);
  std::fprintf(stderr,
               "exit codes: 0 done, 1 failure, 2 bad usage, 3 done but something left over, 4 cancelled or "
               "aborted\n");
  return tallimo::cli::kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
  // Status lines and messages (stderr) appear in the order they were given.
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  if (argc < 2) return usage();
  const std::string name = argv[1];
  if (name == "--help" || name == "-h" || name == "help") {
    usage();
    return tallimo::cli::kExitOk;
  }
  for (const auto& s : kSubcommands) {
    if (name != s.name) continue;
    tallimo::cli::install_signal_handlers(nullptr);
    try {
      return s.run(std::vector<std::string>(argv + 2, argv + argc));
    } catch (const std::exception& e) {
      std::fprintf(stderr, "tallimo-cli %s: %s\n", s.name, e.what());
      return tallimo::cli::kExitFailed;
    }
  }
  std::fprintf(stderr, "tallimo-cli: unknown subcommand \"%s\"\n", name.c_str());
  return usage();
}
