// Binds the Corvia serial library at run time, by name, at the first call that
// needs it. The program never links Corvia: a machine without the cradle's library
// still starts, and the failure shows at the first infrared operation.
//
// Where it is looked for, in order:
//   1. the path the host set with set_corvia_library_path (file or folder);
//   2. libCorvia.so beside the running executable;
//   3. libCorvia.so through the dynamic loader's own search (LD_LIBRARY_PATH, the
//      executable's run path, the system's library folders).
#pragma once

#include <string>
#include <vector>

#include "corvia.h"

namespace tallimo::ir {

// The functions the program binds. The handle stays loaded until exit.
struct CorviaLibrary {
  decltype(&::vbOpenIrCom) vbOpenIrCom = nullptr;
  decltype(&::CloseIrCom) CloseIrCom = nullptr;
  decltype(&::WriteIrCom) WriteIrCom = nullptr;
  decltype(&::vbReadIrCom) vbReadIrCom = nullptr;
  decltype(&::CopyMem) CopyMem = nullptr;
  decltype(&::PurgeIrCom) PurgeIrCom = nullptr;
  std::string path;  // what was loaded
};

// The library bound at the first call. Throws jet::Error (not found) naming every
// place tried when it cannot be loaded or lacks one of the functions; the next
// call tries again.
const CorviaLibrary& corvia_library();

// Where to look first (a file, or a folder holding libCorvia.so). Takes effect at
// the next load, i.e. only before the library has been bound.
void set_corvia_library_path(const std::string& path);

// Loads the first candidate that opens and binds the functions from it.
// Throws jet::Error when none does. Used by corvia_library(); exposed for tests.
CorviaLibrary load_corvia_library(const std::vector<std::string>& candidates);

}  // namespace tallimo::ir
