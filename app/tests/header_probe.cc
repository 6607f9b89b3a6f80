// Compiled as a consumer of every component of the program's core: it reaches
// each component's public headers. check_private_headers.cmake compiles it again
// with the same flags, and then files that include a private header, which must
// not be found.
#include "app/data/scanner_database.h"
#include "app/handheld/handheld_runs.h"
#include "app/handheld/pdb_file.h"
#include "app/ir/ir_runs.h"
#include "app/posting/posting.h"
#include "app/reports/report_request.h"
#include "app/session.h"
#include "app/tests/shop_fixture.h"
