#pragma once
// The installer's working state: the manifest in memory, the running
// install's stream table, the state record, the build-time modes, the path
// globals and the server table. All of it lives for the whole program and is
// read and written directly by the driver, readers and engine.
#include <cstdint>
#include <set>
#include <string>
#include <vector>

// Build-time mode constants (never changed at run time).
extern const int is_build;      // 0: build-variant flag
extern const int install_type;  // 0: internet installer, two streams at start; else one, archives kept
extern const int is_net;        // 1: files come from the download servers; 0: from the disc
// The program's name in its usage text: "skyvane-installer" or
// "skyvane-installer-dvd".
extern const char* const program_name;

constexpr int kMaxServers = 10;
constexpr int kStreamCount = 4;

// Path and name globals.
extern std::string install_name;           // release name from the server list
extern const std::string no_install_name;  // "Not Yet Scanned"
extern std::string temp_path;              // temporary folder, ends in '/'
extern std::string dest_dir_path;          // installation folder, ends in '/'
extern std::string crnt_file_path;         // source path of the file being worked on
extern std::string crnt_file_name;         // its last component
extern std::string dvd_path;               // root of the install DVD, or empty

// Server table, filled in server-list order.
extern std::string server_name[kMaxServers];
extern std::string server_path[kMaxServers];  // ends with install_name + "/"
extern std::string server_desc[kMaxServers];

struct stg_class {
  int dir_scan = 0;     // 0 not fetched, 1 fetched, 2 unreadable, 3 read and compared
  int download_os = 2;  // platform code of this system
  int log_actions = 0;  // grab engine logs each action
  int step = 0;         // 0 choosing, 1 installing, 2 finished/failed/quitting
  int got_404 = 0;      // last file download failed, retrying elsewhere
  int got_failed_install = 0;
  int num_servers = -1;  // -1 server list not read yet
  int sel_server = 0;
  int wrl_sel[36][18] = {};
  int wrl_disk[36][18] = {};
  int crnt_file_stat = 3;      // 0 deleting, 1 fetching, 2 already right, 3 not needed
  float crnt_file_rat = 0.0f;  // fraction of the current file; -0.01 length unknown
  int use_max_cpu = 0;
  int rename_folder = 1;
  int stream_count = 0;  // 0 automatic
  int always_ask_dir = 0;
  float down_req = 0.0f;  // kB still to download
  float disk_req = 0.0f;  // kB still to install
  // The newest signing time (unix seconds) of a server list accepted here
  // (_release_time): an older list is a replay and is refused.
  int64_t release_time = 0;
};
extern stg_class stg;

struct file_version_struct {
  int use_type = 0;
  int os_type = 0;  // 0 every platform; 1..3 program files; 6 also for 3
  int version_num = 0;
  float down_size = 0.0f;  // kB
  float disk_size = 0.0f;  // kB
  std::string sig_want;    // "GONE": withdrawn
  std::string sig_have;    // "NONE": no file there
  std::string path;        // manifest path, master folder first
  int on_disk = 0;
  int want_to_grab_it = 0;
  int want_to_nuke_it = 0;
};

struct file_history_struct {
  std::vector<file_version_struct> versions;  // oldest first; last is current
};

struct sim_info_struct {
  std::vector<file_history_struct> files;
};
extern sim_info_struct sim_info;

struct next_class {
  int next_index = 0;
  int dir_done = 0;
  int stream_active[kStreamCount] = {};
  int stream_waiting[kStreamCount] = {};
  int stream_index[kStreamCount] = {};
  float star_time = 0.0f;
  float file_down = 0.0f;
  float comp_down = 0.0f;
  float totl_disk = 0.0f;
};
extern next_class next;

// Set by the disk examination when a program file (platform 1, 2 or 3) is to be
// installed; cleared when an examination starts. Decides the folder rename at
// the end.
extern int this_install_has_exes;

// Folders that held a file the grab engine deleted, and their ancestors below
// the destination; emptied by every manifest read. In byte order a folder
// comes before its subfolders ("A/" < "A/B/"), so walking the set backwards
// visits children first.
extern std::set<std::string> deleted_files;

// Restarts the stream table: index 0, the start count of streams active and
// waiting, clock and counters reset. dir_done is left alone.
void reset_streams();
// Ends what a grab left running (expansions on the workers, archives waiting
// for them): waits for the expansions and logs them. reset_streams calls it.
void grab_reset();

// True when a manifest entry of platform `os_type` belongs on this system.
bool os_type_applies(int os_type, int download_os);

// Hands the layers below the installer what they take from its records: the
// settings file's fields (prefs/), the pump's "never sleep" setting and the
// saving of the settings at shut-down (ui/). Run at the start of
// installer_main; programs that use the core without it (tests, tools) run it
// at their start.
void installer_wire_lower_layers();
