#pragma once
// The header written at the top of Log.txt at every start: the program's
// version, what the log is for, and a description of the machine.
#include <ostream>
#include <string>

// The product's version texts.
extern const char* const kSkyvaneVersionString;  // "Skyvane 9.00 Beta-25"
constexpr int kInstallerVersion = 90025;

// Writes the header to `out` and flushes it. `app_path` is the program
// folder prefix as the framework holds it (empty in the installer);
// `case_sensitive` the framework's file-name case flag.
void write_log_header(std::ostream& out, const std::string& app_path, int case_sensitive);
