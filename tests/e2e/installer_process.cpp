#include "installer_process.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <thread>

using namespace testsupport;

std::string build_dir() {
  return SKYVANE_BINARY_DIR;
}

std::string artefact_dir() {
  const std::string dir = build_dir() + "/e2e-artefacts/";
  make_dirs(dir);
  return dir;
}

void publish_demo(const std::string& dir, const std::string& host) {
  std::string out;
  const std::string cmd = "SKYVANE_PUBLISH=" + shell_quote(build_dir() + "/tools/skyvane-publish") +
                          " bash " + shell_quote(std::string(SKYVANE_SOURCE_DIR) + "/scripts/make-demo.sh") +
                          " " + shell_quote(dir) + " " + shell_quote(host);
  if (run(cmd, &out) != 0) throw std::runtime_error("make-demo failed: " + out);
}

std::string make_demo_disc(const std::string& demo, const std::string& mounted) {
  std::string out;
  const std::string make = "SKYVANE_PUBLISH=" + shell_quote(build_dir() + "/tools/skyvane-publish") +
                           " bash " + shell_quote(std::string(SKYVANE_SOURCE_DIR) + "/scripts/make-disc.sh") +
                           " " + shell_quote(demo) + " 2>&1";
  if (run(make, &out) != 0) return "make-disc.sh failed:\n" + out;
  make_dirs(mounted);
  if (run("xorriso -no_rc -osirrox on -indev " + shell_quote(demo + "/skyvane-disc.iso") + " -extract / " +
              shell_quote(mounted) + " 2>&1",
          &out) != 0)
    return "the image cannot be read:\n" + out;
  return "";
}

std::string mount_table_line(const std::string& device, const std::string& mount_point,
                             const std::string& type) {
  std::string escaped;
  for (char ch : mount_point) escaped += ch == ' ' ? std::string("\\040") : std::string(1, ch);
  return device + " " + escaped + " " + type + " ro,nosuid,nodev 0 0\n";
}

namespace {
// Starts a private Xvfb; returns its pid and fills `display` (":N"). With
// -noreset: an X server resets when its last client leaves, and a client that
// connects during the reset is refused.
int start_xvfb(std::string& display) {
  int fds[2];
  if (::pipe(fds) != 0) throw std::runtime_error("pipe failed");
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(fds[0]);
    const std::string fd = std::to_string(fds[1]);
    ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1280x1024x24", "-noreset",
             "-nolisten", "tcp", (char*)nullptr);
    ::_exit(127);
  }
  ::close(fds[1]);
  std::string number;
  char c;
  while (::read(fds[0], &c, 1) == 1 && c != '\n') number += c;
  ::close(fds[0]);
  if (number.empty()) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    throw std::runtime_error("Xvfb did not start");
  }
  display = ":" + number;
  return pid;
}
}  // namespace

namespace {
// Replaces the child with the program and its arguments (returns only when
// that fails).
void exec_program(const std::string& exe, const std::vector<std::string>& args,
                  const std::vector<std::string>& wrapper = {}) {
  std::vector<char*> argv;
  for (const std::string& w : wrapper) argv.push_back(const_cast<char*>(w.c_str()));
  argv.push_back(const_cast<char*>(exe.c_str()));
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  if (wrapper.empty())
    ::execv(exe.c_str(), argv.data());
  else
    ::execvp(wrapper[0].c_str(), argv.data());
}
}  // namespace

int InstallerProcess::x_run(const std::string& command, std::string* out) const {
  return run("DISPLAY=" + display_ + " " + command, out);
}

std::string InstallerProcess::prepare(const TempDir& root, const std::string& program) {
  home_ = root.path() + "home/";
  bin_dir_ = root.path() + "bin/";
  out_dir_ = root.path() + "out/";
  make_dirs(home_ + ".config");
  make_dirs(root.path() + "tmp");
  make_dirs(bin_dir_);
  make_dirs(out_dir_);
  std::filesystem::copy_file(build_dir() + "/" + program, bin_dir_ + program,
                             std::filesystem::copy_options::overwrite_existing);
  return bin_dir_ + program;
}

namespace {
// NAME=VALUE sets, a NAME alone removes.
void set_environment(const std::vector<std::string>& env) {
  for (const std::string& e : env) {
    if (e.find('=') == std::string::npos)
      ::unsetenv(e.c_str());
    else
      ::putenv(::strdup(e.c_str()));
  }
}

void set_private_folders(const std::string& home, const std::string& tmp) {
  ::setenv("HOME", home.c_str(), 1);
  ::setenv("XDG_CONFIG_HOME", (home + ".config").c_str(), 1);
  ::setenv("XDG_STATE_HOME", (home + ".local/state").c_str(), 1);
  ::setenv("XDG_CACHE_HOME", (home + ".cache").c_str(), 1);
  ::setenv("XDG_DESKTOP_DIR", (home + "Desktop").c_str(), 1);
  ::setenv("TMPDIR", tmp.c_str(), 1);
}
}  // namespace

