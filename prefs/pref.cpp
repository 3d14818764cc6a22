#include "prefs/pref.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "io/IO_UTILS.h"
#include "io/app_path.h"
#include "io/xmap.h"
#include "net/http.h"
#include "platform/files.h"
#include "platform/system.h"
#include "ui/hl_alert.h"
#include "util/UTL_cmdline.h"
#include "util/log.h"

namespace {
// The source tag and numbers that this file's alerts are known by on screen
// and in the log; fixed, whatever line the call moves to.
constexpr const char* kTag = "IO_UTILS";
constexpr int kLineBadOufType = 1036;
constexpr int kLineSaveFailed = 1090;
}  // namespace

std::ofstream ouf;
pref_class pref;

namespace {
bool is_line_end(unsigned char c) {
  return c == '\r' || c == '\n' || c == '\0';
}
bool is_blank(unsigned char c) {
  return c == ' ' || c == '\t';
}

bool open_with_header(const std::string& full, int bin_code, int version, const std::string& note) {
  if (ouf.is_open()) ouf.close();
  ouf.clear();
  ouf.open(full, std::ios::out | std::ios::trunc | std::ios::binary);
  if (!ouf.is_open()) return false;
  if (bin_code == kOufText) {
    ouf << "I\n" << version << " version";
    if (note != "no-copyright-string") ouf << note;
    ouf << "\n";
  } else {
    const int32_t v = version;
    char bytes[4];
    std::memcpy(bytes, &v, 4);  // this machine's byte order
    ouf.put('i');
    ouf.write(bytes, 4);
  }
  return ouf.good();
}

// A text value may not carry a line end: it would end its line early and the
// rest would be read back as a setting of its own.
// atoi's reading (blanks, sign, leading digits; 0 for none), clamped to the
// int range instead of overflowing.
int text_to_int(const std::string& text) {
  const char* p = text.c_str();
  while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\v' || *p == '\f' || *p == '\r') ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  long long v = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    v = v * 10 + (*p - '0');
    if (v > 2147483648LL) v = 2147483648LL;
  }
  if (negative) v = -v;
  if (v > 2147483647LL) v = 2147483647LL;
  return static_cast<int>(v);
}

bool writable_text(const std::string& v) {
  return v.find_first_of(std::string("\r\n\0", 3)) == std::string::npos;
}
}  // namespace

int ouf_open(const std::string& path, int bin_code, int version, const std::string& note) {
  if (bin_code != kOufRaw && bin_code != kOufText) {
    MACIBM_alert(0, "Bad ouf_open type!", path, "", "", t_exit, kTag, kLineBadOufType);
    return 0;
  }
  // File names are case-sensitive here, so the name is used as given (the
  // reader opens the same name).
  const std::string full = app_path + path;
  xmap_class::check_len(full.c_str());
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (open_with_header(full, bin_code, version, note)) return 1;
    if (attempt == 0) {
      size_t slash = full.rfind('/');
      if (slash != std::string::npos && slash > 0) make_folder(full.substr(0, slash + 1));
    }
  }
  if (ouf.is_open()) ouf.close();
  MACIBM_alert(
      0,
      "I could not save the file! Could the directory that the file sits in be missing? Or flagged as "
      "READ-ONLY by the operating system? (Windows machines typically do this).",
      full, "Could the file be flagged as read-only? This happens in Windows if you copy it from a CD!",
      "Try putting this app in the background and then flag the file as NOT read-only, or creating the "
      "folder listed in the path above.",
      t_alert, kTag, kLineSaveFailed);
  return 0;
}

scan_class::scan_class(const std::string& path, int in_opr) : opr_typ(in_opr) {
  if (opr_typ == 1) {
    opened_ = ouf_open(path, kOufText, kPrefsVersion, "no-copyright-string") == 1;
    return;
  }
  xmap_class map(path);
  if (!map.mBegin) return;
  static const int versions[] = {kPrefsVersion, 0};
  if (map.check_file(kCheckText, versions, nullptr) != kPrefsVersion) return;
  parse(map.mCrt, map.mEnd);
}

int scan_class::finish() {
  if (opr_typ != 1 || !ouf.is_open()) return 0;
  errno = 0;
  ouf.close();  // flushes: a full disk shows here
  if (ouf.fail()) return errno != 0 ? errno : EIO;
  return 0;
}

scan_class::~scan_class() {
  if (opr_typ == 1 && ouf.is_open()) ouf.close();  // a failed close is not reported
}

void scan_class::parse(const unsigned char* p, const unsigned char* end) {
  while (p < end) {
    while (p < end && is_blank(*p)) ++p;
    const unsigned char* tag_start = p;
    while (p < end && !is_blank(*p) && !is_line_end(*p)) ++p;
    if (p == tag_start) {
      // An empty line (or a stray zero byte): step over it, or the reader
      // would stand still.
      while (p < end && (is_line_end(*p) || is_blank(*p))) ++p;
      continue;
    }
    std::string tag(reinterpret_cast<const char*>(tag_start), static_cast<size_t>(p - tag_start));
    while (p < end && is_blank(*p)) ++p;
    const unsigned char* value_start = p;
    while (p < end && !is_line_end(*p)) ++p;
    std::string value(reinterpret_cast<const char*>(value_start), static_cast<size_t>(p - value_start));
    while (p < end && (is_line_end(*p) || is_blank(*p))) ++p;
    prefs_map[tag] = value;  // a later line with the same tag wins
  }
}

