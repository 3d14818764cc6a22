#include "util/UTL_cmdline.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "platform/sockets.h"
#include "platform/system.h"
#include "util/log.h"
#include "util/log_header.h"

UTL_cmdline cmdline;

namespace {
std::function<void(const std::string&)> g_cmnds_printer;
std::function<void(int)> g_exit_hook;
std::string g_program_name = "skyvane-installer";

[[noreturn]] void end_program(int code) {
  std::fflush(stdout);
  std::fflush(stderr);
  if (g_exit_hook) g_exit_hook(code);  // a test hook throws here
  std::exit(code);
}

bool is_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
}  // namespace

void cmdline_set_cmnds_printer(std::function<void(const std::string&)> fn) {
  g_cmnds_printer = std::move(fn);
}
void cmdline_set_exit_hook(std::function<void(int)> fn) {
  g_exit_hook = std::move(fn);
}

void UTL_cmdline::clear() {
  options.clear();
  destination.clear();
}

void UTL_cmdline::store(const std::string& name, const std::string& value) {
  if (name.empty()) return;
  if (options.count(name))
    xer << "WARNING: command line option " << name << "=" << value << "included twice.\n";
  options[name] = value;
  xer << "     '" << name;
  if (!value.empty()) xer << "'='" << value;
  xer << "'\n";
}

void UTL_cmdline::init_win(const std::string& text) {
  size_t i = 0, n = text.size();
  while (i < n) {
    while (i < n && is_space(text[i])) ++i;
    if (i >= n) break;
    size_t name_start = i;
    while (i < n && !is_space(text[i]) && text[i] != '=') ++i;
    std::string name = text.substr(name_start, i - name_start);
    std::string value;
    if (i < n && text[i] == '=') {
      ++i;
      size_t value_start = i;
      while (i < n && !is_space(text[i])) ++i;
      value = text.substr(value_start, i - value_start);
    }
    store(name, value);
  }
  xer.flush();
  init_common();
}

cmdline_split cmdline_split_args(const std::vector<std::string>& args, const std::string& cwd) {
  cmdline_split out;
  std::vector<std::string> plain;
  bool options_ended = false;
  for (const std::string& a : args) {
    if (!options_ended && a == "--") {
      options_ended = true;
    } else if (!options_ended && !a.empty() && a[0] == '-') {
      size_t eq = a.find('=');
      if (eq == std::string::npos)
        out.options.emplace_back(a, "");
      else
        out.options.emplace_back(a.substr(0, eq), a.substr(eq + 1));
    } else if (!a.empty()) {
      plain.push_back(a);
    }
  }
  if (plain.size() > 1) {
    out.error = "more than one destination folder given (\"" + plain[0] + "\", \"" + plain[1] +
                "\"); put a folder name that holds spaces in quotes";
    return out;
  }
  if (plain.size() == 1) out.destination = cmdline_folder_path(plain[0], cwd);
  for (const auto& [name, value] : out.options) {
    if (name == "--vendor_host" && !cmdline_valid_host_port(value)) {
      out.error =
          "--vendor_host needs HOST, HOST:PORT or [IPv6]:PORT (port 1 to 65535), not \"" + value + "\"";
      return out;
    }
    if (name == "--release_key" && value.empty()) {
      out.error = "--release_key needs a minisign public key FILE or none";
      return out;
    }
    if (name == "--max_rate" && !cmdline_valid_rate(value)) {
      out.error = "--max_rate needs a whole number of KiB per second (0 = unlimited), not \"" + value + "\"";
      return out;
    }
    if (name == "--changed" && value != "keep" && value != "overwrite" && value != "cancel") {
      out.error = "--changed needs keep, overwrite or cancel, not \"" + value + "\"";
      return out;
    }
  }
  return out;
}

std::string cmdline_folder_path(const std::string& folder, const std::string& cwd) {
  if (folder.empty()) return std::string();
  std::string d = folder[0] == '/' ? folder : cwd + folder;
  // "." and ".." are resolved here: the installer works with the folder's
  // own last name (it renames the folder after the release).
  d = std::filesystem::path(d).lexically_normal().string();
  if (d.empty() || d.back() != '/') d += '/';
  return d;
}

bool cmdline_valid_rate(const std::string& text) {
  if (text.empty() || text.size() > 9) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  return true;
}

