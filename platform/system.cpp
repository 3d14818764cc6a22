#include "platform/system.h"

#include <dirent.h>
#include <errno.h>
#include <execinfo.h>
#include <fcntl.h>
#include <ftw.h>
#include <limits.h>
#include <pwd.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/utsname.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>
#include <vector>

#include "platform/crash_parts.h"

namespace {
std::string env(const char* name) {
  const char* v = getenv(name);
  return v ? v : "";
}

std::string read_text(const char* path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

bool absolute(const std::string& p) {
  return !p.empty() && p[0] == '/';
}

os_path_env current_env() {
  os_path_env e;
  e.home = env("HOME");
  if (!absolute(e.home)) {
    e.home.clear();
    long n = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buf(n > 0 ? static_cast<size_t>(n) : 16384);
    passwd pw;
    passwd* res = nullptr;
    if (getpwuid_r(getuid(), &pw, buf.data(), buf.size(), &res) == 0 && res && res->pw_dir)
      e.home = res->pw_dir;
  }
  e.xdg_config_home = env("XDG_CONFIG_HOME");
  e.xdg_state_home = env("XDG_STATE_HOME");
  e.xdg_cache_home = env("XDG_CACHE_HOME");
  e.xdg_desktop_dir = env("XDG_DESKTOP_DIR");
  e.tmpdir = env("TMPDIR");
  std::string user_dirs = prefs_folder_from(e) + "user-dirs.dirs";
  e.user_dirs = read_text(user_dirs.c_str());
  return e;
}

// The private temporary folder of this run.
std::mutex g_temp_lock;
std::string g_temp_folder;
// The same path for the crash handler, which can take no lock, and the
// process that made the folder.
char g_temp_path_c[PATH_MAX + 1] = "";
std::atomic<pid_t> g_temp_owner{0};

int remove_entry(const char* path, const struct stat*, int, FTW*) {
  ::remove(path);
  return 0;
}

void remove_temp_folder_now() {
  std::lock_guard<std::mutex> g(g_temp_lock);
  if (g_temp_folder.empty()) return;
  g_temp_owner.store(0);
  nftw(g_temp_folder.c_str(), remove_entry, 16, FTW_DEPTH | FTW_PHYS);
  g_temp_folder.clear();
}

// A directory entry as getdents64 gives it.
struct raw_dirent {
  uint64_t d_ino;
  int64_t d_off;
  unsigned short d_reclen;
  unsigned char d_type;
  char d_name[1];
};

// Empties the open folder `dir` with system calls alone (safe in a signal
// handler). Links are removed, never followed. Entries are read again after
// each round of removals, until a round removes nothing.
void empty_folder_at(int dir, int depth) {
  alignas(8) char buf[2048];
  for (int round = 0; round < 64; ++round) {
    bool removed = false;
    lseek(dir, 0, SEEK_SET);
    for (;;) {
      const long n = syscall(SYS_getdents64, dir, buf, sizeof buf);
      if (n <= 0) break;
      for (long off = 0; off < n;) {
        const raw_dirent* d = reinterpret_cast<const raw_dirent*>(buf + off);
        off += d->d_reclen;
        const char* name = d->d_name;
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
        if (d->d_type != DT_DIR && unlinkat(dir, name, 0) == 0) {
          removed = true;
          continue;
        }
        if (depth < 32) {
          const int sub = openat(dir, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
          if (sub >= 0) {
            empty_folder_at(sub, depth + 1);
            close(sub);
          }
        }
        if (unlinkat(dir, name, AT_REMOVEDIR) == 0) removed = true;
      }
    }
    if (!removed) return;
  }
}

bool make_private_folder(const std::string& base, std::string* out) {
  std::string templ = base + "skyvane-XXXXXX";
  std::vector<char> buf(templ.begin(), templ.end());
  buf.push_back('\0');
  if (!mkdtemp(buf.data())) return false;
  *out = std::string(buf.data()) + "/";
  return true;
}

std::string temp_folder() {
  std::lock_guard<std::mutex> g(g_temp_lock);
  if (!g_temp_folder.empty()) return g_temp_folder;
  os_path_env e = current_env();
  std::string made;
  // Only private folders made by mkdtemp (mode 0700, unpredictable name).
  if (!make_private_folder(temp_base_from(e), &made) && !make_private_folder("/tmp/", &made)) {
    std::string state = state_folder_from(e);
    if (!platform_make_folders(state) || !make_private_folder(state, &made)) return "";
  }
  static bool registered = false;
  if (!registered) {
    registered = true;
    atexit(remove_temp_folder_now);
  }
  g_temp_folder = made;
  if (made.size() < sizeof g_temp_path_c) {
    memcpy(g_temp_path_c, made.c_str(), made.size() + 1);
    g_temp_owner.store(getpid());
  }
  return g_temp_folder;
}

bool folder_writable(const std::string& folder) {
  return access(folder.c_str(), W_OK | X_OK) == 0;
}
}  // namespace

// --- Pure rules ---

std::string path_as_folder(const std::string& p) {
  std::string s = p;
  while (s.size() > 1 && s.back() == '/') s.pop_back();
  if (s != "/") s += '/';
  return s;
}

std::string home_folder_from(const os_path_env& e) {
  return absolute(e.home) ? path_as_folder(e.home) : "/";
}

std::string desktop_from_user_dirs(const std::string& text, const std::string& home) {
  std::istringstream in(text);
  std::string line;
  std::string found;
  while (std::getline(in, line)) {
    size_t i = line.find_first_not_of(" \t");
    if (i == std::string::npos || line[i] == '#') continue;
    if (line.compare(i, 16, "XDG_DESKTOP_DIR=") != 0) continue;
    std::string v = line.substr(i + 16);
    while (!v.empty() && (v.back() == ' ' || v.back() == '\t' || v.back() == '\r')) v.pop_back();
    if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
    if (v.compare(0, 5, "$HOME") == 0 && (v.size() == 5 || v[5] == '/'))
      v = home + v.substr(5);
    else if (!absolute(v))
      continue;
    found = v;
  }
  return found;
}

std::string desktop_folder_from(const os_path_env& e) {
  std::string home = home_folder_from(e);
  if (absolute(e.xdg_desktop_dir)) return path_as_folder(e.xdg_desktop_dir);
  std::string home_no_slash = home.size() > 1 ? home.substr(0, home.size() - 1) : "";
  std::string d = desktop_from_user_dirs(e.user_dirs, home_no_slash);
  if (absolute(d)) return path_as_folder(d);
  return home + "Desktop/";
}

// XDG base folders that are not absolute are invalid and ignored.
std::string prefs_folder_from(const os_path_env& e) {
  if (absolute(e.xdg_config_home)) return path_as_folder(e.xdg_config_home);
  return home_folder_from(e) + ".config/";
}

std::string state_folder_from(const os_path_env& e) {
  if (absolute(e.xdg_state_home)) return path_as_folder(e.xdg_state_home) + "skyvane/";
  return home_folder_from(e) + ".local/state/skyvane/";
}

std::string cache_folder_from(const os_path_env& e) {
  if (absolute(e.xdg_cache_home)) return path_as_folder(e.xdg_cache_home) + "skyvane/";
  return home_folder_from(e) + ".cache/skyvane/";
}

std::string temp_base_from(const os_path_env& e) {
  return absolute(e.tmpdir) ? path_as_folder(e.tmpdir) : "/tmp/";
}

std::string folder_of_path(const std::string& file_path) {
  size_t slash = file_path.rfind('/');
  if (slash == std::string::npos) return "";
  return file_path.substr(0, slash + 1);
}

// --- Folders ---

std::string platform_program_folder() {
  char buf[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof(buf) - 1);
  if (n <= 0) return platform_current_dir();
  return folder_of_path(std::string(buf, static_cast<size_t>(n)));
}

std::string platform_home_folder() {
  return home_folder_from(current_env());
}
std::string platform_prefs_folder() {
  return prefs_folder_from(current_env());
}
std::string platform_state_folder() {
  return state_folder_from(current_env());
}
std::string platform_cache_folder() {
  return cache_folder_from(current_env());
}
std::string platform_temp_base() {
  return temp_base_from(current_env());
}

std::string platform_current_dir() {
  std::vector<char> buf(PATH_MAX);
  if (!getcwd(buf.data(), buf.size())) return "/";
  return path_as_folder(buf.data());
}

void get_OS_abs_path(int kind, std::string& out) {
  switch (kind) {
    case 0:
      out = platform_program_folder();
      break;
    case 1:
      out = desktop_folder_from(current_env());
      break;
    case 3:
      out = temp_folder();
      break;
    case 4:
      out = platform_prefs_folder();
      break;
    default:  // 2: the default-applications folder is the home folder
      out = platform_home_folder();
      break;
  }
}

std::string platform_log_file_path() {
  std::string folder = platform_program_folder();
  std::string path = folder + "Log.txt";
  bool ok = folder_writable(folder) && (access(path.c_str(), F_OK) != 0 || access(path.c_str(), W_OK) == 0);
  if (ok) return path;
  std::string state = platform_state_folder();
  platform_make_folders(state);
  return state + "Log.txt";
}

bool platform_make_folders(const std::string& path) {
  std::string p;
  for (size_t i = 0; i < path.size(); ++i) {
    p += path[i];
    if ((path[i] == '/' && i > 0) || i + 1 == path.size()) mkdir(p.c_str(), 0755);
  }
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// --- Machine ---

namespace {
std::string trim(const std::string& s) {
  size_t a = s.find_first_not_of(" \t\r\n");
  if (a == std::string::npos) return "";
  size_t b = s.find_last_not_of(" \t\r\n");
  return s.substr(a, b - a + 1);
}
}  // namespace

std::string machine_description_from(const std::string& sysname, const std::string& release,
                                     const std::string& version, const std::string& machine,
                                     const std::string& cpuinfo, const std::string& meminfo) {
  std::string out = sysname + " " + release + " (" + version + ")\n";
  out += "CPU type: " + machine + "\n";
  // MemTotal is given in kB (1024 bytes).
  std::istringstream mem(meminfo);
  std::string line;
  std::string mem_bytes;
  while (std::getline(mem, line)) {
    if (line.compare(0, 9, "MemTotal:") != 0) continue;
    unsigned long long kb = strtoull(line.c_str() + 9, nullptr, 10);
    if (kb > 0) mem_bytes = std::to_string(kb * 1024ULL);
    break;
  }
  out += "Physical Memory: " + (mem_bytes.empty() ? std::string("unknown") : mem_bytes) + "\n";
  // One block per processor, blank-line separated.
  std::istringstream cpu(cpuinfo);
  std::string name, mhz;
  bool in_block = false;
  auto flush_block = [&] {
    if (!in_block) return;
    std::string l = "CPU 0: ";
    if (!name.empty()) l += name + " ";
    if (!mhz.empty()) l += " Speed (mhz): " + mhz;
    out += l + "\n";
    name.clear();
    mhz.clear();
    in_block = false;
  };
  while (std::getline(cpu, line)) {
    size_t colon = line.find(':');
    if (colon == std::string::npos) {
      if (trim(line).empty()) flush_block();
      continue;
    }
    std::string key = trim(line.substr(0, colon));
    std::string value = trim(line.substr(colon + 1));
    if (key == "processor") {
      flush_block();
      in_block = true;
    } else if (key == "model name" || (key == "Hardware" && name.empty())) {
      name = value;
    } else if (key == "cpu MHz") {
      mhz = std::to_string(static_cast<long>(strtod(value.c_str(), nullptr) + 0.5));
    }
  }
  flush_block();
  return out;
}

std::string platform_machine_description() {
  utsname u;
  if (uname(&u) != 0) std::memset(&u, 0, sizeof(u));
  return machine_description_from(u.sysname, u.release, u.version, u.machine, read_text("/proc/cpuinfo"),
                                  read_text("/proc/meminfo"));
}

std::string platform_memory_stats() {
  std::istringstream in(read_text("/proc/self/status"));
  std::string line, out;
  while (std::getline(in, line)) {
    if (line.compare(0, 7, "VmPeak:") == 0 || line.compare(0, 7, "VmSize:") == 0 ||
        line.compare(0, 6, "VmHWM:") == 0 || line.compare(0, 6, "VmRSS:") == 0) {
      size_t colon = line.find(':');
      out += line.substr(0, colon + 1) + " " + trim(line.substr(colon + 1)) + "\n";
    }
  }
  return out;
}

bool platform_append_backtrace(const std::string& path, const std::string& heading) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  time_t now = time(nullptr);
  char when[64] = "";
  tm t;
  if (localtime_r(&now, &t)) strftime(when, sizeof(when), "%Y-%m-%d %H:%M:%S", &t);
  std::string head = std::string("---- ") + when + " ----\n" + heading + "\n";
  ssize_t ignored = write(fd, head.data(), head.size());
  (void)ignored;
  void* frames[64];
  int n = backtrace(frames, 64);
  backtrace_symbols_fd(frames, n, fd);
  ignored = write(fd, "\n", 1);
  close(fd);
  return true;
}

void platform_remove_temp_folder() {
  remove_temp_folder_now();
}

void platform_remove_temp_folder_in_handler() {
  if (g_temp_owner.load() != getpid()) return;
  g_temp_owner.store(0);
  const int dir = open(g_temp_path_c, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (dir < 0) return;
  empty_folder_at(dir, 0);
  close(dir);
  rmdir(g_temp_path_c);
}
