#pragma once
// The installer's settings file, "Skyvane Installer.prf" in the preferences
// folder: read once at start-up, written once at a normal exit, each setting
// overridable for one run with the command-line option --pref:TAG=VALUE.
//
// The settings themselves live in `stg`, `dest_dir_path` and the proxy
// fields of `http`; this module only moves them to and from the file. The
// installer's records are above this layer (order: platform < util < io, net
// < ui < prefs < installer), so the installer hands down where its settings
// are at start-up (pref_bind_installer_fields).
#include <cstdint>
#include <fstream>
#include <map>
#include <string>

// Header kinds of ouf_open.
constexpr int kOufRaw = 10000;
constexpr int kOufText = 10001;
constexpr int kPrefsVersion = 9002;
constexpr int kPrefsInstallerFile = 11;

// The program's output file stream, opened by ouf_open.
extern std::ofstream ouf;

// Opens app_path + `path` for writing (replacing it) and writes the header:
// text kind "I\n<version> version<note>\n" (no note for
// "no-copyright-string"), raw kind the byte 'i' and the version as four
// bytes in this machine's byte order. When the first attempt fails the
// folder that should hold the file is made (one level) and it is tried once
// more. Returns 1 when the file is open with its header written; 0 after the
// "I could not save the file!" alert. Another kind is a fatal alert.
int ouf_open(const std::string& path, int bin_code, int version, const std::string& note);

// Tag/value lines of a settings file.
class scan_class {
 public:
  // in_opr 0: maps `path`, and when its header is a text header of version
  // 9002, reads every "tag value" line into prefs_map. A missing or
  // unusable file leaves the map empty.
  // in_opr 1: creates the file with its header through ouf_open.
  scan_class(const std::string& path, int in_opr);
  ~scan_class();  // closes the file written
  scan_class(const scan_class&) = delete;
  scan_class& operator=(const scan_class&) = delete;

  // Reading: puts the value for `tag` into *out: the command line's
  // "--pref:<tag>" value when given, else the file's; returns 1 when a value
  // was delivered, 0 when neither has one (*out unchanged).
  // Writing: writes "<tag> <in>\n" and returns 0.
  int fetch_or_get(const std::string& in, std::string* out, const std::string& tag);

  bool is_open() const { return opened_; }  // writing: the file was created
  // Writing: closes the file; 0 when every byte reached it, else errno.
  int finish();

  int opr_typ = 0;  // 0 reading, 1 writing
  std::map<std::string, std::string> prefs_map;

 private:
  void parse(const unsigned char* p, const unsigned char* end);
  bool opened_ = false;
};

// The settings file's location: get_OS_abs_path kind 4 + "Skyvane Installer.prf".
std::string pref_file_path();

// Where the installer keeps the settings of its file, in file order. A null
// field is neither read nor written.
struct pref_installer_fields {
  int* use_max_cpu = nullptr;
  int* rename_folder = nullptr;
  int* stream_count = nullptr;
  int* log_actions = nullptr;
  int* always_ask_dir = nullptr;
  std::string* dest_dir_path = nullptr;
  int64_t* release_time = nullptr;  // _release_time, after the proxy and rate lines
};
void pref_bind_installer_fields(const pref_installer_fields& fields);

class pref_class {
 public:
  // which: 11 the installer's file (10 and 12 belong to the framework and
  // are never used here). dir: 0 read, 1 write.
  void IO_set(int which, int dir);
};

extern pref_class pref;
