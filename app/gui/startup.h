// Start-up of the desktop program: where its data files live, and the
// start-up routine itself.
#pragma once

#include <string>

namespace tallimo::gui {

// The folder for the program's data files. A portable install keeps them
// beside the program (`program_folder`, when it is writable); an installed
// program never writes beside its binary and uses `xdg_data_home`/Tallimo
// (or `home`/.local/share/Tallimo when that is empty). Ends in '/'.
std::string data_folder_for(const std::string& program_folder, bool program_folder_writable,
                            const std::string& xdg_data_home, const std::string& home);

// The application folder for this machine: the one TALLIMO_HOME names, else
// data_folder_for() the program's folder, created when missing.
std::string choose_application_folder();

}  // namespace tallimo::gui
