// The folder that holds the program and, below it, all of its data files.
#pragma once

#include <string>

namespace tallimo {

// The program's folder, always ending in the path separator: the folder named
// by the environment variable TALLIMO_HOME, else the folder of the running
// executable. A Session starts from it unless it is given another folder
// (Session::application_folder()).
std::string Application_Folder();

}  // namespace tallimo
