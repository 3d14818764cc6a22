#pragma once
// The benchmarks' headless start of an install: the server list from
// `vendor_host`, then the manifest from the first server, expanded into
// temp_path. Leaves dir_scan 1 on success, 2 when the manifest cannot be
// expanded; returns the path of the expanded manifest.
#include <string>

#include "installer/model.h"
#include "installer/server_list.h"
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
