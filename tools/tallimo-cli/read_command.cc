// tallimo-cli read: "&Read Scanner" (the scanner-kind dispatch, no synchronisation).
#include <cstdio>

#include "cli.h"
#include "ir/ir_runs.h"
#include "settings.h"

namespace tallimo::cli {

int run_read(const std::vector<std::string>& args) {
  CommonOptions options;
  CommandLineUi* ui = nullptr;
  if (int code = prepare_infrared_run(args, options, ui); code >= 0) return code;
  if (!Synchronize_Handheld(false)) {
    std::fprintf(stderr, "tallimo-cli: the scanner kind \"%s\" has no read on the command line\n",
                 App_Settings().Scanner.c_str());
    return kExitFailed;
  }
  return finish_infrared_run("read", options);
}

}  // namespace tallimo::cli
