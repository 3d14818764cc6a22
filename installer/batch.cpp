#include "installer/batch.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "installer/main.h"
#include "installer/model.h"
#include "installer/server_list.h"
#include "installer/sub_wins.h"
#include "installer/ui_hooks.h"
#include "installer/utils.h"
#include "io/IO_UTILS.h"
#include "net/http.h"
#include "platform/terminal.h"
#include "ui/hl_alert.h"
#include "ui/hl_mnw.h"
#include "util/UTL_cmdline.h"
#include "util/log.h"
#include "util/xtim.h"

namespace {

// The vendor host as a web address: "http://" before it unless it names its scheme.
std::string web_address(const std::string& host) {
  return host.find("://") == std::string::npos ? "http://" + host : host;
}
constexpr const char* kTag = "batch";

// Failed fetches of the server list, or of the manifest from each server,
// before the run gives up (the window's driver tries for as long as the user
// watches; a script needs an end).
constexpr int kListTries = kFetchTriesPerServer;
constexpr double kRetryPauseSeconds = 1.0;
// A plain progress line at most this often when standard error is not a
// terminal; SKYVANE_PROGRESS_SECONDS overrides it (tests).
constexpr double kPlainInterval = 5.0;
constexpr double kTerminalInterval = 0.2;

const char* const kNoServersText = "I could not find any servers to get Skyvane from!";

struct changed_file {
  std::string path;
  int is_gone;
};
std::vector<changed_file> g_changed;

// Standard error's progress line; alerts and messages clear it first.
class progress_writer {
 public:
  void start() {
    terminal_ = platform_stderr_is_terminal();
    interval_ = terminal_ ? kTerminalInterval : kPlainInterval;
    const std::string env = platform_env("SKYVANE_PROGRESS_SECONDS");
    if (!env.empty()) interval_ = std::atof(env.c_str());
    last_ = -1e9;
  }
  void update(const batch_progress& p, bool force = false) {
    const double now = monotonic_seconds();
    if (!force && now - last_ < interval_) return;
    last_ = now;
    const int columns = terminal_ ? platform_stderr_columns() : 0;
    std::fputs(batch_progress_output(batch_progress_text(p), terminal_, columns).c_str(), stderr);
    std::fflush(stderr);
    line_open_ = terminal_;
  }
  // Ends a line rewritten in place so that the next text starts afresh.
  void end_line() {
    if (!line_open_) return;
    std::fputs("\n", stderr);
    line_open_ = false;
  }