int scan_class::fetch_or_get(const std::string& in, std::string* out, const std::string& tag) {
  if (opr_typ == 1) {
    if (opened_) ouf << tag << " " << in << "\n";
    return 0;
  }
  const std::string option = "--pref:" + tag;
  if (cmdline.has_option(option)) {
    *out = cmdline.get_option(option);
    return 1;
  }
  auto it = prefs_map.find(tag);
  if (it == prefs_map.end()) return 0;
  *out = it->second;
  return 1;
}

std::string pref_file_path() {
  std::string folder;
  get_OS_abs_path(4, folder);
  return folder + "Skyvane Installer.prf";
}

namespace {
pref_installer_fields g_fields;  // handed down by the installer

void io_int(scan_class& s, const char* tag, int& value) {
  if (s.opr_typ == 1) {
    s.fetch_or_get(std::to_string(value), nullptr, tag);
    return;
  }
  std::string text;
  if (s.fetch_or_get("", &text, tag)) value = text_to_int(text);  // not a number: 0
}

void io_text(scan_class& s, const char* tag, std::string& value) {
  if (s.opr_typ == 1) {
    if (value.empty()) return;
    if (!writable_text(value)) {
      xer << "Setting " << tag << " holds a line end and is not saved.\n";
      return;
    }
    s.fetch_or_get(value, nullptr, tag);
    return;
  }
  std::string text;
  if (s.fetch_or_get("", &text, tag)) value = text;
}

// The installation folder follows the command line's rules for a
// destination (absolute, normalised, ending in '/'), since every manifest path
// is appended to it. An empty or relative value names no folder the user
// could have meant: the folder set before (the default) stays.
void io_dest_folder(scan_class& s, const char* tag, std::string& value) {
  if (s.opr_typ == 1) {
    io_text(s, tag, value);
    return;
  }
  std::string text;
  if (!s.fetch_or_get("", &text, tag)) return;
  if (text.empty() || text[0] != '/') {
    xer << "Setting " << tag << " \"" << text << "\" is not an absolute folder; " << value << " is used.\n";
    return;
  }
  value = cmdline_folder_path(text, std::string());
}

// A count of seconds: past 2038 it no longer fits an int. Not a whole
// non-negative number: 0, as for the other numbers.
void io_seconds(scan_class& s, const char* tag, int64_t& value) {
  if (s.opr_typ == 1) {
    s.fetch_or_get(std::to_string(value), nullptr, tag);
    return;
  }
  std::string text;
  if (!s.fetch_or_get("", &text, tag)) return;
  int64_t v = 0;
  for (size_t i = 0; i < text.size() && i < 18 && text[i] >= '0' && text[i] <= '9'; ++i)
    v = v * 10 + (text[i] - '0');
  value = v;
}

void io_int32(scan_class& s, const char* tag, int32_t& value) {
  int v = value;
  io_int(s, tag, v);
  value = v;
}
}  // namespace

void pref_bind_installer_fields(const pref_installer_fields& fields) {
  g_fields = fields;
}

namespace {
// Reads or writes every setting, in the file's fixed order.
void exchange_fields(scan_class& s) {
  if (g_fields.use_max_cpu) io_int(s, "_use_max_cpu", *g_fields.use_max_cpu);
  if (g_fields.rename_folder) io_int(s, "_rename_folder", *g_fields.rename_folder);
  if (g_fields.stream_count) io_int(s, "_stream_count", *g_fields.stream_count);
  if (g_fields.log_actions) io_int(s, "_log_actions", *g_fields.log_actions);
  if (g_fields.always_ask_dir) io_int(s, "_always_ask_dir", *g_fields.always_ask_dir);
  if (g_fields.dest_dir_path) io_dest_folder(s, "_dest_dir_path", *g_fields.dest_dir_path);
  io_text(s, "_proxy_host", http.ProxyHost);
  io_text(s, "_proxy_port", http.ProxyPort_str);
  io_int32(s, "_proxy_port_int", http.ProxyPort_int);
  io_int32(s, "_max_rate_kb", http.MaxRate_kb);
  if (g_fields.release_time) io_seconds(s, "_release_time", *g_fields.release_time);
}
}  // namespace

void pref_class::IO_set(int which, int dir) {
  if (which != kPrefsInstallerFile) return;
  const std::string path = pref_file_path();
  if (dir != 1) {
    scan_class s(path, 0);
    exchange_fields(s);
    xer.flush();
    return;
  }
  // Written under another name and put in place only when complete, so that
  // a full disk or a crash at exit keeps the settings saved before.
  const std::string temp = path + ".new";
  int err = 0;
  {
    scan_class s(temp, 1);
    if (!s.is_open()) return;  // ouf_open has said why
    exchange_fields(s);
    err = s.finish();
  }
  if (err == 0) err = platform_replace_durably(temp, path);
  if (err != 0) {
    delete_file(temp);
    xer << "The settings could not be saved (" << error_str(err) << "); " << path
        << " keeps the ones saved before.\n";
  }
  xer.flush();
}
