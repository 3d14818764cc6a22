#pragma once
// Standard folders, the log location, processor count, stack traces and the
// machine description for the log header.
//
// Every folder path returned here is absolute and ends in '/'.
#include <string>

// --- Standard folders ---

// The folder for `kind` into `out`:
//   0 the running program's folder (from /proc/self/exe)
//   1 the desktop: $XDG_DESKTOP_DIR, else XDG_DESKTOP_DIR of
//     $XDG_CONFIG_HOME/user-dirs.dirs, else $HOME/Desktop/
//   2 the default-applications folder: the home folder
//   3 a private temporary folder made for this run (mkdtemp under $TMPDIR,
//     else /tmp), removed with its contents at exit; the same folder for
//     every call of one run. Empty when no such folder can be made.
//   4 the preferences folder: $XDG_CONFIG_HOME/, else $HOME/.config/
// Another kind gives the home folder.
void get_OS_abs_path(int kind, std::string& out);

std::string platform_program_folder();  // kind 0
std::string platform_home_folder();     // $HOME, else the user database, else "/"
std::string platform_prefs_folder();    // kind 4
// The fallback folder of the log: $XDG_STATE_HOME/skyvane/, else
// $HOME/.local/state/skyvane/ (not created here).
std::string platform_state_folder();
// Where private temporary folders are made: $TMPDIR when it is an absolute
// path, else /tmp/.
std::string platform_temp_base();
// The working folder of the process.
std::string platform_current_dir();

// Where Log.txt goes: the program's folder when it is writable there, else
// the state folder (created when missing). Returns the full file path.
std::string platform_log_file_path();

// The signature cache's folder: $XDG_CACHE_HOME/skyvane/, else
// $HOME/.cache/skyvane/ (not created here).
std::string platform_cache_folder();

// --- Pure path rules (no system calls; unit-tested) ---

// Environment as the path rules see it; empty = unset.
struct os_path_env {
  std::string home;             // $HOME (already resolved, may be empty)
  std::string xdg_config_home;  // $XDG_CONFIG_HOME
  std::string xdg_state_home;   // $XDG_STATE_HOME
  std::string xdg_cache_home;   // $XDG_CACHE_HOME
  std::string xdg_desktop_dir;  // $XDG_DESKTOP_DIR
  std::string user_dirs;        // contents of $XDG_CONFIG_HOME/user-dirs.dirs
  std::string tmpdir;           // $TMPDIR
};
// Folder path with exactly one trailing '/'.
std::string path_as_folder(const std::string& p);
std::string home_folder_from(const os_path_env& env);
std::string desktop_folder_from(const os_path_env& env);
std::string prefs_folder_from(const os_path_env& env);
std::string state_folder_from(const os_path_env& env);
std::string cache_folder_from(const os_path_env& env);
std::string temp_base_from(const os_path_env& env);
// Folder part of an executable's path ("/opt/sky/bin/x" -> "/opt/sky/bin/").
std::string folder_of_path(const std::string& file_path);
// XDG_DESKTOP_DIR from a user-dirs.dirs text ("$HOME/..." expanded, or an
// absolute path); empty when absent or unusable.
std::string desktop_from_user_dirs(const std::string& text, const std::string& home);

// --- Machine ---

// The machine's description for the log header, each line ending in "\n":
// the kernel, "CPU type: ", "Physical Memory: " and one "CPU 0: " line per
// processor.
std::string platform_machine_description();
// Pure part: the same lines from the texts of uname and /proc.
std::string machine_description_from(const std::string& sysname, const std::string& release,
                                     const std::string& version, const std::string& machine,
                                     const std::string& cpuinfo, const std::string& meminfo);

// The process's memory use (VmPeak, VmSize, VmHWM, VmRSS of
// /proc/self/status), one "name: value" line each.
std::string platform_memory_stats();

// Appends `heading` and a stack trace of the calling thread to `path`.
// Returns false when the file cannot be opened.
bool platform_append_backtrace(const std::string& path, const std::string& heading);

// Creates `path` and its missing parents (mode 0755 / umask). True when it
// exists as a folder afterwards.
bool platform_make_folders(const std::string& path);

// Removes this run's private temporary folder now (also done at a normal
// exit); for ends that skip the exit handlers.
void platform_remove_temp_folder();
