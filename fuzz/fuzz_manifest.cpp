// Fuzzes the manifest reader: the body parser on an exact copy of the input
// (reads past the end are seen by AddressSanitizer), then read_directory on the
// input as a file, header check and disk examination included, against an
// empty destination folder. Checks that every entry kept is one the grab engine
// can act on below the destination, and that reading writes nothing.
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "installer/model.h"
#include "installer/paths.h"
#include "installer/utils.h"

namespace {

void check_files(const std::vector<file_history_struct>& files) {
  for (const auto& f : files) {
    if (f.versions.empty()) fuzzsupport::fail("a history without versions");
    const std::string& first = f.versions.front().path;
    for (const auto& v : f.versions) {
      if (v.path != first) fuzzsupport::fail("a history mixes paths");
      if (!manifest_path_is_safe(v.path)) fuzzsupport::fail("unsafe path kept: " + v.path);
      if (path_has_no_file(v.path)) fuzzsupport::fail("path without a file kept: " + v.path);
      if (v.use_type < 0 || v.use_type > 4 || v.os_type < 0 || v.os_type > 6)
        fuzzsupport::fail("use or platform type not clamped");
      if (v.want_to_grab_it || v.want_to_nuke_it) fuzzsupport::fail("reader decided an action");
      if (v.sig_want.empty()) fuzzsupport::fail("row without a signature kept");
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzsupport::init();
  const std::string& root = fuzzsupport::scratch();
  static const std::string manifest = root + "directory.txt";

  {
    const std::vector<unsigned char> exact(data, data + size);
    std::vector<file_history_struct> files;
    manifest_stats stats;
    try {
      parse_manifest_body(exact.data(), exact.data() + exact.size(), exact.data(), true, "m", files, stats);
      if (stats.unsafe_path.empty()) check_files(files);
    } catch (const fuzzsupport::fatal_alert&) {
    }
  }

  stg = stg_class{};
  sim_info = sim_info_struct{};
  this_install_has_exes = 0;
  dest_dir_path = root + "dest/";
  temp_path = root;
  fuzzsupport::make_dirs(dest_dir_path);
  fuzzsupport::write_file(manifest, data, size);
  std::string path = manifest;
  int r = 0;
  try {
    r = read_directory(path, "Scanning directory text file...");
  } catch (const fuzzsupport::fatal_alert&) {
    r = -1;  // a fatal alert: a path without a file, or a path too long for this system
  }
  if (r == 3) {
    check_files(sim_info.files);
    for (const auto& f : sim_info.files) {
      const auto& v = f.versions.back();
      if (v.sig_have != "NONE") fuzzsupport::fail("a file was found in the empty destination");
      if (v.on_disk && v.sig_want != "NONE") fuzzsupport::fail("on_disk without a file");
    }
  } else if (r == 2 && !sim_info.files.empty()) {
    fuzzsupport::fail("a refused manifest left entries to act on");
  }
  const std::string left = fuzzsupport::list_tree(dest_dir_path);
  if (!left.empty()) fuzzsupport::fail("reading the manifest wrote into the destination:\n" + left);
  fuzzsupport::take_alert_count();
  return 0;
}
