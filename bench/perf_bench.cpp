// The installer against the tools a user would use instead, on the same
// release, in the same run (see bench/README.md, "Against the peers").
//
// A deterministic product (sizes from 1 kB up to 60 MB, half compressible,
// half random) is published twice with skyvane-publish: release R1, and R2
// with 10 % of the files changed. Each release is served by its own nginx on
// 127.0.0.1. Every round then times, side by side:
//   ours, headless: the grab engine driven as the driver drives it (server
//     list, manifest, read_directory with the disk examination, make_dirs,
//     choose_files, grab_files in 10 ms slices), in a child process of its
//     own with the framework's worker threads, for a fresh install, an update
//     of a current installation and an update with 10 % changed;
//   ours, the real program under Xvfb: from start to "Installation
//     Complete!" (the clicks on Install and Accept are the user's time and
//     are not counted), fresh and current;
//   the peers: curl --parallel --parallel-max 4, unzip per archive two at a
//     time, one python3 process extracting every zip with zipfile, md5sum in
//     one and in two processes.
// Prints medians with min-max, the ratios, and one line per target.
//
// Usage: perf_bench [--files=N] [--mb=N] [--rounds=N] [--no-real] [--no-peers]
//        perf_bench --wan --relay=PATH [--links=RTT_MS:MBIT,...] [--files=N]
//          [--large-mb=N] [--rounds=N] [--quick] [--no-real]
//        perf_bench --scale [--files=N] [--mb=N] [--changed-permille=N] [--rounds=N] [--no-real]
//   --scale: 100 000 files (2 GB) by default, 1 % changed, against rsync -a.
//   --wan: the fresh install through bench/wan_relay.py's emulated wide-area
//   link against curl and aria2c through the same link (run by bench/wan.sh).
// Needs a display (run it through bench/run.sh, which starts Xvfb).
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "headless_fetch.h"
#include "installer/model.h"
#include "installer/server_list.h"
#include "installer/ui_hooks.h"
#include "installer/utils.h"
#include "io/archive.h"
#include "net/http.h"
#include "support/test_support.h"
#include "ui/hl_alert.h"
#include "ui/hl_init.h"
#include "util/HL_THREAD.h"
#include "util/UTL_cmdline.h"
#include "util/log.h"
#include "util/xtim.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using testsupport::run;
using testsupport::shell_quote;

double now_s() {
  return std::chrono::duration<double>(Clock::now().time_since_epoch()).count();
}

int arg_int(int argc, char** argv, const char* name, int def) {
  const std::string prefix = std::string("--") + name + "=";
  for (int i = 1; i < argc; ++i)
    if (std::strncmp(argv[i], prefix.c_str(), prefix.size()) == 0) return std::atoi(argv[i] + prefix.size());
  return def;
}
bool arg_flag(int argc, char** argv, const char* name) {
  for (int i = 1; i < argc; ++i)
    if (std::string(argv[i]) == std::string("--") + name) return true;
  return false;
}

// ---- The product --------------------------------------------------------------

struct product_file {
  std::string rel;  // below the master folder
  size_t size;
  bool compressible;
  uint64_t seed;
};

// Text-like bytes (deflate takes them to about a third) or random bytes.
void fill(std::string& out, size_t size, bool compressible, uint64_t seed) {
  out.resize(size);
  std::mt19937_64 rng(seed);
  if (!compressible) {
    size_t i = 0;
    for (; i + 8 <= size; i += 8) {
      const uint64_t v = rng();
      std::memcpy(&out[i], &v, 8);
    }
    for (; i < size; ++i) out[i] = static_cast<char>(rng());
    return;
  }
  static const char* const kWords[] = {
      "runway ",  "taxiway ",   "approach ", "heading ", "altitude ", "flaps ",    "trim ",   "rudder ",
      "aileron ", "elevator ",  "throttle ", "mixture ", "magneto ",  "avionics ", "beacon ", "tower ",
      "ground ",  "clearance ", "squawk ",   "vector ",  "descent ",  "climb ",    "cruise ", "0417 ",
      "2213 ",    "9 ",         "38.25 ",    "-122.31 ", "VOR ",      "NDB ",      "ILS\n",   "ATIS\n"};
  // Words, and every third token a random number: deflate takes this to
  // about 40 %, like real text data with figures in it.
  size_t i = 0;
  while (i < size) {
    const uint64_t v = rng();
    for (int k = 0; k < 6 && i < size; ++k) {
      if (k % 3 == 2) {
        char num[16];
        const int n =
            std::snprintf(num, sizeof num, "%u ", static_cast<unsigned>((v >> (k * 10)) % 1000000u));
        for (int c = 0; c < n && i < size; ++c) out[i++] = num[c];
      } else {
        for (const char* w = kWords[(v >> (k * 10)) & 31]; *w && i < size; ++w) out[i++] = *w;
      }
    }
  }
}

// `count` files of `total` bytes: sizes spread from 1 kB to `largest` bytes
// (log-scale, skewed towards small files so that the total fits), the largest
// file exactly `largest`.
std::vector<product_file> plan_product(int count, double total, size_t largest) {
  std::mt19937_64 rng(900);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  std::vector<double> x(count);
  for (double& v : x) v = u(rng);
  const double lo = 1000.0, span = std::log(static_cast<double>(largest) / lo);
  auto total_for = [&](double p) {
    double t = static_cast<double>(largest);
    for (int i = 1; i < count; ++i) t += lo * std::exp(span * std::pow(x[i], p));
    return t;
  };
  double a = 0.2, b = 200.0;  // total_for falls as p grows
  for (int k = 0; k < 80; ++k) {
    const double m = std::sqrt(a * b);
    (total_for(m) > total ? a : b) = m;
  }
  std::vector<product_file> files;
  for (int i = 0; i < count; ++i) {
    product_file f;
    f.size = i == 0 ? largest : static_cast<size_t>(lo * std::exp(span * std::pow(x[i], b)));
    f.compressible = false;  // set below
    f.seed = 1000 + static_cast<uint64_t>(i);
    f.rel =
        "group " + std::to_string(i % 23) + "/set " + std::to_string(i % 7) + "/file_" + std::to_string(i);
    files.push_back(f);
  }
  // Half the bytes compressible: sizes in falling order take turns.
  std::vector<size_t> order(files.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(),
                   [&](size_t a, size_t b) { return files[a].size > files[b].size; });
  for (size_t r = 0; r < order.size(); ++r) files[order[r]].compressible = r % 2 == 0;
  for (product_file& f : files) f.rel += f.compressible ? ".txt" : ".dat";
  return files;
}

void write_product(const std::string& root, const std::vector<product_file>& files) {
  std::string buf;
  for (const product_file& f : files) {
    const std::string path = root + f.rel;
    fs::create_directories(fs::path(path).parent_path());
    fill(buf, f.size, f.compressible, f.seed);
    std::ofstream(path, std::ios::binary).write(buf.data(), static_cast<std::streamsize>(buf.size()));
  }
}

// R1's product in `work`p1/`master`, and R2's in `work`p2/`master`: every
// `step`-th file from the fourth on changed, hard links for the rest.
// Returns the changed files.
std::vector<product_file> write_two_products(const std::string& work, const std::string& master,
                                             const std::vector<product_file>& files, size_t step) {
  write_product(work + "p1/" + master, files);
  std::vector<product_file> changed;
  for (size_t i = 3; i < files.size(); i += step) {
    product_file f = files[i];
    f.seed += 777;
    changed.push_back(f);
  }
  run("cp -al " + shell_quote(work + "p1") + " " + shell_quote(work + "p2"));
  for (const auto& f : changed) fs::remove(work + "p2/" + master + f.rel);
  write_product(work + "p2/" + master, changed);
  return changed;
}

// ---- Results --------------------------------------------------------------------

std::map<std::string, std::vector<double>> g_times;  // case -> seconds per round
std::map<std::string, std::vector<double>> g_mem;    // case -> peak MB per round

