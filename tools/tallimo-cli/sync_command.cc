// tallimo-cli sync: "&Synchronize" (read, post, send the product list back).
#include "cli.h"

namespace tallimo::cli {

int run_sync(const std::vector<std::string>& args) { return run_scanner_dispatch("sync", args, true); }

}  // namespace tallimo::cli
