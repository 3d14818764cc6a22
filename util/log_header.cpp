#include "util/log_header.h"

#include "platform/system.h"

const char* const kSkyvaneVersionString = "Skyvane 9.00 Beta-25";

void write_log_header(std::ostream& out, const std::string& app_path, int case_sensitive) {
  out << "log.txt for " << kSkyvaneVersionString << " ";
  out << "Installer " << kInstallerVersion << " compiled on " << __DATE__ << " " << __TIME__ << "\n\n";
  out << "This log file is generated automatically by Quellwind applications and contains diagnostics "
         "about your graphics hardware, installation, and any error conditions.\n";
  out << "If you need to contact tech support or file a bug, please send us this file. NOTE: this file is "
         "rewritten every time you start ANY of your Skyroot applications.\n\n";
  out << platform_machine_description();
  out << "\nSkyroot folder:'" << app_path << "', case sensitive=" << case_sensitive << "\n\n";
  out.flush();
}
