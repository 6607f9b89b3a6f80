// tallimo-cli upload: "&Update Inventory to Scanner" (the product list to the infrared
// scanner, after the instructions box).
#include "cli.h"
#include "ir/ir_runs.h"

namespace tallimo::cli {

int run_upload(const std::vector<std::string>& args) {
  CommonOptions options;
  CommandLineUi* ui = nullptr;
  if (int code = prepare_infrared_run(args, options, ui); code >= 0) return code;
  Update_Inventory(true);
  return finish_infrared_run("upload", options);
}

}  // namespace tallimo::cli
