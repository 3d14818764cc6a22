#include "installer/server_list.h"

#include <cmath>
#include <cstdlib>

#include "installer/model.h"
#include "installer/release_auth.h"
#include "installer/text_cursor.h"
#include "installer/ui_hooks.h"
#include "io/xmap.h"
#include "net/http.h"
#include "ui/hl_alert.h"
#include "ui/hl_mnw.h"
#include "util/log.h"

namespace {
// The source tag and numbers that this file's alerts are known by on screen
// and in the log; fixed, whatever line the call moves to.
constexpr const char* kTag = "utils";
constexpr int kLineNewFormat = 141;

// What the network layer accepts as a server: a host without a trailing
// separator and a directory that starts with one (else net_check would end the
// program over a bad line in a downloaded file).
bool server_record_usable(std::string_view host, std::string_view dir) {
  if (host.empty() || host.back() == '/' || host.back() == '\\') return false;
  return !dir.empty() && (dir.front() == '/' || dir.front() == '\\');
}

bool release_name_usable(std::string_view name) {
  if (name.empty() || name == "." || name == "..") return false;
  return name.find_first_of("/\\") == std::string_view::npos;
}

}  // namespace

void read_server_records(std::string_view body) {
  const auto* begin = reinterpret_cast<const unsigned char*>(body.data());
  text_cursor c{begin, begin + body.size()};
  c.skip_eols_and_blanks();
  while (!c.at_end()) {
    if (c.take_word("ENDOFLIST")) break;
    if (c.take_word("BETA")) {
      c.rest_of_line();  // the full installer ignores beta releases
    } else if (c.take_word("FINAL")) {
      const std::string_view name = c.rest_of_line();
      // A FINAL line without a name would make every server folder "//" and
      // the renamed installation folder nameless; keep the previous name.
      // A name holding a separator or naming "." or ".." would lead the
      // folder rename at the end of an install (and a new installation's
      // folder) outside the chosen parent folder.
      if (release_name_usable(name)) {
        install_name.assign(name);
      } else if (!name.empty()) {
        xer << "Server list: unusable release name ignored: " << name << "\n";
      }
    } else if (c.take_word("SERVER")) {
      const std::string_view host = c.rest_of_line();
      c.skip_eols_and_blanks();
      const std::string_view dir = c.rest_of_line();
      c.skip_eols_and_blanks();
      const std::string_view desc = c.rest_of_line();
      if (dir.empty() || desc.empty()) {
        xer << "Server list: a SERVER record is cut short by the end of the file; ignored.\n";
      } else if (!server_record_usable(host, dir)) {
        xer << "Server list: SERVER record with an unusable host or folder ignored: host=" << host
            << ", folder=" << dir << "\n";
      } else if (stg.num_servers >= kMaxServers) {
        xer << "Server list: more than " << kMaxServers << " servers; ignored " << host << "\n";
      } else {
        const int i = stg.num_servers;
        server_name[i].assign(host);
        server_path[i].assign(dir);
        server_path[i] += install_name;
        server_path[i] += '/';
        server_desc[i].assign(desc);
        ++stg.num_servers;
      }
    } else {
      c.skip_to_eol();  // anything else: this line is skipped
    }
    c.skip_eols_and_blanks();
  }
}

