#pragma once
// The command-line option table. Filled once at start-up (after the log is
// open); any part of the program may then query it.
//
// Options are named as typed, dashes included ("--fps_test",
// "--pref:_stream_count"); the value is the text after the first '=' (empty
// when the token has none). A later duplicate replaces the earlier value and
// is logged.
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

class UTL_cmdline {
 public:
  std::map<std::string, std::string> options;
  // The destination folder given on the command line: absolute, ending in
  // '/'; empty when none was given (filled by init_args only).
  std::string destination;

  // The whole command line as one text: white-space separated tokens, each a
  // name optionally followed by '=' and a value. Then runs init_common.
  void init_win(const std::string& text);
  // This platform's command line (argv[0] is the program). Tokens starting
  // with '-' are options ("name" or "name=value", the value may hold spaces);
  // the one other argument is the destination ("--" ends the options). A bad
  // command line prints why and the usage to standard error and exits 2.
  // Then runs init_common.
  void init_args(int argc, const char* const* argv);

  int has_option(const std::string& name) const;  // 1 when present
  // The value; empty when absent or given without one.
  std::string get_option(const std::string& name) const;

  void clear();

 private:
  void store(const std::string& name, const std::string& value);
  // Options that end the program at once: --cmnds, -h/--help, --version.
  void init_common();
};

extern UTL_cmdline cmdline;

// Result of splitting this platform's arguments, before anything is stored.
struct cmdline_split {
  std::vector<std::pair<std::string, std::string>> options;  // in command-line order
  std::string destination;                                   // absolute, ends in '/'; empty when none
  std::string error;  // non-empty: the command line is unusable, and why
};
// `args` excludes the program name; a relative destination is taken below
// `cwd` (absolute, ending in '/').
cmdline_split cmdline_split_args(const std::vector<std::string>& args, const std::string& cwd);

// A destination folder in the form the installer keeps it: `folder` taken
// below `cwd` (absolute, ending in '/') when relative, "." and ".." resolved,
// doubled '/' merged, ending in '/'. Empty for an empty `folder`.
std::string cmdline_folder_path(const std::string& folder, const std::string& cwd);

// True when these arguments end the program as soon as they are read: a
// printing option (--cmnds, -h/--help, --version) or an unusable command
// line. The program reads such a command line before it opens its log, so
// that printing the usage leaves the last run's log alone.
bool cmdline_ends_at_once(int argc, const char* const* argv);

// True when these arguments hold --batch: the run has no window at all.
bool cmdline_asks_batch(int argc, const char* const* argv);

// True when `text` is HOST, HOST:PORT, [IPv6] or [IPv6]:PORT with a port of
// 1..65535, after an optional "https://" or "http://".
bool cmdline_valid_host_port(const std::string& text);

// True when `text` is a whole number of KiB per second for --max_rate.
bool cmdline_valid_rate(const std::string& text);

// The name that the usage text and the command-line errors give the program:
// "skyvane-installer" unless the program sets its own before reading its
// arguments (the disc installer is another program built from the same code).
void cmdline_set_program_name(const std::string& name);

// The usage text of -h/--help: every option and where the files are.
std::string cmdline_usage_text();
// "Skyvane 9.00 Beta-25 (Installer 90025)"
std::string cmdline_version_text();

// Prints the command registry for "--cmnds" (value "all" or a path). Set by
// the keys and commands module; without it nothing is printed.
void cmdline_set_cmnds_printer(std::function<void(const std::string& value)> fn);
// How the printing options end the program. Default: std::exit with the
// code. A test hook may throw to unwind instead.
void cmdline_set_exit_hook(std::function<void(int exit_code)> fn);