InstallerProcess::InstallerProcess(const TempDir& root, const std::vector<std::string>& args,
                                   const headless_run& how) {
  const std::string exe = prepare(root, how.program);
  const std::string tmp = root.path() + "tmp";
  std::string command = shell_quote(exe);
  for (const std::string& a : args) command += " " + shell_quote(a);
  pid_ = ::fork();
  if (pid_ == 0) {
    set_private_folders(home_, tmp);
    ::unsetenv("DISPLAY");
    ::unsetenv("WAYLAND_DISPLAY");
    set_environment(how.env);
    if (!std::freopen("/dev/null", "r", stdin) || !std::freopen((out_dir_ + "stdout").c_str(), "w", stdout) ||
        !std::freopen((out_dir_ + "stderr").c_str(), "w", stderr))
      ::_exit(127);
    if (how.terminal) {
      // script gives the program a pseudo-terminal and copies what it shows
      // to script's own output; -e passes the program's exit status on.
      ::dup2(STDOUT_FILENO, STDERR_FILENO);
      if (!std::freopen((out_dir_ + "stderr").c_str(), "w", stdout)) ::_exit(127);
      ::execlp("script", "script", "-qefc", command.c_str(), "/dev/null", (char*)nullptr);
    } else {
      exec_program(exe, args, how.wrapper);
    }
    ::_exit(127);
  }
}

void InstallerProcess::send_signal(int signal_number) {
  ::kill(pid_, signal_number);
}

std::string InstallerProcess::stdout_text() const {
  return file_exists(out_dir_ + "stdout") ? read_file(out_dir_ + "stdout") : std::string();
}
std::string InstallerProcess::stderr_text() const {
  return file_exists(out_dir_ + "stderr") ? read_file(out_dir_ + "stderr") : std::string();
}

InstallerProcess::InstallerProcess(const TempDir& root, const std::vector<std::string>& args,
                                   const std::string& program, const std::vector<std::string>& env) {
  xvfb_pid_ = start_xvfb(display_);
  const std::string exe = prepare(root, program);
  const std::string tmp = root.path() + "tmp";
  pid_ = ::fork();
  if (pid_ == 0) {
    set_private_folders(home_, tmp);
    ::setenv("DISPLAY", display_.c_str(), 1);
    set_environment(env);
    exec_program(exe, args);
    ::_exit(127);
  }
}

InstallerProcess::~InstallerProcess() {
  if (running()) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  if (xvfb_pid_ > 0) {
    ::kill(xvfb_pid_, SIGTERM);
    ::waitpid(xvfb_pid_, nullptr, 0);
  }
}

std::string InstallerProcess::log_text() const {
  return file_exists(bin_dir_ + "Log.txt") ? read_file(bin_dir_ + "Log.txt") : std::string();
}

bool InstallerProcess::wait_for(const std::function<bool()>& done, double seconds) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (std::chrono::steady_clock::now() < end) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return done();
}

bool InstallerProcess::running() {
  if (exited_) return false;
  int st = 0;
  if (::waitpid(pid_, &st, WNOHANG) == pid_) {
    exited_ = true;
    exit_code_ = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return false;
  }
  return true;
}

int InstallerProcess::wait_exit(double seconds) {
  wait_for([this] { return !running(); }, seconds);
  return exited_ ? exit_code_ : -1;
}

bool InstallerProcess::wait_window(double seconds) {
  const std::string search =
      "xdotool search --onlyvisible --pid " + std::to_string(pid_) + " --name '^Skyroot$'";
  const bool found = wait_for(
      [&] {
        if (!running()) return true;
        std::string out;
        if (x_run(search, &out) != 0) return false;
        window_id_ = out.substr(0, out.find('\n'));
        return !window_id_.empty();
      },
      seconds);
  if (!found || !running()) return false;
  std::string geo;
  x_run("xdotool getwindowgeometry --shell " + window_id_, &geo);
  auto field = [&](const std::string& name) {
    const size_t p = geo.find(name + "=");
    return p == std::string::npos ? 0 : std::atoi(geo.c_str() + p + name.size() + 1);
  };
  win_x_ = field("X");
  win_y_ = field("Y");
  // Let the first passes draw before anything is clicked.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  return true;
}

void InstallerProcess::click(float x, float y) {
  const int sx = win_x_ + static_cast<int>(x);
  const int sy = win_y_ + 768 - static_cast<int>(y);
  x_run("xdotool mousemove " + std::to_string(sx) + " " + std::to_string(sy) + " sleep 0.1 click 1");
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
}

void InstallerProcess::key(const std::string& keysym) {
  x_run("xdotool key --window " + window_id_ + " " + keysym);
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
}

void InstallerProcess::screenshot(const std::string& name) const {
  x_run("import -window root -crop 1024x768+" + std::to_string(win_x_) + "+" + std::to_string(win_y_) + " " +
        shell_quote(artefact_dir() + name + ".png"));
}