namespace {
// `sig_path` null: the list is not signed and not checked (--release_key=none,
// or a caller that reads a list on its own).
bool read_list(const std::string& local_path, const std::string* sig_path) {
  xmap_class m(local_path);
  static const int versions[] = {820, 0};
  if (m.mBegin == nullptr || m.check_file(kCheckText, versions, "SERVERS", nullptr) != 820) {
    new_format(local_path);
    return false;
  }
  const std::string name_before = install_name;
  stg.num_servers = 0;
  read_server_records(std::string_view(reinterpret_cast<const char*>(m.mCrt), m.mEnd - m.mCrt));
  if (sig_path) {
    // Checked after the records are read, since the signature must name the
    // list's own FINAL release; a refused list leaves nothing behind.
    release_check c = check_release_signature(local_path, *sig_path, install_name, "serverlist9.txt.minisig");
    if (c.ok && c.time < stg.release_time) {
      c.ok = false;
      c.why = "signed at " + std::to_string(c.time) + ", older than a release already seen (" +
              std::to_string(stg.release_time) + ")";
    }
    if (!c.ok) {
      xer << "Server list refused: " << c.why << "\n";
      stg.num_servers = -1;
      install_name = name_before;
      new_format(local_path);
      return false;
    }
    stg.release_time = c.time;
    xer << "Server list signature good: release " << install_name << ", signed at " << c.time << "\n";
  }
  pick_server_biased();
  return true;
}

// Where the vendor-host fetch is: the list first, then its signature.
struct list_fetch {
  bool have_list = false;
  int sig_failures = 0;
};
list_fetch g_fetch;
}  // namespace

bool read_server_list(const std::string& local_path) {
  return read_list(local_path, nullptr);
}

bool read_signed_server_list(const std::string& local_path, const std::string& sig_path) {
  return read_list(local_path, &sig_path);
}

void server_list_fetch_reset() {
  g_fetch = list_fetch{};
}

namespace {
// The disc installer reads the list at the disc's root: its FINAL line names
// the release folder on the disc. No disc: no servers.
int disc_list_step() {
  if (dvd_path.empty()) {
    xer << "No install disc: nothing to install from.\n";
    stg.num_servers = 0;
    return 1;
  }
  const std::string list = dvd_path + "serverlist9.txt";
  if (!release_keys_in_force().check)
    read_server_list(list);
  else
    read_signed_server_list(list, list + ".minisig");
  return 1;
}
}  // namespace

int server_list_step(const std::string& vendor_host) {
  if (!is_net) return disc_list_step();
  const std::string local = temp_path + "serverlist9.txt";
  if (!g_fetch.have_list) {
    const int r = http.net_check(0, vendor_host, "/serverlist9.txt", local);
    if (r != 1) return r;
    if (!release_keys_in_force().check) {
      read_server_list(local);
      return 1;
    }
    g_fetch.have_list = true;
  }
  const std::string sig = local + ".minisig";
  const int r = http.net_check(0, vendor_host, "/serverlist9.txt.minisig", sig, kMinisigMaxBytes);
  if (r == 0) return 0;
  if (r == 2 && ++g_fetch.sig_failures < kSignatureTries) return 0;  // asked again on the next pass
  g_fetch = list_fetch{};
  read_signed_server_list(local, r == 1 ? sig : std::string());
  return 1;
}

int rand_0_32767() {
  return static_cast<int>(std::rand() / (RAND_MAX / 32768 + 1));
}

int biased_server_pick(int num_servers, int r) {
  const float u = static_cast<float>(r) / 32767.0f;
  const float x = u > 0.0f ? std::pow(u, 1.5f) : 0.0f;
  int sel = static_cast<int>(static_cast<float>(num_servers) * x);
  if (sel < 0) sel = 0;
  if (sel > num_servers - 1) sel = num_servers - 1;
  return sel;
}

void pick_server_biased() {
  stg.sel_server = biased_server_pick(stg.num_servers, rand_0_32767());
}

int uniform_server_pick(int num_servers, int r) {
  const int hi = num_servers - 1;
  if (hi <= 0) return 0;  // one server (no list is never fetched from)
  return (r * (hi + 1)) / 32768;
}

void pick_server_uniform() {
  stg.sel_server = uniform_server_pick(stg.num_servers, rand_0_32767());
}

void new_format(const std::string& file_path) {
  MACIBM_alert(
      0,
      "OK I am checking the Quellwind servers and I am finding file formats that are newer than I "
      "can understand!",
      "In other words, you need to get a new installer!",
      std::string("Please download the latest installer from the download section of ") + kVendorDownloadUrl,
      file_path, t_alert, kTag, kLineNewFormat);
  go_to_url(kVendorDownloadUrl);
  stg.step = 2;
  app_done = 1;
}
