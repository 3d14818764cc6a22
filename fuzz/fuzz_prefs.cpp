// Fuzzes the preferences reader: the input becomes "Skyvane Installer.prf" in a
// private configuration folder and is read as at start-up. What was read is
// then written back and read again: the second reading must give the same
// settings (nothing the reader accepts may be saved in a form that reads back
// differently; only empty texts, which are not saved, fall back to their
// defaults).
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz_support.h"
#include "installer/model.h"
#include "net/http.h"
#include "prefs/pref.h"

namespace {

struct settings {
  int use_max_cpu, rename_folder, stream_count, log_actions, always_ask_dir;
  std::string dest, proxy_host, proxy_port;
  int32_t proxy_port_int;
  bool operator==(const settings&) const = default;
};

void set_defaults() {
  stg = stg_class{};
  dest_dir_path = "/home/pilot/Skyvane/";
  http.ProxyHost.clear();
  http.ProxyPort_str.clear();
  http.ProxyPort_int = 0;
}

settings current() {
  return {stg.use_max_cpu, stg.rename_folder, stg.stream_count,   stg.log_actions,   stg.always_ask_dir,
          dest_dir_path,   http.ProxyHost,    http.ProxyPort_str, http.ProxyPort_int};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzsupport::init();
  static const std::string config = [] {
    const std::string c = fuzzsupport::scratch() + "config/";
    fuzzsupport::make_dirs(c);
    setenv("XDG_CONFIG_HOME", c.c_str(), 1);
    return c;
  }();
  const std::string file = pref_file_path();
  if (file.rfind(config, 0) != 0) fuzzsupport::fail("preferences file outside the private folder: " + file);

  set_defaults();
  fuzzsupport::write_file(file, data, size);
  pref.IO_set(kPrefsInstallerFile, 0);
  const settings first = current();

  pref.IO_set(kPrefsInstallerFile, 1);
  set_defaults();
  pref.IO_set(kPrefsInstallerFile, 0);
  const settings second = current();
  // Empty texts are not saved: the next run starts from its defaults there.
  settings expected = first;
  set_defaults();
  const settings defaults = current();
  if (expected.dest.empty()) expected.dest = defaults.dest;
  if (expected.proxy_host.empty()) expected.proxy_host = defaults.proxy_host;
  if (expected.proxy_port.empty()) expected.proxy_port = defaults.proxy_port;
  if (!(expected == second)) fuzzsupport::fail("settings changed by a save and a reload");
  fuzzsupport::take_alert_count();
  return 0;
}
