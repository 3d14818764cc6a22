#pragma once
// Looking for an install DVD. On this platform the CD/DVD drives are the
// mounted file systems of type iso9660 or udf, read from the mount table
// (/proc/self/mounts); their mount points play the role of drive roots. A disc
// of this product holds the marker file dvd_version.txt at its root.
#include <string>
#include <vector>

class dvd_scan_class {
 public:
  // Examines every mounted disc; sets dvd_path when one holds a valid marker.
  // Two or more valid discs end the program with a fatal alert (after all were
  // examined). Returns 1 when at least one disc was found. Both arguments are
  // unused (the entry point passes 0, 0).
  int check_any(int a, int b);
};
extern dvd_scan_class dvd_scan;

// 1 when `check_path` (a folder ending in '/') holds a valid marker file
// (header "A"/"I", version 900, type word "DVD"); then dvd_path = check_path.
int check_dvd(std::string check_path);

// The mount table read by check_any; tests point it at a file of their own.
// The program takes it from $SKYVANE_MOUNT_TABLE when that is set (tests of
// the real program, where discs cannot be mounted).
void dvd_set_mount_table(const std::string& path);

// The disc roots listed in a mount table's text (mount points of iso9660 and
// udf file systems, octal escapes decoded, each ending in '/'), in table order.
std::vector<std::string> dvd_roots_in_mount_table(const std::string& table_text);
