// jetsql's statement shell (see shell.cc).
#pragma once

namespace jetsql {

// True when the command line asks for the shell rather than one of the
// listing actions (--tables, --schema, --export, --check).
bool wants_shell(int argc, char** argv);

// Runs the shell; returns the process exit status.
int shell_main(int argc, char** argv);

}  // namespace jetsql
