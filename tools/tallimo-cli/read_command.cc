// tallimo-cli read: "&Read Scanner" (the scanner-kind dispatch, no synchronisation).
#include <cstdio>

#include "app/ir/ir_runs.h"
#include "cli.h"

namespace tallimo::cli {

int run_read(const std::vector<std::string>& args) {
  Program program;
  if (int code = prepare_infrared_run(args, program); code >= 0) return code;
  IrRunSummary summary;
  if (!Synchronize_Handheld(*program.session, false, {}, &summary)) {
    std::fprintf(stderr, "tallimo-cli: the scanner kind \"%s\" has no read on the command line\n",
                 program.session->settings().Scanner.c_str());
    return kExitFailed;
  }
  return finish_infrared_run("read", program, summary);
}

}  // namespace tallimo::cli
