// tallimo-cli read: "&Read Scanner" (the scanner-kind dispatch, no synchronisation).
#include "cli.h"

namespace tallimo::cli {

int run_read(const std::vector<std::string>& args) { return run_scanner_dispatch("read", args, false); }

}  // namespace tallimo::cli
