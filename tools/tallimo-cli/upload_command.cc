// tallimo-cli upload: "&Update Inventory to Scanner" (the product list to the infrared
// scanner, after the instructions box).
#include "app/ir/ir_runs.h"
#include "cli.h"

namespace tallimo::cli {

int run_upload(const std::vector<std::string>& args) {
  Program program;
  if (int code = prepare_infrared_run(args, program); code >= 0) return code;
  const IrRunSummary summary = Update_Inventory(*program.session, true);
  return finish_infrared_run("upload", program, summary);
}

}  // namespace tallimo::cli