bool cmdline_valid_host_port(const std::string& given) {
  std::string text = given;
  for (const char* scheme : {"https://", "http://"}) {  // a web address's scheme, any case
    const size_t n = std::strlen(scheme);
    if (text.size() > n && std::equal(scheme, scheme + n, text.begin(), [](char a, char b) {
          return a == std::tolower(static_cast<unsigned char>(b));
        })) {
      text = text.substr(n);
      break;
    }
  }
  size_t colon = text.rfind(':');
  if (!text.empty() && text.front() == '[') {
    // An IPv6 literal in brackets, "[::1]" or "[::1]:8080".
    const size_t close = text.find(']');
    sock_address a;
    if (close == std::string::npos || !sock_parse_numeric(text.substr(0, close + 1), &a) || a.family != 6)
      return false;
    if (close + 1 == text.size()) return true;
    if (text[close + 1] != ':') return false;
    colon = close + 1;
  } else {
    std::string host = colon == std::string::npos ? text : text.substr(0, colon);
    if (host.empty()) return false;
    for (char c : host)
      if (is_space(c) || c == '/' || c == ':') return false;
  }
  if (colon == std::string::npos) return true;
  std::string port = text.substr(colon + 1);
  if (port.empty() || port.size() > 5) return false;
  for (char c : port)
    if (c < '0' || c > '9') return false;
  int p = std::atoi(port.c_str());
  return p >= 1 && p <= 65535;
}

namespace {
cmdline_split split_argv(int argc, const char* const* argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i] ? argv[i] : "");
  return cmdline_split_args(args, platform_current_dir());
}
}  // namespace

bool cmdline_asks_batch(int argc, const char* const* argv) {
  for (const auto& option : split_argv(argc, argv).options)
    if (option.first == "--batch") return true;
  return false;
}

bool cmdline_ends_at_once(int argc, const char* const* argv) {
  const cmdline_split split = split_argv(argc, argv);
  if (!split.error.empty()) return true;
  for (const auto& option : split.options) {
    const std::string& name = option.first;
    if (name == "--cmnds" || name == "-h" || name == "--help" || name == "--version") return true;
  }
  return false;
}

void UTL_cmdline::init_args(int argc, const char* const* argv) {
  cmdline_split split = split_argv(argc, argv);
  if (!split.error.empty()) {
    std::fprintf(stderr, "%s: %s\n\n%s", g_program_name.c_str(), split.error.c_str(),
                 cmdline_usage_text().c_str());
    end_program(2);
  }
  for (const auto& [name, value] : split.options) store(name, value);
  destination = split.destination;
  xer.flush();
  init_common();
}

int UTL_cmdline::has_option(const std::string& name) const {
  return options.count(name) ? 1 : 0;
}

std::string UTL_cmdline::get_option(const std::string& name) const {
  auto it = options.find(name);
  return it == options.end() ? std::string() : it->second;
}

void UTL_cmdline::init_common() {
  if (has_option("--cmnds")) {
    if (g_cmnds_printer) g_cmnds_printer(get_option("--cmnds"));
    end_program(0);
  }
  if (has_option("-h") || has_option("--help")) {
    std::fputs(cmdline_usage_text().c_str(), stdout);
    end_program(0);
  }
  if (has_option("--version")) {
    std::printf("%s\n", cmdline_version_text().c_str());
    end_program(0);
  }
}

void cmdline_set_program_name(const std::string& name) {
  g_program_name = name;
}

std::string cmdline_version_text() {
  return std::string(kSkyvaneVersionString) + " (Installer " + std::to_string(kInstallerVersion) + ")";
}

