// The folder that holds the program and, below it, all of its data files.
#pragma once

#include <string>

namespace tallimo {

// The program's folder, always ending in the path separator. It is the folder
// of the running executable unless the environment variable TALLIMO_HOME or a
// call to set_application_folder names another (a demo shop, a test's
// temporary folder).
std::string Application_Folder();

// Points Application_Folder() at `folder` (a separator is appended when it
// lacks one); an empty text returns to the default.
void set_application_folder(const std::string& folder);

}  // namespace tallimo