void record(const std::string& name, double v) {
  g_times[name].push_back(v);
}
double median(std::vector<double> v) {
  if (v.empty()) return NAN;
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}
double med(const std::string& name) {
  return median(g_times[name]);
}

// Trees of earlier cases are moved aside, not deleted, while a round runs:
// ext4 without a journal (as on this machine) skips inodes freed in the
// last 5-10 s when it makes a file, so a case that followed the deletion of
// a 1 500-file tree would pay for it in every file it creates.
std::string g_trash;
int g_trashed = 0;
std::string discard(const std::string& path) {
  return "if [ -e " + shell_quote(path) + " ]; then mv " + shell_quote(path) + " " +
         shell_quote(g_trash + std::to_string(++g_trashed)) + "; fi";
}
// Memory this virtual machine has handed back to its host, in MB: a count
// its kernel keeps; -1 on machines without it.
long host_reclaimed_mb() {
  std::ifstream in("/sys/module/page_reporting/parameters/reported_kib");
  long kib = -1024;
  in >> kib;
  return kib / 1024;
}

// Before each timed case: dirty pages of earlier steps are written out, so
// that no case pays for another's writes, and memory for the case's page
// cache is touched and freed. On a virtual machine whose host takes back the
// guest's free memory, a case writing into memory the host no longer backs
// pays a host fault per page (writing 600 MB: 0.3 s warm, 1.5 s cold); which
// case got which depended on what the case before it had freed. The host
// goes on taking memory freed by earlier steps for a few seconds, touched or
// not: where the machine counts it, the touching waits (up to 15 s) until
// the count has stood still for 2.5 s.
size_t g_prime_bytes = 0;
bool g_wait_for_host = true;
void prime_memory() {
  long last = g_wait_for_host ? host_reclaimed_mb() : -1;
  double still_since = now_s();
  for (const double end = now_s() + 15; last >= 0 && now_s() < end && now_s() - still_since < 2.5;) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const long r = host_reclaimed_mb();
    if (r != last) {
      last = r;
      still_since = now_s();
    }
  }
  const size_t bytes = g_prime_bytes;
  if (bytes == 0) return;
  void* p = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) return;
  for (size_t i = 0; i < bytes; i += 4096) static_cast<volatile char*>(p)[i] = 1;
  ::munmap(p, bytes);
}
// Says so when the host took memory back while a case ran anyway: that
// case's time then includes host faults.
struct reclaim_watch {
  const char* what;
  long at = host_reclaimed_mb();
  void restart() { at = host_reclaimed_mb(); }
  ~reclaim_watch() {
    const long now = host_reclaimed_mb();
    if (at >= 0 && now > at)
      std::printf("  (the host took back %ld MB of memory during %s)\n", now - at, what);
  }
};
void settle() {
  run("sync");
  prime_memory();
}

// Between rounds: the trash is deleted, then the inodes it freed are left
// to age before the next case makes files.
void empty_trash() {
  run("rm -rf " + shell_quote(g_trash) + " && mkdir -p " + shell_quote(g_trash) + " && sync");
  ::sleep(6);
}

// Times a shell command, recorded as the case `what`.
void timed(const char* what, const std::string& cmd) {
  settle();
  reclaim_watch watch{what};
  std::string out;
  const double t = now_s();
  const int rc = run(cmd + " 2>&1", &out);
  const double s = now_s() - t;
  if (rc != 0)
    std::printf("  (command failed, status %d: %s\n   %s)\n", rc, cmd.c_str(), out.substr(0, 400).c_str());
  record(what, s);
}

// ---- Ours, headless ---------------------------------------------------------------

struct engine_result {
  double total = 0;  // start to grab complete
  double exam = 0;   // read_directory: manifest read and disk examination
  double grab = 0;   // grab_files from the first call to complete
  int failed = 0;
  long maxrss_kb = 0;
  double cpu = 0;  // user + system time of the engine's process, workers included
  float down_req = 0;
};

// The install as the driver runs it, in a child process of its own (fresh
// globals, its own worker pool, its own peak memory).
// `verify`: as with --verify, every file is read whatever the signature
// cache says.
engine_result run_engine(const std::string& host, const std::string& dest, const std::string& tmp,
                         const std::string& log, bool verify = false) {
  settle();
  const std::string case_name = fs::path(log).stem().string();  // engine-fresh, ...
  reclaim_watch watch{case_name.c_str()};
  int fds[2];
  if (::pipe(fds) != 0) return {};
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(fds[0]);
    log_open(log);
    // The signature cache goes with the bench's own folders.
    ::setenv("XDG_CACHE_HOME", (fs::path(log).parent_path() / "cache").c_str(), 1);
    if (verify) cmdline.options["--verify"] = "";
    THREAD_init();
    THREAD_make_workers();
    alert_set_observer(
        [](const alert_record& r) { std::printf("  alert: %s / %s\n", r.l1.c_str(), r.l2.c_str()); });
    set_dir_progress_bar_handler(nullptr);
    set_select_alert_handler(nullptr);
    std::srand(1);
    stg = stg_class{};
    stg.rename_folder = 0;
    install_name = no_install_name;
    temp_path = tmp;
    dest_dir_path = dest;
    engine_result r;
    const double t0 = now_s();
    std::string dir_path = bench_fetch_manifest(host);
    if (dir_path.empty()) ::_exit(4);
    const double t1 = now_s();
    read_directory(dir_path, "bench");
    r.exam = now_s() - t1;
    r.down_req = stg.down_req;
    if (stg.disk_req > 0) {
      const double t2 = now_s();
      bench_grab_in_slices();
      r.grab = now_s() - t2;
    }
    r.total = now_s() - t0;
    r.failed = stg.got_failed_install;
    THREAD_shutdown();
    log_close();
    if (::write(fds[1], &r, sizeof r) != static_cast<ssize_t>(sizeof r)) ::_exit(3);
    ::_exit(0);
  }
  ::close(fds[1]);
  engine_result r;
  const bool got = ::read(fds[0], &r, sizeof r) == static_cast<ssize_t>(sizeof r);
  ::close(fds[0]);
  int st = 0;
  rusage ru{};
  ::wait4(pid, &st, 0, &ru);
  if (!got) {
    std::printf("  (the headless engine ended early, status %d)\n", st);
    r.failed = 1;
  }
  r.maxrss_kb = ru.ru_maxrss;
  r.cpu = ru.ru_utime.tv_sec + ru.ru_stime.tv_sec + (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
  return r;
}

// ---- Ours, the real program under Xvfb ------------------------------------------

struct real_result {
  double ready = 0;    // start to "Directory read"
  double install = 0;  // licence accepted to "Install finished."
  double total = 0;    // ready + install: the program's own time
  long hwm_kb = 0;     // peak resident memory when the install ended
  long anon_kb = 0;    // peak private (anonymous) resident memory, sampled every 5 ms
  long file_kb = 0;    // file-backed resident memory then (shared libraries: the renderer's)
  bool ok = false;
  std::string fps_line;  // the program's own count of passes and CPU, whole run
};

class RealProgram {
 public:
  RealProgram(const std::string& work, const std::string& exe) : work_(work) {
    bin_ = work + "bin/";
    home_ = work + "home/";
    fs::create_directories(bin_);
    fs::create_directories(home_ + ".config");
    fs::create_directories(work + "tmp");
    fs::copy_file(exe, bin_ + "skyvane-installer", fs::copy_options::overwrite_existing);
  }

