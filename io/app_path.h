#pragma once
// The program-folder prefix that the file operations, the mapped-file reader
// and the settings file put in front of their paths (ends in '/', or empty;
// empty in the installer). It lives here, below its users; the window
// framework sets it at start-up (MACIBM_set_app_path, ui/hl_mnw.h).
#include <string>

extern std::string app_path;