 private:
  bool terminal_ = false;
  bool line_open_ = false;
  double interval_ = kPlainInterval;
  double last_ = 0;
};
progress_writer g_progress;

void say(const std::string& text) {
  g_progress.end_line();
  std::fprintf(stderr, "%s\n", text.c_str());
  std::fflush(stderr);
}

// Every alert of the run: already in the log; its text goes to standard
// error, where the user of a run without a window looks.
void tell_alert(const alert_record& r) {
  g_progress.end_line();
  for (const std::string* l : {&r.l1, &r.l2, &r.l3, &r.l4})
    if (!l->empty()) std::fprintf(stderr, "%s\n", l->c_str());
  std::fflush(stderr);
}

// The modified-file question, answered by --changed. "cancel" answers
// "keep" so that every changed file is listed; the run then stops before
// anything is fetched.
int answer_changed(const std::string& dest_path_exp, int is_gone) {
  g_changed.push_back({dest_path_exp, is_gone});
  const std::string how = cmdline.get_option("--changed");
  const int answer = how == "overwrite" ? 1 : 2;
  xer << "Changed file " << dest_path_exp << ": --changed=" << (how.empty() ? "cancel" : how) << "\n";
  return answer;
}

bool no_browser(const std::string&) {
  return false;  // the alert that names the page went to standard error
}

int accepted() {
  return 1;
}

int stop_status() {
  const int sig = platform_stop_signal();
  xer << "Batch run stopped by signal " << sig << ".\n";
  xer.flush();
  return kBatchSignalBase + sig;
}

// A failure the window would only show in its status line: made an alert,
// so that it is logged and told like the engine's.
int fail_with_alert(const std::string& l1, const std::string& l2, int line) {
  MACIBM_alert(0, l1, l2, "", "", t_alert, kTag, line);
  return kBatchFailed;
}

void pause_before_retry() {
  std::this_thread::sleep_for(std::chrono::duration<double>(kRetryPauseSeconds));
}

// Lets the clock and the sockets move on without spinning the processor.
void idle_moment() {
  std::this_thread::sleep_for(std::chrono::milliseconds(2));
}

int fetch_server_list() {
  int failures = 0;
  while (stg.num_servers == -1) {
    if (platform_stop_signal()) return stop_status();
    xtim.advance_clock();
    const int r = server_list_step(vendor_host());
    if (app_done) return kBatchFailed;  // the list's format is too new (alerted)
    if (r == 2) {
      if (++failures >= kListTries)
        return fail_with_alert(kNoServersText, web_address(vendor_host()) + "/serverlist9.txt", __LINE__);
      pause_before_retry();
    } else if (r == 0 && !http.last_moved) {
      idle_moment();
    }
  }
  if (stg.num_servers == 0) return fail_with_alert(no_source_text(), "", __LINE__);
  return kBatchDone;
}

int fetch_manifest() {
  int failures = 0;
  while (stg.dir_scan == 0) {
    if (platform_stop_signal()) return stop_status();
    xtim.advance_clock();
    const int r = manifest_fetch_step();
    if (r == 2 || (r == 1 && stg.dir_scan == 0)) {
      if (++failures >= kListTries * stg.num_servers) {
        stg.dir_scan = 2;  // no manifest to be had: the status line's text says so
        return fail_with_alert(main_status_line(0.0f, 0).text, "", __LINE__);
      }
      pause_before_retry();
    } else if (r == 0 && !http.last_moved) {
      idle_moment();
    }
  }
  // Every server's manifest was refused for its signature (alerted).
  if (stg.dir_scan == 2) return kBatchFailed;
  return kBatchDone;
}

batch_progress progress_now(float total_kb) {
  batch_progress p;
  p.done_kb = next.totl_disk;
  p.total_kb = total_kb;
  const float fetched = next.comp_down + next.file_down;
  const float elapsed = xtim.real_time - next.star_time;
  if (elapsed > 0.5f && fetched > 0.0f) {
    p.rate_kb_s = fetched / elapsed;
    p.left_s = std::max(stg.down_req - fetched, 0.0f) / p.rate_kb_s;
  }
  p.file = crnt_file_name;
  return p;
}

int install() {
  const float total_kb = stg.disk_req;
  g_progress.start();
  while (stg.step == 1) {
    if (platform_stop_signal()) {
      grab_abandon();
      reset_streams();
      stg.step = 2;
      g_progress.end_line();
      return stop_status();
    }
    xtim.advance_clock();
    batch_progress last = progress_now(total_kb);
    install_slice();
    if (stg.step == 1) {
      g_progress.update(progress_now(total_kb));
    } else if (!stg.got_failed_install) {
      // The ended grab has reset its counters: the last report is the whole.
      last.done_kb = total_kb;
      last.left_s = 0.0f;
      g_progress.update(last, true);
    }
  }
  g_progress.end_line();
  if (stg.got_failed_install) return kBatchFailed;
  say("Installation Complete!");
  return kBatchDone;
}

int run() {
  if (const int r = fetch_server_list(); r != kBatchDone) return r;
  if (const int r = fetch_manifest(); r != kBatchDone) return r;
  if (platform_stop_signal()) return stop_status();
  manifest_read_step();
  if (stg.dir_scan != 3) return kBatchFailed;  // alerted by the reader
  if (platform_stop_signal()) return stop_status();
  if (stg.disk_req <= 0.0f) {
    say("Your copy of Skyvane is already the latest version.");
    return kBatchDone;
  }
  uint64_t free_bytes = 0;
  if (disk_free_bytes(dest_dir_path, &free_bytes) == 0 &&
      static_cast<double>(free_bytes) * 0.001 <= static_cast<double>(stg.disk_req))
    return fail_with_alert("You don't have enough disk space to install this!", dest_dir_path, __LINE__);

  if (cmdline.has_option("--show-licence")) {
    std::printf("%s\n", licence_text());
    std::fflush(stdout);
  }
  if (!cmdline.has_option("--accept-licence")) {
    say("The licence must be accepted before " + install_name + " is installed in " + dest_dir_path +
        ".\nIts text is built into this program: --show-licence prints it. Run again with\n"
        "--accept-licence to accept it.");
    xer << "Batch run: the licence was not accepted.\n";
    return kBatchConsent;
  }
  g_changed.clear();
  press_install(accepted);
  const bool cancel = cmdline.get_option("--changed").empty() || cmdline.get_option("--changed") == "cancel";
  if (cancel && !g_changed.empty()) {
    stg.step = 0;
    std::string list = "These files were changed since they were installed; nothing was replaced:";
    for (const changed_file& f : g_changed) list += "\n  " + f.path + (f.is_gone ? " (withdrawn)" : "");
    say(list + "\nRun again with --changed=keep or --changed=overwrite.");
    return kBatchConsent;
  }
  if (stg.step != 1) return kBatchConsent;
  return install();
}
}  // namespace

std::string batch_progress_text(const batch_progress& p) {
  char buf[160];
  const float ratio = p.total_kb > 0.0f ? std::clamp(p.done_kb / p.total_kb, 0.0f, 1.0f) : 0.0f;
  std::snprintf(buf, sizeof buf, "%3d%% %.1f MB of %.1f MB", static_cast<int>(ratio * 100.0f),
                p.done_kb / 1000.0f, p.total_kb / 1000.0f);
  std::string text = buf;
  if (p.rate_kb_s > 0.0f) {
    std::snprintf(buf, sizeof buf, ", %.1f MB/s", p.rate_kb_s / 1000.0f);
    text += buf;
  }
  if (p.left_s >= 0.0f) {
    const long s = static_cast<long>(p.left_s + 0.5f);
    if (s >= 3600)
      std::snprintf(buf, sizeof buf, ", %ld:%02ld:%02ld left", s / 3600, s / 60 % 60, s % 60);
    else
      std::snprintf(buf, sizeof buf, ", %ld:%02ld left", s / 60, s % 60);
    text += buf;
  }
  if (!p.file.empty()) text += ", " + p.file;
  return text;
}

std::string batch_progress_output(const std::string& text, bool terminal, int columns) {
  if (!terminal) return text + "\n";
  std::string line = text;
  // A line longer than the terminal would wrap, and '\r' would then rewrite
  // only its last row.
  if (columns > 1 && line.size() > static_cast<size_t>(columns - 1)) {
    size_t cut = columns - 1;
    while (cut > 0 && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80) --cut;  // whole characters
    line.resize(cut);
  }
  return "\r" + line + "\033[K";
}

void batch_tell_alerts() {
  alert_set_observer(tell_alert);
}

int batch_main() {
  platform_catch_stop_signals();
  batch_tell_alerts();
  set_dir_progress_bar_handler(nullptr);
  set_select_alert_handler(answer_changed);
  set_open_url_handler(no_browser);
  const int status = run();
  xer << "Batch run ended with exit status " << status << ".\n";
  xer.flush();
  alert_set_observer(nullptr);
  MACIBM_finishup(1);
  return status;
}
