// jetsql's statement shell (see shell.cc).
#pragma once

#include <string>

namespace jetsql {

// Appends `text` to `out` as one CSV field: quoted (quotes doubled) when
// `quote` is set or the text holds a comma, quote or line break.
void append_csv_field(const std::string& text, bool quote, std::string& out);

// True when the command line asks for the shell rather than one of the
// listing actions (--tables, --schema, --export, --check).
bool wants_shell(int argc, char** argv);

// Runs the shell; returns the process exit status.
int shell_main(int argc, char** argv);

}  // namespace jetsql
