#include "fuzz_support.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <system_error>

#include "installer/model.h"
#include "installer/ui_hooks.h"
#include "ui/hl_alert.h"
#include "ui/hl_init.h"
#include "util/UTL_cmdline.h"

namespace fs = std::filesystem;

namespace fuzzsupport {

namespace {
int g_alerts = 0;
bool g_ready = false;
std::string g_scratch;

int answer_cancel(const std::string&, int) {
  return 3;
}
int choose_none(const std::string&, const std::string&, std::string&) {
  return 0;
}
bool open_no_url(const std::string&) {
  return true;
}
}  // namespace

void init() {
  if (g_ready) return;
  g_ready = true;
  MACIBM_wire_lower_layers();
  installer_wire_lower_layers();
  alert_set_observer([](const alert_record&) { ++g_alerts; });
  alert_set_exit_hook([](int code) { throw fatal_alert{code}; });
  cmdline_set_exit_hook([](int code) { throw fatal_alert{code}; });
  set_dir_progress_bar_handler(nullptr);
  set_select_alert_handler(&answer_cancel);
  set_choose_folder_handler(&choose_none);
  set_open_url_handler(&open_no_url);

  std::error_code ec;
  const char* tmp = std::getenv("TMPDIR");
  std::string base = fs::is_directory("/dev/shm", ec) ? "/dev/shm" : (tmp && *tmp ? tmp : "/tmp");
  g_scratch = base + "/skyvane-fuzz-" + std::to_string(::getpid()) + "/";
  fs::remove_all(g_scratch, ec);
  fs::create_directories(g_scratch, ec);
  std::atexit([] {
    std::error_code e;
    fs::remove_all(g_scratch, e);
  });
}

const std::string& scratch() {
  init();
  return g_scratch;
}

void write_file(const std::string& path, const uint8_t* data, size_t size) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  if (size) f.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  f.close();
  if (!f) fail("cannot write scratch file " + path);
}

void remove_tree(const std::string& path) {
  std::error_code ec;
  // Entries written read-only must not survive into the next input.
  for (auto it = fs::recursive_directory_iterator(path, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    if (!it->is_symlink()) fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
  }
  fs::remove_all(path, ec);
}

void make_dirs(const std::string& path) {
  std::error_code ec;
  fs::create_directories(path, ec);
}

int take_alert_count() {
  const int n = g_alerts;
  g_alerts = 0;
  return n;
}

void fail(const std::string& why) {
  std::fprintf(stderr, "FUZZ INVARIANT BROKEN: %s\n", why.c_str());
  std::fflush(stderr);
  std::abort();
}

std::vector<std::string> list_entries(const std::string& root) {
  std::set<std::string> names;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    std::string rel = fs::relative(it->path(), root, ec).string();
    if (it->is_symlink()) {
      rel += '@';
    } else if (it->is_directory()) {
      rel += '/';
    }
    names.insert(rel);
  }
  return {names.begin(), names.end()};
}

std::string list_tree(const std::string& root) {
  std::string out;
  for (const auto& n : list_entries(root)) out += n + "\n";
  return out;
}

}  // namespace fuzzsupport
