#pragma once
// The benchmarks' headless start of an install: the server list from
// `vendor_host`, then the manifest from the first server, expanded into
// temp_path. Leaves dir_scan 1 on success, 2 when the manifest cannot be
// expanded; returns the path of the expanded manifest.
#include <string>

#include "installer/model.h"
#include "installer/server_list.h"
#include "installer/utils.h"
#include "io/archive.h"
#include "net/http.h"
#include "util/xtim.h"

inline std::string bench_fetch_manifest(const std::string& vendor_host) {
  while (stg.num_servers == -1) {
    xtim.advance_clock();
    server_list_step(vendor_host);
  }
  const std::string zip = temp_path + "directory.txt.zip";
  while (stg.dir_scan == 0) {
    xtim.advance_clock();
    const int c = http.net_check(1, server_name[0], server_path[0] + "directory.txt.zip", zip);
    if (c == 1) stg.dir_scan = zip_to_file(zip, temp_path, nullptr, 0) == 0 ? 1 : 2;
  }
  return temp_path + "directory.txt";
}

// Install pressed, then the grab in 10 ms slices as the driver runs it,
// until the engine ends.
inline void bench_grab_in_slices() {
  reset_streams();
  make_dirs();
  choose_files();
  stg.step = 1;
  while (stg.step == 1) {
    xtim.advance_clock();
    const double slice_end = monotonic_seconds() + 0.010;
    do {
      if (grab_files()) stg.step = 2;
    } while (stg.step == 1 && monotonic_seconds() < slice_end);
  }
}
