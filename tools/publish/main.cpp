// skyvane-publish: publishes a product folder as a release the installer can
// install. See usage_text() and README.md ("Publishing a release").
#include <cstdio>
#include <iomanip>
#include <iostream>

#include "tools/publish/archive_writer.h"
#include "tools/publish/options.h"
#include "tools/publish/publisher.h"
#include "ui/hl_alert.h"
#include "ui/hl_init.h"

int main(int argc, char** argv) {
  // The installer's readers, used here for the previous release, report
  // through alerts; a command-line tool prints them instead.
  MACIBM_wire_lower_layers();
  alert_set_observer([](const alert_record& a) {
    std::cerr << "skyvane-publish: " << a.l1 << " " << a.l2 << " " << a.l3 << " " << a.l4 << "\n";
  });
  alert_set_exit_hook([](int) { std::exit(1); });

  publish::options o;
  std::string error;
  if (!publish::parse_options(argc, argv, o, error)) {
    std::cerr << "skyvane-publish: " << error << "\n\n" << publish::usage_text();
    return 2;
  }
  if (o.help) {
    std::cout << publish::usage_text();
    return 0;
  }
  publish::publish_report r;
  error = publish::publish_release(o, r, std::cerr);
  if (!error.empty()) {
    std::cerr << "skyvane-publish: refused: " << error << "\n";
    return 1;
  }
  const double mb = static_cast<double>(r.bytes_in) / 1e6;
  std::cout << std::fixed << std::setprecision(2) << "Published release \"" << o.release << "\" (version "
            << r.version << "): " << r.files << " files, " << mb << " MB, " << r.packed
            << " archives written, " << r.reused << " reused, " << r.new_versions << " new versions, "
            << r.gone << " gone.\n"
            << "Signed and compressed on " << r.threads << " threads in " << r.seconds << " s ("
            << (r.seconds > 0 ? mb / r.seconds : 0.0) << " MB/s); 7z: " << publish::seven_zip_method()
            << ".\n"
            << "Server list: " << o.out << "serverlist9.txt\n";
  for (const std::string& f : r.release_folders) std::cout << "Release folder: " << f << "\n";
  return 0;
}
