// Standard folders, the log location rule and the machine description.
#include "platform/system.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>

#include "support/test_support.h"

namespace {
// Sets an environment variable for one scope; unset when `value` is null.
class scoped_env {
 public:
  scoped_env(const char* name, const char* value) : name_(name) {
    const char* old = getenv(name);
    had_ = old != nullptr;
    if (had_) old_ = old;
    if (value)
      setenv(name, value, 1);
    else
      unsetenv(name);
  }
  ~scoped_env() {
    if (had_)
      setenv(name_, old_.c_str(), 1);
    else
      unsetenv(name_);
  }

 private:
  const char* name_;
  bool had_ = false;
  std::string old_;
};

TEST(PathRules, XdgFoldersAndFallbacks) {
  os_path_env e;
  e.home = "/home/u";
  EXPECT_EQ(home_folder_from(e), "/home/u/");
  EXPECT_EQ(prefs_folder_from(e), "/home/u/.config/") << "no XDG_CONFIG_HOME: ~/.config/";
  EXPECT_EQ(state_folder_from(e), "/home/u/.local/state/skyvane/");
  EXPECT_EQ(cache_folder_from(e), "/home/u/.cache/skyvane/");
  EXPECT_EQ(temp_base_from(e), "/tmp/");
  EXPECT_EQ(desktop_folder_from(e), "/home/u/Desktop/");

  e.xdg_config_home = "/cfg//";
  e.xdg_state_home = "/st";
  e.xdg_cache_home = "/ca/";
  e.tmpdir = "/var/tmp/x";
  EXPECT_EQ(prefs_folder_from(e), "/cfg/") << "one trailing '/'";
  EXPECT_EQ(state_folder_from(e), "/st/skyvane/");
  EXPECT_EQ(cache_folder_from(e), "/ca/skyvane/");
  EXPECT_EQ(temp_base_from(e), "/var/tmp/x/");

  e.xdg_config_home = "relative/cfg";
  e.xdg_state_home = "st";
  e.xdg_cache_home = "ca";
  e.tmpdir = "tmp";
  EXPECT_EQ(prefs_folder_from(e), "/home/u/.config/") << "relative XDG paths are invalid and ignored";
  EXPECT_EQ(state_folder_from(e), "/home/u/.local/state/skyvane/");
  EXPECT_EQ(cache_folder_from(e), "/home/u/.cache/skyvane/");
  EXPECT_EQ(temp_base_from(e), "/tmp/") << "a relative TMPDIR is not used";

  e.home = "";
  EXPECT_EQ(home_folder_from(e), "/") << "no home at all: the root, never a relative path";
  EXPECT_EQ(path_as_folder("/"), "/");
  EXPECT_EQ(folder_of_path("/opt/sky/bin/skyvane-installer"), "/opt/sky/bin/");
}

TEST(PathRules, DesktopFromUserDirs) {
  os_path_env e;
  e.home = "/home/u";
  e.user_dirs = "# comment\nXDG_DOWNLOAD_DIR=\"$HOME/Downloads\"\nXDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n";
  EXPECT_EQ(desktop_folder_from(e), "/home/u/Schreibtisch/") << "the user's configured desktop";
  e.user_dirs = "XDG_DESKTOP_DIR=\"/srv/desk\"\n";
  EXPECT_EQ(desktop_folder_from(e), "/srv/desk/");
  e.user_dirs = "XDG_DESKTOP_DIR=\"desk\"\n";
  EXPECT_EQ(desktop_folder_from(e), "/home/u/Desktop/") << "a relative entry is ignored";
  e.user_dirs = "XDG_DESKTOP_DIR=\"$HOMEX/d\"\n";
  EXPECT_EQ(desktop_folder_from(e), "/home/u/Desktop/") << "$HOMEX is not $HOME";
  e.xdg_desktop_dir = "/env/desk";
  EXPECT_EQ(desktop_folder_from(e), "/env/desk/") << "the environment variable comes first";
}

TEST(StandardFolders, KindsFollowTheEnvironment) {
  testsupport::TempDir dir;
  scoped_env home("HOME", (dir / "home").c_str());
  scoped_env cfg("XDG_CONFIG_HOME", (dir / "cfg").c_str());
  scoped_env desk("XDG_DESKTOP_DIR", nullptr);
  std::string out;
  get_OS_abs_path(2, out);
  EXPECT_EQ(out, dir / "home/") << "kind 2: the home folder";
  get_OS_abs_path(4, out);
  EXPECT_EQ(out, dir / "cfg/") << "kind 4: $XDG_CONFIG_HOME/";
  get_OS_abs_path(1, out);
  EXPECT_EQ(out, dir / "home/Desktop/") << "kind 1: ~/Desktop/ without other configuration";
  {
    scoped_env no_cfg("XDG_CONFIG_HOME", nullptr);
    get_OS_abs_path(4, out);
    EXPECT_EQ(out, dir / "home/.config/") << "kind 4 without XDG_CONFIG_HOME";
  }
  get_OS_abs_path(0, out);
  EXPECT_EQ(out, std::filesystem::canonical("/proc/self/exe").parent_path().string() + "/")
      << "kind 0: the running program's folder";
}

TEST(StandardFolders, TemporaryFolderIsPrivateAndStable) {
  std::string a, b;
  get_OS_abs_path(3, a);
  get_OS_abs_path(3, b);
  ASSERT_FALSE(a.empty());
  EXPECT_EQ(a, b) << "one folder per run";
  EXPECT_EQ(a.back(), '/');
  const char* tmpdir = getenv("TMPDIR");
  ASSERT_NE(tmpdir, nullptr);
  EXPECT_EQ(a.rfind(path_as_folder(tmpdir), 0), 0u) << "made under $TMPDIR: " << a;
  struct stat st;
  ASSERT_EQ(stat(a.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u) << "private to the user";
  EXPECT_NE(a, path_as_folder(tmpdir)) << "never the shared folder itself";
}

TEST(StandardFolders, LogGoesBesideTheProgramWhenWritable) {
  const std::string exe_folder = std::filesystem::canonical("/proc/self/exe").parent_path().string() + "/";
  // The test program's folder is writable in the build tree.
  EXPECT_EQ(platform_log_file_path(), exe_folder + "Log.txt");
}

TEST(Machine, DescriptionFromProcTexts) {
  const std::string cpuinfo =
      "processor\t: 0\nmodel name\t: Test CPU 3000\ncpu MHz\t\t: 2999.6\n\n"
      "processor\t: 1\nmodel name\t: Test CPU 3000\ncpu MHz\t\t: 1200.000\n\n";
  const std::string d = machine_description_from("Linux", "6.1.0", "#1 SMP", "x86_64", cpuinfo,
                                                 "MemTotal:        2048 kB\nMemFree: 1 kB\n");
  EXPECT_EQ(d,
            "Linux 6.1.0 (#1 SMP)\nCPU type: x86_64\nPhysical Memory: 2097152\n"
            "CPU 0: Test CPU 3000  Speed (mhz): 3000\nCPU 0: Test CPU 3000  Speed (mhz): 1200\n")
      << "one line per processor, all labelled 'CPU 0'";
  const std::string bare = machine_description_from("Linux", "r", "v", "aarch64", "processor : 0\n", "");
  EXPECT_NE(bare.find("Physical Memory: unknown\n"), std::string::npos) << bare;
  EXPECT_NE(bare.find("CPU 0: \n"), std::string::npos) << "no name or speed: the label alone";
  const std::string real = platform_machine_description();
  EXPECT_NE(real.find("CPU type: "), std::string::npos) << real;
  EXPECT_NE(real.find("CPU 0: "), std::string::npos) << real;
}

TEST(Machine, BacktraceIsAppended) {
  testsupport::TempDir dir;
  ASSERT_TRUE(platform_append_backtrace(dir / "stack_crawl.txt", "first"));
  ASSERT_TRUE(platform_append_backtrace(dir / "stack_crawl.txt", "second"));
  const std::string t = testsupport::read_file(dir / "stack_crawl.txt");
  EXPECT_LT(t.find("first"), t.find("second")) << "appended in order";
  EXPECT_FALSE(platform_append_backtrace(dir / "missing/stack_crawl.txt", "x")) << "cannot open: false";
  EXPECT_TRUE(platform_make_folders(dir / "a/b/c/"));
  EXPECT_TRUE(testsupport::file_exists(dir / "a/b/c"));
}
}  // namespace