std::string cmdline_usage_text() {
  const std::string prefs = platform_prefs_folder() + "Skyvane Installer.prf";
  std::string u;
  u += "Usage: " + g_program_name + " [OPTION...] [DESTINATION]\n";
  u += "\n";
  u += "Brings the Skyvane installation in DESTINATION up to the latest release, or\n";
  u += "installs it there. DESTINATION is one folder (quote it when it holds spaces);\n";
  u += "without it the folder of the last run is used (first run: ~/Skyvane 9/).\n";
  u += "\n";
  u += "Options:\n";
  u += "  -h, --help               print this text and exit\n";
  u += "  --version                print the version and exit\n";
  u += "  --vendor_host=HOST[:PORT]\n";
  u += "                           web host that serves serverlist9.txt (port 80 if none);\n";
  u += "                           an IPv6 address goes in brackets: [::1]:8080;\n";
  u += "                           https://HOST[:PORT] fetches it over TLS (port 443)\n";
  u += "  --max_rate=KB            download at most KB KiB per second over all streams\n";
  u += "                           during this run (0 = unlimited; not saved)\n";
  u += "  --verify                 read and sign every installed file, even those the\n";
  u += "                           signature cache knows unchanged (after disk trouble)\n";
  u += "  --release_key=FILE|none  trust only the minisign public key in FILE for the\n";
  u += "                           release's signatures during this run; none: accept\n";
  u += "                           unsigned releases (default: the built-in keys)\n";
  u += "  --batch                  install or update without a window (no display needed);\n";
  u += "                           progress goes to standard error. Exit status: 0 done\n";
  u += "                           or nothing to do, 1 failed, 2 bad command line,\n";
  u += "                           3 consent needed, 130/143 stopped by SIGINT/SIGTERM\n";
  u += "  --accept-licence         with --batch: accept the licence (needed to install)\n";
  u += "  --show-licence           with --batch: print the licence text\n";
  u += "  --changed=keep|overwrite|cancel\n";
  u += "                           with --batch: what to do with installed files you\n";
  u += "                           changed (default cancel: replace none, list them and\n";
  u += "                           exit with status 3)\n";
  u += "  --pref:TAG=VALUE         use VALUE for one setting during this run; it is saved\n";
  u += "                           at a normal exit. TAG is one of:\n";
  u += "                             _use_max_cpu      1: never sleep between frames\n";
  u += "                             _rename_folder    1: name the folder after the release\n";
  u += "                             _stream_count     download streams, 0 = automatic\n";
  u += "                             _log_actions      1: log every install action\n";
  u += "                             _always_ask_dir   1: ask for the folder at each start\n";
  u += "                             _dest_dir_path    the installation folder\n";
  u += "                             _proxy_host       HTTP proxy host (empty: no proxy)\n";
  u += "                             _proxy_port       HTTP proxy port, as text\n";
  u += "                             _proxy_port_int   HTTP proxy port, as a number\n";
  u += "                             _max_rate_kb      download limit in KiB/s, 0 = none\n";
  u += "                             _release_time     newest release signing time seen\n";
  u += "  --fps_test               unattended: alerts go to the log only (a fatal one\n";
  u += "                           ends with exit code 1); settings are not saved\n";
  u += "  --lock_main_thread       keep the main thread on the first processor\n";
  u += "  --cmnds=all|PATH         list the commands of the command registry and exit\n";
  u += "  --use_vbos, --use_glsl, --use_fprogs, --use_vprogs, --no_vbos, --no_pbos,\n";
  u += "  --no_sprites, --no_pixel_counters, --no_aniso_filtering, --no_hw_mipmap,\n";
  u += "  --no_vshaders, --no_fshaders, --no_glsl, --no_fbos, --no_threaded_ogl,\n";
  u += "  --no_sblend, --force_run\n";
  u += "                           OpenGL switches of the graphics set-up\n";
  u += "\n";
  u += "Files:\n";
  u += "  Settings:  " + prefs + "\n";
  u += "             ($XDG_CONFIG_HOME/, else ~/.config/)\n";
  u += "  Log:       Log.txt in the program's folder (" + platform_program_folder() + "),\n";
  u += "             or, when that folder is not writable, in " + platform_state_folder() + "\n";
  u += "             ($XDG_STATE_HOME/skyvane/, else ~/.local/state/skyvane/);\n";
  u += "             rewritten at every start. stack_crawl.txt is kept beside it.\n";
  u += "  Downloads: a private folder made for each run under " + platform_temp_base() + "\n";
  u += "             ($TMPDIR, else /tmp), removed at exit.\n";
  u += "\n";
  u += "Proxy: without _proxy_host, http_proxy (or HTTP_PROXY) is used, as\n";
  u += "  http://[user:password@]host[:port]; no_proxy (or NO_PROXY) lists the hosts\n";
  u += "  reached directly (names and their subdomains, separated by commas; * = all).\n";
  return u;
}
