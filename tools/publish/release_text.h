#pragma once
// Writers of the two text files the installer reads: the manifest
// (directory.txt, version 900) and the server list (serverlist9.txt, version
// 820). The installer's readers are the reference for both grammars.
#include <cstdint>
#include <string>
#include <vector>

#include "tools/publish/options.h"

namespace publish {

inline constexpr const char* kGone = "GONE";

struct manifest_row {
  int use_type = 0;
  int os_type = 0;      // platform code 0..6
  int version_num = 0;  // release ordinal in which this version was published
  int64_t down_kb = 0;  // archive size, kilobytes of 1000 bytes, rounded up
  int64_t disk_kb = 0;  // file size, kilobytes of 1000 bytes, rounded up
  std::string sig;      // MD5 text, or "GONE"
};

struct manifest_entry {
  std::string path;                    // full manifest path, master folder first
  std::vector<manifest_row> versions;  // oldest first; the last is current
};

// Kilobytes of 1000 bytes, rounded up, as the manifest lists sizes.
int64_t kb_of(uint64_t bytes);

// Empty when `path` (a product-relative path, '/'-separated, a master folder
// first) can be written as a manifest row and read back unchanged, else why
// not: a backslash or a line end anywhere, a component that starts with a
// blank where no DIR prefix can hide it, no master folder.
std::string check_manifest_path(const std::string& path);

// The DIR prefix under which `path` is written: the longest folder prefix
// that leaves the row's own text starting with a non-blank and, when the path
// names a DVD-only content pack ("900 red terrain", "Earth Orbit Textures"),
// keeps that name in the row's own text (where the reader looks for it).
// Empty when the row must come before any DIR line.
std::string dir_prefix_for(const std::string& path);

// The whole manifest text. Entries are written grouped by DIR prefix (rows
// that need none come first), every entry's versions together, oldest first.
std::string manifest_text(std::vector<manifest_entry> entries);

// The server list text: FINAL before the servers, ENDOFLIST at the end.
std::string server_list_text(const std::string& release, const std::vector<mirror_spec>& mirrors);

}  // namespace publish
