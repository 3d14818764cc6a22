#pragma once
// Drives the real installer program: a private copy of the executable (so its
// Log.txt lands in a private folder), private HOME/config/temp folders, a
// real window on a private X display (its own Xvfb, so tests that run at the
// same time never share a pointer or overlap windows), clicks by xdotool at positions given
// in the program's own coordinates (origin bottom-left of the 1024 x 768
// client area), screenshots saved as test artefacts.
#include <functional>
#include <string>
#include <vector>

#include "support/test_support.h"

// A run without a window (--batch): no X server and no DISPLAY; standard
// output and error go to files. `terminal`: the program runs under
// script(1), so its standard error is a pseudo-terminal whose output lands in
// the standard-error file. `env` adds NAME=VALUE settings (a NAME alone
// removes that variable). `program`: which of the built installers runs.
// `wrapper`: a command the program is started under (its words, the program
// and its arguments follow), such as fiu-run.
struct headless_run {
  bool terminal = false;
  std::vector<std::string> env;
  std::string program = "skyvane-installer";
  std::vector<std::string> wrapper;
};

class InstallerProcess {
 public:
  // `args` go to the program after the program name.
  // A run in a window; `program` and `env` as for a headless run.
  InstallerProcess(const testsupport::TempDir& root, const std::vector<std::string>& args,
                   const std::string& program = "skyvane-installer",
                   const std::vector<std::string>& env = {});
  InstallerProcess(const testsupport::TempDir& root, const std::vector<std::string>& args,
                   const headless_run& how);
  ~InstallerProcess();
  InstallerProcess(const InstallerProcess&) = delete;
  InstallerProcess& operator=(const InstallerProcess&) = delete;

  const std::string& home() const { return home_; }
  std::string log_text() const;  // Log.txt so far
  std::string prefs_path() const { return home_ + ".config/Skyvane Installer.prf"; }

  // Waits for the window titled "Skyroot"; false on time-out or early exit.
  bool wait_window(double seconds = 30);
  // Clicks at (x, y) of the main window's coordinates (y up).
  void click(float x, float y);
  // Clicks the centre of a rectangle whose lower-left corner is (x, y).
  void click_rect(float x, float y, float w, float h) { click(x + w * 0.5f, y + h * 0.5f); }
  void key(const std::string& keysym);
  void screenshot(const std::string& name) const;

  // Polls `done` every 50 ms until it holds or the time runs out.
  static bool wait_for(const std::function<bool()>& done, double seconds);
  bool running();
  // Waits for the program to end; its exit code, or -1 on time-out/signal.
  int wait_exit(double seconds = 30);
  // Sends `signal_number` to the program.
  void send_signal(int signal_number);
  int pid() const { return pid_; }
  // What the program wrote so far (headless runs).
  std::string stdout_text() const;
  std::string stderr_text() const;

 private:
  // Runs a command against this process's display.
  int x_run(const std::string& command, std::string* out = nullptr) const;

  // Returns the private copy of `program`.
  std::string prepare(const testsupport::TempDir& root, const std::string& program = "skyvane-installer");

  std::string home_;
  std::string out_dir_;
  std::string bin_dir_;
  std::string display_;
  int xvfb_pid_ = -1;
  int pid_ = -1;
  int exit_code_ = -1;
  bool exited_ = false;
  std::string window_id_;
  int win_x_ = 0, win_y_ = 0;
};

// The release of the demo product, published for a server at `host` into
// `dir` (www/ and product/ below it).
void publish_demo(const std::string& dir, const std::string& host);
// The demo release's install disc (scripts/make-disc.sh) below `demo`, made
// after publish_demo: its image, extracted with xorriso into `mounted` (the
// mount point a drive would give it). Empty on success, else what failed.
std::string make_demo_disc(const std::string& demo, const std::string& mounted);
// One line of a mount table (/proc/self/mounts form: blanks in the mount
// point as \040).
std::string mount_table_line(const std::string& device, const std::string& mount_point,
                             const std::string& type);
std::string build_dir();
std::string artefact_dir();
// A file a killed run can leave beside its destination while writing it.
inline bool is_part_file(const std::string& rel) {
  return rel.ends_with(".skyvane-part");
}
