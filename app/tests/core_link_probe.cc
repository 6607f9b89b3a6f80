// A program that links every library of the program's core and uses each, so
// that the dynamic libraries it needs are exactly what the core brings in.
// check_core_links.cmake reads them: the core must not need Qt Widgets (nor
// Qt Gui): it runs headless, and a window is built on it, not into it.
#include <cstdio>

#include "app/data/scanner_database.h"
#include "app/ir/cls_serial_ir.h"
#include "app/posting/posting.h"
#include "app/session.h"
#include "app/settings.h"

int main() {
  tallimo::ConsoleUserInterface ui(/*quiet=*/true);
  tallimo::Session session(ui, "/nonexistent-folder");
  tallimo::cls_Serial_IR link(session);
  void (*post)(tallimo::Session&) = &tallimo::Process_Post;
  void (*load)(tallimo::Session&) = &tallimo::Load_Settings;
  std::printf("%s %s %p %p\n", tallimo::Scanner_Database_Path(session).c_str(), link.Build_Frame('5').c_str(),
              reinterpret_cast<void*>(post), reinterpret_cast<void*>(load));
  return 0;
}
