// Fuzzes the server list reader: the body records on an exact copy of the
// input (so any read past the end is seen by AddressSanitizer), then the whole
// file through the mapped-file reader and its header check, as the program
// reads serverlist9.txt. Checks that the server table only ever holds what the
// network layer and the folder rename can use.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "installer/model.h"
#include "installer/server_list.h"

namespace {

void reset_table() {
  stg = stg_class{};
  install_name = no_install_name;
  for (int i = 0; i < kMaxServers; ++i) server_name[i] = server_path[i] = server_desc[i] = "";
}

void check_table() {
  if (stg.num_servers < 0 || stg.num_servers > kMaxServers) fuzzsupport::fail("num_servers out of 0..10");
  if (install_name.empty() || install_name.find('/') != std::string::npos || install_name == "." ||
      install_name == "..")
    fuzzsupport::fail("release name that leaves its parent folder: " + install_name);
  for (int i = 0; i < stg.num_servers; ++i) {
    const std::string& h = server_name[i];
    const std::string& p = server_path[i];
    if (h.empty() || h.back() == '/' || h.back() == '\\') fuzzsupport::fail("unusable host kept: " + h);
    if (p.empty() || (p.front() != '/' && p.front() != '\\'))
      fuzzsupport::fail("folder without a leading separator");
    // The release name read so far is appended to each folder (a later FINAL
    // line does not change the servers read before it).
    if (p.back() != '/') fuzzsupport::fail("server folder without its release folder");
    if (server_desc[i].empty()) fuzzsupport::fail("server without a description");
  }
  if (stg.num_servers > 0 && (stg.sel_server < 0 || stg.sel_server >= stg.num_servers))
    fuzzsupport::fail("selected server outside the table");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzsupport::init();
  static const std::string path = fuzzsupport::scratch() + "serverlist9.txt";

  reset_table();
  stg.num_servers = 0;
  {
    const std::vector<char> exact(data, data + size);  // no slack after the last byte
    read_server_records(std::string_view(exact.data(), exact.size()));
  }
  check_table();
  for (int r : {0, 1, 16384, 32767}) {
    if (stg.num_servers > 0) {
      const int b = biased_server_pick(stg.num_servers, r);
      const int u = uniform_server_pick(stg.num_servers, r);
      if (b < 0 || b >= stg.num_servers || u < 0 || u >= stg.num_servers)
        fuzzsupport::fail("pick out of range");
    }
  }

  reset_table();
  fuzzsupport::write_file(path, data, size);
  try {
    if (read_server_list(path)) {
      check_table();
    } else if (stg.step != 2) {
      fuzzsupport::fail("a refused list must end the program through new_format");
    }
  } catch (const fuzzsupport::fatal_alert&) {
  }
  fuzzsupport::take_alert_count();
  return 0;
}
