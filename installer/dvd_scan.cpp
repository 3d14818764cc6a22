#include "installer/dvd_scan.h"

#include <fstream>
#include <iterator>
#include <sstream>

#include "installer/model.h"
#include "io/xmap.h"
#include "ui/hl_alert.h"
#include "ui/hl_mnw.h"
#include "util/log.h"

namespace {
// The source tag and numbers that this file's alerts are known by on screen
// and in the log; fixed, whatever line the call moves to.
constexpr const char* kTag = "dvd_scan";
constexpr int kLineManyDiscs = 276;
}  // namespace

dvd_scan_class dvd_scan;

namespace {

std::string g_mount_table = "/proc/self/mounts";

// The mount table writes blanks, tabs, line ends and backslashes in names as
// a backslash and three octal digits.
std::string decode_mount_field(const std::string& field) {
  std::string out;
  out.reserve(field.size());
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size()) {
      const char a = field[i + 1], b = field[i + 2], c = field[i + 3];
      if (a >= '0' && a <= '3' && b >= '0' && b <= '7' && c >= '0' && c <= '7') {
        out += static_cast<char>((a - '0') * 64 + (b - '0') * 8 + (c - '0'));
        i += 3;
        continue;
      }
    }
    out += field[i];
  }
  return out;
}

}  // namespace

void dvd_set_mount_table(const std::string& path) {
  g_mount_table = path;
}

std::vector<std::string> dvd_roots_in_mount_table(const std::string& table_text) {
  std::vector<std::string> roots;
  std::istringstream lines(table_text);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string device, mount_point, fs_type;
    if (!(fields >> device >> mount_point >> fs_type)) continue;
    if (fs_type != "iso9660" && fs_type != "udf") continue;
    std::string root = decode_mount_field(mount_point);
    if (root.empty()) continue;
    if (root.back() != '/') root += '/';
    roots.push_back(std::move(root));
  }
  return roots;
}

int check_dvd(std::string check_path) {
  xer << "check_dvd 1! check_path=" << check_path << "\n";
  // The reader puts app_path in front of what it opens; the folder here is
  // absolute, so the prefix is set aside during the check.
  const std::string dis_path = app_path;
  app_path.clear();
  int ret = 0;
  {
    const std::string file = check_path + "dvd_version.txt";
    // Paths the reader would refuse (a '\' in a mount point) cannot hold our disc.
    const bool readable = file.find('\\') == std::string::npos && file.size() < 500;
    xmap_class m(readable ? file : std::string());
    xer << "check_dvd 2! check_path=" << file << ", m.exists=" << (m.mBegin ? 1 : 0) << "\n";
    static const int versions[] = {900, 0};
    if (m.mBegin && m.check_file(kCheckText, versions, "DVD", nullptr) == 900) {
      xer << "check_dvd 3!\n";
      ret = 1;
    }
    app_path = dis_path;
    if (ret == 1) dvd_path = check_path;
    xer << "alldone! dis_path=" << dis_path << ", check_path=" << check_path << ", dvd_path=" << dvd_path
        << ", ret=" << ret << "\n";
  }
  return ret;
}

int dvd_scan_class::check_any(int, int) {
  std::ifstream in(g_mount_table, std::ios::binary);
  const std::string table((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  int found = 0;
  for (const auto& root : dvd_roots_in_mount_table(table)) found += check_dvd(root);
  if (found >= 2) {
    MACIBM_alert(0, "I found multiple Skyvane CDs in the drives!", "This is bad!",
                 "Pull out whatever CD you are not using now!",
                 "Otherwise I cannot tell which disc to install from.", t_exit, kTag, kLineManyDiscs);
  }
  return found > 0 ? 1 : 0;
}
