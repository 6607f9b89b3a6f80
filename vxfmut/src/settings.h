// Where the forms product and Palm HotSync live, read once per process at load.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "paths.h"

namespace vxfmut {

struct Library_Settings {
  std::string forms_folder;
  std::string palm_user_key;     // below HKEY_CURRENT_USER
  std::string palm_machine_key;  // below HKEY_LOCAL_MACHINE
  std::string hotsync_path;
  std::string hotsync_folder;
  std::string hotsync_data_folder;
  std::uint32_t hotsync_version = 0;
};

const Library_Settings& settings();

}  // namespace vxfmut