  real_result run_once(const std::string& host, const std::string& dest, bool install) {
    real_result r;
    anon_peak_ = 0;
    fs::remove(bin_ + "Log.txt");
    run("sync");
    const double t0 = now_s();
    pid_ = ::fork();
    if (pid_ == 0) {
      ::setenv("HOME", home_.c_str(), 1);
      ::setenv("XDG_CONFIG_HOME", (home_ + ".config").c_str(), 1);
      ::setenv("XDG_STATE_HOME", (home_ + ".local/state").c_str(), 1);
      ::setenv("TMPDIR", (work_ + "tmp").c_str(), 1);
      const std::string exe = bin_ + "skyvane-installer", vh = "--vendor_host=" + host;
      const int null = ::open("/dev/null", O_WRONLY);
      if (null >= 0) {
        ::dup2(null, 1);
        ::dup2(null, 2);
      }
      // --fps_test: the log ends with the passes drawn and the process's CPU.
      ::execl(exe.c_str(), exe.c_str(), "--fps_test", vh.c_str(), dest.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    double t_ready = 0;
    if (!wait_log("Directory read: result=3", 300, &t_ready)) {
      std::printf("  (the real program did not get ready)\n");
      stop();
      return r;
    }
    r.ready = t_ready - t0;
    find_window();
    if (install) {
      reclaim_watch watch{"the real program's install"};
      double t_acc = 0, t_done = 0;
      bool accepted = false;
      for (int i = 0; i < 40 && !accepted; ++i) {
        click(491, 89);  // Install
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        prime_memory();  // just before the install starts, as for the headless engine
        watch.restart();
        click(691, 255);  // Accept, on the licence screen
        accepted = wait_log("Install: licence accepted", 1.0, &t_acc);
      }
      if (!accepted || !wait_log("Install finished.", 600, &t_done)) {
        std::printf("  (the real program's install did not finish)\n");
        stop();
        return r;
      }
      r.install = t_done - t_acc;
      r.ok = log_text().find("Install failed") == std::string::npos;
    } else {
      r.ok = true;
    }
    r.hwm_kb = status_kib("VmHWM:");
    r.anon_kb = std::max(anon_peak_, status_kib("RssAnon:"));
    r.file_kb = status_kib("RssFile:");
    r.total = r.ready + r.install;
    click(985, 89);  // Quit
    for (int i = 0; i < 100 && running(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    stop();
    const std::string log = log_text();
    const size_t at = log.find("FPS test:");
    if (at != std::string::npos) r.fps_line = log.substr(at, log.find('\n', at) - at);
    return r;
  }

 private:
  // The log from byte `from` on.
  std::string log_text(size_t from = 0) const {
    std::ifstream in(bin_ + "Log.txt", std::ios::binary);
    in.seekg(static_cast<std::streamoff>(from));
    std::ostringstream s;
    if (in) s << in.rdbuf();
    return s.str();
  }
  // Polls the log every 5 ms, reading only what was added; the time the text
  // was first seen.
  bool wait_log(const std::string& text, double seconds, double* when) {
    const double end = now_s() + seconds;
    size_t from = 0;
    while (now_s() < end) {
      const std::string s = log_text(from);
      if (s.find(text) != std::string::npos) {
        *when = now_s();
        return true;
      }
      if (s.size() >= text.size()) from += s.size() - text.size() + 1;
      if (!running()) return false;
      anon_peak_ = std::max(anon_peak_, status_kib("RssAnon:"));
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
  }
  long status_kib(const char* key) const {
    std::ifstream in("/proc/" + std::to_string(pid_) + "/status");
    std::string line;
    while (std::getline(in, line))
      if (line.rfind(key, 0) == 0) return std::strtol(line.c_str() + std::strlen(key), nullptr, 10);
    return 0;
  }
  bool running() {
    if (pid_ <= 0) return false;
    int st = 0;
    if (::waitpid(pid_, &st, WNOHANG) == pid_) {
      pid_ = -1;
      return false;
    }
    return true;
  }
  void stop() {
    if (running()) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    pid_ = -1;
  }
  void find_window() {
    win_x_ = win_y_ = 0;
    std::string out;
    if (run("xdotool search --sync --onlyvisible --pid " + std::to_string(pid_) + " --name '^Skyroot$'",
            &out) != 0)
      return;
    const std::string id = out.substr(0, out.find('\n'));
    std::string geo;
    run("xdotool getwindowgeometry --shell " + id, &geo);
    auto field = [&](const std::string& name) {
      const size_t p = geo.find(name + "=");
      return p == std::string::npos ? 0 : std::atoi(geo.c_str() + p + name.size() + 1);
    };
    win_x_ = field("X");
    win_y_ = field("Y");
  }
  // (x, y) in the program's coordinates: origin bottom-left of 1024 x 768.
  void click(int x, int y) {
    run("xdotool mousemove --sync " + std::to_string(win_x_ + x) + " " + std::to_string(win_y_ + 768 - y) +
        " click 1");
  }

  std::string work_, bin_, home_;
  pid_t pid_ = -1;
  long anon_peak_ = 0;
  int win_x_ = 0, win_y_ = 0;
};

// ---- Helpers for the peers ------------------------------------------------------

std::string url_path(const std::string& p) {
  std::string enc;
  for (char c : p) enc += c == ' ' ? std::string("%20") : std::string(1, c);
  return enc;
}

// Splits `files` (sizes known) into two lists of nearly equal bytes, for two
// md5sum processes that each get half the work.
void write_halves(const std::vector<std::pair<std::string, size_t>>& files, const std::string& a,
                  const std::string& b) {
  auto sorted = files;
  std::sort(sorted.begin(), sorted.end(), [](auto& x, auto& y) { return x.second > y.second; });
  std::string la, lb;
  size_t sa = 0, sb = 0;
  for (auto& f : sorted) {
    if (sa <= sb) {
      la += f.first + '\0';
      sa += f.second;
    } else {
      lb += f.first + '\0';
      sb += f.second;
    }
  }
  testsupport::write_file(a, la);
  testsupport::write_file(b, lb);
}

// The head of the table of cases that `line` fills.
void table_head(int rounds) {
  std::printf("\n%d rounds; seconds, median and min-max\n", rounds);
  std::printf("| %-58s | %8s | %-13s |\n", "case", "median", "min-max");
}

void line(const char* name, const std::string& key, const char* peer_note = "") {
  const auto& v = g_times[key];
  if (v.empty()) return;
  std::printf("| %-58s | %8.2f | %6.2f-%-6.2f | %s\n", name, median(v), *std::min_element(v.begin(), v.end()),
              *std::max_element(v.begin(), v.end()), peer_note);
}

void target(const char* name, double ratio, double goal) {
  std::printf("target %s ratio %.3f goal %.2f %s\n", name, ratio, goal,
              std::isfinite(ratio) && ratio <= goal ? "met" : "missed");
}

// ---- A wide-area link (bench/wan.sh) ----------------------------------------------

// Many small files (1-100 kB, log-uniform, half of them text) and a few
// large random ones: round trips per file against bytes on the link.
std::vector<product_file> plan_wan_product(int small, int large, size_t large_bytes) {
  std::mt19937_64 rng(901);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  std::vector<product_file> files;
  for (int i = 0; i < small + large; ++i) {
    product_file f;
    f.seed = 5000 + static_cast<uint64_t>(i);
    if (i < large) {
      f.size = large_bytes;
      f.compressible = false;
      f.rel = "large/file_" + std::to_string(i) + ".dat";
    } else {
      f.size = static_cast<size_t>(1000.0 * std::exp(std::log(100.0) * u(rng)));
      f.compressible = i % 2 == 0;
      f.rel = "group " + std::to_string(i % 17) + "/file_" + std::to_string(i) +
              (f.compressible ? ".txt" : ".dat");
    }
    files.push_back(f);
  }
  return files;
}

// bench/wan_relay.py on a fixed port in front of nginx: the link's round trip
// and rate. Its counters (connections, bytes each way) are read per case.
class WanRelay {
 public:
  WanRelay(const std::string& script, int port, const std::string& upstream, int rtt_ms, double mbit,
           const std::string& out)
      : out_(out) {
    pid_ = ::fork();
    if (pid_ == 0) {
      const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (fd >= 0) {
        ::dup2(fd, 1);
        ::dup2(fd, 2);
      }
      const std::string p = std::to_string(port), r = std::to_string(rtt_ms), m = std::to_string(mbit);
      ::execlp("python3", "python3", script.c_str(), "--port", p.c_str(), "--upstream", upstream.c_str(),
               "--rtt-ms", r.c_str(), "--rate-mbit", m.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    for (int i = 0; i < 200 && text().find("ready") == std::string::npos; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  ~WanRelay() {
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
  }
  WanRelay(const WanRelay&) = delete;
  WanRelay& operator=(const WanRelay&) = delete;
  bool ready() const { return text().find("ready") != std::string::npos; }

  struct counts {
    long connections = 0;
    double up = 0, down = 0;
  };
  counts read() {
    ::kill(pid_, SIGUSR1);
    counts c;
    for (int i = 0; i < 100; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      const std::string t = text();
      const size_t at = t.rfind("relay connections");
      if (at == std::string::npos || at == last_at_) continue;
      last_at_ = at;
      std::sscanf(t.c_str() + at, "relay connections %ld up %lf down %lf", &c.connections, &c.up, &c.down);
      break;
    }
    return c;
  }

 private:
  std::string text() const {
    std::ifstream in(out_);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
  }
  std::string out_;
  pid_t pid_ = -1;
  size_t last_at_ = std::string::npos;
};

struct wan_link {
  int rtt_ms;
  double mbit;
  std::string key() const { return "wan_rtt" + std::to_string(rtt_ms); }
};

std::vector<wan_link> parse_links(const std::string& text) {
  std::vector<wan_link> links;
  std::istringstream in(text);
  std::string item;
  while (std::getline(in, item, ','))
    if (item.find(':') != std::string::npos)
      links.push_back({std::atoi(item.c_str()), std::atof(item.c_str() + item.find(':') + 1)});
  return links;
}

std::string arg_str(int argc, char** argv, const char* name, const std::string& def) {
  const std::string prefix = std::string("--") + name + "=";
  for (int i = 1; i < argc; ++i)
    if (std::strncmp(argv[i], prefix.c_str(), prefix.size()) == 0) return argv[i] + prefix.size();
  return def;
}

// A fresh install through the relay by the headless engine and by the real
// program, against curl and aria2c downloading the same archives through it.
int wan_main(int argc, char** argv) {
  const bool quick = arg_flag(argc, argv, "quick");
  const int small = std::max(1, arg_int(argc, argv, "files", quick ? 100 : 600));
  const int large_mb = std::max(1, arg_int(argc, argv, "large-mb", quick ? 2 : 10));
  const int rounds = std::max(1, arg_int(argc, argv, "rounds", quick ? 1 : 3));
  const bool real = !arg_flag(argc, argv, "no-real");
  const std::vector<wan_link> links = parse_links(arg_str(argc, argv, "links", "50:100,150:20"));
  const std::string relay_script = arg_str(argc, argv, "relay", "");
  if (links.empty() || relay_script.empty()) {
    std::printf(
        "usage: perf_bench --wan --relay=PATH [--links=RTT_MS:MBIT,...] [--files=N] [--large-mb=N] "
        "[--rounds=N] [--quick] [--no-real]\n");
    return 2;
  }
  const std::string bin_dir = SKYVANE_BINARY_DIR;
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  g_wait_for_host = false;  // seconds of network per case: the host's page faults do not matter

  testsupport::TempDir work;
  const std::string W = work.path();
  g_trash = W + "trash/";
  const std::vector<product_file> files = plan_wan_product(small, 4, static_cast<size_t>(large_mb) * 1000000);
  size_t total = 0;
  for (const auto& f : files) total += f.size;
  g_prime_bytes = total * 2;
  const std::string master = "Skyvane 9/";
  write_product(W + "p1/" + master, files);

  // The published mirror and the vendor host are the relay's port; the relay
  // is started again on that port for each link.
  testsupport::Nginx web(W + "www");
  const int relay_port = testsupport::free_port();
  const std::string relay_host = "127.0.0.1:" + std::to_string(relay_port);
  // Signed with the demo key, which the installer's core trusts.
  if (run(shell_quote(bin_dir + "/tools/skyvane-publish") + " --sign " +
          shell_quote(std::string(SKYVANE_SOURCE_DIR) + "/keys/demo.secret-key") + " --product " +
          shell_quote(W + "p1") + " --release R1 --out " + shell_quote(W + "www") + " --mirror " +
          shell_quote(relay_host + "|/files/|bench") + " > /dev/null") != 0) {
    std::printf("publishing failed\n");
    return 1;
  }
  double archive_bytes = 0;
  std::string curl_cfg, aria_list;
  for (const auto& f : files) {
    const std::string rel = f.rel + ".zip",
                      url = "http://" + relay_host + url_path("/files/R1/" + master + rel);
    archive_bytes += static_cast<double>(fs::file_size(W + "www/files/R1/" + master + rel));
    curl_cfg += "url = \"" + url + "\"\noutput = \"" + W + "peer/curl/" + rel + "\"\n";
    aria_list += url + "\n  out=" + rel + "\n";
  }
  testsupport::write_file(W + "curl.cfg", curl_cfg);
  testsupport::write_file(W + "aria.txt", aria_list);
  const std::string curl_all = "curl -s --no-progress-meter --create-dirs --parallel --parallel-max 4 -K " +
                               shell_quote(W + "curl.cfg");
  // -j4: four downloads at a time, one connection each (as curl's four).
  const std::string aria_all =
      "aria2c -q -j4 --max-connection-per-server=1 --split=1 --allow-overwrite=true "
      "--auto-file-renaming=false --file-allocation=none -d " +
      shell_quote(W + "peer/aria") + " -i " + shell_quote(W + "aria.txt");
  std::printf("Release: %d small files (1-100 kB) and 4 of %d MB: %.1f MB, archives %.1f MB\n", small,
              large_mb, total / 1e6, archive_bytes / 1e6);

  std::unique_ptr<RealProgram> prog;
  if (real) prog = std::make_unique<RealProgram>(W + "real/", bin_dir + "/skyvane-installer");
  std::map<std::string, std::string> notes;  // case -> connections and bytes of its first round

  for (const wan_link& link : links) {
    const std::string K = link.key();
    const double bytes_alone = archive_bytes * 8 / (link.mbit * 1e6);
    g_times[K + "_bytes"].push_back(bytes_alone);
    std::printf("\nLink: RTT %d ms, %g Mbit/s (bytes alone %.2f s)\n", link.rtt_ms, link.mbit, bytes_alone);
    WanRelay relay(relay_script, relay_port, web.host(), link.rtt_ms, link.mbit, W + K + "-relay.txt");
    if (!relay.ready()) {
      std::printf("the relay did not start\n");
      return 1;
    }
    WanRelay::counts before = relay.read();
    auto counted = [&](const std::string& name) {
      const WanRelay::counts c = relay.read();
      char buf[160];
      std::snprintf(buf, sizeof buf, "%ld connections, %.1f MB down, %.2f MB up",
                    c.connections - before.connections, (c.down - before.down) / 1e6,
                    (c.up - before.up) / 1e6);
      before = c;
      if (!name.empty() && !notes.count(name)) notes[name] = buf;  // the first round's
      return std::string(buf);
    };
    for (int r = 0; r < rounds; ++r) {
      std::printf("Round %d of %d\n", r + 1, rounds);
      run("rm -rf " + shell_quote(g_trash) + " && mkdir -p " + shell_quote(g_trash));
      run(discard(W + "dest") + " && " + discard(W + "etmp") + " && mkdir -p " + shell_quote(W + "etmp"));
      counted("");
      const engine_result e = run_engine(relay_host, W + "dest/", W + "etmp/", W + K + "-engine.log");
      record(K + "_headless", e.total);
      std::printf("  headless fresh install: %.2f s (to the grab %.2f s, grab %.2f s)%s; %s\n", e.total,
                  e.total - e.grab, e.grab, e.failed ? " FAILED" : "", counted(K + "_headless").c_str());
      if (r == 0) {
        std::string diff;
        const int d = run("diff -rq " + shell_quote(W + "p1/" + master) + " " + shell_quote(W + "dest/") +
                              " 2>&1 | grep -v 'Only in .*dest/: \\(Output\\|Resources\\)' | head -5",
                          &diff);
        std::printf("  installed tree %s the product\n",
                    d == 0 && diff.empty() ? "equals" : ("DIFFERS FROM: " + diff).c_str());
      }
      if (prog) {
        run(discard(W + "rdest"));
        const real_result rr = prog->run_once(relay_host, W + "rdest/", true);
        if (rr.ok) record(K + "_real", rr.total);
        std::printf("  real program fresh install: %.2f s (start to ready %.2f s + install %.2f s)%s; %s\n",
                    rr.total, rr.ready, rr.install, rr.ok ? "" : " FAILED", counted(K + "_real").c_str());
      }
      run(discard(W + "peer") + " && mkdir -p " + shell_quote(W + "peer"));
      timed((K + "_curl").c_str(), curl_all);
      std::printf("  curl: %.2f s; %s\n", g_times[K + "_curl"].back(), counted(K + "_curl").c_str());
      timed((K + "_aria2").c_str(), aria_all);
      std::printf("  aria2c: %.2f s; %s\n", g_times[K + "_aria2"].back(), counted(K + "_aria2").c_str());
      if (r == 0) {
        std::string sizes;
        run("for d in curl aria; do find " + shell_quote(W + "peer/") +
                "$d -type f -printf '%s\\n' | awk '{ s += $1 } END { printf \"%d \", s }'; done",
            &sizes);
        std::printf("  downloaded by curl, aria2c: %s bytes (archives: %.0f)\n", sizes.c_str(),
                    archive_bytes);
      }
    }
  }

  std::printf("\n%d round(s); seconds, median and min-max\n", rounds);
  std::printf("| %-58s | %8s | %-13s |\n", "case", "median", "min-max");
  for (const wan_link& link : links) {
    const std::string K = link.key();
    char head[96];
    std::snprintf(head, sizeof head, "RTT %d ms, %g Mbit/s", link.rtt_ms, link.mbit);
    std::printf("| %-58s |          |               |\n", head);
    line("  ours, headless: fresh install", K + "_headless", notes[K + "_headless"].c_str());
    line("  ours, real program under Xvfb: fresh install", K + "_real", notes[K + "_real"].c_str());
    line("  curl --parallel --parallel-max 4, every archive", K + "_curl", notes[K + "_curl"].c_str());
    line("  aria2c -j4, every archive", K + "_aria2", notes[K + "_aria2"].c_str());
    line("  the bytes alone (archives / rate)", K + "_bytes");
  }
  std::printf("\n");
  for (const wan_link& link : links) {
    const std::string K = link.key();
    if (real) target((K + "_real_vs_curl").c_str(), med(K + "_real") / med(K + "_curl"), 0.7);
    target((K + "_headless_vs_curl").c_str(), med(K + "_headless") / med(K + "_curl"), 0.7);
    if (link.rtt_ms >= 150) {
      if (real) target((K + "_real_vs_bytes_alone").c_str(), med(K + "_real") / med(K + "_bytes"), 1.3);
      target((K + "_headless_vs_bytes_alone").c_str(), med(K + "_headless") / med(K + "_bytes"), 1.3);
    }
  }
  return 0;
}

}  // namespace

// ---- Scale (bench/run.sh --scale) ------------------------------------------------
// Many small files, as scenery libraries hold: publishing, a fresh install,
// a start on the current installation with a warm signature cache, and an
// update with a few files changed side by side with `rsync -a` of the same
// change from an rsync daemon on 127.0.0.1. Each case also prints its
// seconds per 1 000 files, so that a run at two sizes shows anything that
// grows faster than the file count.

// An rsync daemon serving `root` as the module "r", stopped on destruction.
class RsyncDaemon {
 public:
  RsyncDaemon(const std::string& dir, const std::string& root) : dir_(dir) {
    port_ = testsupport::free_port();
    testsupport::write_file(
        dir + "rsyncd.conf",
        "port = " + std::to_string(port_) + "\naddress = 127.0.0.1\nuse chroot = no\npid file = " + dir +
            "rsyncd.pid\nuid = " + std::to_string(::getuid()) + "\ngid = " + std::to_string(::getgid()) +
            "\n[r]\npath = " + root + "\nread only = yes\n");
    if (run("rsync --daemon --config=" + shell_quote(dir + "rsyncd.conf")) != 0) return;
    for (int i = 0; i < 100 && !ready_; ++i) {
      ready_ = run("rsync " + url() + " > /dev/null 2>&1") == 0;
      if (!ready_) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  }
  ~RsyncDaemon() { run("kill $(cat " + shell_quote(dir_ + "rsyncd.pid") + ") 2>/dev/null"); }
  bool ready() const { return ready_; }
  std::string url() const { return "rsync://127.0.0.1:" + std::to_string(port_) + "/r/"; }

 private:
  std::string dir_;
  int port_ = 0;
  bool ready_ = false;
};

int scale_main(int argc, char** argv) {
  const int nfiles = std::max(100, arg_int(argc, argv, "files", 100000));
  const int mb = std::max(1, arg_int(argc, argv, "mb", 2000));
  const int permille = std::max(1, arg_int(argc, argv, "changed-permille", 10));
  const int rounds = std::max(1, arg_int(argc, argv, "rounds", 3));
  const std::string bin_dir = SKYVANE_BINARY_DIR;
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  if (run("rsync --version > /dev/null 2>&1") != 0) {
    std::printf("rsync is not installed\n");
    return 1;
  }
  testsupport::TempDir work;
  const std::string W = work.path();
  g_trash = W + "trash/";
  fs::create_directories(g_trash);
  const size_t largest = std::min<size_t>(60000000, static_cast<size_t>(mb) * 10000);
  const std::vector<product_file> files = plan_product(nfiles, mb * 1e6, largest);
  size_t total = 0;
  for (const auto& f : files) total += f.size;
  g_prime_bytes = 0;  // a release of this size would not fit twice in memory
  g_wait_for_host = false;
  const double k = nfiles / 1000.0;
  std::printf("Release: %d files, %.1f MB, largest %.1f MB; %d per mille changed in R2\n", nfiles,
              total / 1e6, largest / 1e6, permille);

  const std::string master = "Skyvane 9/";
  double t = now_s();
  const std::vector<product_file> changed = write_two_products(W, master, files, 1000 / permille);
  // A changed file is newer by more than rsync's one-second granularity, as
  // an edit made for a later release would be.
  for (const auto& f : changed)
    fs::last_write_time(W + "p2/" + master + f.rel,
                        fs::file_time_type::clock::now() + std::chrono::minutes(1));
  std::printf("Product written in %.1f s; %zu files differ in R2\n", now_s() - t, changed.size());

  testsupport::Nginx web1(W + "www1"), web2(W + "www2");
  const std::string pub = shell_quote(bin_dir + "/tools/skyvane-publish") + " --sign " +
                          shell_quote(std::string(SKYVANE_SOURCE_DIR) + "/keys/demo.secret-key");
  t = now_s();
  if (run(pub + " --product " + shell_quote(W + "p1") + " --release R1 --out " + shell_quote(W + "www1") +
          " --mirror " + shell_quote(web1.host() + "|/files/|bench") + " > /dev/null") != 0) {
    std::printf("publishing R1 failed\n");
    return 1;
  }
  const double pub1 = now_s() - t;
  t = now_s();
  if (run(pub + " --product " + shell_quote(W + "p2") + " --release R2 --out " + shell_quote(W + "www2") +
          " --previous " + shell_quote(W + "www1") + " --mirror " +
          shell_quote(web2.host() + "|/files/|bench") + " > /dev/null") != 0) {
    std::printf("publishing R2 failed\n");
    return 1;
  }
  const double pub2 = now_s() - t;
  // R3 holds R1's files again, published after R2: an update to it puts an
  // installation of R2 back to R1's bytes (R2's versions are in its
  // histories, so they are replaced, not kept as the user's), for the next
  // round of the timed update.
  testsupport::Nginx web3(W + "www3");
  if (run(pub + " --product " + shell_quote(W + "p1") + " --release R3 --out " + shell_quote(W + "www3") +
          " --previous " + shell_quote(W + "www2") + " --mirror " +
          shell_quote(web3.host() + "|/files/|bench") + " > /dev/null") != 0) {
    std::printf("publishing R3 failed\n");
    return 1;
  }
  std::printf("Published R1 in %.1f s (%.3f s per 1 000 files), R2 with --previous in %.1f s (%.3f)\n", pub1,
              pub1 / k, pub2, pub2 / k);

  auto same_tree = [&](const std::string& product, const std::string& dest) {
    std::string diff;
    const int d = run("diff -rq -x Output -x Resources " + shell_quote(product) + " " + shell_quote(dest) +
                          " 2>&1 | head -5",
                      &diff);
    return d == 0 && diff.empty() ? std::string("equals") : "DIFFERS FROM: " + diff;
  };
  const std::string dest = W + "dest/", etmp = W + "etmp/";
  run("mkdir -p " + shell_quote(etmp));
  engine_result e = run_engine(web1.host(), dest, etmp, W + "engine-fresh.log");
  std::printf(
      "Fresh install: %.1f s (%.3f s per 1 000 files; examination %.2f s, grab %.1f s), CPU %.1f s, peak "
      "%.0f "
      "MB (%.0f bytes per file)%s\n",
      e.total, e.total / k, e.exam, e.grab, e.cpu, e.maxrss_kb / 1024.0, e.maxrss_kb * 1024.0 / nfiles,
      e.failed ? " FAILED" : "");
  std::printf("  installed tree %s the product\n", same_tree(W + "p1/" + master, dest).c_str());
  // Files written in the cache's last 2 s are signed again by the first
  // start, which then rewrites the cache: warm it before timing.
  ::sleep(2);
  run_engine(web1.host(), dest, etmp, W + "engine-warm.log");

  long current_peak = 0;
  for (int r = 0; r < rounds; ++r) {
    e = run_engine(web1.host(), dest, etmp, W + "engine-current.log");
    record("scale_current", e.total);
    record("scale_current_exam", e.exam);
    current_peak = std::max(current_peak, e.maxrss_kb);
    std::printf("  current, warm cache: %.3f s (examination %.3f s), to fetch %.0f kB, peak %.0f MB\n",
                e.total, e.exam, e.down_req, e.maxrss_kb / 1024.0);
  }
  // The real program keeps its own signature cache (its own home): the
  // first start makes it, the next ones are timed.
  if (!arg_flag(argc, argv, "no-real")) {
    RealProgram prog(W + "real/", bin_dir + "/skyvane-installer");
    prog.run_once(web1.host(), dest, false);
    ::sleep(2);
    prog.run_once(web1.host(), dest, false);
    for (int r = 0; r < rounds; ++r) {
      const real_result rr = prog.run_once(web1.host(), dest, false);
      if (rr.ok) record("scale_real_current", rr.ready);
      std::printf("  real program, current: start to ready %.2f s%s\n", rr.ready, rr.ok ? "" : " FAILED");
    }
  }
  std::string cache_bytes;
  run("du -cb " + shell_quote(W + "cache/skyvane") + " | tail -1 | cut -f1", &cache_bytes);
  std::printf("  signature cache: %.0f bytes per file on disk\n", std::atof(cache_bytes.c_str()) / nfiles);
  e = run_engine(web1.host(), dest, etmp, W + "engine-verify.log", true);
  std::printf("  current, --verify: examination %.2f s (%.3f s per 1 000 files), peak %.0f MB\n", e.exam,
              e.exam / k, e.maxrss_kb / 1024.0);

  // Ours: R1 -> R2 on the installation; then back to R1's bytes (R3), warm
  // again, for the next round.
  for (int r = 0; r < rounds; ++r) {
    e = run_engine(web2.host(), dest, etmp, W + "engine-update.log");
    record("scale_update", e.total);
    std::printf("  update R1 -> R2: %.2f s (examination %.3f s, grab %.2f s)%s\n", e.total, e.exam, e.grab,
                e.failed      ? " FAILED"
                : e.grab <= 0 ? " NOTHING FETCHED"
                              : "");
    if (r == 0) std::printf("  updated tree %s release R2\n", same_tree(W + "p2/" + master, dest).c_str());
    if (r + 1 == rounds) break;
    e = run_engine(web3.host(), dest, etmp, W + "engine-back.log");
    if (e.grab <= 0 || e.failed) {
      std::printf("  the installation could not be put back to R1's files\n");
      return 1;
    }
    ::sleep(2);
    run_engine(web3.host(), dest, etmp, W + "engine-warm.log");
  }

  // rsync -a of the same change: the destination holds R1's files with
  // their product times, as a tree kept by rsync would.
  RsyncDaemon rsyncd(W, W + "p2/" + master);
  if (!rsyncd.ready()) {
    std::printf("the rsync daemon did not start\n");
    return 1;
  }
  for (int r = 0; r < rounds; ++r) {
    run(discard(W + "rs") + " && cp -a " + shell_quote(W + "p1/" + master) + " " + shell_quote(W + "rs"));
    timed("scale_rsync", "rsync -a " + rsyncd.url() + " " + shell_quote(W + "rs/"));
    std::printf("  rsync -a R1 -> R2: %.2f s\n", g_times["scale_rsync"].back());
  }
  std::printf("  rsync's tree %s release R2\n", same_tree(W + "p2/" + master, W + "rs/").c_str());

  table_head(rounds);
  line("ours, headless: current, warm cache", "scale_current");
  line("ours, headless:   its examination alone", "scale_current_exam");
  line("ours, real program under Xvfb: current, start to ready", "scale_real_current");
  line("ours, headless: update R1 -> R2", "scale_update");
  line("rsync -a from a daemon on 127.0.0.1: R1 -> R2", "scale_rsync");
  std::printf("\n");
  target("scale_current_exam_under_half_a_second", med("scale_current_exam") / 0.5, 1.0);
  target("scale_update_vs_rsync", med("scale_update") / med("scale_rsync"), 1.0);
  std::printf("peak of a current start: %.0f bytes per file\n", current_peak * 1024.0 / nfiles);
  return 0;
}

int main(int argc, char** argv) {
  MACIBM_wire_lower_layers();
  installer_wire_lower_layers();
  if (arg_flag(argc, argv, "wan")) return wan_main(argc, argv);
  if (arg_flag(argc, argv, "scale")) return scale_main(argc, argv);
  const int nfiles = std::max(4, arg_int(argc, argv, "files", 1500));
  const int mb = std::max(1, arg_int(argc, argv, "mb", 600));
  const int rounds = std::max(1, arg_int(argc, argv, "rounds", 3));
  const bool real = !arg_flag(argc, argv, "no-real");
  const bool peers = !arg_flag(argc, argv, "no-peers");
  const std::string bin_dir = SKYVANE_BINARY_DIR;
  std::setvbuf(stdout, nullptr, _IOLBF, 0);

  testsupport::TempDir work;
  const std::string W = work.path();
  g_trash = W + "trash/";
  const size_t largest = std::min<size_t>(60000000, static_cast<size_t>(mb) * 1000000 / 10);
  const std::vector<product_file> files = plan_product(nfiles, mb * 1e6, largest);
  size_t total = 0, total_c = 0;
  for (const auto& f : files) {
    total += f.size;
    total_c += f.compressible ? f.size : 0;
  }
  g_prime_bytes = total * 2;  // the installed files and the archives, at most
  std::printf(
      "Release: %d files, %.1f MB (%.1f MB compressible), largest %.1f MB, smallest %.1f kB\n", nfiles,
      total / 1e6, total_c / 1e6, largest / 1e6,
      std::min_element(files.begin(), files.end(), [](auto& a, auto& b) { return a.size < b.size; })->size /
          1e3);

  // R1, and R2 with every tenth file changed (hard links for the rest).
  const std::string master = "Skyvane 9/";
  const std::vector<product_file> changed = write_two_products(W, master, files, 10);

  testsupport::Nginx web1(W + "www1"), web2(W + "www2");
  // R1 once more from a TLS server whose list names https:// mirrors, with a
  // throw-away CA the child processes trust through SSL_CERT_FILE.
  testsupport::TestCa ca;
  ::setenv("SSL_CERT_FILE", ca.ca_file().c_str(), 1);
  testsupport::Nginx web1s(W + "www1s", "", "127.0.0.1", ca.issue("IP:127.0.0.1"));
  const std::string web1s_host = "https://" + web1s.host();
  // Signed with the demo key, which the installer's core trusts.
  const std::string pub = shell_quote(bin_dir + "/tools/skyvane-publish") + " --sign " +
                          shell_quote(std::string(SKYVANE_SOURCE_DIR) + "/keys/demo.secret-key");
  double t = now_s();
  if (run(pub + " --product " + shell_quote(W + "p1") + " --release R1 --out " + shell_quote(W + "www1") +
          " --mirror " + shell_quote(web1.host() + "|/files/|bench") + " > /dev/null") != 0 ||
      run(pub + " --product " + shell_quote(W + "p2") + " --release R2 --out " + shell_quote(W + "www2") +
          " --previous " + shell_quote(W + "www1") + " --mirror " +
          shell_quote(web2.host() + "|/files/|bench") + " > /dev/null") != 0 ||
      run(pub + " --product " + shell_quote(W + "p1") + " --release R1 --out " + shell_quote(W + "www1s") +
          " --mirror " + shell_quote(web1s_host + "|/files/|bench") + " > /dev/null") != 0) {
    std::printf("publishing failed\n");
    return 1;
  }
  std::string zsize;
  run("du -sb " + shell_quote(W + "www1/files/R1") + " | cut -f1", &zsize);
  std::printf("Published R1 and R2 in %.1f s; R1's archives: %.1f MB; %zu files differ in R2\n", now_s() - t,
              std::atof(zsize.c_str()) / 1e6, changed.size());

  // The peers' inputs: every archive, the changed ones, the installed files.
  std::string cfg1, cfg2, zips, md5list;
  std::vector<std::pair<std::string, size_t>> installed;
  for (const auto& f : files) {
    cfg1 += "url = \"http://" + web1.host() + url_path("/files/R1/" + master + f.rel + ".zip") +
            "\"\noutput = \"" + W + "peer/curl/" + f.rel + ".zip\"\n";
    zips += f.rel + ".zip\n";
    installed.emplace_back(W + "r1/" + f.rel, f.size);
  }
  for (const auto& f : changed)
    cfg2 += "url = \"http://" + web2.host() + url_path("/files/R2/" + master + f.rel + ".zip") +
            "\"\noutput = \"" + W + "peer/curl2/" + f.rel + ".zip\"\n";
  testsupport::write_file(W + "curl1.cfg", cfg1);
  testsupport::write_file(W + "curl2.cfg", cfg2);
  testsupport::write_file(W + "zips.txt", zips);
  write_halves(installed, W + "md5a", W + "md5b");
  for (const auto& f : installed) md5list += f.first + '\0';
  testsupport::write_file(W + "md5all", md5list);
  testsupport::write_file(W + "extract.py",
                          "import os, sys, zipfile\n"
                          "src, out = sys.argv[1], sys.argv[2]\n"
                          "for rel in open(sys.argv[3]).read().splitlines():\n"
                          "    with zipfile.ZipFile(os.path.join(src, rel)) as z:\n"
                          "        z.extractall(os.path.join(out, os.path.dirname(rel)))\n");
  const std::string P = shell_quote(W + "peer/");
  const std::string curl_all = "curl -s --no-progress-meter --create-dirs --parallel --parallel-max 4 -K " +
                               shell_quote(W + "curl1.cfg");
  const std::string unzip2 = "cd " + P + "curl && find . -name '*.zip' -print0 | xargs -0 -P2 -n1 sh -c " +
                             shell_quote("unzip -qo \"$0\" -d \"" + W + "peer/unz/$(dirname \"$0\")\"");
  const std::string zipfile = "python3 " + shell_quote(W + "extract.py") + " " + P + "curl " + P + "py " +
                              shell_quote(W + "zips.txt");
  const std::string md5_1 = "xargs -0 md5sum < " + shell_quote(W + "md5all") + " > /dev/null";
  const std::string md5_2 = "(xargs -0 md5sum < " + shell_quote(W + "md5a") +
                            " > /dev/null & xargs -0 md5sum < " + shell_quote(W + "md5b") +
                            " > /dev/null; wait)";
  const std::string upd_peer =
      md5_2 + " && curl -s --no-progress-meter --create-dirs --parallel --parallel-max 4 -K " +
      shell_quote(W + "curl2.cfg") + " && cd " + P +
      "curl2 && find . -name '*.zip' -print0 | xargs -0 -P2 -n1 sh -c " +
      shell_quote("unzip -qo \"$0\" -d \"" + W + "peer/upd/$(dirname \"$0\")\"");
  // unzip makes one folder level only: the destination folders are made
  // beforehand, outside the timing, as for the installer (make_dirs).
  std::string dirs;
  for (const auto& f : files) {
    const std::string d = f.rel.substr(0, f.rel.rfind('/'));
    dirs += W + "peer/unz/" + d + '\0' + W + "peer/upd/" + d + '\0';
  }
  testsupport::write_file(W + "dirs", dirs);
  auto clean_peer = [&] {
    run(discard(W + "peer") + " && mkdir -p " + P + " && xargs -0 mkdir -p < " + shell_quote(W + "dirs"));
  };

  std::unique_ptr<RealProgram> prog;
  if (real) prog = std::make_unique<RealProgram>(W + "real/", bin_dir + "/skyvane-installer");

  for (int r = 0; r < rounds; ++r) {
    std::printf("Round %d of %d\n", r + 1, rounds);
    // Ours, headless: fresh install of R1.
    empty_trash();
    run(discard(W + "dest") + " && " + discard(W + "etmp") + " && mkdir -p " + shell_quote(W + "etmp"));
    engine_result e = run_engine(web1.host(), W + "dest/", W + "etmp/", W + "engine-fresh.log");
    record("ours_fresh", e.total);
    record("ours_fresh_exam", e.exam);
    g_mem["ours_fresh"].push_back(e.maxrss_kb / 1024.0);
    std::printf(
        "  ours headless fresh: %.2f s (examination %.3f s, grab %.2f s), CPU %.2f s, peak %.0f MB%s\n",
        e.total, e.exam, e.grab, e.cpu, e.maxrss_kb / 1024.0, e.failed ? " FAILED" : "");
    if (r == 0) {
      std::string diff;
      const int d = run("diff -rq -x Output -x Resources " + shell_quote(W + "p1/" + master) + " " +
                            shell_quote(W + "dest/") + " 2>&1 | head -5",
                        &diff);
      std::printf("  installed tree %s the product\n",
                  d == 0 && diff.empty() ? "equals" : ("DIFFERS FROM: " + diff).c_str());
      run(discard(W + "r1") + " && mv " + shell_quote(W + "dest") + " " + shell_quote(W + "r1"));
      // The moved folder has no signature cache yet: a first start makes
      // it, once its files are older than the cache's settle time.
      ::sleep(2);
      run_engine(web1.host(), W + "r1/", W + "etmp/", W + "engine-warm.log");
    }
    // Ours, headless: the same fresh install over https.
    run(discard(W + "dest") + " && " + discard(W + "etmp") + " && mkdir -p " + shell_quote(W + "etmp"));
    e = run_engine(web1s_host, W + "dest/", W + "etmp/", W + "engine-fresh-https.log");
    record("ours_fresh_https", e.total);
    std::printf("  ours headless fresh over https: %.2f s (grab %.2f s), CPU %.2f s%s\n", e.total, e.grab,
                e.cpu, e.failed ? " FAILED" : "");
    // Ours, headless: update of the current installation (nothing to fetch).
    run(discard(W + "etmp") + " && mkdir -p " + shell_quote(W + "etmp"));
    e = run_engine(web1.host(), W + "r1/", W + "etmp/", W + "engine-current.log");
    record("ours_current", e.total);
    record("ours_current_exam", e.exam);
    std::printf("  ours headless current: %.3f s (examination %.3f s), to fetch %.0f kB\n", e.total, e.exam,
                e.down_req);
    e = run_engine(web1.host(), W + "r1/", W + "etmp/", W + "engine-verify.log", true);
    record("ours_verify_exam", e.exam);
    std::printf("  ours headless current, --verify: examination %.3f s\n", e.exam);
    // Ours, headless: update with 10 % changed.
    run(discard(W + "upd") + " && " + discard(W + "etmp") + " && cp -a " + shell_quote(W + "r1") + " " +
        shell_quote(W + "upd") + " && mkdir -p " + shell_quote(W + "etmp"));
    e = run_engine(web2.host(), W + "upd/", W + "etmp/", W + "engine-update.log");
    record("ours_update10", e.total);
    std::printf("  ours headless 10%% update: %.2f s (examination %.3f s, grab %.2f s)%s\n", e.total, e.exam,
                e.grab, e.failed ? " FAILED" : "");
    if (r == 0) {
      std::string diff;
      const int d = run("diff -rq -x Output -x Resources " + shell_quote(W + "p2/" + master) + " " +
                            shell_quote(W + "upd/") + " 2>&1 | head -5",
                        &diff);
      std::printf("  updated tree %s release R2\n",
                  d == 0 && diff.empty() ? "equals" : ("DIFFERS FROM: " + diff).c_str());
    }

    // The real program.
    if (prog) {
      run(discard(W + "rdest"));
      real_result rr = prog->run_once(web1.host(), W + "rdest/", true);
      if (rr.ok) {
        record("real_fresh", rr.total);
        g_mem["real_fresh"].push_back(rr.anon_kb / 1024.0);
        g_mem["real_fresh_total"].push_back(rr.hwm_kb / 1024.0);
      }
      std::printf(
          "  real program fresh: %.2f s (ready %.2f s + install %.2f s), peak resident %.0f MB (private %.0f "
          "MB, "
          "shared libraries %.0f MB)%s\n",
          rr.total, rr.ready, rr.install, rr.hwm_kb / 1024.0, rr.anon_kb / 1024.0, rr.file_kb / 1024.0,
          rr.ok ? "" : " FAILED");
      std::printf("    %s\n", rr.fps_line.c_str());
      if (r == 0 && rr.ok) {
        std::string diff;
        const int d = run("diff -rq -x Output -x Resources " + shell_quote(W + "p1/" + master) + " " +
                              shell_quote(W + "rdest/") + " 2>&1 | head -5",
                          &diff);
        std::printf("  real program's tree %s the product\n",
                    d == 0 && diff.empty() ? "equals" : ("DIFFERS FROM: " + diff).c_str());
      }
      run(discard(W + "rdest"));
      rr = prog->run_once(web1.host(), W + "r1/", false);
      if (rr.ok) record("real_current", rr.ready);
      std::printf("  real program current: start to ready %.2f s (examination drawn in the window)\n",
                  rr.ready);
    }

    // The peers.
    if (!peers) continue;
    clean_peer();
    timed("curl", curl_all);
    timed("unzip2", unzip2);
    timed("zipfile", zipfile);
    g_times["curl_zipfile"].push_back(g_times["curl"].back() + g_times["zipfile"].back());
    clean_peer();
    timed("curl_unzip2", curl_all + " && " + unzip2);
    timed("md5sum1", md5_1);
    timed("md5sum2", md5_2);
    clean_peer();
    timed("peer_update10", upd_peer);
    std::printf(
        "  peers: curl %.2f, unzip x2 %.2f, zipfile %.2f, curl+unzip %.2f, md5sum %.2f / %.2f, update %.2f\n",
        g_times["curl"].back(), g_times["unzip2"].back(), g_times["zipfile"].back(),
        g_times["curl_unzip2"].back(), g_times["md5sum1"].back(), g_times["md5sum2"].back(),
        g_times["peer_update10"].back());
    clean_peer();
  }

  table_head(rounds);
  line("ours, headless: fresh install", "ours_fresh");
  line("ours, headless: fresh install over https", "ours_fresh_https");
  line("ours, headless: update, current (nothing to fetch)", "ours_current");
  line("ours, headless:   its examination alone", "ours_current_exam");
  line("ours, headless:   its examination with --verify", "ours_verify_exam");
  line("ours, headless: update, 10 % changed", "ours_update10");
  line("ours, real program under Xvfb: fresh install", "real_fresh");
  line("ours, real program under Xvfb: current, start to ready", "real_current");
  line("curl --parallel --parallel-max 4, every archive", "curl");
  line("unzip per archive, 2 at a time", "unzip2");
  line("python3 zipfile, one process, every archive", "zipfile");
  line("curl (4) then python3 zipfile", "curl_zipfile");
  line("curl (4) then unzip (2 at a time)", "curl_unzip2");
  line("md5sum, one process", "md5sum1");
  line("md5sum, two processes", "md5sum2");
  line("md5sum (2) + curl + unzip (2) of the changed files", "peer_update10");
  std::printf("\nratios (of medians)\n");
  const double r1 = med("ours_fresh") / med("curl_unzip2"), r2 = med("ours_fresh") / med("curl_zipfile");
  const double r3 = med("ours_current_exam") / med("md5sum2"), r4 = med("real_fresh") / med("ours_fresh");
  std::printf("  fresh install, headless / curl+unzip(2):      %.3f\n", r1);
  std::printf("  fresh install, headless / curl+zipfile:       %.3f\n", r2);
  std::printf("  examination of current / md5sum (2 procs):    %.3f (whole current update: %.3f)\n", r3,
              med("ours_current") / med("md5sum2"));
  std::printf("  10 %% update / md5sum+curl+unzip:             %.3f\n",
              med("ours_update10") / med("peer_update10"));
  std::printf("  real program fresh / headless fresh:          %.3f\n", r4);
  const double r5 = med("ours_fresh_https") / med("ours_fresh");
  std::printf("  fresh install, https / http:                  %.3f\n", r5);
  const double limit_mb = 100.0 + largest / 1048576.0;
  double peak_real = 0, peak_engine = 0, peak_real_total = 0;
  for (double v : g_mem["real_fresh"]) peak_real = std::max(peak_real, v);
  for (double v : g_mem["real_fresh_total"]) peak_real_total = std::max(peak_real_total, v);
  for (double v : g_mem["ours_fresh"]) peak_engine = std::max(peak_engine, v);
  std::printf(
      "  peak memory: real program %.0f MB private (%.0f MB resident with the software renderer's shared "
      "libraries), headless engine %.0f MB resident; limit 100 MB + largest member %.0f MB\n",
      peak_real, peak_real_total, peak_engine, largest / 1048576.0);
  std::printf("\n");
  target("fresh_vs_curl_unzip2", r1, 0.25);
  target("fresh_vs_curl_zipfile", r2, 1.0);
  target("fresh_https_vs_http", r5, 1.15);
  target("current_exam_vs_md5sum2", r3, 0.05);
  target("verify_exam_vs_md5sum2", med("ours_verify_exam") / med("md5sum2"), 1.0);
  if (real) {
    target("real_vs_headless", r4, 1.3);
    target("peak_memory_real_private", peak_real / limit_mb, 1.0);
  }
  target("peak_memory_headless", peak_engine / limit_mb, 1.0);
  return 0;
}
