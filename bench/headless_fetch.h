#pragma once
// The benchmarks' headless start of an install: the server list from
// `vendor_host`, then the manifest from the first server, expanded into
// temp_path. Leaves dir_scan 1 on success, 2 when the manifest cannot be
// expanded; returns the path of the expanded manifest, or an empty path
// (with a line on standard error) when the list is refused or a download
// keeps failing, so that a broken set-up ends the benchmark instead of
// spinning.
#include <cstdio>
#include <string>

#include "installer/model.h"
#include "installer/server_list.h"
#include "installer/utils.h"
#include "io/archive.h"
#include "net/http.h"
#include "util/xtim.h"

inline std::string bench_fetch_manifest(const std::string& vendor_host) {
  constexpr int kTries = 50;
  for (int failures = 0; stg.num_servers == -1;) {
    xtim.advance_clock();
    const int r = server_list_step(vendor_host);
    if ((r == 1 && stg.num_servers == -1) || (r == 2 && ++failures == kTries)) {
      std::fprintf(stderr, "the server list of %s was refused or could not be fetched\n",
                   vendor_host.c_str());
      return {};
    }
  }
  const std::string zip = temp_path + "directory.txt.zip";
  for (int failures = 0; stg.dir_scan == 0;) {
    xtim.advance_clock();
    const int c = http.net_check(1, server_name[0], server_path[0] + "directory.txt.zip", zip);
    if (c == 1) stg.dir_scan = zip_to_file(zip, temp_path, nullptr, 0) == 0 ? 1 : 2;
    if (c == 2 && ++failures == kTries) {
      std::fprintf(stderr, "the manifest of %s could not be fetched\n", server_name[0].c_str());
      return {};
    }
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
